#pragma once
// CBufferedWriter: the body bytes of one connection on their way to the
// local file. Small blocks are gathered into one write of up to kWriteBuffer
// (fewer system calls than one write per received block); a large block
// arriving with nothing gathered goes to the file at once. Bytes never wait
// in the buffer longer than kMaxBufferHold, so that the partial file's record
// finds them in the file. The sink does the write itself (a page-cache write
// at the right offset) and says whether it went through; once it fails, the
// writer takes nothing more, and the caller fails the transfer with the
// sink's cause.
#include <chrono>
#include <cstddef>
#include <functional>
#include <vector>

namespace zorv {

class CBufferedWriter {
public:
    using Clock = std::chrono::steady_clock;
    // Writes all of `n` bytes; false when that was not done (the writer stops).
    using Sink = std::function<bool(const char* data, std::size_t n)>;

    // Blocks of at least this size are written without gathering ...
    static constexpr std::size_t kDirectWrite = 64 * 1024;
    // ... and gathered writes are at most this big.
    static constexpr std::size_t kWriteBuffer = 1024 * 1024;

    explicit CBufferedWriter(Sink sink) : m_sink(std::move(sink)) {}

    // Takes `n` bytes that arrived at `now`; false when a write failed or
    // the sink refused more.
    bool Add(const char* data, std::size_t n, Clock::time_point now);
    // Writes what is gathered; false when that (or an earlier write) failed.
    // Call it when the transfer ends, however it ended, so that every byte
    // received is kept.
    bool Flush();
    // Flush, when the oldest byte gathered waited kMaxBufferHold.
    void FlushIfHeld(Clock::time_point now);
    bool Stopped() const { return m_stopped; }

private:
    bool Put(const char* data, std::size_t n);
    Sink m_sink;
    std::vector<char> m_buffer;
    Clock::time_point m_firstBuffered{};
    bool m_stopped = false;
};

} // namespace zorv

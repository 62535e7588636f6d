#pragma once
// The progress text of a fetching item as the list shows it ("45%  12.3 MB /
// 27.1 MB  1.2 MB/s  残り 0:12"), and the per-item speed behind it, measured
// over the last few seconds. The stored note keeps its own form
// ("received/total"); this is only what is drawn over it.
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

namespace zorv {

// A byte count in B, KB, MB, GB or TB (units of 1024): whole bytes below one
// KB, one decimal above ("12.3 MB"). A value that would round up to 1024 of
// one unit is shown in the next ("1.0 MB", never "1024.0 KB").
std::string FormatSize(std::uint64_t bytes);
// Bytes so far and of the whole as "16.1 MB / 80.0 MB"; "16.1 MB" when the
// whole is unknown (0).
std::string FormatSizeOfTotal(std::uint64_t done, std::uint64_t total);
// Seconds as "m:ss" under an hour, "h:mm:ss" under 100 hours, "100時間以上"
// beyond; rounded up to the next whole second.
std::string FormatDuration(double seconds);
// The wait of a failed item before it is fetched again: "再試行まで 0:35"
// (the state column); its note shows the wait ahead of the failure's note.
std::string RetryWaitText(std::chrono::milliseconds left);
std::string WaitingNote(const std::string& failureNote, std::chrono::milliseconds left);
// The progress text. `total` 0 = unknown length: the bytes so far and the
// speed only. The percentage is rounded down (100% only when complete); the
// time left is shown only while the speed is above 0.
std::string FormatProgressText(std::uint64_t done, std::uint64_t total, double bytesPerSecond);

// The speed of each running item, from its byte count sampled now and then
// (the window does once a second): bytes gained over the last `windowMs`
// milliseconds, so that a single slow or fast second does not make the text
// jump. Items are told apart by a key (their serial number).
class CRateSmoother {
public:
    explicit CRateSmoother(std::uint64_t windowMs = 5000) : m_windowMs(windowMs) {}

    // The item's byte count at `nowMs` (a monotonic millisecond count). A
    // count lower than the last one (the fetch began again) starts afresh.
    void Sample(std::uint64_t key, std::uint64_t bytes, std::uint64_t nowMs);
    // Bytes per second; 0 until two samples at different times exist.
    double Rate(std::uint64_t key) const;
    // Forgets items not sampled since `nowMs` minus twice the window.
    void Prune(std::uint64_t nowMs);
    size_t Size() const { return m_items.size(); }

private:
    struct CSample {
        std::uint64_t ms;
        std::uint64_t bytes;
    };
    std::uint64_t m_windowMs;
    std::unordered_map<std::uint64_t, std::deque<CSample>> m_items;
};

} // namespace zorv

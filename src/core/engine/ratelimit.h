#pragma once
// CRateLimiter: the program-wide speed limit. Every transfer books the body
// bytes it receives before it writes them; while the bookings are ahead of
// the clock, a transfer that has bytes to book pauses (the transfer loop
// never waits). A paused transfer reads nothing from its socket, so TCP
// flow control slows the server down too.
//
// Fairness: each booking moves one shared clock forward by bytes / rate, and
// a transfer books only when the clock has caught up with now. Running
// transfers therefore take turns and share the limit about equally,
// whatever their number.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

namespace zorv {

class CRateLimiter {
public:
    // The limiter every fetch of the program uses.
    static CRateLimiter& Global();

    // Bytes per second, 0 for no limit; takes effect at once, also for the
    // transfers waiting now.
    void SetRate(std::uint64_t bytesPerSecond);
    std::uint64_t Rate() const;
    // A limit is set: only then do received bytes need booking.
    bool Limited() const { return m_limited.load(std::memory_order_relaxed); }

    // For a transfer loop, which must not wait: true when received bytes
    // may be booked now (the bookings so far are due); a transfer that is
    // not Ready pauses its receiving and asks again later.
    bool Ready() const;
    // Books `n` received bytes without waiting.
    void Book(std::size_t n);

private:
    using Clock = std::chrono::steady_clock;
    mutable std::mutex m_lock;
    std::uint64_t m_rate = 0;
    std::atomic<bool> m_limited{false}; // m_rate != 0, read without the lock
    Clock::time_point m_next{};     // when the bytes booked so far are due
};

// Applies the setting SpeedLimit (KiB/s, 0 = none) to the global limiter.
void ApplySpeedLimit(int kibPerSecond);

} // namespace zorv

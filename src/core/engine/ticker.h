#pragma once
// What the main window's one-second timer computes and decides: the transfer
// speed over the last ten seconds, the crossing of the scheduled start time,
// and when to offer to hang up the dial-up connection. Plain arithmetic on
// the values passed in, so the window and the tests drive it with their own
// clocks.
#include <QDateTime>

#include <cstdint>
#include <optional>
#include <string>

namespace zorv {

// Transfer speed: one sample per timer tick (bytes per second times 100),
// the newest ten kept; the speed is their mean in units of 1024 bytes per
// second, empty samples counting as 0 and the divisor always 10.
class CSpeedMeter {
public:
    static constexpr int kSamples = 10;

    void AddTraffic(std::uint64_t bytes) { m_traffic += bytes; }
    // A timer tick at `tickMs` (a monotonic millisecond count). The first
    // tick only notes the time (and drops the bytes counted before it); a tick at the same millisecond as the last
    // one keeps the traffic for the next. True when a new speed was computed.
    bool Tick(std::uint64_t tickMs);
    // Nothing is being transferred: the samples are forgotten and the speed
    // is 0 (the time base stays).
    void Idle();
    // KiB/s, valid after the first Tick that returned true.
    double Speed() const { return m_speed; }
    // Sample i (0 = newest) in bytes per second times 100; -1 = empty.
    std::int64_t Sample(int i) const { return m_history[i]; }

    // "%ld.%.2ldKBps" of the speed.
    static std::string FormatSpeed(double speed);

private:
    std::uint64_t m_traffic = 0;
    std::int64_t m_history[kSamples] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    std::optional<std::uint64_t> m_lastTick;
    double m_speed = 0;
};

// True when the clock passed the start time `hour`:`minute` (local time of
// any day) going forward between the tick at `prev` and the tick at `now`:
// prev < start <= now, compared as instants. A clock set back (an NTP
// correction, a user's correction) is never due, and neither is a tick that
// only repeats local times after a daylight-saving fall-back: the instants
// still move forward, and each start time stands for its first instant. A
// jump forward past the start time (after a suspend) is due; so is the
// crossing of midnight for a start at 00:00.
bool ScheduledStartDue(const QDateTime& prev, const QDateTime& now, int hour, int minute);

// The hang-up decision. The idle tick is the last tick at which a fetch was
// active while the dial-up connection existed; the hang-up is offered once
// the connection has been idle for longer than the timeout since then, and
// the idle tick is forgotten so that it is offered again only after more
// fetching.
class CHangUpWatch {
public:
    // One timer tick at `nowMs`. True when the hang-up dialog is to be
    // offered now. `idleTimeoutMs` 0 never offers it.
    bool Tick(bool connected, bool autoDisconnect, int activeFetches, unsigned idleTimeoutMs,
              std::uint64_t nowMs);
    bool HasIdleTick() const { return m_idleTick.has_value(); }

private:
    std::optional<std::uint64_t> m_idleTick;
};

} // namespace zorv

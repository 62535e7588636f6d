#include "engine/ticker.h"

#include <algorithm>
#include <limits>
#include <cstdio>
#include <iterator>

namespace zorv {

bool CSpeedMeter::Tick(std::uint64_t tickMs)
{
    if (!m_lastTick) {
        // No time base yet for what arrived before: the first sample covers
        // the first whole interval only.
        m_lastTick = tickMs;
        m_traffic = 0;
        return false;
    }
    const std::uint64_t elapsed = tickMs > *m_lastTick ? tickMs - *m_lastTick : *m_lastTick - tickMs;
    if (elapsed == 0)
        return false; // no time to divide by: the bytes count towards the next tick
    m_lastTick = tickMs;
    for (int i = kSamples - 1; i > 0; --i)
        m_history[i] = m_history[i - 1];
    const double sample = static_cast<double>(m_traffic) / (static_cast<double>(elapsed) * 0.001) * 100;
    m_traffic = 0;
    // Beyond the range of the sample (no real link comes near) it is held
    // at the largest value rather than wrapping to a negative one.
    m_history[0] = sample < 9.0e18 ? static_cast<std::int64_t>(sample) : std::numeric_limits<std::int64_t>::max();
    double sum = sample;
    for (int i = 1; i < kSamples; ++i) {
        if (m_history[i] != -1)
            sum += static_cast<double>(m_history[i]);
    }
    m_speed = sum * 9.765625e-07; // / (10 samples * 1024 bytes * 100)
    return true;
}

void CSpeedMeter::Idle()
{
    m_traffic = 0;
    std::fill(std::begin(m_history), std::end(m_history), -1);
    m_speed = 0;
}

std::string CSpeedMeter::FormatSpeed(double speed)
{
    const long whole = static_cast<long>(speed);
    const long hundredths = static_cast<long>(speed * 100) % 100;
    char text[64];
    std::snprintf(text, sizeof text, "%ld.%.2ldKBps", whole, hundredths);
    return text;
}

bool ScheduledStartDue(const QDateTime& prev, const QDateTime& now, int hour, int minute)
{
    const QTime at(hour, minute);
    if (!prev.isValid() || !now.isValid() || !at.isValid() || now <= prev)
        return false;
    if (prev.secsTo(now) >= 24 * 3600)
        return true; // a whole day passed: every time of day was crossed
    // The start time on each local date from prev's to now's, in now's zone.
    for (QDate day = prev.date(); day <= now.date(); day = day.addDays(1)) {
        QDateTime start = now;
        start.setDate(day);
        start.setTime(at);
        // A local time that a fall-back repeats stands for its first instant.
        const int repeated = start.addSecs(-2 * 3600).offsetFromUtc() - start.offsetFromUtc();
        if (repeated > 0) {
            const QDateTime first = start.addSecs(-repeated);
            if (first.date() == day && first.time() == at)
                start = first;
        }
        if (start.isValid() && prev < start && start <= now)
            return true;
    }
    return false;
}

bool CHangUpWatch::Tick(bool connected, bool autoDisconnect, int activeFetches,
                        unsigned idleTimeoutMs, std::uint64_t nowMs)
{
    if (!connected) {
        m_idleTick.reset();
        return false;
    }
    bool offer = false;
    if (autoDisconnect && activeFetches == 0 && idleTimeoutMs != 0 && m_idleTick &&
        nowMs >= *m_idleTick && nowMs - *m_idleTick > idleTimeoutMs) {
        m_idleTick.reset();
        offer = true;
    }
    if (activeFetches != 0)
        m_idleTick = nowMs;
    return offer;
}

} // namespace zorv

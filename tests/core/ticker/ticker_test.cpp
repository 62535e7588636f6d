// The timer arithmetic of the main window: speed samples, the scheduled
// start crossing and the hang-up decision.
#include "engine/ticker.h"

#include <QTimeZone>

#include <gtest/gtest.h>

#include <vector>

namespace zorv {
namespace {

// Samples relate the bytes to the real interval between ticks; the speed is
// the mean of the newest ten.
TEST(SpeedMeter, SamplesFollowTheRealIntervalAndTheSpeedIsTheMeanOfTen)
{
    CSpeedMeter meter;
    meter.AddTraffic(50000); // before the first tick: no time to relate it to
    EXPECT_FALSE(meter.Tick(7000));
    meter.AddTraffic(1024);
    EXPECT_FALSE(meter.Tick(7000)) << "same millisecond: the bytes wait";
    meter.AddTraffic(1024);
    ASSERT_TRUE(meter.Tick(8000));
    EXPECT_TRUE(meter.Sample(0) == 204800 && meter.Sample(1) == -1) << meter.Sample(0);
    meter.AddTraffic(3000);
    ASSERT_TRUE(meter.Tick(9500)); // 3000 bytes in 1.5 s = 2000 B/s
    EXPECT_EQ(meter.Sample(0), 200000);

    meter = CSpeedMeter();
    std::uint64_t t = 0;
    meter.Tick(t);
    for (int i = 0; i < 10; ++i) {
        meter.AddTraffic(102400);
        meter.Tick(t += 1000);
    }
    EXPECT_EQ(CSpeedMeter::FormatSpeed(meter.Speed()), "100.00KBps");
    for (int i = 0; i < 9; ++i)
        meter.Tick(t += 1000);
    EXPECT_EQ(CSpeedMeter::FormatSpeed(meter.Speed()), "10.00KBps");
    meter.Tick(t += 1000);
    EXPECT_EQ(CSpeedMeter::FormatSpeed(meter.Speed()), "0.00KBps");
    for (int i = 0; i < 10; ++i) { // 3 GB a second: far beyond 32-bit samples
        meter.AddTraffic(3'000'000'000ull);
        meter.Tick(t += 1000);
    }
    EXPECT_EQ(CSpeedMeter::FormatSpeed(meter.Speed()), "2929687.50KBps");
    meter.AddTraffic(~0ull - 4095); // a count gone wrong never shows a negative speed
    meter.Tick(t += 1000);
    EXPECT_GT(meter.Speed(), 0);
    EXPECT_EQ(CSpeedMeter::FormatSpeed(1.999), "1.99KBps") << "decimals truncated";
}

// Ticks in a zone with daylight saving; "Z" marks a UTC instant (for the
// local times that a fall-back repeats).
QDateTime At(const char* text)
{
    static const QTimeZone zone("Europe/Berlin");
    const QString s = QString::fromLatin1(text);
    if (s.endsWith(QLatin1Char('Z')))
        return QDateTime::fromString(s, Qt::ISODate).toTimeZone(zone);
    return QDateTime(QDate::fromString(s.left(10), Qt::ISODate), QTime::fromString(s.mid(11), Qt::ISODate), zone);
}

TEST(ScheduledStart, DueOnlyWhenTheClockCrossesTheStartGoingForward)
{
    const struct { const char *prev, *now; int hour, minute; bool due; } cases[] = {
        {"2026-06-01 09:59:58", "2026-06-01 09:59:59", 10, 0, false},
        {"2026-06-01 09:59:59", "2026-06-01 10:00:05", 10, 0, true},
        {"2026-06-01 10:00:00", "2026-06-01 10:00:01", 10, 0, false}, // once per crossing
        {"2026-06-01 08:00:00", "2026-06-01 11:00:00", 10, 0, true},  // a jump forward (suspend)
        {"2026-06-01 11:00:00", "2026-06-04 09:00:00", 10, 0, true},  // days asleep
        {"2026-06-01 23:59:59", "2026-06-02 00:00:00", 0, 0, true},   // midnight
        {"2026-06-01 23:00:00", "2026-06-02 00:30:00", 23, 30, true},
        {"2026-06-01 23:00:00", "2026-06-02 00:30:00", 0, 10, true},
        // The clock set back: never due, whatever the start time.
        {"2026-06-01 10:00:00", "2026-06-01 09:59:59", 12, 0, false},
        {"2026-06-02 00:00:10", "2026-06-01 23:59:50", 0, 0, false},
        // Daylight saving ends on 2026-10-25: 03:00 summer time (01:00 UTC)
        // becomes 02:00 winter time, so 02:00 to 03:00 comes twice.
        {"2026-10-25T00:59:59Z", "2026-10-25T01:00:00Z", 12, 0, false}, // 02:59:59 -> 02:00:00
        {"2026-10-25T00:29:59Z", "2026-10-25T00:30:00Z", 2, 30, true},  // the first 02:30
        {"2026-10-25T01:29:59Z", "2026-10-25T01:30:00Z", 2, 30, false}, // the second 02:30
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScheduledStartDue(At(c.prev), At(c.now), c.hour, c.minute), c.due)
            << c.prev << " -> " << c.now << " start " << c.hour << ":" << c.minute;
}

TEST(HangUpWatch, OffersAfterIdleTimeWithToggleTimeoutAndConnection)
{
    struct Step { bool connected, toggle; int active; unsigned timeout; std::uint64_t ms; bool offer; };
    const std::vector<std::vector<Step>> runs = {
        {{true, true, 0, 30000, 1000, false}, // never fetched: nothing to offer
         {true, true, 2, 30000, 2000, false},
         {true, true, 0, 30000, 32000, false}, // 30 s is not more than 30 s
         {true, true, 0, 30000, 32001, true},
         {true, true, 0, 30000, 90000, false}, // once
         {true, true, 1, 30000, 100000, false}, // more fetching: counting again
         {true, true, 0, 30000, 130001, true}},
        {{true, false, 1, 30000, 1000, false}, // toggle off: the idle time is kept
         {true, false, 0, 30000, 60000, false},
         {true, true, 0, 30000, 60001, true}},
        {{true, true, 1, 0, 1000, false}, {true, true, 0, 0, 1000000, false}}, // timeout 0: never
        {{true, true, 1, 30000, 1000, false}, // no connection forgets the idle time
         {false, true, 0, 30000, 2000, false},
         {true, true, 0, 30000, 60000, false}},
    };
    for (size_t run = 0; run < runs.size(); ++run) {
        CHangUpWatch watch;
        for (const Step& s : runs[run])
            EXPECT_EQ(watch.Tick(s.connected, s.toggle, s.active, s.timeout, s.ms), s.offer)
                << "run " << run << " at " << s.ms;
    }
}

} // namespace
} // namespace zorv

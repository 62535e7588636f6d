// The timer arithmetic of the main window: speed samples, the scheduled
// start crossing and the hang-up decision.
#include "engine/ticker.h"

#include <gtest/gtest.h>

#include <vector>

namespace zorv {
namespace {

TEST(SpeedMeter, SamplesFollowTheRealInterval)
{
    CSpeedMeter meter;
    meter.AddTraffic(50000); // before the first tick: no time to relate it to
    EXPECT_FALSE(meter.Tick(7000));
    meter.AddTraffic(1024);
    EXPECT_FALSE(meter.Tick(7000)) << "same millisecond: the bytes wait";
    meter.AddTraffic(1024);
    ASSERT_TRUE(meter.Tick(8000));
    EXPECT_EQ(meter.Sample(0), 204800);
    EXPECT_EQ(meter.Sample(1), -1);
    meter.AddTraffic(3000);
    ASSERT_TRUE(meter.Tick(9500)); // 3000 bytes in 1.5 s = 2000 B/s
    EXPECT_EQ(meter.Sample(0), 200000);
}

TEST(SpeedMeter, MeanOfTheNewestTenSamples)
{
    CSpeedMeter meter;
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
    EXPECT_EQ(CSpeedMeter::FormatSpeed(1.999), "1.99KBps") << "decimals truncated";
}

TEST(ScheduledStart, DueOnceWhenTheTargetIsCrossedMidnightIncluded)
{
    const auto at = [](int h, int m, int s = 0) { return SecondsOfDay(h, m, s); };
    const struct {
        int prev, now, target;
        bool due;
    } cases[] = {
        {at(9, 59, 58), at(9, 59, 59), at(10, 0), false},
        {at(9, 59, 59), at(10, 0, 5), at(10, 0), true},
        {at(10, 0), at(10, 0, 1), at(10, 0), false}, // once per crossing
        {at(8, 0), at(11, 0), at(10, 0), true},      // a long gap still crosses
        {at(23, 59, 59), 0, 0, true},                // 00:00 is reached
        {at(23, 0), at(0, 30), at(23, 30), true},
        {at(23, 0), at(0, 30), at(0, 10), true},
        {at(23, 0), at(0, 30), at(12, 0), false},
        {at(23, 0), at(0, 30), at(23, 0), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScheduledStartDue(c.prev, c.now, c.target), c.due) << c.prev << " " << c.now;
}

TEST(HangUpWatch, OffersAfterIdleTimeWithToggleTimeoutAndConnection)
{
    struct Step {
        bool connected, toggle;
        int active;
        unsigned timeout;
        std::uint64_t ms;
        bool offer;
    };
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

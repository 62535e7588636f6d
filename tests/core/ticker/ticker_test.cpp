// The timer arithmetic of the main window: speed samples, the scheduled
// start crossing and the hang-up decision.
#include "engine/ticker.h"

#include <gtest/gtest.h>

namespace zorv {
namespace {

TEST(SpeedMeter, FirstTickOnlySetsTheTimeBase)
{
    CSpeedMeter meter;
    meter.AddTraffic(50000); // before the first tick: no time to relate it to
    EXPECT_FALSE(meter.Tick(7000));
    meter.AddTraffic(2048);
    ASSERT_TRUE(meter.Tick(8000));
    EXPECT_EQ(meter.Sample(0), 204800);
    EXPECT_EQ(meter.Sample(1), -1);
    EXPECT_EQ(CSpeedMeter::FormatSpeed(meter.Speed()), "0.20KBps");
}

TEST(SpeedMeter, SamplesAreScaledByTheRealInterval)
{
    CSpeedMeter meter;
    meter.Tick(1000);
    meter.AddTraffic(3000);
    ASSERT_TRUE(meter.Tick(2500)); // 3000 bytes in 1.5 s = 2000 B/s
    EXPECT_EQ(meter.Sample(0), 200000);
    // A clock that went backwards counts by the absolute difference.
    meter.AddTraffic(1000);
    ASSERT_TRUE(meter.Tick(2000));
    EXPECT_EQ(meter.Sample(0), 200000);
    EXPECT_EQ(meter.Sample(1), 200000);
}

TEST(SpeedMeter, TickAtTheSameMillisecondKeepsTheBytes)
{
    CSpeedMeter meter;
    meter.Tick(1000);
    meter.AddTraffic(1024);
    EXPECT_FALSE(meter.Tick(1000));
    meter.AddTraffic(1024);
    ASSERT_TRUE(meter.Tick(2000));
    EXPECT_EQ(meter.Sample(0), 204800);
}

TEST(SpeedMeter, OnlyTheNewestTenSamplesCount)
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
}

TEST(SpeedMeter, LoopbackRatesDoNotOverflow)
{
    // 3 GB in one second, ten times: far beyond 32-bit sample values.
    CSpeedMeter meter;
    std::uint64_t t = 0;
    meter.Tick(t);
    for (int i = 0; i < 10; ++i) {
        meter.AddTraffic(3'000'000'000ull);
        meter.Tick(t += 1000);
    }
    EXPECT_EQ(meter.Sample(9), 300'000'000'000ll);
    EXPECT_EQ(CSpeedMeter::FormatSpeed(meter.Speed()), "2929687.50KBps");
}

TEST(SpeedMeter, FormatKeepsTwoTruncatedDecimals)
{
    EXPECT_EQ(CSpeedMeter::FormatSpeed(0), "0.00KBps");
    EXPECT_EQ(CSpeedMeter::FormatSpeed(1.999), "1.99KBps");
    EXPECT_EQ(CSpeedMeter::FormatSpeed(12.05), "12.05KBps");
    EXPECT_EQ(CSpeedMeter::FormatSpeed(0.07), "0.07KBps");
}

TEST(ScheduledStart, FiresWhenTheTargetIsCrossed)
{
    const int ten = SecondsOfDay(10, 0, 0);
    EXPECT_FALSE(ScheduledStartDue(ten - 2, ten - 1, ten));
    EXPECT_TRUE(ScheduledStartDue(ten - 1, ten, ten));
    EXPECT_TRUE(ScheduledStartDue(ten - 1, ten + 5, ten));
    EXPECT_FALSE(ScheduledStartDue(ten, ten + 1, ten)) << "once per crossing";
    EXPECT_FALSE(ScheduledStartDue(ten, ten, ten));
    // A long gap (switched on again hours later) still counts as a crossing.
    EXPECT_TRUE(ScheduledStartDue(SecondsOfDay(8, 0, 0), SecondsOfDay(11, 0, 0), ten));
}

TEST(ScheduledStart, IntervalOverMidnightCoversBothDays)
{
    const int lastSecond = SecondsOfDay(23, 59, 59);
    EXPECT_TRUE(ScheduledStartDue(lastSecond, 0, 0)) << "00:00 is reached";
    EXPECT_TRUE(ScheduledStartDue(SecondsOfDay(23, 0, 0), SecondsOfDay(0, 30, 0), SecondsOfDay(23, 30, 0)));
    EXPECT_TRUE(ScheduledStartDue(SecondsOfDay(23, 0, 0), SecondsOfDay(0, 30, 0), SecondsOfDay(0, 10, 0)));
    EXPECT_FALSE(ScheduledStartDue(SecondsOfDay(23, 0, 0), SecondsOfDay(0, 30, 0), SecondsOfDay(12, 0, 0)));
    EXPECT_FALSE(ScheduledStartDue(SecondsOfDay(23, 0, 0), SecondsOfDay(0, 30, 0), SecondsOfDay(23, 0, 0)));
}

TEST(HangUpWatch, OffersAfterTheIdleTimeoutOnceAndAgainOnlyAfterMoreFetching)
{
    CHangUpWatch watch;
    EXPECT_FALSE(watch.Tick(true, true, 0, 30000, 1000)) << "never fetched: nothing to offer";
    EXPECT_FALSE(watch.Tick(true, true, 2, 30000, 2000));
    EXPECT_TRUE(watch.HasIdleTick());
    EXPECT_FALSE(watch.Tick(true, true, 0, 30000, 3000));
    EXPECT_FALSE(watch.Tick(true, true, 0, 30000, 32000)) << "30 s is not more than 30 s";
    EXPECT_TRUE(watch.Tick(true, true, 0, 30000, 32001));
    EXPECT_FALSE(watch.HasIdleTick());
    EXPECT_FALSE(watch.Tick(true, true, 0, 30000, 90000));
    // More fetching starts the count again.
    EXPECT_FALSE(watch.Tick(true, true, 1, 30000, 100000));
    EXPECT_TRUE(watch.Tick(true, true, 0, 30000, 130001));
}

TEST(HangUpWatch, NeedsTheToggleATimeoutAndAConnection)
{
    CHangUpWatch watch;
    watch.Tick(true, false, 1, 30000, 1000);
    EXPECT_FALSE(watch.Tick(true, false, 0, 30000, 60000)) << "toggle off";
    EXPECT_TRUE(watch.HasIdleTick()) << "the idle time is kept all the same";
    EXPECT_TRUE(watch.Tick(true, true, 0, 30000, 60001));

    CHangUpWatch never;
    never.Tick(true, true, 1, 0, 1000);
    EXPECT_FALSE(never.Tick(true, true, 0, 0, 1000000)) << "timeout 0 never offers";

    CHangUpWatch dropped;
    dropped.Tick(true, true, 1, 30000, 1000);
    EXPECT_FALSE(dropped.Tick(false, true, 0, 30000, 2000));
    EXPECT_FALSE(dropped.HasIdleTick()) << "no connection forgets the idle time";
    EXPECT_FALSE(dropped.Tick(true, true, 0, 30000, 60000));

    CHangUpWatch stopped; // Stop with items still queued: no fetch is active
    stopped.Tick(true, true, 3, 30000, 1000);
    EXPECT_TRUE(stopped.Tick(true, true, 0, 30000, 31001));
}

} // namespace
} // namespace zorv

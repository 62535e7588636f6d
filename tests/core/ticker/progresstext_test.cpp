// The progress text of a fetching item, the per-item speed behind it and
// the terminal's progress line.
#include "cli/progress.h"
#include "model/item.h"
#include "model/progresstext.h"

#include <gtest/gtest.h>

using namespace zorv;

namespace {

constexpr std::uint64_t KB = 1024, MB = 1024 * KB, GB = 1024 * MB;

struct ProgressCase {
    std::uint64_t done, total;
    double rate;
    const char* text;
};

} // namespace

TEST(ProgressText, UnitsRoundingUnknownLengthAndTimeLeft)
{
    const ProgressCase cases[] = {
        // Units and rounding: whole bytes, then one decimal; 1023.96 KB is 1.0 MB.
        {0, 0, 0, "0 B  0 B/s"},
        {1023, 0, 1023, "1023 B  1023 B/s"},
        {1024, 0, 1536, "1.0 KB  1.5 KB/s"},
        {MB - 1, 0, 0, "1.0 MB  0 B/s"},
        {12 * MB + 300 * KB, 0, 1.2 * MB, "12.3 MB  1.2 MB/s"},
        {5 * GB / 2, 0, 0, "2.5 GB  0 B/s"},
        // Known length: percent rounded down, 100% only when complete.
        {45 * MB, 100 * MB, 0, "45%  45.0 MB / 100.0 MB  0 B/s"},
        {100 * MB - 1, 100 * MB, 0, "99%  100.0 MB / 100.0 MB  0 B/s"},
        {100 * MB, 100 * MB, MB, "100%  100.0 MB / 100.0 MB  1.0 MB/s"},
        {200, 100, 0, "100%  200 B / 100 B  0 B/s"},
        // Time left: rounded up to whole seconds; hours; beyond 100 hours.
        {15 * MB, 27 * MB, MB, "55%  15.0 MB / 27.0 MB  1.0 MB/s  残り 0:12"},
        {0, 10 * MB, 3 * MB, "0%  0 B / 10.0 MB  3.0 MB/s  残り 0:04"},
        {0, 3601 * KB, KB, "0%  0 B / 3.5 MB  1.0 KB/s  残り 1:00:01"},
        {0, 4 * GB, 10, "0%  0 B / 4.0 GB  10 B/s  残り 100時間以上"},
    };
    for (const ProgressCase& c : cases)
        EXPECT_EQ(FormatProgressText(c.done, c.total, c.rate), c.text) << c.done << "/" << c.total << " at " << c.rate;
}

// The speed spans the last five seconds: one fast second moves it by a fifth
// of the difference, not all of it; a restarted fetch starts afresh; items
// not seen for a while are forgotten.
TEST(ProgressText, SpeedIsSmoothedOverTheWindowPerItem)
{
    CRateSmoother rates(5000);
    EXPECT_EQ(rates.Rate(1), 0);
    for (std::uint64_t t = 0; t <= 10000; t += 1000)
        rates.Sample(1, t * 100, t); // 100,000 bytes a second
    EXPECT_DOUBLE_EQ(rates.Rate(1), 100000);
    rates.Sample(1, 1600000, 11000); // one second at six times that
    EXPECT_DOUBLE_EQ(rates.Rate(1), 200000);
    rates.Sample(2, 50, 11000);
    EXPECT_EQ(rates.Rate(2), 0) << "one sample has no speed";
    rates.Sample(1, 1000, 12000);
    rates.Sample(1, 3000, 13000);
    EXPECT_DOUBLE_EQ(rates.Rate(1), 2000) << "a lower count starts afresh";
    rates.Prune(11000 + 10001);
    EXPECT_EQ(rates.Size(), 1u);
}

// The terminal's line reads the item's typed progress, never its note, and
// writes sizes as the window does.
TEST(ProgressText, TerminalLineReadsTheTypedProgress)
{
    CItem item("http://h/dir/a.bin", "", "/tmp", "", 0);
    item.SetNote("1/2");
    const struct {
        CItem::CProgress progress;
        const char* line;
    } cases[] = {
        {{MB - 1, 0, 0, 1536}, "[....................]    ?  1.0 MB  1.5 KB/s  a.bin"},
        {{512 * KB, MB, 100, MB}, "[##########..........]  50%  512.0 KB / 1.0 MB  1.0 MB/s  a.bin"},
    };
    for (const auto& c : cases) {
        item.SetProgress(c.progress);
        EXPECT_EQ(FormatProgressRow(ProgressRowOf(item), 0), c.line);
    }
}

// Moving the selection: the menu moves, Ctrl+wheel, rows in progress, the
// pending queue and the modified flag.
#include "support.h"

namespace zorv::test {
namespace {

TEST(Move, ExamplesOnFiveRows)
{
    struct Case {
        std::vector<int> selection;
        int n;
        const char* expected;
        std::vector<int> selectedAfter;
    };
    const Case cases[] = {
        {{1, 2}, 1, "ADBCE", {2, 3}},   {{2, 1}, -1, "BCADE", {0, 1}},
        {{3, 4}, 1, "ABCDE", {3, 4}},   {{0, 1}, -1, "ABCDE", {0, 1}},
        {{1, 3}, -5, "BDACE", {0, 1}},  {{1, 3}, 5, "ACEBD", {3, 4}},
        {{1, 2}, -2, "BCADE", {0, 1}},  {{0, 2}, 2, "BDAEC", {2, 4}},
        {{2}, -50, "CABDE", {0}},       {{2}, 0, "ABCDE", {2}},
        {{-3, 99}, 1, "ABCDE", {}},
    };
    // Queued items, and fetched ones: the saved order changes either way.
    for (const bool fetched : {false, true}) {
        for (const Case& c : cases) {
            CZorvDoc doc;
            Fill(doc, "ABCDE");
            for (int r = 0; fetched && r < doc.GetCount(); ++r)
                SetWorkerState(doc, r, STATE_FETCHED);
            doc.SetModifiedFlag(false);
            const CCommandResult result = MoveSelection(doc, c.selection, c.n);
            EXPECT_EQ(Names(doc), c.expected) << "n " << c.n;
            EXPECT_EQ(result.selection, c.selectedAfter) << c.expected;
            EXPECT_EQ(doc.IsModified(), Names(doc) != "ABCDE") << c.expected << " fetched " << fetched;
            ExpectQueueInListOrder(doc);
        }
    }
}

TEST(Move, RowsInProgressStayAndBlock)
{
    CZorvDoc doc;
    Fill(doc, "ABCDE");
    SetWorkerState(doc, 3, STATE_FETCHING); // D
    auto r = MoveDown(doc, {1, 3});
    EXPECT_EQ(Names(doc), "ACBDE");
    EXPECT_EQ(r.selection, (std::vector<int>{2, 3}));
    EXPECT_FALSE(doc.IsQueued(doc.GetItem(3))) << "a move must not queue an item in progress";
    MoveDown(doc, {2, 3});
    EXPECT_EQ(Names(doc), "ACBDE") << "B is blocked by the selected D";
    r = MoveToTop(doc, {3, 4});
    EXPECT_EQ(Names(doc), "EACBD");
    EXPECT_EQ(r.selection, (std::vector<int>{0, 4}));
    ExpectQueueInListOrder(doc);
}

TEST(Move, WheelNotchesBecomeMoves)
{
    CWheelAccumulator wheel;
    EXPECT_EQ(wheel.Add(240), -2) << "two notches away from the user: two rows up";
    EXPECT_EQ(wheel.Add(60), 0);
    EXPECT_EQ(wheel.Add(60), -1);
    EXPECT_EQ(wheel.Add(-200), 1) << "towards the user: down";
    EXPECT_EQ(wheel.Pending(), -80);
    EXPECT_EQ(wheel.Add(100), 0) << "the partial notch carries over with its sign";
    EXPECT_EQ(wheel.Pending(), 20);
}

} // namespace
} // namespace zorv::test

// Moving the selection: the menu moves, Ctrl+wheel, rows in progress, the
// pending queue and the modified flag.
#include "support.h"

#include <random>

namespace zorv::test {
namespace {

// The moves done the slow way, one row at a time: moving a settled item
// deletes its row and inserts it, selected, at the target index (past the end
// appends). Returns the ids in the new order.
struct SimRow {
    int id;
    bool selected;
    bool settled;
};

std::vector<SimRow> SimMove(std::vector<SimRow> rows, int n)
{
    const int count = static_cast<int>(rows.size());
    auto move = [&](int from, int to) {
        if (!rows[static_cast<size_t>(from)].settled)
            return;
        const SimRow x = rows[static_cast<size_t>(from)];
        rows.erase(rows.begin() + from);
        rows.insert(rows.begin() + std::min(to, count - 1), x);
    };
    auto isSel = [&](int r) { return r >= 0 && r < count && rows[static_cast<size_t>(r)].selected; };
    if (std::abs(n) == count) { // to the top or bottom: walk the selected rows
        std::vector<int> ids;
        for (const auto& r : rows)
            if (r.selected)
                ids.push_back(r.id);
        int top = 0;
        for (const int id : ids) {
            const int r = static_cast<int>(std::find_if(rows.begin(), rows.end(),
                                                        [id](const SimRow& s) { return s.id == id; }) -
                                           rows.begin());
            if (rows[static_cast<size_t>(r)].settled)
                n > 0 ? move(r, count) : move(r, top++);
        }
    } else if (n > 0) {
        for (int j = count; j >= 0; --j)
            if (!isSel(j) && isSel(j - n))
                move(j - n, j);
    } else {
        for (int j = 0; j < count; ++j)
            if (!isSel(j) && isSel(j - n))
                move(j - n, j);
    }
    return rows;
}

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
    for (const Case& c : cases) {
        CZorvDoc doc;
        Fill(doc, Letters("ABCDE"));
        doc.SetModifiedFlag(false);
        const CCommandResult result = MoveSelection(doc, c.selection, c.n);
        EXPECT_EQ(Names(doc), c.expected) << "n " << c.n;
        EXPECT_EQ(result.selection, c.selectedAfter) << c.expected;
        EXPECT_EQ(doc.IsModified(), Names(doc) != "ABCDE") << c.expected;
        ExpectQueueInListOrder(doc);
    }
}

TEST(Move, RowsInProgressStayAndBlock)
{
    CZorvDoc doc;
    Fill(doc, Letters("ABCDE"));
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
}

TEST(Move, ModifiedWhenTheOrderChangesEvenWithoutQueuedItems)
{
    CZorvDoc doc;
    Fill(doc, Letters("ABC"));
    for (int r = 0; r < doc.GetCount(); ++r)
        SetWorkerState(doc, r, STATE_FETCHED);
    doc.SetModifiedFlag(false);
    MoveToBottom(doc, {0});
    EXPECT_EQ(Names(doc), "BCA");
    EXPECT_TRUE(doc.IsModified()) << "the saved order changed";
}

TEST(Move, MatchesRowByRowOnRandomLists)
{
    // Whole-list moves against the walk; moves by m rows against m moves by
    // one row, each done row by row.
    std::mt19937 gen(12345);
    for (int round = 0; round < 3000; ++round) {
        const int count = 1 + static_cast<int>(gen() % 16);
        CZorvDoc doc;
        std::vector<SimRow> sim;
        std::vector<int> selection;
        for (int i = 0; i < count; ++i) {
            Fill(doc, {std::to_string(i)});
            const int kind = static_cast<int>(gen() % 5); // 0 in progress, 1 fetched, else queued
            if (kind == 0)
                SetWorkerState(doc, i, STATE_CONNECTING + static_cast<int>(gen() % 4));
            else if (kind == 1)
                SetWorkerState(doc, i, STATE_FETCHED);
            sim.push_back({i, gen() % 2 == 0, kind != 0});
            if (sim.back().selected)
                selection.push_back(i);
        }
        const int m = static_cast<int>(gen() % static_cast<unsigned>(count)) + 1;
        const int n = gen() % 2 ? m : -m;
        std::vector<SimRow> expected = sim;
        if (m == count)
            expected = SimMove(expected, n);
        else
            for (int k = 0; k < m; ++k)
                expected = SimMove(expected, n > 0 ? 1 : -1);

        const CCommandResult result = MoveSelection(doc, selection, n);
        std::vector<int> expectedSelection;
        for (int r = 0; r < count; ++r) {
            ASSERT_EQ(doc.GetItem(r)->m_strFileName, std::to_string(expected[static_cast<size_t>(r)].id))
                << "round " << round << " n " << n << " row " << r;
            if (expected[static_cast<size_t>(r)].selected)
                expectedSelection.push_back(r);
        }
        ASSERT_EQ(result.selection, expectedSelection) << "round " << round;
        ExpectQueueInListOrder(doc);
    }
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

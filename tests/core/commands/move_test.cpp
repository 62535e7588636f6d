// Moving the selection: the menu moves, Ctrl+wheel, rows in progress, the
// pending queue and the modified flag.
#include "support.h"

#include <algorithm>
#include <ctime>
#include <random>

namespace zorv::test {
namespace {

// The moves done the slow way, one row at a time: moving an item deletes its
// row and inserts it, selected, at the target index (past the end appends).
struct SimRow {
    int id;
    bool selected;
    bool settled;
};

void SimMoveRow(std::vector<SimRow>& rows, int from, int to)
{
    if (!rows[static_cast<size_t>(from)].settled)
        return;
    SimRow x = rows[static_cast<size_t>(from)];
    rows.erase(rows.begin() + from);
    rows.insert(rows.begin() + std::min<size_t>(static_cast<size_t>(to), rows.size()), x);
}

std::vector<int> SimMove(std::vector<SimRow> rows, int n)
{
    const int count = static_cast<int>(rows.size());
    const bool down = n > 0;
    const int m = std::abs(n);
    auto nextSelected = [&](int after) {
        for (int r = after + 1; r < count; ++r) {
            if (rows[static_cast<size_t>(r)].selected)
                return r;
        }
        return -1;
    };
    const int sel = static_cast<int>(std::count_if(rows.begin(), rows.end(),
                                                   [](const SimRow& r) { return r.selected; }));
    if (m == count) {
        int top = 0;
        int r = -1;
        for (int step = 0; step < sel; ++step) {
            r = nextSelected(r);
            if (r < 0)
                break;
            if (!rows[static_cast<size_t>(r)].settled)
                continue;
            if (down) {
                SimMoveRow(rows, r, m);
                --r;
            } else {
                SimMoveRow(rows, r, top++);
            }
        }
    } else if (m != 0 && sel != 0) {
        auto isSel = [&](int r) { return r >= 0 && r < count && rows[static_cast<size_t>(r)].selected; };
        if (down) {
            for (int j = count; j >= 0; --j) {
                const int i = j - m;
                if (!isSel(j) && i >= 0 && i <= count && isSel(i))
                    SimMoveRow(rows, i, j);
            }
        } else {
            for (int j = 0; j < count; ++j) {
                const int i = j + m;
                if (!isSel(j) && i <= count && isSel(i))
                    SimMoveRow(rows, i, j);
            }
        }
    }
    std::vector<int> ids;
    for (const auto& r : rows)
        ids.push_back(r.id);
    return ids;
}

class MoveTest : public ::testing::Test {
protected:
    void SetUp() override { Fill(doc, Letters("ABCDE")); }
    CZorvDoc doc;
};

TEST_F(MoveTest, OneRowDownAndUp)
{
    // B, C one down.
    auto r = MoveDown(doc, {1, 2});
    EXPECT_EQ(Names(doc), "ADBCE");
    EXPECT_EQ(r.selection, (std::vector<int>{2, 3}));
    EXPECT_EQ(r.nChanged, 2);
    ExpectQueueInListOrder(doc);

    // B, C one up from the start.
    CZorvDoc other;
    Fill(other, Letters("ABCDE"));
    r = MoveUp(other, {2, 1});
    EXPECT_EQ(Names(other), "BCADE");
    EXPECT_EQ(r.selection, (std::vector<int>{0, 1}));
    ExpectQueueInListOrder(other);
}

TEST_F(MoveTest, SelectionAtTheEdgeDoesNotMove)
{
    doc.SetModifiedFlag(false);
    auto r = MoveDown(doc, {3, 4});
    EXPECT_EQ(Names(doc), "ABCDE");
    EXPECT_EQ(r.selection, (std::vector<int>{3, 4}));
    EXPECT_EQ(r.nChanged, 0);
    r = MoveUp(doc, {0, 1});
    EXPECT_EQ(Names(doc), "ABCDE");
    EXPECT_EQ(r.selection, (std::vector<int>{0, 1}));
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(MoveTest, ToTopAndToBottomKeepOrderAndSelection)
{
    auto r = MoveToTop(doc, {1, 3});
    EXPECT_EQ(Names(doc), "BDACE");
    EXPECT_EQ(r.selection, (std::vector<int>{0, 1}));
    ExpectQueueInListOrder(doc);

    CZorvDoc other;
    Fill(other, Letters("ABCDE"));
    r = MoveToBottom(other, {1, 3});
    EXPECT_EQ(Names(other), "ACEBD");
    EXPECT_EQ(r.selection, (std::vector<int>{3, 4}));
    ExpectQueueInListOrder(other);
}

TEST_F(MoveTest, RowsInProgressStayAndBlock)
{
    // D is being fetched: B moves down, D stays, both stay selected.
    SetWorkerState(doc, 3, STATE_FETCHING);
    auto r = MoveDown(doc, {1, 3});
    EXPECT_EQ(Names(doc), "ACBDE");
    EXPECT_EQ(r.selection, (std::vector<int>{2, 3}));
    EXPECT_FALSE(doc.IsQueued(doc.GetItem(3))) << "a move must not queue an item in progress";

    // C (now row 1) in progress right below selected A: A is blocked.
    CZorvDoc other;
    Fill(other, Letters("ABCDE"));
    SetWorkerState(other, 1, STATE_CONNECTING);
    MoveDown(other, {0, 1});
    EXPECT_EQ(Names(other), "ABCDE");

    // To the top: the one in progress keeps its row, the others pass it.
    CZorvDoc third;
    Fill(third, Letters("ABCDE"));
    SetWorkerState(third, 2, STATE_LAUNCHING);
    r = MoveToTop(third, {2, 4});
    EXPECT_EQ(Names(third), "EABCD");
    EXPECT_EQ(r.selection, (std::vector<int>{0, 3}));
}

TEST_F(MoveTest, ModifiedWhenTheOrderChangesEvenWithoutQueuedItems)
{
    for (int r = 0; r < doc.GetCount(); ++r)
        SetWorkerState(doc, r, STATE_FETCHED);
    doc.SetModifiedFlag(false);
    MoveToBottom(doc, {0});
    EXPECT_EQ(Names(doc), "BCDEA");
    EXPECT_TRUE(doc.IsModified()) << "the saved order changed";
    EXPECT_TRUE(doc.PendingItems().empty());
}

TEST_F(MoveTest, NothingSelectedOrZeroDoesNothing)
{
    doc.SetModifiedFlag(false);
    EXPECT_EQ(MoveSelection(doc, {}, -1).nChanged, 0);
    EXPECT_EQ(MoveSelection(doc, {2}, 0).nChanged, 0);
    EXPECT_EQ(MoveSelection(doc, {-3, 99}, 1).selection, std::vector<int>{});
    EXPECT_EQ(Names(doc), "ABCDE");
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(MoveTest, SeveralRowsAtOnceEqualSingleSteps)
{
    // B and C two up: B stops at the top and C stays behind it.
    auto r = MoveSelection(doc, {1, 2}, -2);
    EXPECT_EQ(Names(doc), "BCADE");
    EXPECT_EQ(r.selection, (std::vector<int>{0, 1}));
    // Then both two down, and A three down.
    MoveSelection(doc, {0, 1}, 2);
    EXPECT_EQ(Names(doc), "ADBCE");
    MoveSelection(doc, {0}, 3);
    EXPECT_EQ(Names(doc), "DBCAE");
    ExpectQueueInListOrder(doc);
}

TEST_F(MoveTest, DistanceBeyondTheListMovesToTheEnd)
{
    MoveSelection(doc, {2}, -50);
    EXPECT_EQ(Names(doc), "CABDE");
    MoveSelection(doc, {0}, 7);
    EXPECT_EQ(Names(doc), "ABDEC");
}

TEST(MoveMatchesRowByRow, RandomListsAndDistances)
{
    std::mt19937 gen(12345);
    for (int round = 0; round < 3000; ++round) {
        const int count = 1 + static_cast<int>(gen() % 16);
        CZorvDoc doc;
        std::vector<SimRow> sim;
        std::vector<int> selection;
        for (int i = 0; i < count; ++i) {
            ASSERT_NE(doc.AddUrl("http://host/" + std::to_string(i), "", "/tmp",
                                 std::to_string(i), 0), nullptr);
            const bool selected = gen() % 2 == 0;
            const int kind = static_cast<int>(gen() % 5); // 0 in progress, 1 fetched, else queued
            if (kind == 0)
                SetWorkerState(doc, i, STATE_CONNECTING + static_cast<int>(gen() % 4));
            else if (kind == 1)
                SetWorkerState(doc, i, STATE_FETCHED);
            sim.push_back({i, selected, kind != 0});
            if (selected)
                selection.push_back(i);
        }
        const int m = static_cast<int>(gen() % static_cast<unsigned>(count)) + 1; // 1..count
        const int n = gen() % 2 ? m : -m;
        // The whole list at once, or m steps of one row.
        std::vector<int> expected;
        if (m == count) {
            expected = SimMove(sim, n);
        } else {
            std::vector<SimRow> current = sim; // sim stays indexed by id
            for (int k = 0; k < m; ++k) {
                expected = SimMove(current, n > 0 ? 1 : -1);
                current.clear();
                for (const int id : expected)
                    current.push_back(sim[static_cast<size_t>(id)]);
            }
        }
        const CCommandResult result = MoveSelection(doc, selection, n);

        std::vector<int> got;
        std::vector<int> gotSelection;
        for (int r = 0; r < doc.GetCount(); ++r) {
            const int id = std::stoi(doc.GetItem(r)->m_strFileName);
            got.push_back(id);
            if (sim[static_cast<size_t>(id)].selected)
                gotSelection.push_back(r);
        }
        ASSERT_EQ(got, expected) << "round " << round << " n " << n;
        ASSERT_EQ(result.selection, gotSelection) << "round " << round;
        ExpectQueueInListOrder(doc);
    }
}

TEST(MoveLargeList, HalfOf100000RowsMovesFast)
{
    CZorvDoc doc;
    std::vector<ItemPtr> items;
    for (int i = 0; i < 100000; ++i)
        items.push_back(std::make_shared<CItem>("http://h/" + std::to_string(i), "", "/tmp", "", 0));
    doc.AppendItems(std::move(items), true);
    std::vector<int> selection;
    for (int r = 0; r < doc.GetCount(); r += 2)
        selection.push_back(r);
    CItem* first = doc.GetItem(0);

    const std::clock_t start = std::clock(); // processor time
    selection = MoveDown(doc, selection).selection;
    selection = MoveSelection(doc, selection, -3).selection;
    selection = MoveToBottom(doc, selection).selection;
    EXPECT_LT(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC, 0.3);
    EXPECT_EQ(doc.RowOf(first), 50000);
    EXPECT_EQ(selection.front(), 50000);
    EXPECT_EQ(selection.size(), 50000u);
    EXPECT_EQ(doc.PendingItems().front(), doc.GetItem(0));
}

TEST(WheelAccumulator, WholeNotchesMovePartialNotchesWait)
{
    CWheelAccumulator wheel;
    EXPECT_EQ(wheel.Add(240), -2) << "two notches away from the user: two rows up";
    EXPECT_EQ(wheel.Pending(), 0);
    EXPECT_EQ(wheel.Add(60), 0);
    EXPECT_EQ(wheel.Add(60), -1);
    EXPECT_EQ(wheel.Add(-120), 1) << "towards the user: down";
    EXPECT_EQ(wheel.Add(-200), 1);
    EXPECT_EQ(wheel.Pending(), -80);
    EXPECT_EQ(wheel.Add(100), 0) << "the partial notch carries over with its sign";
    EXPECT_EQ(wheel.Pending(), 20);
}

TEST_F(MoveTest, WheelDrivesMoves)
{
    CWheelAccumulator wheel;
    std::vector<int> selection{3};
    for (const int delta : {60, 60, 240}) {
        if (const int n = wheel.Add(delta))
            selection = MoveSelection(doc, selection, n).selection;
    }
    EXPECT_EQ(Names(doc), "DABCE");
    EXPECT_EQ(selection, std::vector<int>{0});
}

} // namespace
} // namespace zorv::test

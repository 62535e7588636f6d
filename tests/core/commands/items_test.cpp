// Delete, reset, cancel, pause and resume over a selection; the next
// unfetched item.
#include "support.h"

#include "model/selectiontally.h"

#include <tuple>

namespace zorv::test {
namespace {

// Counts what the document asks of the fetch engine.
struct CCountingEngine : IFetchEngine {
    void Wake() override { ++wakes; }
    void CheckAutoStart() override { ++autoStartChecks; }
    void StopWorkers() override {}
    void ReleaseItems() override {}
    int wakes = 0;
    int autoStartChecks = 0;
};

// Rows A–H in the states 0–7 (A queued, B–D settled, E–H in progress), then
// a queued I.
class ItemCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Fill(doc, "ABCDEFGHI");
        for (int r = 1; r < 8; ++r)
            SetWorkerState(doc, r, r);
        doc.SetModifiedFlag(false);
    }
    CZorvDoc doc;
};

TEST_F(ItemCommandTest, DeleteLeavesItemsInProgress)
{
    ItemPtr held = doc.GetItemPtr(0);
    auto result = DeleteItems(doc, {8, 5, 1, 0, 1, -1, 42, 2, 3, 4});
    EXPECT_EQ(Names(doc), "EFGH");
    EXPECT_EQ(result.nChanged, 5);
    EXPECT_EQ(result.selection, (std::vector<int>{0, 1}));
    EXPECT_TRUE(doc.PendingItems().empty());
    EXPECT_EQ(doc.RowOf(held.get()), -1);
    EXPECT_TRUE(doc.IsModified());

    doc.SetModifiedFlag(false);
    EXPECT_EQ(DeleteItems(doc, {0, 1, 2, 3}).nChanged, 0);
    EXPECT_EQ(Names(doc), "EFGH");
    EXPECT_FALSE(doc.IsModified()) << "nothing deleted";
}

TEST_F(ItemCommandTest, ResetMovesToTheBottomAndQueues)
{
    doc.GetItem(1)->SetNote("done");
    doc.GetItem(2)->SetNote("HTTP/1.1 404 Not Found");
    doc.GetItem(2)->m_nFailures = 3;
    CCountingEngine engine;
    doc.SetEngine(&engine);
    const auto result = ResetItems(doc, {2, 1, 5, 6});
    doc.SetEngine(nullptr);
    EXPECT_EQ(Names(doc), "ADEFGHIBC");
    EXPECT_EQ(result.nChanged, 2);
    EXPECT_EQ(result.selection, (std::vector<int>{3, 4})) << "F and G stay selected, B and C do not";
    for (const int r : {7, 8}) {
        EXPECT_EQ(doc.GetItem(r)->GetColumnText(COL_STATE), StateName(STATE_NOT_FETCHED));
        EXPECT_EQ(doc.GetItem(r)->GetNote(), "");
        EXPECT_EQ(doc.GetItem(r)->m_nFailures, 0u);
    }
    EXPECT_EQ(doc.GetItem(3)->GetState(), STATE_FETCHING);
    EXPECT_EQ(doc.PendingItems(),
              (std::vector<CItem*>{doc.GetItem(0), doc.GetItem(6), doc.GetItem(7), doc.GetItem(8)}));
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(engine.wakes, 2);
    EXPECT_EQ(engine.autoStartChecks, 1) << "one check for the whole command";

    // Queued rows: they go to the bottom too; in progress only: nothing.
    ResetItems(doc, {0, 6});
    EXPECT_EQ(Names(doc), "DEFGHBCAI");
    ExpectQueueInListOrder(doc);
    doc.SetModifiedFlag(false);
    EXPECT_EQ(ResetItems(doc, {1, 2}).nChanged, 0);
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(ItemCommandTest, CancelAndFindNextUnfetched)
{
    EXPECT_EQ(CancelItems(doc, {4, 5, 99}), 2);
    for (int r = 0; r < doc.GetCount(); ++r)
        EXPECT_EQ(doc.GetItem(r)->IsCancelled(), r == 4 || r == 5) << "row " << r;
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(FindNextUnfetched(doc, 0), doc.GetItem(0));
    EXPECT_EQ(FindNextUnfetched(doc, 1), doc.GetItem(8));
    EXPECT_EQ(FindNextUnfetched(doc, 9), nullptr);
}

// A paused item keeps its queue place but is skipped; a running one is
// stopped for the pause; resume and reset make it takeable again.
TEST_F(ItemCommandTest, PauseSkipsOrStopsAndResumeGivesThePlaceBack)
{
    CItem* a = doc.GetItem(0);
    CItem* f = doc.GetItem(5);
    // What the pause and resume commands are enabled by, kept for a selection.
    CSelectionTally tally(doc);
    tally.Select(1, 3);
    tally.Select(7, 7);
    EXPECT_EQ(tally.PausableCount(), 0); // settled or launching
    tally.Select(5, 5);
    tally.Select(5, 5); // told twice, counted once
    EXPECT_EQ(tally.PausableCount(), 1);
    tally.Deselect(1, 3);
    tally.Deselect(7, 7);
    tally.Select(0, 0);
    EXPECT_EQ(std::tuple(tally.Count(), tally.PausableCount(), tally.PausedCount()), std::tuple(2, 2, 0));
    EXPECT_EQ(PauseItems(doc, {0, 1, 5, 7, 99}), 2);
    for (int r = 0; r < doc.GetCount(); ++r)
        EXPECT_EQ(doc.GetItem(r)->IsPaused(), r == 0 || r == 5) << "row " << r;
    EXPECT_FALSE(a->IsCancelled());
    EXPECT_TRUE(f->IsCancelled() && f->IsStoppedForPause());
    f->ClearCancel(); // the worker took it just before the pause
    EXPECT_TRUE(f->IsCancelled() && f->IsStoppedForPause());
    // The document told the tally of the pauses.
    EXPECT_EQ(std::tuple(tally.Count(), tally.PausableCount(), tally.PausedCount()), std::tuple(2, 0, 2));

    EXPECT_TRUE(doc.IsQueued(a));
    EXPECT_EQ(a->GetColumnText(COL_STATE), "一時停止");
    EXPECT_EQ(doc.GetItemCount(true), 1);
    EXPECT_EQ(doc.PopPending().get(), doc.GetItem(8)) << "the paused head is skipped";
    EXPECT_EQ(doc.PopPending(), nullptr);

    // The stopped fetch ends: the item goes back to its place.
    f->SetState(STATE_NOT_FETCHED);
    doc.QueuePending(doc.GetItem(8));
    doc.QueueInPlace(f);
    EXPECT_EQ(doc.PendingItems(), (std::vector<CItem*>{a, f, doc.GetItem(8)}));
    EXPECT_EQ(ResumeItems(doc, {0, 1}), 1);
    EXPECT_EQ(a->GetColumnText(COL_STATE), "未取得");
    EXPECT_EQ(doc.GetItemCount(true), 2);
    EXPECT_EQ(ResetItems(doc, {5}).nChanged, 1);
    EXPECT_FALSE(f->IsPaused());
    EXPECT_EQ(doc.GetItemCount(true), 3);
}

} // namespace
} // namespace zorv::test

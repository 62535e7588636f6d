// Delete, reset and cancel over a selection; the next unfetched item.
#include "support.h"

#include <ctime>

namespace zorv::test {
namespace {

// Counts what the document asks of the fetch engine.
class CCountingEngine : public IFetchEngine {
public:
    void Wake() override { ++wakes; }
    void CheckAutoStart() override { ++autoStartChecks; }
    void StopWorkers() override {}
    void ReleaseItems() override {}
    int wakes = 0;
    int autoStartChecks = 0;
};

// A list of eight rows in every state 0–7, in that order: A is queued, B–D
// are settled, E–H are in progress.
class ItemCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Fill(doc, Letters("ABCDEFGH"));
        for (int r = 1; r < 8; ++r)
            SetWorkerState(doc, r, r);
        doc.SetModifiedFlag(false);
    }
    std::vector<int> All() const { return {0, 1, 2, 3, 4, 5, 6, 7}; }
    CZorvDoc doc;
};

TEST_F(ItemCommandTest, DeleteLeavesItemsInProgress)
{
    ItemPtr held = doc.GetItemPtr(0);
    const auto result = DeleteItems(doc, All());
    EXPECT_EQ(Names(doc), "EFGH");
    EXPECT_EQ(result.nChanged, 4);
    EXPECT_EQ(result.selection, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_TRUE(doc.PendingItems().empty());
    EXPECT_EQ(doc.RowOf(held.get()), -1);
    EXPECT_TRUE(doc.IsModified());
}

TEST_F(ItemCommandTest, DeleteMapsTheKeptRowsAndIgnoresBadRows)
{
    // B (settled) and F (in progress) selected, with junk rows.
    const auto result = DeleteItems(doc, {5, 1, 1, -1, 42});
    EXPECT_EQ(Names(doc), "ACDEFGH");
    EXPECT_EQ(result.selection, std::vector<int>{4});

    doc.SetModifiedFlag(false);
    const auto none = DeleteItems(doc, {4, 5});
    EXPECT_EQ(none.nChanged, 0);
    EXPECT_EQ(none.selection, (std::vector<int>{4, 5}));
    EXPECT_FALSE(doc.IsModified()) << "nothing deleted";
}

TEST_F(ItemCommandTest, ResetMovesToTheBottomAndQueues)
{
    // Add a queued I behind the in-progress rows; the fetched B and the
    // failed C carry a note and failures.
    Fill(doc, {"I"});
    doc.GetItem(1)->SetNote("done");
    doc.GetItem(2)->SetNote("HTTP/1.1 404 Not Found");
    doc.GetItem(2)->m_nFailures = 3;
    doc.SetModifiedFlag(false);

    const auto result = ResetItems(doc, {2, 1, 5, 6});
    EXPECT_EQ(Names(doc), "ADEFGHIBC");
    EXPECT_EQ(result.nChanged, 2);
    EXPECT_EQ(result.selection, (std::vector<int>{3, 4})) << "F and G stay selected, B and C do not";
    for (const int r : {7, 8}) {
        const CItem* item = doc.GetItem(r);
        EXPECT_EQ(item->GetState(), STATE_NOT_FETCHED);
        EXPECT_EQ(item->GetColumnText(COL_STATE), StateName(STATE_NOT_FETCHED));
        EXPECT_EQ(item->GetNote(), "");
        EXPECT_EQ(item->m_nFailures, 0u);
    }
    EXPECT_EQ(doc.GetItem(3)->GetState(), STATE_FETCHING);
    EXPECT_EQ(doc.GetItem(4)->GetState(), STATE_PREPARING);
    // Queue: A, I, then B and C at the tail.
    EXPECT_EQ(doc.PendingItems(),
              (std::vector<CItem*>{doc.GetItem(0), doc.GetItem(6), doc.GetItem(7), doc.GetItem(8)}));
    ExpectQueueInListOrder(doc);
    EXPECT_TRUE(doc.IsModified());
}

TEST_F(ItemCommandTest, ResetOfQueuedRowsAtTheBottomKeepsThem)
{
    Fill(doc, {"I"});
    const auto result = ResetItems(doc, {0, 8});
    EXPECT_EQ(Names(doc), "BCDEFGHAI");
    EXPECT_EQ(doc.PendingItems(), (std::vector<CItem*>{doc.GetItem(7), doc.GetItem(8)}));
    EXPECT_TRUE(result.selection.empty());

    doc.SetModifiedFlag(false);
    EXPECT_EQ(ResetItems(doc, {3, 4, 5, 6}).nChanged, 0);
    EXPECT_EQ(Names(doc), "BCDEFGHAI");
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(ItemCommandTest, ResetWakesWorkersAndChecksAutoStartOnce)
{
    CCountingEngine engine;
    doc.SetEngine(&engine);
    ResetItems(doc, All());
    EXPECT_EQ(engine.wakes, 4);
    EXPECT_EQ(engine.autoStartChecks, 1);
    doc.SetEngine(nullptr);
}

TEST_F(ItemCommandTest, CancelFlagsOnlyTheSelectedItems)
{
    EXPECT_EQ(CancelItems(doc, {4, 5, 99}), 2);
    for (int r = 0; r < doc.GetCount(); ++r)
        EXPECT_EQ(doc.GetItem(r)->IsCancelled(), r == 4 || r == 5) << "row " << r;
    EXPECT_EQ(Names(doc), "ABCDEFGH");
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(ItemCommandTest, FindNextUnfetched)
{
    Fill(doc, {"I"});
    EXPECT_EQ(FindNextUnfetched(doc, 0), doc.GetItem(0));
    EXPECT_EQ(FindNextUnfetched(doc, 1), doc.GetItem(8));
    EXPECT_EQ(FindNextUnfetched(doc, 9), nullptr);
}

TEST(ItemCommandsLargeList, DeleteAndResetOf100000Rows)
{
    CZorvDoc doc;
    std::vector<ItemPtr> items;
    for (int i = 0; i < 100000; ++i)
        items.push_back(std::make_shared<CItem>("http://h/" + std::to_string(i), "", "/tmp", "", 0));
    doc.AppendItems(std::move(items), true);
    std::vector<int> odd;
    for (int r = 1; r < doc.GetCount(); r += 2)
        odd.push_back(r);

    const std::clock_t start = std::clock(); // processor time
    ResetItems(doc, odd);
    EXPECT_EQ(doc.GetItem(50000)->m_strUrl, "http://h/1");
    DeleteItems(doc, odd);
    EXPECT_LT(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC, 0.3);
    EXPECT_EQ(doc.GetCount(), 50000);
    EXPECT_EQ(doc.GetItemCount(true), 50000);
    ExpectQueueInListOrder(doc);
}

} // namespace
} // namespace zorv::test

// Sorting: key and direction toggling, the menu keys, agreement with the
// item comparator, stability, the pending queue, random order and speed.
#include "support.h"

#include <algorithm>
#include <ctime>
#include <random>

namespace zorv::test {
namespace {

// Five items whose columns order differently: URLs c a e b d, file names
// 5 4 3 2 1, referrers r2 r4 r1 r5 r3.
class SortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* rows[][3] = {{"c", "5", "r2"}, {"a", "4", "r4"}, {"e", "3", "r1"},
                                 {"b", "2", "r5"}, {"d", "1", "r3"}};
        for (const auto& r : rows)
            ASSERT_NE(doc.AddUrl(std::string("http://host/") + r[0], r[2], "/tmp", r[1], 0), nullptr);
        doc.SetModifiedFlag(false);
    }
    std::string Urls() const
    {
        std::string out;
        for (int r = 0; r < doc.GetCount(); ++r)
            out += doc.GetItem(r)->m_strUrl.back();
        return out;
    }
    CZorvDoc doc;
    CSortState state;
};

TEST_F(SortTest, SameKeyTogglesMenuKeysAndColumns)
{
    SortByKey(doc, state, COL_URL);
    EXPECT_EQ(Urls(), "abcde");
    EXPECT_TRUE(doc.IsModified());
    SortByKey(doc, state, COL_URL);
    EXPECT_EQ(Urls(), "edcba");
    SortByKey(doc, state, COL_URL);
    EXPECT_EQ(Urls(), "abcde");
    SortByKey(doc, state, COL_URL);
    EXPECT_EQ(Urls(), "edcba");
    SortByKey(doc, state, SORT_MENU_REFERER); // another key: ascending again
    EXPECT_EQ(Names(doc), "12345") << "the Referer menu sorts by file name";
    SortByKey(doc, state, COL_REFERER); // the header click sorts by referrer
    EXPECT_EQ(Urls(), "ecdab");
    EXPECT_EQ(state.m_nSortKey, COL_REFERER);
    EXPECT_FALSE(state.m_bSortReverse);
}

TEST_F(SortTest, ByStateIsStableKeepsSelectionAndQueue)
{
    // States by row: c 2, a 0, e 1, b 0, d 2.
    SetWorkerState(doc, 0, STATE_FAILED);
    SetWorkerState(doc, 2, STATE_FETCHED);
    SetWorkerState(doc, 4, STATE_FAILED);
    const auto result = SortByKey(doc, state, SORT_MENU_STATE, {0, 3});
    EXPECT_EQ(Urls(), "abecd") << "equal states keep their order";
    EXPECT_EQ(result.selection, (std::vector<int>{1, 3})) << "b and c stay selected";
    SortByKey(doc, state, SORT_MENU_STATE);
    EXPECT_EQ(Urls(), "cdeab");
    ExpectQueueInListOrder(doc);
}

TEST_F(SortTest, AgreesWithTheItemComparatorOnEveryColumn)
{
    doc.GetItem(0)->SetNote("zz");
    doc.GetItem(1)->SetNote("\xe5\x8f\x96\xe5\xbe\x97"); // bytes above 0x7f
    doc.GetItem(3)->SetNote("Ab");
    doc.GetItem(2)->m_strDestination = "/b";
    doc.GetItem(4)->m_strDestination = "/B";
    SetWorkerState(doc, 1, STATE_FETCHED);
    for (int key = 0; key < kColumnCount; ++key) {
        for (int pass = 0; pass < 2; ++pass) {
            SortByKey(doc, state, key);
            for (int r = 1; r < doc.GetCount(); ++r) {
                const int c = CItem::CompareItems(doc.GetItem(r - 1), doc.GetItem(r), key);
                EXPECT_TRUE(state.m_bSortReverse ? c >= 0 : c <= 0) << "key " << key << " row " << r;
            }
        }
    }
}

TEST(SortTexts, ByteOrderAndStabilityOnSharedPrefixes)
{
    // A long common prefix, then up to 12 bytes from an alphabet with NUL and
    // bytes above 0x7f, so that many texts are prefixes of others.
    CZorvDoc doc;
    std::mt19937 gen(99);
    const std::string alphabet("a\x80\xff\0b", 5);
    for (int i = 0; i < 3000; ++i) {
        std::string referer = "http://host/some/long/common/prefix/";
        for (int k = static_cast<int>(gen() % 13); k > 0; --k)
            referer += alphabet[gen() % alphabet.size()];
        ASSERT_NE(doc.AddUrl("http://host/" + std::to_string(i), referer, "/tmp", std::to_string(i), 0),
                  nullptr);
    }
    CSortState state;
    for (int pass = 0; pass < 2; ++pass) {
        SortByKey(doc, state, COL_REFERER);
        for (int r = 1; r < doc.GetCount(); ++r) {
            const CItem* a = doc.GetItem(r - 1);
            const CItem* b = doc.GetItem(r);
            const int c = CItem::CompareItems(a, b, COL_REFERER);
            ASSERT_TRUE(state.m_bSortReverse ? c >= 0 : c <= 0) << "row " << r;
            // Equal texts keep their order (the descending sort starts from
            // the ascending one, which kept list order).
            if (c == 0) {
                ASSERT_LT(std::stoi(a->m_strFileName), std::stoi(b->m_strFileName)) << "row " << r;
            }
        }
    }
}

TEST_F(SortTest, RandomIsAPermutationAndKeepsTheQueueInOrder)
{
    FillMany(doc, 995);
    SetWorkerState(doc, 7, STATE_FETCHED);
    std::vector<const CItem*> before;
    for (int r = 0; r < doc.GetCount(); ++r)
        before.push_back(doc.GetItem(r));
    const auto result = SortByKey(doc, state, SORT_RANDOM, {7});
    std::vector<const CItem*> after;
    for (int r = 0; r < doc.GetCount(); ++r)
        after.push_back(doc.GetItem(r));
    EXPECT_NE(after, before);
    EXPECT_TRUE(std::is_permutation(after.begin(), after.end(), before.begin()));
    EXPECT_EQ(result.selection, std::vector<int>{doc.RowOf(before[7])});
    EXPECT_EQ(doc.GetItemCount(true), 999);
    ExpectQueueInListOrder(doc);
    EXPECT_TRUE(doc.IsModified());
}

TEST(SortLargeList, HundredThousandItemsWellUnder100ms)
{
    CZorvDoc doc;
    std::vector<ItemPtr> items;
    for (int i = 0; i < 100000; ++i) {
        const int k = (i * 7919) % 100000; // a permutation
        items.push_back(std::make_shared<CItem>("http://host/dir/file" + std::to_string(k), "", "/tmp",
                                                "", 0));
    }
    doc.AppendItems(std::move(items), true);
    CSortState state;
    // Processor time, so that other programs on the machine do not count.
    for (const int key : {int{COL_URL}, int{COL_URL}, int{COL_STATE}, int{COL_NOTE}, int{SORT_RANDOM}}) {
        const std::clock_t start = std::clock();
        SortByKey(doc, state, key);
        EXPECT_LT(1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC, 100.0)
            << "key " << key;
    }
    SortByKey(doc, state, COL_URL);
    EXPECT_EQ(doc.GetItem(0)->m_strUrl, "http://host/dir/file0");
    EXPECT_EQ(doc.PendingItems().front(), doc.GetItem(0));
}

} // namespace
} // namespace zorv::test

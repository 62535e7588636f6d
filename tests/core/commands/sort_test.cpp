// Sorting: key and direction toggling, the menu keys, the order of each
// column (bytes above 0x7f and NUL), stability, the pending queue and random
// order.
#include "support.h"

#include <algorithm>
#include <string_view>

namespace zorv::test {
namespace {

// The order a sort by `column` promises: texts byte-wise as unsigned bytes,
// the state by number.
int Compare(const CItem* a, const CItem* b, int column)
{
    if (column == COL_STATE)
        return (a->GetState() > b->GetState()) - (a->GetState() < b->GetState());
    const auto text = [column](const CItem* item) {
        switch (column) {
        case COL_URL: return item->m_strUrl;
        case COL_NOTE: return item->GetNote();
        case COL_DESTINATION: return item->m_strDestination;
        case COL_FILENAME: return item->m_strFileName;
        default: return item->m_strReferer;
        }
    };
    return std::string_view(text(a)).compare(text(b));
}

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
    std::string Urls() const { return UrlEnds(doc); }
    CZorvDoc doc;
    CSortState state;
};

TEST_F(SortTest, SameKeyTogglesMenuKeysAndColumns)
{
    for (const char* expected : {"abcde", "edcba", "abcde", "edcba"}) {
        SortByKey(doc, state, COL_URL);
        EXPECT_EQ(Urls(), expected);
    }
    EXPECT_TRUE(doc.IsModified());
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

TEST_F(SortTest, OrdersEveryColumnBytewiseAndTheStateByNumber)
{
    doc.GetItem(0)->SetNote("zz");
    doc.GetItem(1)->SetNote("\xe5\x8f\x96\xe5\xbe\x97"); // bytes above 0x7f
    doc.GetItem(3)->SetNote("Ab");
    doc.GetItem(2)->m_strDestination = "/b";
    doc.GetItem(4)->m_strDestination = "/B";
    doc.GetItem(4)->m_strReferer = std::string("r1\0", 3); // "r1" with a NUL more
    // Long texts that part only after many shared bytes, or only in length.
    const std::string mirror = "http://mirror1.example.org/pub/data/file00000";
    doc.GetItem(0)->m_strReferer = mirror + "10.bin";
    doc.GetItem(1)->m_strReferer = mirror + "02.bin";
    doc.GetItem(2)->m_strReferer = mirror + "02.bin.part";
    doc.GetItem(3)->m_strReferer = mirror;
    SetWorkerState(doc, 1, STATE_FETCHED);
    for (int key = 0; key < kColumnCount; ++key) {
        for (int pass = 0; pass < 2; ++pass) {
            SortByKey(doc, state, key);
            for (int r = 1; r < doc.GetCount(); ++r) {
                const int c = Compare(doc.GetItem(r - 1), doc.GetItem(r), key);
                EXPECT_TRUE(state.m_bSortReverse ? c >= 0 : c <= 0) << "key " << key << " row " << r;
            }
        }
    }
}

TEST_F(SortTest, RandomIsAPermutationAndKeepsTheQueueInOrder)
{
    FillMany(doc, 995);
    SetWorkerState(doc, 7, STATE_FETCHED);
    const auto before = Rows(doc);
    const auto result = SortByKey(doc, state, SORT_RANDOM, {7});
    const auto after = Rows(doc);
    EXPECT_NE(after, before);
    EXPECT_TRUE(std::is_permutation(after.begin(), after.end(), before.begin()));
    EXPECT_EQ(result.selection, std::vector<int>{doc.RowOf(before[7])});
    EXPECT_EQ(doc.GetItemCount(true), 999);
    ExpectQueueInListOrder(doc);
    EXPECT_TRUE(doc.IsModified());
}

} // namespace
} // namespace zorv::test

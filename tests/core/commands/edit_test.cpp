// Editing one item or several, the check of a typed new URL, and captured
// lines added to the list.
#include "model/listrequest.h"
#include "support.h"

namespace zorv::test {
namespace {

// Counts the row redraws the document announces.
struct CRowWatch : IDocObserver {
    void OnItemChanged(int row) override { rows.push_back(row); }
    std::vector<int> rows;
};

class EditTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Fill(doc, "abc");
        // b is being fetched, with a note and failures of its own.
        SetWorkerState(doc, 1, STATE_FETCHING);
        doc.GetItem(1)->SetNote("50%");
        doc.GetItem(1)->m_nFailures = 2;
        doc.GetItem(1)->m_strReferer = "http://ref/b";
        doc.SetModifiedFlag(false);
        doc.AddObserver(&watch);
    }
    void TearDown() override { doc.RemoveObserver(&watch); }
    const CItem& Item(int row) const { return *doc.GetItem(row); }

    CZorvDoc doc;
    CRowWatch watch;
};

TEST_F(EditTest, OneItemTakesTheValuesAndDerivesAMissingName)
{
    struct Case {
        CUrlFields values;
        std::string destination;
        std::string fileName;
    };
    const Case cases[] = {
        {{"http://h/x/y/z.zip", "", "/dl", "", 0}, "/dl", "z.zip"},
        {{"http://h/x/y/z.zip", "", "/dl", "", 2}, "/dl/x/y", "z.zip"},
        {{"http://h/x/y/z.zip", "", "/dl", "keep.bin", 2}, "/dl", "keep.bin"},
    };
    for (const Case& c : cases) {
        watch.rows.clear();
        doc.SetModifiedFlag(false);
        ASSERT_TRUE(EditItem(doc, 1, c.values));
        EXPECT_EQ(Item(1).m_strUrl, c.values.url);
        EXPECT_EQ(Item(1).m_strReferer, "") << "an empty referrer is taken too";
        EXPECT_EQ(Item(1).m_strDestination, c.destination) << c.values.level;
        EXPECT_EQ(Item(1).m_strFileName, c.fileName);
        EXPECT_EQ(Item(1).FetchParams().localPath, c.destination + "/" + c.fileName);
        EXPECT_EQ(watch.rows, std::vector<int>{1});
        EXPECT_TRUE(doc.IsModified());
    }
    // What the item is doing stays as it was.
    EXPECT_EQ(Item(1).GetState(), STATE_FETCHING);
    EXPECT_EQ(Item(1).GetNote(), "50%");
    EXPECT_EQ(Item(1).m_nFailures, 2u);
    EXPECT_EQ(doc.PendingItems(), (std::vector<CItem*>{doc.GetItem(0), doc.GetItem(2)}));
    EXPECT_EQ(Names(doc), "akeep.binc");
    EXPECT_FALSE(EditItem(doc, 3, {}));
}

TEST_F(EditTest, SeveralItemsTakeOnlyTheFilledFields)
{
    struct Case {
        CUrlFields values;
        const char* referer;
        const char* destination;
        const char* names;
    };
    const Case cases[] = {
        {{"ignored", "http://r/", "", "", 5}, "http://r/", "/tmp", "abc"},
        {{"", "", "/new", "", 0}, "http://r/", "/new", "abc"},
        {{"", "", "", "same.bin", 0}, "http://r/", "/new", "same.binsame.binsame.bin"},
    };
    for (const Case& c : cases) {
        watch.rows.clear();
        EXPECT_EQ(EditItems(doc, {2, 0, 1, 7, 1}, c.values), 3);
        for (int r = 0; r < 3; ++r) {
            EXPECT_EQ(Item(r).m_strUrl, std::string("http://host/") + "abc"[r]) << "the URL is never applied";
            EXPECT_EQ(Item(r).m_strReferer, c.referer);
            EXPECT_EQ(Item(r).m_strDestination, c.destination);
        }
        EXPECT_EQ(Names(doc), c.names);
        EXPECT_EQ(watch.rows, (std::vector<int>{0, 1, 2}));
    }
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(Item(1).GetState(), STATE_FETCHING);
    EXPECT_EQ(doc.PendingItems().size(), 2u);
    doc.SetModifiedFlag(false);
    EXPECT_EQ(EditItems(doc, {9}, {}), 0);
    EXPECT_FALSE(doc.IsModified());
}

TEST(NewUrl, CheckNamesWhyAURLCannotBeAdded)
{
    struct Case {
        const char* url;
        NewUrlCheck check;
        std::uint64_t count;
    };
    const Case cases[] = {
        {"", NewUrlCheck::Blank, 0},
        {" \t ", NewUrlCheck::Blank, 0},
        {"www.example.com/a.zip", NewUrlCheck::NotHttp, 1},
        {"mailto:a@example.com", NewUrlCheck::NotHttp, 1},
        {"gopher://h/*1.3.1d*", NewUrlCheck::NotHttp, 3},
        {"http://h/a.zip", NewUrlCheck::Ok, 1},
        {"http://h/x*3.1.2d*y", NewUrlCheck::Ok, 1},
        {"ftp://h/img*1.3.2d*.jpg", NewUrlCheck::Ok, 3},
        {"https://h/*1.10000.1d*", NewUrlCheck::Ok, 10000},
        {"https://h/*1.10001.1d*", NewUrlCheck::Large, 10001},
        {"http://h/*1.20000.1d*/*1.1000.1d*", NewUrlCheck::Large, 20000000},
        {"http://h/*1.20000.1d*/*1.1001.1d*", NewUrlCheck::TooLarge, 20020000},
    };
    static_assert(kMaxRun == 20000000, "the cases sit at the limit");
    for (const Case& c : cases) {
        const CNewUrlVerdict verdict = CheckNewUrl(c.url, kNewUrlCommand);
        EXPECT_EQ(verdict.check, c.check) << c.url;
        EXPECT_EQ(verdict.count, c.count) << c.url;
    }
}

TEST(NewUrl, CapturedLinesAddTheValidURLsInOrderOnceEach)
{
    CZorvDoc doc;
    EXPECT_EQ(AddUrlLines(doc, {"not a url", "", "file:///etc/passwd"}).added, 0);
    EXPECT_FALSE(doc.IsModified());
    const CAddReport report = AddUrlLines(doc, {"http://h/1.zip\r", "nothing", "  ftp://h/2.iso ", "https://h/3"});
    EXPECT_EQ(report.added, 3);
    EXPECT_TRUE(report.refused.empty()) << "lines that are not URLs go unmentioned";
    ASSERT_EQ(doc.GetCount(), 3);
    for (int r = 0; r < 3; ++r)
        EXPECT_TRUE(doc.IsQueued(doc.GetItem(r)));
    EXPECT_EQ(doc.GetItem(0)->m_strUrl + " " + doc.GetItem(1)->m_strUrl + " " + doc.GetItem(2)->m_strUrl,
              "http://h/1.zip ftp://h/2.iso https://h/3");
    EXPECT_TRUE(doc.IsModified());
    // The same URL again writes the same file: left out and named; a URL that
    // differs in its query only takes a numbered name.
    const CAddReport again = AddUrlLines(doc, {"http://h/1.zip", "http://h/3?x=1"});
    EXPECT_EQ(again.added, 1);
    EXPECT_EQ(again.clashes, (std::vector<std::pair<std::string, std::string>>{{"http://h/1.zip", "http://h/1.zip"}}));
    ASSERT_EQ(doc.GetCount(), 4);
    EXPECT_EQ(doc.GetItem(3)->m_strFileName, "3 (1)");
}

} // namespace
} // namespace zorv::test

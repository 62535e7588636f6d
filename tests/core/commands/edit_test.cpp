// Editing one item or several, the check of a typed new URL, and captured
// lines added to the list.
#include "model/listrequest.h"
#include "support.h"

#include <QDir>
#include <QTemporaryDir>

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

// One add, the callers' rules: the window keeps clashes and leaves folders to
// its destination check and asks above kConfirmNewRun; `--add` and handed
// requests refuse clashes (numbering query-only ones), make folders and need
// --yes above kMaxUnconfirmedRun; links and captured lines take each URL as
// it is, and captured lines do not name what is not a URL.
TEST(NewUrl, OneAddUnderEachCallersRules)
{
    QTemporaryDir tmp;
    const std::string dest = tmp.path().toStdString() + "/sub";
    CAddOptions yes = kAddCommand, window = kNewUrlCommand, lines = kAddLinks;
    yes.largeConfirmed = true;
    lines.reportRefused = false;
    const std::string large = "http://h/*1.10001.1d*"; // above the window's limit, below --add's
    struct Case {
        const CAddOptions& options;
        std::vector<std::string> urls;
        const char* names; // of the items added, in list order ("": not checked)
        int added;
        size_t clashes, refused, tooLarge;
        bool folder;
    };
    const Case cases[] = {
        {window, {"http://h/a.zip", "http://h/x*1.2.1d*"}, "a.zip x1 x2", 3, 0, 0, 0, false},
        {window, {large}, "", 0, 0, 0, 1, false},
        {kAddCommand, {"http://h/a.zip", "http://h/a.zip?v=2", "mailto:x", "http://h/x*1.2.1d*"},
         "a (1).zip x1 x2", 3, 1, 1, 0, true},
        {kAddCommand, {large}, "", 10001, 0, 0, 0, true},
        {kAddCommand, {"http://h/*1.100001.1d*"}, "", 0, 0, 0, 1, false},
        {yes, {"http://h/*1.20000.1d*/*1.1001.1d*"}, "", 0, 0, 0, 1, false},
        {kAddLinks, {"http://h/x*1.2.1d*", "nothing"}, "x*1.2.1d*", 1, 0, 1, 0, true},
        {lines, {"http://h/1.zip\r", "nothing", "  ftp://h/2.iso ", "http://h/a.zip"}, "1.zip 2.iso", 2, 1, 0, 0,
         true},
    };
    for (const Case& c : cases) {
        const std::string what = c.urls.front() + " ...";
        QDir(tmp.path()).removeRecursively();
        CZorvDoc doc;
        ASSERT_NE(doc.AddUrl("http://h/a.zip", "", dest, "", 0), nullptr);
        doc.SetModifiedFlag(false);
        std::vector<CNewUrl> urls;
        for (const std::string& u : c.urls)
            urls.push_back({u, {}, {}});
        const CAddReport report = AddNewUrls(doc, urls, dest, 0, c.options);
        EXPECT_EQ(report.added, c.added) << what;
        ASSERT_EQ(doc.GetCount(), 1 + c.added) << what;
        std::string names;
        for (int r = 1; r < doc.GetCount(); ++r) {
            names += (r > 1 ? " " : "") + doc.GetItem(r)->m_strFileName;
            EXPECT_TRUE(doc.IsQueued(doc.GetItem(r))) << what;
        }
        if (*c.names) {
            EXPECT_EQ(names, c.names) << what;
        }
        EXPECT_EQ(report.clashes.size(), c.clashes) << what;
        if (c.clashes) {
            EXPECT_EQ(report.clashes[0], std::make_pair(std::string("http://h/a.zip"), std::string("http://h/a.zip")));
        }
        EXPECT_EQ(report.refused.size(), c.refused) << what;
        EXPECT_EQ(report.tooLarge.size(), c.tooLarge) << what;
        EXPECT_EQ(QDir(QString::fromStdString(dest)).exists(), c.folder) << what;
        EXPECT_EQ(doc.IsModified(), c.added != 0) << what;
    }
}

} // namespace
} // namespace zorv::test

// CItem: the URL check, the local name and mirrored folders derived from the
// URL, the display texts, the comparators, cancel and the local file.
#include "model/item.h"
#include "support/tempsettings.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>

using zorv::CItem;
using zorv::test::SettingsTest;

namespace {

using ItemTest = SettingsTest;

TEST(ItemUrl, OnlyHttpHttpsAndFtpWithAHostAreValid)
{
    const struct {
        const char* url;
        bool valid;
    } cases[] = {
        {"http://host/dir/file.zip", true},
        {"ftp://host/pub/x.lzh", true},
        {"https://host/x", true},
        {"HTTP://Host:8080/a?b=c#d", true},
        {"ftp://user:pw@host/x", true},
        {"file:///etc/passwd", false},
        {"mailto:someone@example.com", false},
        {"host/dir/file.zip", false},
        {"", false},
        {"http://", false},
        {"http:///path", false},
        {"http://ho st/x", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CItem::IsValidUrl(c.url), c.valid) << c.url;
}

TEST_F(ItemTest, LocalNameAndMirroredFolders)
{
    const struct {
        const char* url;
        int level;
        const char* dest; // appended to "/dl"
        const char* name;
    } cases[] = {
        {"http://host/a/b/c.zip", 0, "", "c.zip"},
        {"http://host/a/b/c.zip", 1, "/b", "c.zip"},
        {"http://host/a/b/c.zip", 2, "/a/b", "c.zip"},
        {"http://host/a/b/c.zip", 3, "/host/a/b", "c.zip"},
        {"http://host/a/b/c.zip", 4, "//host/a/b", "c.zip"},
        {"http://host/a/b/c.zip", 9, "//host/a/b", "c.zip"},
        {"http://host/a/b/c.zip", -1, "", ""},
        {"http://host/a/b/c.zip", -7, "", "c.zip"},
        // A trailing slash: no name from the empty segment, the last
        // directory takes its place.
        {"http://host/a/b/", 0, "", ""},
        {"http://host/a/b/", 1, "", "b"},
        {"http://host/a/b/", 2, "/a", "b"},
        // Query strings stay in the name; a slash inside one splits there.
        {"http://host/get.cgi?id=5", 0, "", "get.cgi?id=5"},
        {"http://host/cgi/get.cgi?f=x/y.zip", 0, "", "y.zip"},
        {"http://host/cgi/get.cgi?f=x/y.zip", 1, "/get.cgi?f=x", "y.zip"},
        // "." and ".." never climb out of the destination.
        {"http://host/a/../b.zip", 1, "/_", "b.zip"},
        {"http://host/../../etc/passwd", 3, "/_/_/etc", "passwd"},
        {"http://host/x/./..", 0, "", "_"},
        {"http://host/x/./..", 2, "/x/_", "_"},
        {"http://host/...", 0, "", "..."},
    };
    for (const auto& c : cases) {
        CItem item;
        item.m_strUrl = c.url;
        item.m_strDestination = "/dl";
        item.m_strFileName = "old";
        item.MakeLocalName(c.level);
        EXPECT_EQ(item.m_strDestination, std::string("/dl") + c.dest) << c.url << " level " << c.level;
        EXPECT_EQ(item.m_strFileName, c.name) << c.url << " level " << c.level;
    }
}

TEST_F(ItemTest, ConstructorDefaultsAndExplicitName)
{
    settings.Options().DefaultDestination = "/home/u/ダウンロード";
    settings.Options().DefaultFnameLevel = 1;

    CItem loaded; // as read from a list file
    EXPECT_EQ(loaded.m_strDestination, "/home/u/ダウンロード");
    EXPECT_EQ(loaded.m_strUrl, "");
    EXPECT_EQ(loaded.GetState(), zorv::STATE_NOT_FETCHED);
    EXPECT_EQ(loaded.m_nFailures, 0u);

    const struct {
        const char* dest;
        const char* name;
        int level;
        const char* wantDest;
        const char* wantName;
    } cases[] = {
        {"/d", "", 0, "/d", "c.zip"},
        {"/d", "", 2, "/d/a/b", "c.zip"},
        {"/d", "", -1, "/d/b", "c.zip"}, // DefaultFnameLevel
        {"", "", 0, "/home/u/ダウンロード", "c.zip"},
        {"", "", 2, "/home/u/ダウンロード/a/b", "c.zip"},
        {"/d", "mine.bin", 3, "/d", "mine.bin"},
        {"", "mine.bin", 3, "/home/u/ダウンロード", "mine.bin"},
    };
    for (const auto& c : cases) {
        CItem item("http://host/a/b/c.zip", "http://ref/", c.dest, c.name, c.level);
        EXPECT_EQ(item.m_strDestination, c.wantDest) << c.dest << "|" << c.name << "|" << c.level;
        EXPECT_EQ(item.m_strFileName, c.wantName) << c.dest << "|" << c.name << "|" << c.level;
        EXPECT_EQ(item.m_strReferer, "http://ref/");
        EXPECT_EQ(item.LocalPath(), std::string(c.wantDest) + "/" + c.wantName);
    }

    // FillFileName derives only a missing name, with DefaultFnameLevel.
    CItem named("http://host/a/b/c.zip", "", "/d", "keep", 0);
    EXPECT_TRUE(named.FillFileName());
    EXPECT_EQ(named.m_strFileName, "keep");
    EXPECT_EQ(named.m_strDestination, "/d");
    loaded.m_strUrl = "http://host/a/b/c.zip";
    loaded.m_strDestination = "/d";
    EXPECT_TRUE(loaded.FillFileName());
    EXPECT_EQ(loaded.m_strFileName, "c.zip");
    EXPECT_EQ(loaded.m_strDestination, "/d/b");
}

TEST_F(ItemTest, ColumnTextsAndStateNames)
{
    CItem item("http://host/f.zip", "http://ref/", "/d", "", 0);
    item.SetNote("12/34");
    const char* const texts[] = {"http://host/f.zip", "未取得", "12/34", "/d", "f.zip", "http://ref/"};
    for (int col = 0; col < zorv::kColumnCount; ++col)
        EXPECT_EQ(item.GetColumnText(col), texts[col]) << col;
    EXPECT_EQ(item.GetColumnText(6), "");
    EXPECT_EQ(item.GetColumnText(-1), "");

    const char* const names[] = {"未取得", "取得完了", "取得失敗", "不正なURL",
                                 "接続中", "取得中", "取得準備中", "アプリケーション起動中"};
    for (int s = 0; s < zorv::kStateCount; ++s) {
        item.SetState(s);
        EXPECT_EQ(item.GetColumnText(zorv::COL_STATE), names[s]) << s;
        EXPECT_EQ(item.IsSettled(), s <= 3) << s;
    }
    for (const int s : {-1, 8, INT_MIN}) {
        item.SetState(s);
        EXPECT_EQ(zorv::StateName(s), "") << s;
        EXPECT_FALSE(item.IsSettled()) << s;
    }
}

TEST_F(ItemTest, Comparators)
{
    auto make = [](const char* url, int state, const char* dest, const char* name, const char* ref,
                   const char* note) {
        auto item = std::make_unique<CItem>(url, ref, dest, name, 0);
        item->SetState(state);
        item->SetNote(note);
        return item;
    };
    // Each column orders a before b; texts compare byte-wise and
    // case-sensitively ('B' < 'a', and UTF-8 bytes above 0x7F sort last).
    const auto a = make("http://h/B", 0, "/dl/a", "Z", "http://r/a", "X");
    const auto b = make("http://h/a", 3, "/dl/é", "é", "http://r/b", "x");
    for (int col = 0; col < zorv::kColumnCount; ++col) {
        EXPECT_LT(CItem::CompareItems(a.get(), b.get(), col), 0) << col;
        EXPECT_GT(CItem::CompareItems(b.get(), a.get(), col), 0) << col;
        EXPECT_EQ(CItem::CompareItems(a.get(), a.get(), col), 0) << col;
        EXPECT_GT(CItem::CompareItemsReverse(a.get(), b.get(), col), 0) << col;
    }
    // State 2 vs a state beyond the table still orders by number.
    a->SetState(2);
    b->SetState(7);
    EXPECT_LT(CItem::CompareItems(a.get(), b.get(), zorv::COL_STATE), 0);

    // Outside 0–5 the answers are -1, 0 or 1 and depend only on the random
    // sequence, never on the items.
    for (const int col : {-1, 6, INT_MIN, INT_MAX}) {
        std::srand(1234);
        std::vector<int> first, second;
        for (int i = 0; i < 200; ++i)
            first.push_back(CItem::CompareItems(a.get(), b.get(), col));
        std::srand(1234);
        for (int i = 0; i < 200; ++i)
            second.push_back(CItem::CompareItems(b.get(), b.get(), col));
        EXPECT_EQ(first, second) << col;
        for (const int r : first)
            EXPECT_TRUE(r >= -1 && r <= 1) << r;
        EXPECT_NE(std::count(first.begin(), first.end(), -1), 0);
        EXPECT_NE(std::count(first.begin(), first.end(), 1), 0);
    }
}

class FakeTransfer : public zorv::CTransferHandle {
public:
    void Abort() noexcept override { ++aborts; }
    int aborts = 0;
};

TEST_F(ItemTest, CancelSetsTheFlagAndAbortsTheTransferOnce)
{
    CItem item("http://h/f", "", "/d", "", 0);
    item.Cancel(); // no transfer: only the flag
    EXPECT_TRUE(item.IsCancelled());
    item.ClearCancel();
    FakeTransfer t;
    item.SetHandle(&t);
    item.Cancel();
    item.Cancel();
    EXPECT_TRUE(item.IsCancelled());
    EXPECT_EQ(t.aborts, 1);
}

TEST_F(ItemTest, OpenLocalFileCreatesOrEmptiesAndNamesTheFileOnFailure)
{
    const std::string dir = settings.Dir().toStdString();
    {
        QFile old(QString::fromStdString(dir + "/f.zip"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("previous contents");
    }
    CItem ok("http://h/f.zip", "", dir, "", 0);
    {
        auto file = ok.OpenLocalFile();
        ASSERT_TRUE(file);
        EXPECT_EQ(file->size(), 0);
        file->write("new");
    }
    EXPECT_EQ(zorv::test::ReadFileBytes(QString::fromStdString(dir + "/f.zip")), "new");

    ASSERT_TRUE(QDir(settings.Dir()).mkdir(QStringLiteral("sub")));
    const struct {
        std::string dest;
        std::string name;
        std::string named; // what the message must name
    } bad[] = {
        {dir + "/missing", "f.zip", dir + "/missing/f.zip"},
        {dir, "", dir + "/"},
        {dir, "sub", dir + "/sub"},
        {dir + "/f.zip", "x", dir + "/f.zip/x"}, // a file where the folder should be
    };
    for (const auto& c : bad) {
        CItem item("http://h/x", "", c.dest, c.name.empty() ? "tmp" : c.name, 0);
        item.m_strFileName = c.name;
        try {
            item.OpenLocalFile();
            ADD_FAILURE() << "opened " << c.named;
        } catch (const zorv::CFileException& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(c.named), std::string::npos) << what;
            EXPECT_GT(what.size(), c.named.size() + 4) << "no cause in: " << what;
        }
    }
}

} // namespace

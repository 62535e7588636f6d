// Files a download must leave alone: whatever holds the name a server chose
// (a file, another item's file or partial file, the list, another fetch),
// and a file of the item's own name that is not its earlier download.
#include "engine/controller.h"
#include "engine/finalname.h"
#include "fetch_fixture.h"
#include "model/filename.h"
#include "support/tempsettings.h"

#include <gmock/gmock.h>

#include <QDir>

#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace zorv::test {
namespace {

using ::testing::HasSubstr;

TEST(FinalName, NumberedNamesKeepTheExtensionAndFitAndOriginsHaveNoCredentials)
{
    const std::string longName = std::string(240, 'x') + ".pdf";          // 244 bytes
    const std::string wide = std::string(235, 'y') + "\xE3\x81\x82.txt"; // a 3-byte character at the cut
    const struct {
        std::string name;
        unsigned n;
        std::string numbered;
    } names[] = {
        {"f1.bin", 1, "f1 (1).bin"},
        {"archive.tar.gz", 2, "archive.tar (2).gz"},
        {"README", 3, "README (3)"},
        {".profile", 1, ".profile (1)"},
        {longName, 12, std::string(236, 'x') + " (12).pdf"},
        {wide, 1, std::string(235, 'y') + " (1).txt"},
    };
    for (const auto& c : names)
        EXPECT_EQ(NumberedFileName(c.name, c.n), c.numbered) << c.name;
    EXPECT_EQ(OriginUrl("ftp://anon:pw@h:21/pub/x@y"), "ftp://h:21/pub/x@y");
    EXPECT_EQ(OriginUrl("https://h/p?mail=a@b"), "https://h/p?mail=a@b");
}

// A server's name (Content-Disposition) replaces only a name derived from
// the URL, while the setting says so; it never replaces whatever holds that
// name: the download takes the first free numbered one. The launch and the
// list follow the new name.
TEST_F(FetchTest, ServerNameReplacesADerivedNameButNeverAFileAnItemOrTheList)
{
    const struct {
        std::string server; // the Content-Disposition name
        std::string taken;  // what holds it, unchanged afterwards; empty: nothing
        std::string saved;
        std::string typed = {}; // the user's name; empty: derived from the URL
        bool useServerName = true;
    } cases[] = {
        {"../report.pdf", "", "report.pdf"},
        {"../report.pdf", "", "mine.bin", "mine.bin"},
        {"../report.pdf", "", "c2", "", false},
        {"done.bin", "done.bin", "done (1).bin"},              // another item's finished file
        {"queued.bin", "queued.bin", "queued (1).bin"},        // another item's name, no file yet
        {"run.bin.part", "run.bin.part", "run.bin (1).part"},  // another running item's partial file
        {"run.bin", "run.bin.part", "run (1).bin"},            // ... and its name
        {"l.zorv", "l.zorv", "l (1).zorv"},                    // the list file
        {"dup.bin", "dup (1).bin", "dup (2).bin"},             // the first numbered name too
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        http.Serve("/s/c" + std::to_string(i), "body " + std::to_string(i),
                   {{"Content-Disposition", "attachment; filename=\"" + cases[i].server + "\""}});
    ASSERT_TRUE(http.Start());
    ASSERT_TRUE(doc.OnSaveDocument(LocalPath("l.zorv"), nullptr));
    Add(http.Url("/other/done"), {}, "done.bin");
    Add(http.Url("/other/queued"), {}, "queued.bin");
    Add(http.Url("/other/run"), {}, "run.bin");
    const CLocalFileClaim running(CItem::LocalFileKey(LocalPath("run.bin").toStdString()));
    for (const char* name : {"done.bin", "run.bin.part", "dup.bin", "dup (1).bin"})
        ASSERT_TRUE(WriteFileBytes(LocalPath(name), QByteArray("held by ") + name));
    CFetchController controller(doc);
    std::vector<std::string> launched;
    controller.SetLauncher([&](const std::string& path) { launched.push_back(path); });

    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.server + " " + c.saved);
        options.UseServerFileName = c.useServerName ? 1 : 0;
        const QByteArray before = c.taken.empty() ? QByteArray() : LocalBytes(c.taken);
        const std::string derived = "c" + std::to_string(i);
        ItemPtr item = Add(http.Url("/s/" + derived), {}, c.typed.empty() ? derived : c.typed);
        doc.SetModifiedFlag(false);
        EXPECT_EQ(Fetch(item), STATE_FETCHED) << item->GetNote();
        EXPECT_EQ(item->m_strFileName, c.saved);
        EXPECT_EQ(LocalBytes(c.saved), QByteArray::fromStdString("body " + std::to_string(i)));
        ASSERT_FALSE(launched.empty());
        EXPECT_EQ(launched.back(), LocalPath(c.saved).toStdString()); // the file under its new name
        const bool renamed = c.saved != derived && c.saved != c.typed;
        EXPECT_TRUE(!renamed || (doc.IsModified() && !LocalExists(derived)));
        if (!c.taken.empty()) {
            EXPECT_EQ(LocalBytes(c.taken), before);
        }
    }
}

TEST_F(FetchTest, TwoItemsGivenOneServerNameAtOnceEndWithTwoFiles)
{
    std::mutex lock;
    std::condition_variable cv;
    int arrived = 0;
    http.Raw().Get(R"(/same/(\w+))", [&](const httplib::Request& req, httplib::Response& res) {
        {
            // Both are answered together, so that both fetches choose a name at once.
            std::unique_lock hold(lock);
            ++arrived;
            cv.notify_all();
            cv.wait_for(hold, std::chrono::seconds(10), [&] { return arrived == 2; });
        }
        res.set_header("Content-Disposition", "attachment; filename=same.bin");
        res.set_content("body " + req.matches[1].str(), "application/octet-stream");
    });
    ASSERT_TRUE(http.Start());
    ItemPtr a = Add(http.Url("/same/a"), {}, "a");
    ItemPtr b = Add(http.Url("/same/b"), {}, "b");
    CFetchController controller(doc);
    controller.SetLauncher([](const std::string&) {});

    CFetchSession other(limits);
    int resultB = -1;
    std::thread worker([&] { resultB = FetchItem(other, b, doc); });
    const int resultA = FetchItem(session, a, doc);
    worker.join();
    QCoreApplication::sendPostedEvents();

    EXPECT_EQ(resultA, STATE_FETCHED) << a->GetNote();
    EXPECT_EQ(resultB, STATE_FETCHED) << b->GetNote();
    EXPECT_EQ((std::set<std::string>{a->m_strFileName, b->m_strFileName}),
              (std::set<std::string>{"same.bin", "same (1).bin"}));
    EXPECT_EQ(LocalBytes(a->m_strFileName), QByteArray("body a"));
    EXPECT_EQ(LocalBytes(b->m_strFileName), QByteArray("body b"));
}

TEST_F(FetchTest, FileOfTheItemsNameIsReplacedOnlyWhenItsOwnOrAsTheSettingSays)
{
    ASSERT_TRUE(WriteFileBytes(LocalPath("probe"), "x"));
    if (!SetOrigin(LocalPath("probe"), "x"))
        GTEST_SKIP() << "no extended attributes here";
    http.Serve("/f1.bin", "new body");
    ASSERT_TRUE(http.Start());
    // The recorded origin leaves the user name and password out.
    const std::string url = "http://user:pw@" + http.HostPort() + "/f1.bin";
    const std::string origin = http.Url("/f1.bin");
    const std::string referrer = "http://127.0.0.1/page";
    options.EnableCache = 1;
    CFetchController controller(doc);
    controller.SetLauncher([](const std::string&) {});
    const std::string f1 = LocalPath("f1.bin").toStdString(), renamed = " " + f1 + " は既にあるため f1 (1).bin に保存しました";
    const struct {
        const char* existing;       // f1.bin before the fetch; null: none
        std::string existingOrigin; // its origin attribute; empty: none
        int setting;                // ExistingFile
        const char* savedAs;        // null: the item fails
        std::string note;           // after "8/8" (fetched) or the whole note
    } cases[] = {
        {nullptr, "", EXISTING_RENAME, "f1.bin", ""},
        {"mine", "", EXISTING_RENAME, "f1 (1).bin", renamed},
        {"mine", "http://elsewhere/f1.bin", EXISTING_RENAME, "f1 (1).bin", renamed},
        {"mine", "", EXISTING_REPLACE, "f1.bin", ""},
        {"mine", "", EXISTING_SKIP, nullptr, f1 + " が既にあるためスキップしました"},
        {"earlier", origin, EXISTING_SKIP, "f1.bin", ""}, // the item's own earlier download
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.existing ? c.existing : "-") + " " + c.existingOrigin + " " + std::to_string(c.setting));
        for (const QString& f : QDir(dir.path()).entryList({QStringLiteral("f1*")}, QDir::Files))
            QFile::remove(dir.filePath(f));
        if (c.existing) {
            ASSERT_TRUE(WriteFileBytes(LocalPath("f1.bin"), c.existing));
        }
        if (!c.existingOrigin.empty()) {
            ASSERT_TRUE(SetOrigin(LocalPath("f1.bin"), c.existingOrigin));
        }
        options.ExistingFile = c.setting;
        ItemPtr item = Add(url, referrer, "f1.bin");

        const int result = Fetch(item);
        if (!c.savedAs) {
            EXPECT_EQ(result, STATE_FAILED);
            EXPECT_EQ(item->GetNote(), c.note);
            EXPECT_EQ(LocalBytes("f1.bin"), QByteArray(c.existing));
        } else {
            ASSERT_EQ(result, STATE_FETCHED) << item->GetNote();
            EXPECT_EQ(item->GetNote(), "8/8" + c.note);
            EXPECT_EQ(item->m_strFileName, c.savedAs);
            const QString saved = LocalPath(c.savedAs);
            EXPECT_EQ(ReadFileBytes(saved), QByteArray("new body"));
            EXPECT_EQ(Attribute(saved), origin);
            EXPECT_EQ(Attribute(saved, "user.xdg.referrer.url"), referrer);
            const auto cached = CUrlCache().Lookup(url);
            ASSERT_TRUE(cached.has_value());
            EXPECT_EQ(ReadFileBytes(cached->filePath), QByteArray("new body"));
            if (c.existing && std::string(c.savedAs) != "f1.bin") {
                EXPECT_EQ(LocalBytes("f1.bin"), QByteArray(c.existing));
            }
        }
        EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*.part*")}), QStringList());
        doc.RemoveItems({doc.RowOf(item.get())});
    }
}

} // namespace
} // namespace zorv::test

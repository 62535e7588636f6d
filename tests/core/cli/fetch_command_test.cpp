// zorv --fetch, run in-process against loopback HTTP and FTP servers.
#include "cli/headless.h"
#include "model/doc.h"
#include "support/ftp_server.h"
#include "support/http_server.h"
#include "support/tempsettings.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

namespace zorv::test {
namespace {

using ::testing::HasSubstr;
using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

class FetchCommandTest : public SettingsTest {
protected:
    void SetUp() override
    {
        settings.Options().ProxySetting = PROXY_DIRECT; // loopback only, whatever the environment says
        settings.Options().SaveSettings();
    }

    // Writes the list with one item per URL, downloading into the test folder.
    void MakeList(const std::vector<std::string>& urls)
    {
        CZorvDoc doc;
        for (const auto& u : urls)
            ASSERT_NE(doc.AddUrl(u, "", settings.Dir().toStdString(), "", 0), nullptr) << u;
        ASSERT_TRUE(doc.OnSaveDocument(list, nullptr));
    }
    int Run(QStringList args)
    {
        args.prepend(QStringLiteral("--fetch"));
        return RunHeadless(args, out.get(), err.get());
    }
    static std::string Text(const File& f)
    {
        std::fflush(f.get());
        std::rewind(f.get());
        std::string s;
        for (int c; (c = std::fgetc(f.get())) != EOF;)
            s += static_cast<char>(c);
        return s;
    }
    std::vector<int> SavedStates()
    {
        CZorvDoc doc;
        EXPECT_TRUE(doc.OnOpenDocument(list, nullptr));
        std::vector<int> states;
        for (int i = 0; i < doc.GetCount(); ++i)
            states.push_back(doc.GetItem(i)->GetState());
        return states;
    }

    const QString list = settings.Path(QStringLiteral("l.zorv"));
    File out{std::tmpfile(), &std::fclose};
    File err{std::tmpfile(), &std::fclose};
};

TEST_F(FetchCommandTest, ReportsEveryItemAndExitsByTheResult)
{
    CHttpServer http;
    http.Serve("/a.bin", std::string(200000, 'a'));
    http.ServeStatus("/gone.bin", 404);
    std::atomic<int> calls{0};
    http.Raw().Get("/flaky", [&](const httplib::Request&, httplib::Response& res) { // fails the first time
        if (calls.fetch_add(1) == 0)
            res.status = 503;
        else
            res.set_content("ok", "application/octet-stream");
    });
    ASSERT_TRUE(http.Start());
    CFtpServer ftp;
    QString why;
    ASSERT_TRUE(ftp.Start(&why)) << why.toStdString();
    ASSERT_TRUE(ftp.PutFile(QStringLiteral("pub/f.txt"), QByteArray(5000, 'f')));
    settings.Options().MaxRetry = 1;
    settings.Options().SaveSettings();

    // Every item fetched, one after the retry the settings allow: status 0.
    MakeList({http.Url("/a.bin"), http.Url("/flaky"), ftp.Url("/pub/f.txt")});
    EXPECT_EQ(Run({"--connections", "3", list}), EXIT_OK);
    std::string text = Text(out);
    EXPECT_THAT(text, HasSubstr("fetched\t" + http.Url("/a.bin") + "\t200000/200000\n"));
    EXPECT_THAT(text, HasSubstr("retrying\t" + http.Url("/flaky") + "\t503 Service Unavailable\n"));
    EXPECT_THAT(text, HasSubstr("fetched\t" + http.Url("/flaky")));
    EXPECT_THAT(text, HasSubstr("fetched\t" + ftp.Url("/pub/f.txt") + "\t5000/5000\n"));
    EXPECT_EQ(SavedStates(), std::vector<int>(3, STATE_FETCHED));
    EXPECT_EQ(ReadFileBytes(settings.Path(QStringLiteral("a.bin"))), QByteArray(200000, 'a'));

    // Items that still fail: status 1.
    MakeList({http.Url("/gone.bin"), ftp.Url("/pub/none.txt")});
    EXPECT_EQ(Run({list}), EXIT_PARTIAL);
    text = Text(out);
    EXPECT_THAT(text, HasSubstr("failed\t" + http.Url("/gone.bin") + "\t404 Not Found\n"));
    EXPECT_THAT(text, HasSubstr("failed\t" + ftp.Url("/pub/none.txt") + "\t550"));
    EXPECT_EQ(SavedStates(), std::vector<int>(2, STATE_FAILED));
    EXPECT_FALSE(QFile::exists(settings.Path(QStringLiteral("gone.bin"))));
}

TEST_F(FetchCommandTest, InterruptCancelsSavesAndExits130)
{
    CHttpServer http;
    http.ServeStalled("/stalled.bin", "abc", 1000000);
    ASSERT_TRUE(http.Start());
    MakeList({http.Url("/stalled.bin")});
    QTimer::singleShot(400, [] { std::raise(SIGINT); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Run({list}), EXIT_INTERRUPTED);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(SavedStates(), std::vector<int>{STATE_FAILED});
}

TEST_F(FetchCommandTest, OutputEscapesControlCharactersAndHidesPasswords)
{
    CScriptedServer evil;
    ASSERT_TRUE(evil.Start("HTTP/1.1 404 \x1b[2J\x1b]0;owned\x07\r\nContent-Length: 0\r\n\r\n"));
    std::string url = evil.Url("/x");
    url.insert(url.find("//") + 2, "user:secret@");
    MakeList({url});
    EXPECT_EQ(Run({list}), EXIT_PARTIAL);
    std::string shown = url;
    shown.replace(shown.find("secret"), 6, "***");
    EXPECT_EQ(Text(out), "failed\t" + shown + "\t404 \\x1b[2J\\x1b]0;owned\\x07\n");
}

TEST_F(FetchCommandTest, FillsMissingFileNamesAndFailsItemsWithoutDestination)
{
    CHttpServer http;
    http.Serve("/old.bin", "old");
    http.Serve("/nodest.bin", "never");
    ASSERT_TRUE(http.Start());
    {
        // Items of older lists have no file name; a destination can be empty.
        CZorvDoc doc;
        doc.AddUrl(http.Url("/old.bin"), "", settings.Dir().toStdString(), "", 0)->m_strFileName.clear();
        doc.AddUrl(http.Url("/nodest.bin"), "", settings.Dir().toStdString(), "", 0)->m_strDestination.clear();
        ASSERT_TRUE(doc.OnSaveDocument(list, nullptr));
    }
    EXPECT_EQ(Run({list}), EXIT_PARTIAL);
    const std::string text = Text(out);
    EXPECT_THAT(text, HasSubstr("fetched\t" + http.Url("/old.bin") + "\t3/3\n"));
    EXPECT_THAT(text, HasSubstr("failed\t" + http.Url("/nodest.bin") + "\tnodest.bin を作成できません: "
                                                                        "保存先フォルダが指定されていません\n"));
    EXPECT_EQ(ReadFileBytes(settings.Path(QStringLiteral("old.bin"))), "old");
    EXPECT_TRUE(http.RequestsFor("/nodest.bin").empty());
    CZorvDoc saved;
    ASSERT_TRUE(saved.OnOpenDocument(list, nullptr));
    EXPECT_EQ(saved.GetItem(0)->m_strFileName, "old.bin");
}

TEST_F(FetchCommandTest, ListEscapesTabsLineBreaksAndBackslashesInItsFields)
{
    {
        CZorvDoc doc;
        CItem* item = doc.AddUrl("http://h/x.zip", "r\tx\\y\nz\x1b", "/d\r\nx", "", 0);
        ASSERT_NE(item, nullptr);
        ASSERT_TRUE(doc.OnSaveDocument(list, nullptr));
    }
    EXPECT_EQ(RunHeadless({QStringLiteral("--list"), list}, out.get(), err.get()), EXIT_OK);
    EXPECT_EQ(Text(out), "0\t0\thttp://h/x.zip\t/d\\r\\nx\tx.zip\tr\\tx\\\\y\\nz\\x1b\n");
}

TEST_F(FetchCommandTest, UsageAndListErrorsExitTwo)
{
    EXPECT_EQ(Run({settings.Path(QStringLiteral("missing.zorv"))}), EXIT_USAGE);
    EXPECT_THAT(Text(err), HasSubstr("missing.zorv"));
    EXPECT_EQ(Run({"--connections", "0", list}), EXIT_USAGE);
    EXPECT_EQ(Run({}), EXIT_USAGE);
}

} // namespace
} // namespace zorv::test

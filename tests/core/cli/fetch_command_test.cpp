// zorv --fetch, run in-process against loopback HTTP and FTP servers.
#include "cli/headless.h"
#include "model/doc.h"
#include "settings/store.h"
#include "support/ftp_server.h"
#include "support/http_server.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>

namespace zorv::test {
namespace {

using ::testing::HasSubstr;

class FetchCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        SetSettingsFile(dir.filePath(QStringLiteral("zorv.ini")));
        auto store = OpenSettingsStore();
        store->beginGroup(QStringLiteral("Settings"));
        store->setValue(QStringLiteral("ProxySetting"), 1); // loopback only, whatever the environment says
        store->setValue(QStringLiteral("EnableCache"), 0);
        store->sync();
        list = dir.filePath(QStringLiteral("l.zorv"));
        out = std::tmpfile();
        err = std::tmpfile();
    }
    void TearDown() override
    {
        std::fclose(out);
        std::fclose(err);
        SetSettingsFile({});
    }

    // Writes the list with one item per URL, downloading into dir.
    void MakeList(const std::vector<std::string>& urls)
    {
        CZorvDoc doc;
        for (const auto& u : urls)
            ASSERT_NE(doc.AddUrl(u, "", dir.path().toStdString(), "", 0), nullptr) << u;
        ASSERT_TRUE(doc.OnSaveDocument(list, nullptr));
    }
    int Run(QStringList args)
    {
        args.prepend(QStringLiteral("--fetch"));
        return RunHeadless(args, out, err);
    }
    static std::string Text(std::FILE* f)
    {
        std::fflush(f);
        std::rewind(f);
        std::string s;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            s.append(buf, n);
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

    QTemporaryDir dir;
    QString list;
    std::FILE* out = nullptr;
    std::FILE* err = nullptr;
};

TEST_F(FetchCommandTest, FetchesHttpAndFtpAndReportsEveryItem)
{
    CHttpServer http;
    http.Serve("/a.bin", std::string(200000, 'a'));
    http.ServeStatus("/gone.bin", 404);
    ASSERT_TRUE(http.Start());
    CFtpServer ftp;
    QString why;
    ASSERT_TRUE(ftp.Start(&why)) << why.toStdString();
    ASSERT_TRUE(ftp.PutFile(QStringLiteral("pub/f.txt"), QByteArray(5000, 'f')));
    MakeList({http.Url("/a.bin"), http.Url("/gone.bin"), ftp.Url("/pub/f.txt"), ftp.Url("/pub/none.txt")});

    EXPECT_EQ(Run({QStringLiteral("--connections"), QStringLiteral("3"), list}), EXIT_PARTIAL);

    const std::string text = Text(out);
    EXPECT_THAT(text, HasSubstr("fetched\t" + http.Url("/a.bin") + "\t200000/200000\n"));
    EXPECT_THAT(text, HasSubstr("failed\t" + http.Url("/gone.bin") + "\t404 Not Found\n"));
    EXPECT_THAT(text, HasSubstr("fetched\t" + ftp.Url("/pub/f.txt") + "\t5000/5000\n"));
    EXPECT_THAT(text, HasSubstr("failed\t" + ftp.Url("/pub/none.txt") + "\t550"));
    EXPECT_EQ(SavedStates(), (std::vector<int>{STATE_FETCHED, STATE_FAILED, STATE_FETCHED, STATE_FAILED}));
    QFile a(dir.filePath(QStringLiteral("a.bin")));
    ASSERT_TRUE(a.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), QByteArray(200000, 'a'));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("gone.bin"))));
}

TEST_F(FetchCommandTest, RetriesFromTheSettingsAndSucceedsWithExitZero)
{
    CHttpServer http;
    std::atomic<int> calls{0};
    // Fails the first time, then serves the file.
    http.Raw().Get("/flaky", [&](const httplib::Request&, httplib::Response& res) {
        if (calls.fetch_add(1) == 0)
            res.status = 503;
        else
            res.set_content("ok", "application/octet-stream");
    });
    ASSERT_TRUE(http.Start());
    {
        auto store = OpenSettingsStore();
        store->setValue(QStringLiteral("Settings/MaxRetry"), 1);
    }
    MakeList({http.Url("/flaky")});
    EXPECT_EQ(Run({list}), EXIT_OK);
    const std::string text = Text(out);
    EXPECT_THAT(text, HasSubstr("retrying\t" + http.Url("/flaky") + "\t503 Service Unavailable\n"));
    EXPECT_THAT(text, HasSubstr("fetched\t" + http.Url("/flaky")));
    EXPECT_EQ(SavedStates(), std::vector<int>{STATE_FETCHED});
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

TEST_F(FetchCommandTest, UsageAndListErrorsExitTwo)
{
    EXPECT_EQ(Run({dir.filePath(QStringLiteral("missing.zorv"))}), EXIT_USAGE);
    EXPECT_THAT(Text(err), HasSubstr("missing.zorv"));
    EXPECT_EQ(Run({QStringLiteral("--connections"), QStringLiteral("0"), list}), EXIT_USAGE);
    EXPECT_EQ(Run({}), EXIT_USAGE);
}

} // namespace
} // namespace zorv::test

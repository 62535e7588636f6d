// zorv --fetch against loopback HTTP and FTP servers: in-process, and as a
// child process where the behaviour is the process's (signals, a closed output).
#include "cli/headless.h"
#include "engine/partfile.h"
#include "engine/ratelimit.h"
#include "model/doc.h"
#include "support/childprocess.h"
#include "support/ftp_server.h"
#include "support/http_server.h"
#include "support/tls_server.h"
#include "support/tempsettings.h"

#include <QFile>
#include <QThread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

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
    settings.Options().RetryWait = 1;
    settings.Options().SaveSettings();

    // Every item fetched, one after the retry the settings allow, which
    // waits its second first: status 0.
    // A file of an item's name that is not its download is replaced as asked.
    MakeList({http.Url("/a.bin"), http.Url("/flaky"), ftp.Url("/pub/f.txt")});
    ASSERT_TRUE(WriteFileBytes(settings.Path(QStringLiteral("a.bin")), "the user's"));
    EXPECT_EQ(Run({"--connections", "3", "--max-segments", "2", "--limit-rate", "100000", "--existing", "replace",
                   "--max-per-server", "2", list}),
              EXIT_OK);
    EXPECT_EQ(CRateLimiter::Global().Rate(), 100000u * 1024);
    ApplySpeedLimit(0);
    std::string text = Text(out);
    EXPECT_THAT(text, HasSubstr("fetched\t" + http.Url("/a.bin") + "\t200000/200000\n"));
    EXPECT_THAT(text, HasSubstr("retrying\t" + http.Url("/flaky") + "\t再試行まで 0:01（503 Service Unavailable）\n"));
    EXPECT_THAT(text, HasSubstr("fetched\t" + http.Url("/flaky")));
    EXPECT_THAT(text, HasSubstr("fetched\t" + ftp.Url("/pub/f.txt") + "\t5000/5000\n"));
    EXPECT_EQ(SavedStates(), std::vector<int>(3, STATE_FETCHED));
    EXPECT_EQ(ReadFileBytes(settings.Path(QStringLiteral("a.bin"))), QByteArray(200000, 'a'));

    // Items that still fail: status 1. The output escapes control characters
    // and hides passwords.
    CScriptedServer evil;
    ASSERT_TRUE(evil.Start("HTTP/1.1 404 \x1b[2J\x1b]0;owned\x07\r\nContent-Length: 0\r\n\r\n"));
    std::string url = evil.Url("/x");
    url.insert(url.find("//") + 2, "user:secret@");
    MakeList({http.Url("/gone.bin"), ftp.Url("/pub/none.txt"), url});
    EXPECT_EQ(Run({list}), EXIT_PARTIAL);
    text = Text(out);
    EXPECT_THAT(text, HasSubstr("failed\t" + http.Url("/gone.bin") + "\t404 Not Found\n"));
    EXPECT_THAT(text, HasSubstr("failed\t" + ftp.Url("/pub/none.txt") + "\t550"));
    url.replace(url.find("secret"), 6, "***");
    EXPECT_THAT(text, HasSubstr("failed\t" + url + "\t404 \\x1b[2J\\x1b]0;owned\\x07\n"));
    EXPECT_EQ(text.find_first_of("\x1b\x07"), std::string::npos);
    EXPECT_EQ(text.find("secret"), std::string::npos);
    EXPECT_EQ(SavedStates(), std::vector<int>(3, STATE_FAILED));
}

// A server whose certificate only a file of extra authorities vouches for:
// refused without it, fetched with --cacert. An unusable --cacert is a usage
// error before anything is fetched; an unusable file in the settings fails
// each HTTPS item with a note that names it.
TEST_F(FetchCommandTest, CaCertificatesAddTrustForHttps)
{
    CTlsServer tls;
    QString why;
    ASSERT_TRUE(tls.Start(&why)) << why.toStdString();
    ASSERT_TRUE(tls.PutFile(QStringLiteral("s.bin"), "secret"));
    const std::string url = tls.Url("/s.bin");
    MakeList({url});
    EXPECT_EQ(Run({list}), EXIT_PARTIAL);
    EXPECT_THAT(Text(out), HasSubstr("failed\t" + url + "\tサーバー証明書を検証できません (libcurl error 60)\n"));

    const QString notPem = settings.Path(QStringLiteral("not.pem"));
    const QString damaged = settings.Path(QStringLiteral("damaged.pem"));
    ASSERT_TRUE(WriteFileBytes(notPem, "just text\n"));
    ASSERT_TRUE(WriteFileBytes(damaged, "-----BEGIN CERTIFICATE-----\nMII*\n-----END CERTIFICATE-----\n"));
    // Missing, a folder, no certificate, a damaged one: each named as unusable.
    for (const QString& file : {settings.Path(QStringLiteral("none.pem")), settings.Dir(), notPem, damaged}) {
        MakeList({url});
        EXPECT_EQ(Run({"--cacert", file, list}), EXIT_USAGE) << file.toStdString();
        EXPECT_THAT(Text(err), HasSubstr("--cacert: 証明書ファイル " + file.toStdString() + " "));
        EXPECT_EQ(SavedStates(), std::vector<int>{STATE_NOT_FETCHED}) << "nothing fetched";
    }

    EXPECT_EQ(Run({"--cacert", QString::fromStdString(tls.CaFile()), list}), EXIT_OK);
    EXPECT_EQ(ReadFileBytes(settings.Path(QStringLiteral("s.bin"))), QByteArray("secret"));

    settings.Options().CaCertificates = notPem.toStdString();
    settings.Options().SaveSettings();
    MakeList({url});
    EXPECT_EQ(Run({list}), EXIT_PARTIAL);
    EXPECT_THAT(Text(out), HasSubstr("failed\t" + url + "\t証明書ファイル " + notPem.toStdString()
                                     + " に PEM 形式の証明書がありません\n"));
}

// The real executable as a child: signals and a closed standard output are
// the process's own business. The child gets a private home (default
// settings) and goes to the loopback servers directly.
class FetchProcessTest : public FetchCommandTest {
protected:
    bool StartFetch(bool pipeStdout, const QStringList& args)
    {
        CChildProcess::Options options;
        const QString home = settings.Dir(); // private (0700): also the runtime folder
        options.env = PrivateHomeEnv(home) << "XDG_RUNTIME_DIR=" + home << "no_proxy=127.0.0.1" << "NO_PROXY=127.0.0.1";
        options.pipeStdout = pipeStdout;
        options.stderrFile = settings.Path(QStringLiteral("stderr.txt"));
        QString why;
        if (child.Start(QStringLiteral(ZORV_EXE), QStringList{"--fetch"} + args, options, &why))
            return true;
        ADD_FAILURE() << why.toStdString();
        return false;
    }
    std::string Stderr() const { return ReadFileBytes(settings.Path(QStringLiteral("stderr.txt"))).toStdString(); }

    CChildProcess child;
};

// Ctrl+C, kill and a closed terminal cancel the transfer, save the list and
// exit with 128 + the signal. The bytes already received stay in the partial
// file, and the next run asks only for the rest.
TEST_F(FetchProcessTest, StopSignalsCancelSaveAndTheNextRunGoesOn)
{
    const std::string body = Pattern(300000);
    std::atomic<bool> headSent{false};
    CHttpServer http;
    http.Raw().Get(R"(/\w+\.bin)", [&](const httplib::Request& req, httplib::Response& res) {
        res.set_header("ETag", "\"big-1\"");
        if (req.has_header("Range")) { // cut to the range by the server library
            res.set_content(body, "application/octet-stream");
            return;
        }
        // The first 1000 bytes, then nothing until the server stops.
        res.set_content_provider(body.size(), "application/octet-stream",
                                 [&](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset == 0)
                                         return sink.write(body.data(), 1000);
                                     headSent = true;
                                     http.Sleep(std::chrono::seconds(20));
                                     return false;
                                 });
    });
    ASSERT_TRUE(http.Start());
    std::string path;
    for (const auto& [signal, status] : {std::pair{SIGTERM, 143}, {SIGHUP, 129}, {SIGINT, 130}}) {
        path = "/s" + std::to_string(signal) + ".bin";
        const QString file = settings.Path(QString::fromStdString(path.substr(1)));
        headSent = false;
        MakeList({http.Url(path)});
        ASSERT_TRUE(StartFetch(false, {list}));
        // The child keeps small pieces in memory until the transfer ends: the
        // partial file is only known to exist, the bytes to have been sent.
        ASSERT_TRUE(RunUntil([&] { return headSent && QFile::exists(file + ".part"); })) << Stderr();
        QThread::msleep(300); // for the sent bytes to cross the loopback
        ::kill(child.Pid(), signal);
        EXPECT_EQ(child.Wait(10000), status) << strsignal(signal) << "\n" << Stderr();
        EXPECT_EQ(SavedStates(), std::vector<int>{STATE_FAILED}) << strsignal(signal);
        EXPECT_FALSE(QFile::exists(file));
    }

    // The item interrupted by Ctrl+C failed: reset, then fetched again.
    ASSERT_EQ(RunHeadless({"--reset", list}, out.get(), err.get()), EXIT_OK) << Text(err);
    EXPECT_EQ(Run({list}), EXIT_OK) << Text(err);
    EXPECT_THAT(Text(out), HasSubstr("fetched\t" + http.Url(path) + "\t300000/300000 (1000 バイトから再開)\n"));
    EXPECT_EQ(ReadFileBytes(settings.Path(QString::fromStdString(path.substr(1)))), QByteArray::fromStdString(body));
    EXPECT_FALSE(QFile::exists(settings.Path(QString::fromStdString(path.substr(1) + ".part"))));
    const auto requests = http.RequestsFor(path);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), "bytes=1000-");
    EXPECT_EQ(requests[1].Header("If-Range"), "\"big-1\"");
}

// SIGKILL in the middle of a segmented transfer: the next run trusts only the
// recorded ranges, asks for the holes alone, and the file is the server's;
// an item finished before the kill is saved as fetched and not fetched again.
TEST_F(FetchProcessTest, KilledMidSegmentsAsksOnlyForTheMissingRanges)
{
    const std::string body = Pattern(40 << 20);
    std::atomic<int> ranged{0};
    std::atomic<bool> paced{true};
    CHttpServer http;
    http.Raw().Get("/big.bin", [&](const httplib::Request& req, httplib::Response& res) {
        ranged += req.has_header("Range") ? 1 : 0;
        res.set_header("Accept-Ranges", "bytes");
        res.set_header("ETag", "\"big-1\"");
        res.set_content_provider(body.size(), "application/octet-stream",
                                 [&](size_t offset, size_t length, httplib::DataSink& sink) {
                                     const size_t k = std::min<size_t>(length, 64 * 1024);
                                     if (paced && !http.Sleep(std::chrono::milliseconds(5)))
                                         return false;
                                     return sink.write(body.data() + offset, k);
                                 });
    });
    http.Serve("/small.bin", "small");
    ASSERT_TRUE(http.Start());
    MakeList({http.Url("/small.bin"), http.Url("/big.bin")});
    ASSERT_TRUE(StartFetch(false, {"--connections", "4", list}));
    const QString part = settings.Path(QStringLiteral("big.bin.part"));
    const auto recorded = [&] {
        const std::optional<CPartRecord> r = ReadPartRecord(part.toStdString(), nullptr);
        return r ? r->done.Bytes() : 0;
    };
    ASSERT_TRUE(RunUntil([&] { return ranged >= 3 && recorded() >= (8u << 20); }, 30000)) << Stderr();
    ASSERT_TRUE(RunUntil([&] { return SavedStates() == std::vector<int>{STATE_FETCHED, STATE_NOT_FETCHED}; }, 10000));
    ::kill(child.Pid(), SIGKILL);
    EXPECT_EQ(child.Wait(10000), 128 + SIGKILL);
    const std::optional<CPartRecord> record = ReadPartRecord(part.toStdString(), nullptr);
    ASSERT_TRUE(record);
    const auto holes = record->done.Holes(body.size());
    ASSERT_FALSE(holes.empty());

    paced = false;
    const size_t before = http.RequestsFor("/big.bin").size();
    EXPECT_EQ(Run({"--connections", "4", list}), EXIT_OK) << Text(err);
    EXPECT_TRUE(ReadFileBytes(settings.Path(QStringLiteral("big.bin"))) == QByteArray::fromStdString(body));
    const auto requests = http.RequestsFor("/big.bin");
    ASSERT_GT(requests.size(), before);
    EXPECT_EQ(http.RequestsFor("/small.bin").size(), 1u);
    for (size_t i = before; i < requests.size(); ++i) {
        const std::string range = requests[i].Header("Range");
        ASSERT_TRUE(range.starts_with("bytes=")) << range;
        const std::uint64_t first = std::stoull(range.substr(6));
        EXPECT_TRUE(std::any_of(holes.begin(), holes.end(), [&](const auto& h) { return h.first <= first && first < h.second; }))
            << range;
    }
}

// `zorv --fetch L | head -1`: once the reader has gone, the rest of the list
// is still fetched and saved, and the status is that of the run.
TEST_F(FetchProcessTest, ClosedOutputStopsThePrintingNotTheRun)
{
    std::atomic<bool> released{false};
    CHttpServer http;
    http.Serve("/first", "1");
    http.Raw().Get("/gate", [&](const httplib::Request&, httplib::Response& res) {
        while (!released && http.Sleep(std::chrono::milliseconds(10))) {
        }
        res.set_content("gate", "application/octet-stream");
    });
    http.Serve("/last", "3");
    ASSERT_TRUE(http.Start());
    MakeList({http.Url("/first"), http.Url("/gate"), http.Url("/last")});
    ASSERT_TRUE(StartFetch(true, {"--connections", "1", list}));
    EXPECT_THAT(child.ReadLine(10000).toStdString(), HasSubstr("fetched\t" + http.Url("/first")));
    child.CloseStdout(); // the later lines meet a closed pipe
    released = true;
    EXPECT_EQ(child.Wait(20000), EXIT_OK) << Stderr();
    EXPECT_EQ(SavedStates(), std::vector<int>(3, STATE_FETCHED));
    EXPECT_EQ(ReadFileBytes(settings.Path(QStringLiteral("last"))), QByteArray("3"));
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

} // namespace
} // namespace zorv::test

// The worker pool with the event handling of the UI thread, against a real
// HTTP server on loopback.
#include "engine/controller.h"
#include "engine/pool.h"
#include "engine/urlcache.h"
#include "model/doc.h"
#include "support/http_server.h"
#include "support/tls_server.h"
#include "support/tempsettings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLocale>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zorv::test {
namespace {

// A second of the retry waits in these tests.
constexpr std::chrono::milliseconds kRetrySecond{100};

class PoolTest : public SettingsTest {
protected:
    void SetUp() override
    {
        settings.Options().ProxySetting = PROXY_DIRECT;
        CUrlCache::SetFolderOverride(settings.Path(QStringLiteral("cache")));
        server.Serve("/a.bin", std::string(10000, 'a'));
        server.ServeStatus("/missing", 404);
        server.ServeSlow("/slow.bin", std::string(4000, 's'), 1000, std::chrono::milliseconds(150));
        server.ServeSlow("/slow2.bin", std::string(4000, 't'), 1000, std::chrono::milliseconds(150));
        server.ServeStalled("/stalled.bin", "xx", 100000);
        ASSERT_TRUE(server.Start());
        pool.SetLimits(CFetchLimits{std::chrono::milliseconds(5000), std::chrono::milliseconds(20000)});
        QObject::connect(&controller, &CFetchController::ItemFinished,
                         [this](const ItemPtr&, int, bool retried) { finished.push_back(retried); });
        controller.SetRetrySecond(kRetrySecond);
    }
    void TearDown() override { CUrlCache::SetFolderOverride({}); }

    CItem* Add(const std::string& path, const std::string& name)
    {
        CItem* item = doc.AddUrl(server.Url(path), "", settings.Dir().toStdString(), name, 0);
        EXPECT_NE(item, nullptr);
        return item;
    }
    bool AllSettled()
    {
        for (int i = 0; i < doc.GetCount(); ++i) {
            if (!doc.GetItem(i)->IsSettled() || doc.GetItem(i)->GetState() == STATE_NOT_FETCHED)
                return false;
        }
        return pool.HoldingWorkers() == 0;
    }

    CHttpServer server;
    CZorvDoc doc;
    CWorkerPool pool{doc};
    CFetchController controller{doc};
    std::vector<bool> finished; // ItemFinished: whether the item was queued again
};

TEST_F(PoolTest, WorkerCountStartsAndStopsFetching)
{
    for (int i = 0; i < 3; ++i)
        Add("/slow.bin", "s" + std::to_string(i) + ".bin");
    Add("/a.bin", "late.bin");
    pool.SetWorkerCount(1);
    pool.SetWorkerCount(3);
    EXPECT_EQ(pool.LiveWorkers(), 3); // new workers start at once
    ASSERT_TRUE(RunUntil([&] { return pool.ActiveFetches() == 3 && doc.GetItem(0)->GetState() == STATE_FETCHING; }));
    EXPECT_FALSE(doc.IsModified()); // progress does not mark the list
    // Stop while fetching: busy workers finish their item first.
    pool.SetWorkerCount(0);
    EXPECT_GT(pool.LiveWorkers(), 0);
    ASSERT_TRUE(pool.WaitUntilStopped(std::chrono::milliseconds(10000)));
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(doc.IsModified()); // results do
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(doc.GetItem(i)->GetState(), STATE_FETCHED) << i;
    // Nobody took the fourth item.
    EXPECT_EQ(doc.GetItem(3)->GetState(), STATE_NOT_FETCHED);
    EXPECT_EQ(doc.GetItemCount(true), 1);

    // Started again, the rest of the list is fetched.
    Add("/missing", "m.bin");
    pool.SetWorkerCount(3);
    ASSERT_TRUE(RunUntil([&] { return AllSettled() && finished.size() == 5; }));
    EXPECT_EQ(doc.GetItem(3)->GetState(), STATE_FETCHED);
    EXPECT_EQ(doc.GetItem(4)->GetState(), STATE_FAILED);
    EXPECT_EQ(doc.GetItem(4)->GetNote(), "404 Not Found");
    EXPECT_EQ(doc.GetItemCount(true), 0);

    // Idle workers leave when the count is lowered.
    pool.SetWorkerCount(1);
    ASSERT_TRUE(RunUntil([&] { return pool.LiveWorkers() == 1; }, 4000));
    pool.SetWorkerCount(0);
    // Idle workers notice the quit request within about a second.
    EXPECT_TRUE(pool.WaitUntilStopped(std::chrono::milliseconds(3000)));
    EXPECT_EQ(pool.LiveWorkers(), 0);
}

TEST_F(PoolTest, TwoItemsNeverWriteOneLocalFileAtOnce)
{
    // Two slow bodies into one file, two workers: the later fetch fails
    // instead of writing into the earlier one's file.
    CItem* items[] = {Add("/slow.bin", "same.bin"), Add("/slow2.bin", "same.bin")};
    pool.SetWorkerCount(2);
    ASSERT_TRUE(RunUntil([&] { return finished.size() == 2 && AllSettled(); }));
    // Exactly one fetched, and the file is its body alone.
    const int fetched = items[0]->GetState() == STATE_FETCHED ? 0 : 1;
    ASSERT_EQ(items[fetched]->GetState(), STATE_FETCHED) << items[fetched]->GetNote();
    EXPECT_EQ(items[1 - fetched]->GetState(), STATE_FAILED) << "both fetched into one file";
    EXPECT_EQ(ReadFileBytes(settings.Path(QStringLiteral("same.bin"))), QByteArray(4000, fetched ? 't' : 's'));
}

// A failed item is tried MaxRetry times more, then stays failed; a fetched
// one is removed after its launch.
TEST_F(PoolTest, FailedItemIsRetriedThenStaysAndFetchedItemIsRemovedAfterItsLaunch)
{
    settings.Options().MaxRetry = 2;
    settings.Options().RetryWait = 0; // at once
    settings.Options().AutoRemoveUrlIfSuccess = 1;
    std::vector<std::pair<std::string, int>> launched; // path, items in the list then
    controller.SetLauncher([&](const std::string& path) { launched.emplace_back(path, doc.GetCount()); });
    Add("/a.bin", "one.bin");
    CItem* failed = Add("/missing", "two.bin");
    pool.SetWorkerCount(1);
    ASSERT_TRUE(RunUntil([&] { return finished.size() == 4 && pool.HoldingWorkers() == 0; }));
    EXPECT_EQ(finished, std::vector<bool>({false, true, true, false}));
    EXPECT_EQ(server.RequestsFor("/missing").size(), 3u);
    ASSERT_EQ(doc.GetCount(), 1); // the failed one stays
    EXPECT_EQ(doc.GetItem(0), failed);
    EXPECT_EQ(failed->m_nFailures, 3u);
    EXPECT_EQ(failed->GetState(), STATE_FAILED);
    // Launched while still in the list.
    const std::pair<std::string, int> expected{settings.Path(QStringLiteral("one.bin")).toStdString(), 2};
    EXPECT_EQ(launched, std::vector({expected}));
    EXPECT_TRUE(doc.IsModified());
}

TEST_F(PoolTest, ClosingTheListOrShuttingDownCancelsBlockedTransfers)
{
    CItem* item = Add("/stalled.bin", "st.bin");
    ItemPtr held = doc.GetItemPtr(doc.RowOf(item));
    pool.SetWorkerCount(2);
    ASSERT_TRUE(RunUntil([&] { return held->GetState() == STATE_FETCHING; }));
    QElapsedTimer clock;
    clock.start();
    doc.OnCloseDocument();
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(doc.GetCount(), 0);
    EXPECT_EQ(pool.HoldingWorkers(), 0);
    EXPECT_EQ(held->GetState(), STATE_FAILED);
    // Events of the closed list's items are ignored.
    QCoreApplication::processEvents();
    EXPECT_TRUE(finished.empty());

    // Shutdown ends the workers at once, a blocked one included.
    pool.SetWorkerCount(2);
    CItem* next = Add("/stalled.bin", "st2.bin");
    ASSERT_TRUE(RunUntil([&] { return next->GetState() == STATE_FETCHING; }));
    clock.restart();
    pool.Shutdown();
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(pool.LiveWorkers(), 0);
}

TEST_F(PoolTest, PauseAllStopsABlockedTransferAndLeavesItQueuedInPlace)
{
    CItem* st = Add("/stalled.bin", "st.bin");
    CItem* a = Add("/a.bin", "a.bin");
    pool.SetWorkerCount(1);
    // Paused once the first bytes are in (the body can start before they come).
    ASSERT_TRUE(RunUntil([&] { return st->Progress().received == 2; }));
    pool.PauseAll();
    ASSERT_TRUE(RunUntil([&] { return pool.LiveWorkers() == 0 && st->GetState() == STATE_NOT_FETCHED; }));
    EXPECT_EQ(doc.PendingItems(), (std::vector<CItem*>{st, a}));
    EXPECT_EQ(st->m_nFailures, 0u);
    EXPECT_EQ(ReadFileBytes(settings.Path(QStringLiteral("st.bin.part"))), QByteArray("xx"));
    EXPECT_TRUE(finished.empty()) << "a pause is no result";
}

TEST_F(PoolTest, ItemWithUnsupportedUrlFailsWithoutNetwork)
{
    auto item = std::make_shared<CItem>("gopher://127.0.0.1/x", "", settings.Dir().toStdString(), "g", 0);
    item->SetNote("kept");
    ASSERT_TRUE(doc.AppendItem(item));
    doc.QueuePending(item.get());
    pool.SetWorkerCount(1);
    ASSERT_TRUE(RunUntil([&] { return item->GetState() == STATE_FAILED; }));
    EXPECT_EQ(item->GetNote(), "kept");
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(PoolTest, QueueingStartsWorkersOnlyWithAnActiveDialUpLink)
{
    bool dialUp = false;
    pool.SetDialUpTest([&] { return dialUp; });
    settings.Options().AutoStartIfRasActive = 1;
    settings.Options().Connections = 2;
    Add("/a.bin", "x.bin");
    EXPECT_EQ(pool.LiveWorkers(), 0);
    dialUp = true;
    Add("/a.bin", "y.bin");
    EXPECT_EQ(pool.LiveWorkers(), 2);
    settings.Options().AutoStartIfRasActive = 0;
    ASSERT_TRUE(RunUntil([&] { return AllSettled(); }));
}

// Items of one HTTPS server that offers HTTP/2 travel over one connection
// (the server's certificate authority is trusted through the settings).
TEST_F(PoolTest, ItemsOfOneHttp2ServerShareOneConnection)
{
    CTlsServer tls;
    QString error;
    ASSERT_TRUE(tls.Start(&error)) << error.toStdString();
    settings.Options().CaCertificates = tls.CaFile();
    std::vector<CItem*> items;
    for (int i = 0; i < 6; ++i) {
        const std::string name = "h" + std::to_string(i) + ".bin";
        ASSERT_TRUE(tls.PutFile(QString::fromStdString(name), QByteArray(20000 + i, char('a' + i))));
        items.push_back(doc.AddUrl(tls.Url("/" + name), "", settings.Dir().toStdString(), name, 0));
    }
    pool.SetWorkerCount(4);
    ASSERT_TRUE(RunUntil([&] { return AllSettled(); }));
    for (size_t i = 0; i < items.size(); ++i) {
        ASSERT_EQ(items[i]->GetState(), STATE_FETCHED) << items[i]->GetNote();
        EXPECT_EQ(ReadFileBytes(settings.Path(QString::fromStdString(items[i]->m_strFileName))),
                  QByteArray(20000 + static_cast<int>(i), static_cast<char>('a' + i)));
    }
    const auto requests = tls.Requests();
    ASSERT_EQ(requests.size(), 6u);
    for (const auto& r : requests) {
        EXPECT_EQ(r.protocol, "HTTP/2.0") << r.uri;
        EXPECT_EQ(r.connection, requests.front().connection) << r.uri;
    }
}

// Items held back by the per-server cap wait for their turn, however long
// the transfers ahead of them take: the wait is no connect timeout.
TEST_F(PoolTest, ItemsWaitingForThePerServerCapDoNotTimeOut)
{
    pool.SetLimits(CFetchLimits{std::chrono::milliseconds(300), std::chrono::milliseconds(20000)});
    settings.Options().MaxConnectionsPerServer = 1;
    for (int i = 0; i < 3; ++i)
        Add("/slow.bin", "cap" + std::to_string(i) + ".bin");
    pool.SetWorkerCount(3);
    ASSERT_TRUE(RunUntil([&] { return AllSettled(); }));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(doc.GetItem(i)->GetState(), STATE_FETCHED) << doc.GetItem(i)->GetNote();
}

// A failed item waits before its next attempt: RetryWait doubled after
// every failure, or what a 429 or 503 answer's Retry-After asks for (then
// the server's other queued items wait too), and each attempt goes on from
// the bytes kept. The server answers the requests for /f in turn.
TEST_F(PoolTest, RetriesWaitAndResume)
{
    struct CAnswer {
        int status = 200;       // 200: the file from the Range asked (206), up to `upTo`
        std::string retryAfter; // "+N": an HTTP date N seconds ahead
        size_t upTo = SIZE_MAX; // then the connection drops, or stalls with `stall`
        bool stall = false;
    };
    struct CCase {
        const char* name;
        std::vector<CAnswer> answers;
        int retryWait;
        std::vector<int> leastGapsMs; // before each request after the first
        std::string lastRange;
        bool otherItem = false; // a second item of the server is queued behind
    };
    const std::vector<CCase> cases = {
        {"cut, down twice, up: the waits double, the file resumes",
         {{200, "", 60000}, {503, ""}, {503, ""}, {200, ""}}, 1, {100, 200, 400}, "bytes=60000-", false},
        {"429 with Retry-After in seconds holds the server's other item too",
         {{429, "3"}, {200, ""}}, 1, {300}, "", true},
        {"503 with Retry-After as a date", {{503, "+3"}, {200, ""}}, 0, {200}, "", false},
        {"a stall at 99 %: failed after the stall limit, resumed after the wait",
         {{200, "", 99000, true}, {200, ""}}, 1, {300 + 100}, "bytes=99000-", false},
    };
    const std::string body = [] {
        std::string b(100000, '\0');
        for (size_t i = 0; i < b.size(); ++i)
            b[i] = static_cast<char>('a' + i * 7 % 26);
        return b;
    }();
    pool.SetLimits(CFetchLimits{std::chrono::milliseconds(5000), std::chrono::milliseconds(300), kRetrySecond});
    settings.Options().MaxRetry = 3;
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.name);
        CHttpServer files;
        std::atomic<size_t> served{0};
        files.Raw().Get("/f", [&](const httplib::Request&, httplib::Response& res) {
            const CAnswer& a = c.answers[std::min(served++, c.answers.size() - 1)];
            if (a.status != 200) {
                res.status = a.status;
                if (a.retryAfter.starts_with('+')) {
                    const QDateTime at = QDateTime::currentDateTimeUtc().addSecs(std::stoi(a.retryAfter.substr(1)));
                    res.set_header("Retry-After",
                                   QLocale::c().toString(at, u"ddd, dd MMM yyyy hh:mm:ss 'GMT'").toStdString());
                } else if (!a.retryAfter.empty()) {
                    res.set_header("Retry-After", a.retryAfter);
                }
                return; // no body: a range would turn it into a 416

            }
            res.set_header("ETag", "\"v1\"");
            res.set_content_provider(body.size(), "application/octet-stream",
                                     [&, a](size_t offset, size_t length, httplib::DataSink& sink) {
                                         const size_t end = std::min(offset + length, a.upTo);
                                         if (offset < end)
                                             return sink.write(body.data() + offset, end - offset);
                                         if (a.stall)
                                             files.Sleep(std::chrono::seconds(20));
                                         return false;
                                     });
        });
        files.Serve("/g", "other");
        ASSERT_TRUE(files.Start());
        doc.DeleteContents();
        finished.clear();
        const std::string name = std::string("r") + std::to_string(&c - cases.data());
        CItem* item = doc.AddUrl(files.Url("/f"), "", settings.Dir().toStdString(), name, 0);
        if (c.otherItem)
            doc.AddUrl(files.Url("/g"), "", settings.Dir().toStdString(), name + "g", 0);
        settings.Options().RetryWait = c.retryWait;
        pool.SetWorkerCount(1);
        const size_t results = c.answers.size() + (c.otherItem ? 1 : 0);
        ASSERT_TRUE(RunUntil([&] { return finished.size() == results && AllSettled(); }, 20000));
        pool.SetWorkerCount(0);
        ASSERT_EQ(item->GetState(), STATE_FETCHED) << item->GetNote();
        EXPECT_EQ(item->m_nFailures, c.answers.size() - 1);
        EXPECT_EQ(ReadFileBytes(settings.Path(QString::fromStdString(name))).toStdString(), body);
        const auto requests = files.RequestsFor("/f");
        ASSERT_EQ(requests.size(), c.answers.size());
        EXPECT_EQ(requests.back().Header("Range"), c.lastRange);
        for (size_t i = 1; i < requests.size(); ++i) {
            const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(requests[i].at - requests[i - 1].at);
            EXPECT_GE(gap.count(), c.leastGapsMs[i - 1]) << "request " << i;
            EXPECT_LT(gap.count(), c.leastGapsMs[i - 1] + 3000) << "request " << i;
        }
        if (c.otherItem) {
            const auto other = files.RequestsFor("/g");
            ASSERT_EQ(other.size(), 1u);
            EXPECT_GE(other[0].at - requests[0].at, std::chrono::milliseconds(c.leastGapsMs[0]));
        }
    }
}

} // namespace
} // namespace zorv::test

// The worker pool with the event handling of the UI thread, against a real
// HTTP server on loopback.
#include "engine/controller.h"
#include "engine/pool.h"
#include "engine/urlcache.h"
#include "model/doc.h"
#include "support/http_server.h"
#include "support/tempsettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zorv::test {
namespace {

// Runs the UI thread's event loop until `done` holds; false on timeout.
bool RunUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    QCoreApplication::processEvents();
    return true;
}

class PoolTest : public SettingsTest {
protected:
    void SetUp() override
    {
        settings.Options().ProxySetting = PROXY_DIRECT;
        CUrlCache::SetFolderOverride(settings.Path(QStringLiteral("cache")));
        server.Serve("/a.bin", std::string(10000, 'a'));
        server.ServeStatus("/missing", 404);
        server.ServeSlow("/slow.bin", std::string(4000, 's'), 1000, std::chrono::milliseconds(150));
        server.ServeStalled("/stalled.bin", "xx", 100000);
        ASSERT_TRUE(server.Start());
        pool.SetLimits(CFetchLimits{std::chrono::milliseconds(5000), std::chrono::milliseconds(20000)});
        QObject::connect(&controller, &CFetchController::ItemFinished,
                         [this](const ItemPtr& item, int state, bool retried) {
                             finished.push_back({item->m_strUrl, state, retried});
                         });
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

    struct Finished {
        std::string url;
        int state;
        bool retried;
    };
    CHttpServer server;
    CZorvDoc doc;
    CWorkerPool pool{doc};
    CFetchController controller{doc};
    std::vector<Finished> finished;
};

TEST_F(PoolTest, FetchesTheWholeListInListOrderAndStops)
{
    for (int i = 0; i < 6; ++i)
        Add("/a.bin", "a" + std::to_string(i) + ".bin");
    Add("/missing", "m.bin");
    pool.SetWorkerCount(3);
    EXPECT_EQ(pool.LiveWorkers(), 3);
    ASSERT_TRUE(RunUntil([&] { return AllSettled() && finished.size() == 7; }));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(doc.GetItem(i)->GetState(), STATE_FETCHED) << i;
    EXPECT_EQ(doc.GetItem(6)->GetState(), STATE_FAILED);
    EXPECT_EQ(doc.GetItem(6)->GetNote(), "404 Not Found");
    EXPECT_EQ(doc.GetItemCount(true), 0);
    // Taken in list order: the first request is for the first item.
    EXPECT_EQ(server.Requests().size(), 7u);

    pool.SetWorkerCount(0);
    EXPECT_EQ(pool.TargetWorkers(), 0);
    // Idle workers notice the quit request within about a second.
    EXPECT_TRUE(pool.WaitUntilStopped(std::chrono::milliseconds(3000)));
    EXPECT_EQ(pool.LiveWorkers(), 0);
}

TEST_F(PoolTest, StopLetsRunningFetchesFinish)
{
    for (int i = 0; i < 3; ++i)
        Add("/slow.bin", "s" + std::to_string(i) + ".bin");
    Add("/a.bin", "late.bin");
    pool.SetWorkerCount(3);
    ASSERT_TRUE(RunUntil([&] { return pool.ActiveFetches() == 3; }));
    pool.SetWorkerCount(0);
    EXPECT_GT(pool.LiveWorkers(), 0); // busy workers finish their item first
    ASSERT_TRUE(pool.WaitUntilStopped(std::chrono::milliseconds(10000)));
    QCoreApplication::sendPostedEvents();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(doc.GetItem(i)->GetState(), STATE_FETCHED) << i;
    // Nobody took the fourth item.
    EXPECT_EQ(doc.GetItem(3)->GetState(), STATE_NOT_FETCHED);
    EXPECT_EQ(doc.GetItemCount(true), 1);
}

TEST_F(PoolTest, WorkerCountFollowsLoweringAndRaising)
{
    pool.SetWorkerCount(1);
    pool.SetWorkerCount(3);
    EXPECT_EQ(pool.LiveWorkers(), 3); // new workers start at once
    pool.SetWorkerCount(1);
    EXPECT_EQ(pool.TargetWorkers(), 1);
    ASSERT_TRUE(RunUntil([&] { return pool.LiveWorkers() == 1; }, 4000));
    // Raising again while quit requests are still outstanding counts right.
    pool.SetWorkerCount(2);
    pool.SetWorkerCount(4);
    EXPECT_EQ(pool.TargetWorkers(), 4);
    pool.SetWorkerCount(0);
    EXPECT_TRUE(pool.WaitUntilStopped(std::chrono::milliseconds(3000)));
}

TEST_F(PoolTest, FailedItemIsRetriedMaxRetryTimesThenStaysFailed)
{
    settings.Options().MaxRetry = 2;
    CItem* item = Add("/missing", "m.bin");
    pool.SetWorkerCount(2);
    ASSERT_TRUE(RunUntil([&] { return finished.size() == 3 && AllSettled(); }));
    EXPECT_EQ(server.RequestsFor("/missing").size(), 3u);
    EXPECT_EQ(item->m_nFailures, 3u);
    EXPECT_EQ(item->GetState(), STATE_FAILED);
    EXPECT_TRUE(finished[0].retried);
    EXPECT_TRUE(finished[1].retried);
    EXPECT_FALSE(finished[2].retried);
    EXPECT_TRUE(doc.IsModified());
}

TEST_F(PoolTest, RetriedItemMovesToTheEndOfTheList)
{
    settings.Options().MaxRetry = 1;
    CItem* failing = Add("/missing", "m.bin");
    Add("/slow.bin", "s.bin");
    pool.SetWorkerCount(2);
    ASSERT_TRUE(RunUntil([&] { return finished.size() >= 1; }));
    EXPECT_EQ(doc.RowOf(failing), 1);
    ASSERT_TRUE(RunUntil([&] { return AllSettled() && finished.size() == 3; }));
}

TEST_F(PoolTest, FetchedItemsAreRemovedAfterTheirLaunch)
{
    settings.Options().AutoRemoveUrlIfSuccess = 1;
    std::vector<std::string> launched;
    std::vector<int> countsAtLaunch;
    controller.SetLauncher([&](const std::string& path) {
        launched.push_back(path);
        countsAtLaunch.push_back(doc.GetCount());
    });
    Add("/a.bin", "one.bin");
    Add("/missing", "two.bin");
    pool.SetWorkerCount(1);
    ASSERT_TRUE(RunUntil([&] { return finished.size() == 2 && pool.HoldingWorkers() == 0; }));
    ASSERT_EQ(doc.GetCount(), 1); // the failed one stays
    EXPECT_EQ(doc.GetItem(0)->m_strFileName, "two.bin");
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0], settings.Path(QStringLiteral("one.bin")).toStdString());
    EXPECT_EQ(countsAtLaunch[0], 2); // launched while still in the list
    EXPECT_TRUE(doc.IsModified());
}

TEST_F(PoolTest, ClosingTheListCancelsBlockedTransfersAndWaits)
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
    EXPECT_TRUE(pool.WaitUntilStopped(std::chrono::milliseconds(3000)));
    // Events of the closed list's items are ignored.
    QCoreApplication::processEvents();
    EXPECT_TRUE(finished.empty());
}

TEST_F(PoolTest, NewListWhileFetchingReleasesTheOldItems)
{
    Add("/stalled.bin", "st.bin");
    pool.SetWorkerCount(1);
    ASSERT_TRUE(RunUntil([&] { return pool.ActiveFetches() == 1; }));
    doc.OnNewDocument();
    EXPECT_EQ(pool.HoldingWorkers(), 0);
    // The workers keep running for the new list.
    Add("/a.bin", "new.bin");
    ASSERT_TRUE(RunUntil([&] { return AllSettled(); }));
    EXPECT_EQ(doc.GetItem(0)->GetState(), STATE_FETCHED);
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

} // namespace
} // namespace zorv::test

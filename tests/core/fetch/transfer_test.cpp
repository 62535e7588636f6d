// FetchItem while the transfer is slow, stalls or is cancelled from another
// thread, as the worker pool and the cancel command use it.
#include "fetch_fixture.h"

#include <gmock/gmock.h>

#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace zorv::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// FetchItem on a thread of its own, as a worker runs it.
class CBackgroundFetch {
public:
    CBackgroundFetch(CFetchSession& session, ItemPtr item, CZorvDoc& doc)
        : m_thread([this, &session, item, &doc] {
              m_result = FetchItem(session, item, doc);
              m_done.store(true);
          })
    {
    }
    ~CBackgroundFetch() { m_thread.join(); }

    // Delivers posted events until the fetch has returned; false on timeout.
    bool Wait(std::chrono::milliseconds timeout = 20s)
    {
        return PumpUntil([this] { return m_done.load(); }, timeout);
    }
    int Result() const { return m_result; }

    template <typename Pred>
    static bool PumpUntil(Pred pred, std::chrono::milliseconds timeout)
    {
        const auto end = Clock::now() + timeout;
        while (!pred()) {
            if (Clock::now() > end)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(2);
        }
        QCoreApplication::sendPostedEvents();
        return true;
    }

private:
    std::atomic<bool> m_done{false};
    int m_result = -1;
    std::thread m_thread;
};

// A loopback port that accepts connections (the kernel completes them) but
// never answers.
class CSilentListener {
public:
    CSilentListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(m_fd, 8) == 0
            && ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            m_port = ntohs(addr.sin_port);
    }
    ~CSilentListener() { ::close(m_fd); }
    std::string Url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }
    int Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

class TransferTest : public FetchTest {
protected:
    // Waits until the item is in the body phase and the transfer waits.
    bool WaitForBody(const ItemPtr& item)
    {
        const bool ok = CBackgroundFetch::PumpUntil(
            [&] { return item->GetState() == STATE_FETCHING; }, 10s);
        std::this_thread::sleep_for(200ms);
        return ok;
    }
    // Cancels and answers how long the fetch took to return.
    std::chrono::milliseconds CancelAndWait(const ItemPtr& item, CBackgroundFetch& fetch)
    {
        const auto t0 = Clock::now();
        item->Cancel();
        EXPECT_TRUE(fetch.Wait());
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
    }
};

TEST_F(TransferTest, SlowBodyShowsProgressOnTheWay)
{
    // The body comes in three pieces; the test releases each one, so the
    // outcome does not depend on how fast the threads are scheduled.
    const std::string body = Pattern(3000);
    std::atomic<int> released{1};
    http.Raw().Get("/slow", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(body.size(), "application/octet-stream",
                                 [&](size_t offset, size_t, httplib::DataSink& sink) {
                                     const int piece = static_cast<int>(offset / 1000);
                                     while (released.load() <= piece) {
                                         if (!http.Sleep(5ms))
                                             return false;
                                     }
                                     return sink.write(body.data() + offset, 1000);
                                 });
    });
    ASSERT_TRUE(http.Start());
    ItemPtr item = Add(http.Url("/slow"));

    CBackgroundFetch fetch(session, item, doc);
    ASSERT_TRUE(CBackgroundFetch::PumpUntil([&] { return item->GetState() == STATE_FETCHING; }, 10s));
    // More than the notice interval after the body began: the next piece is
    // reported (or the first one already was).
    std::this_thread::sleep_for(150ms);
    released.store(2);
    std::string seen;
    EXPECT_TRUE(CBackgroundFetch::PumpUntil(
        [&] {
            seen = item->GetNote();
            return seen == "1000/3000" || seen == "2000/3000";
        },
        10s))
        << "the note never showed the count on the way: " << seen;
    released.store(3);
    ASSERT_TRUE(fetch.Wait());

    EXPECT_EQ(fetch.Result(), STATE_FETCHED);
    EXPECT_EQ(LocalBytes(), QByteArray::fromStdString(body));
    EXPECT_EQ(log.notes.back(), "3000/3000");
    EXPECT_EQ(log.states.back(), STATE_LAUNCHING);
    EXPECT_EQ(doc.TakeTraffic(), 3000u);
}

TEST_F(TransferTest, CancelEndsAStalledBodyPromptly)
{
    http.ServeStalled("/stall", std::string(100, 's'), 5000);
    http.ServeStalled("/stall-chunked", std::string(100, 'c'), 0, true);
    ASSERT_TRUE(http.Start());

    // Known length: a cancelled fetch fails and keeps what it has.
    ItemPtr item = Add(http.Url("/stall"));
    {
        CBackgroundFetch fetch(session, item, doc);
        ASSERT_TRUE(WaitForBody(item));
        EXPECT_LT(CancelAndWait(item, fetch), 1000ms);
        EXPECT_EQ(fetch.Result(), STATE_FAILED);
    }
    EXPECT_EQ(item->GetNote(), "100/5000");
    EXPECT_EQ(LocalBytes(), QByteArray(100, 's'));
    EXPECT_EQ(log.launches, 0);

    // Without a length the end of the stream, even by a cancel, completes it.
    session.Reset();
    ItemPtr chunked = Add(http.Url("/stall-chunked"), {}, "chunked.bin");
    {
        CBackgroundFetch fetch(session, chunked, doc);
        ASSERT_TRUE(WaitForBody(chunked));
        EXPECT_LT(CancelAndWait(chunked, fetch), 1000ms);
        EXPECT_EQ(fetch.Result(), STATE_FETCHED);
    }
    EXPECT_EQ(chunked->GetNote(), "100");
    EXPECT_EQ(LocalBytes("chunked.bin"), QByteArray(100, 'c'));
    EXPECT_EQ(log.launches, 1);
}

TEST_F(TransferTest, CancelWhileWaitingForTheResponse)
{
    CSilentListener silent;
    ASSERT_NE(silent.Port(), 0);
    ItemPtr item = Add(silent.Url("/never"));
    CBackgroundFetch fetch(session, item, doc);
    ASSERT_TRUE(CBackgroundFetch::PumpUntil([&] { return item->GetState() == STATE_CONNECTING; }, 10s));
    std::this_thread::sleep_for(200ms);
    EXPECT_LT(CancelAndWait(item, fetch), 1000ms);
    EXPECT_EQ(fetch.Result(), STATE_FAILED);
    EXPECT_EQ(item->GetNote(), "キャンセルされました");
    EXPECT_FALSE(LocalExists());
}

TEST_F(TransferTest, CancelBeforeTheTransferStartsIsNotLost)
{
    CSilentListener silent;
    ItemPtr item = Add(silent.Url("/never"));
    item->Cancel(); // lands before the fetch has a transfer to interrupt
    const auto t0 = Clock::now();
    EXPECT_EQ(Fetch(item), STATE_FAILED);
    EXPECT_LT(Clock::now() - t0, 1000ms);
    EXPECT_EQ(item->GetNote(), "キャンセルされました");
}

TEST_F(TransferTest, StalledTransfersFailWithANoteThatSaysSo)
{
    http.ServeStalled("/stall", std::string(10, 's'), 100);
    http.ServeStalled("/stall-chunked", std::string(10, 'c'), 0, true);
    ASSERT_TRUE(http.Start());
    CSilentListener silent;
    CFetchSession shortSession({.connectTimeout = 5000ms, .stallTimeout = 300ms});

    ItemPtr known = Add(http.Url("/stall"), {}, "known.bin");
    EXPECT_EQ(FetchItem(shortSession, known, doc), STATE_FAILED);
    EXPECT_THAT(known->GetNote(), StartsWith("10/100 "));
    EXPECT_THAT(known->GetNote(), HasSubstr("転送が停止しました"));
    EXPECT_THAT(known->GetNote(), HasSubstr("300 ミリ秒"));

    // Unlike a cancel, a stall fails an item of unknown length.
    ItemPtr unknown = Add(http.Url("/stall-chunked"), {}, "unknown.bin");
    EXPECT_EQ(FetchItem(shortSession, unknown, doc), STATE_FAILED);
    EXPECT_THAT(unknown->GetNote(), StartsWith("10 "));
    EXPECT_THAT(unknown->GetNote(), HasSubstr("転送が停止しました"));

    // A server that takes the connection and never says a word.
    ItemPtr mute = Add(silent.Url("/mute"), {}, "mute.bin");
    const auto t0 = Clock::now();
    EXPECT_EQ(FetchItem(shortSession, mute, doc), STATE_FAILED);
    EXPECT_LT(Clock::now() - t0, 4000ms) << "the stall time applies once connected";
    EXPECT_THAT(mute->GetNote(), StartsWith("転送が停止しました"));
    EXPECT_FALSE(LocalExists("mute.bin"));
    QCoreApplication::sendPostedEvents();
}

} // namespace
} // namespace zorv::test

// FetchItem while the transfer stalls or is cancelled from another thread,
// as the worker pool and the cancel command use it.
#include "fetch_fixture.h"
#include "support/tempsettings.h"

#include <gmock/gmock.h>

#include <QThread>

#include <atomic>
#include <thread>

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace zorv::test {
namespace {

using namespace std::chrono_literals;

TEST_F(FetchTest, WaitingFetchEndsPromptlyByCancelOrStallTimeout)
{
    http.ServeStalled("/stall", std::string(100, 's'), 5000);
    http.ServeStalled("/stall-chunked", std::string(100, 'c'), 0, true);
    // Takes the connection and never says a word.
    http.Raw().Get("/mute", [this](const httplib::Request&, httplib::Response&) { http.Sleep(20s); });
    ASSERT_TRUE(http.Start());
    CFetchSession shortSession({.connectTimeout = 5000ms, .stallTimeout = 300ms});
    const struct {
        std::string path;
        int waitFor, result; // cancelled in state `waitFor`, the fetch returns `result`
        std::string note, stallNote; // the note after the cancel; the start of it after a stall
        QByteArray bytes;
    } cases[] = {
        // A cancelled fetch fails, with or without a known length, and keeps
        // what it has in the partial file.
        {"/stall", STATE_FETCHING, STATE_FAILED, "キャンセルされました (100 B / 4.9 KB)", "100/5000 ", QByteArray(100, 's')},
        {"/stall-chunked", STATE_FETCHING, STATE_FAILED, "キャンセルされました (100 B)", "100 ", QByteArray(100, 'c')},
        // Still waiting for the response; the stall time applies once connected.
        {"/mute", STATE_CONNECTING, STATE_FAILED, "キャンセルされました", "転送が停止しました", "<missing>"},
    };
    for (const auto& c : cases) {
        const std::string name = c.path.substr(1) + ".bin";
        ItemPtr item = Add(http.Url(c.path), {}, name);
        std::atomic<int> result{-1};
        std::thread fetch([&] { result = FetchItem(session, item, doc); });
        // Cancelled once the transfer waits in that state.
        EXPECT_TRUE(RunUntil([&] { return item->GetState() == c.waitFor; })) << c.path;
        // The servers hold on for 20 s: an unheeded cancel outlasts the wait.
        item->Cancel();
        EXPECT_TRUE(RunUntil([&] { return result != -1; }, 5000)) << c.path;
        fetch.join();
        EXPECT_EQ(result, c.result) << c.path;
        EXPECT_EQ(item->GetNote(), c.note);
        EXPECT_EQ(LocalBytes(name + ".part"), c.bytes) << c.path;
        EXPECT_FALSE(LocalExists(name)) << c.path;
        session.Reset();

        // Nobody cancels: the stall timeout ends it, with a note that says so.
        ItemPtr stalled = Add(http.Url(c.path), {}, "stalled-" + name);
        EXPECT_EQ(FetchItem(shortSession, stalled, doc), STATE_FAILED) << c.path;
        EXPECT_THAT(stalled->GetNote(), AllOf(StartsWith(c.stallNote), HasSubstr("300 ミリ秒")));
        EXPECT_EQ(LocalBytes("stalled-" + name + ".part"), c.bytes) << c.path;
    }
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(log.launches, 0);

    // A cancel that lands before the fetch has a transfer to interrupt.
    ItemPtr early = Add(http.Url("/mute"), {}, "early.bin");
    early->Cancel();
    std::atomic<int> earlyResult{-1};
    std::thread earlyFetch([&] { earlyResult = Fetch(early); });
    EXPECT_TRUE(RunUntil([&] { return earlyResult != -1; }, 5000));
    earlyFetch.join();
    EXPECT_EQ(earlyResult, STATE_FAILED);
    EXPECT_EQ(early->GetNote(), "キャンセルされました");
}

#ifndef _WIN32
TEST_F(FetchTest, FailedWriteFailsTheItemWithTheCause)
{
    http.Serve("/big.bin", Pattern(1024 * 1024));
    ASSERT_TRUE(http.Start());
    ItemPtr item = Add(http.Url("/big.bin"));
    EXPECT_EQ(FetchWithSizeLimit(item), STATE_FAILED);
    EXPECT_EQ(item->GetNote(), LocalPath().toStdString() + ".part に書き込めません: ファイルが大きすぎます (File too large)");
    EXPECT_EQ(log.launches, 0);
}
#endif

} // namespace
} // namespace zorv::test

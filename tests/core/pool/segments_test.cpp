// Segmented transfers and the speed limit, through the worker pool against
// a real loopback server that counts its connections and its bytes.
#include "engine/controller.h"
#include "engine/partfile.h"
#include "engine/pool.h"
#include "engine/notes.h"
#include "engine/ratelimit.h"
#include "engine/serverlimits.h"
#include "engine/urlcache.h"
#include "model/commands.h"
#include "model/doc.h"
#include "support/http_server.h"
#include "support/tempsettings.h"

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace zorv::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kMiB = 1024 * 1024;

class SegmentsTest : public SettingsTest {
protected:
    void SetUp() override
    {
        settings.Options().ProxySetting = PROXY_DIRECT;
        CUrlCache::SetFolderOverride(settings.Path(QStringLiteral("cache")));
        body = Pattern(64 * kMiB);
        // The file, with range support: cpp-httplib answers a Range request
        // with 206 and the piece asked for. /liar.bin announces ranges too,
        // but answers with status 200; /bare.bin sends no validator;
        // /changing.bin is another file (ETag "v2") from its first range
        // request on, and ignores If-Range. With refuseStatus, a range
        // request that comes while another request is served is refused.
        server.Raw().Get("/(big|liar|bare|changing).bin", [this](const httplib::Request& req, httplib::Response& res) {
            const bool ranged = req.has_header("Range");
            const int attempt = ranged ? ++rangedRequests : 0;
            if (ranged && attempt == 3) {
                std::scoped_lock lock(servedLock);
                servedAtThirdRange = totalServed;
            }
            // One connection per client: a range asked for on another one is refused.
            if (ranged && refuseStatus && inFlight.load() > 0) {
                res.status = refuseStatus;
                res.set_header("Retry-After", "120");
                return;
            }
            const bool other = req.path == "/changing.bin" && (ranged || rangedRequests > 0);
            const bool drop = ranged && attempt == dropRangedRequest;
            const int now = ++inFlight;
            for (int seen = maxInFlight.load(); now > seen && !maxInFlight.compare_exchange_weak(seen, now);) {
            }
            const int connection = ++connections - 1;
            res.set_header("Accept-Ranges", "bytes");
            if (req.path != "/bare.bin")
                res.set_header("ETag", other ? "\"v2\"" : "\"v1\"");
            if (req.path == "/liar.bin")
                res.status = 200;
            res.set_content_provider(
                size, "application/octet-stream",
                [this, drop, connection, other](size_t offset, size_t length, httplib::DataSink& sink) {
                    std::string changed;
                    for (size_t sent = 0; sent < length;) {
                        const size_t k = std::min(piece, length - sent);
                        const char* data = body.data() + offset + sent;
                        if (other) // the other file: every byte inverted
                            data = (changed = Inverted(std::string_view(data, k))).data();
                        if (!sink.write(data, k))
                            return false;
                        sent += k;
                        Served(connection, k);
                        if (drop && sent >= kMiB)
                            return false; // the connection is cut
                        if (pause.count() && !server.Sleep(pause))
                            return false;
                        while (silent.load()) { // sends nothing until the test says
                            if (!server.Sleep(std::chrono::milliseconds(10)))
                                return false;
                        }
                    }
                    return true;
                },
                [this](bool) { --inFlight; });
        });
        // Small send buffers: what the server has sent is close to what the
        // client has read.
        server.Raw().set_socket_options([](socket_t sock) {
            httplib::default_socket_options(sock);
            const int bufferSize = 64 * 1024;
            setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof bufferSize);
        });
        ASSERT_TRUE(server.Start());
        pool.SetLimits(CFetchLimits{std::chrono::milliseconds(5000), std::chrono::milliseconds(20000)});
        QObject::connect(&controller, &CFetchController::ItemFinished, [this](const ItemPtr&, int, bool retried) {
            settled += retried ? 0 : 1;
        });
    }
    void TearDown() override
    {
        ApplySpeedLimit(0);
        pool.Shutdown();
        CServerLimits::Global().Reset();
        server.Stop();
        CUrlCache::SetFolderOverride({});
    }

    void Served(int connection, size_t n)
    {
        std::scoped_lock lock(servedLock);
        totalServed += n;
        served.push_back({Clock::now(), connection, totalServed});
    }
    size_t Total()
    {
        std::scoped_lock lock(servedLock);
        return totalServed;
    }

    CItem* Add(const std::string& url, const std::string& name)
    {
        CItem* item = doc.AddUrl(url, "", settings.Dir().toStdString(), name, 0);
        EXPECT_NE(item, nullptr);
        return item;
    }
    // Fetches the items with `workers` workers until every one has its
    // last result (after the retries the settings allow).
    void FetchAll(int workers)
    {
        pool.SetWorkerCount(workers);
        ASSERT_TRUE(RunUntil([&] { return settled == doc.GetCount() && pool.HoldingWorkers() == 0; }, 60000));
    }
    std::string Local(const std::string& name) const
    {
        return ReadFileBytes(settings.Path(QString::fromStdString(name))).toStdString();
    }
    size_t PlainRequests(const std::string& path = "/big.bin") const
    {
        const auto all = server.RequestsFor(path);
        return static_cast<size_t>(
            std::count_if(all.begin(), all.end(), [](const auto& r) { return r.HeaderCount("Range") == 0; }));
    }
    static std::string Inverted(std::string_view s)
    {
        std::string out(s);
        for (char& c : out)
            c = static_cast<char>(~c);
        return out;
    }

    std::string body;
    size_t size = 64 * kMiB; // bytes of the body served
    size_t piece = 128 * 1024;
    std::chrono::milliseconds pause{4}; // after every piece, per connection
    int dropRangedRequest = 0;          // the ranged request (1, 2, ...) to cut; 0 none
    int refuseStatus = 0;               // the answer to a range on a second connection; 0 none
    std::atomic<bool> silent{false};    // every connection holds its next piece back

    int settled = 0; // items with a last result
    std::atomic<int> inFlight{0};
    std::atomic<int> maxInFlight{0};
    std::atomic<int> rangedRequests{0};
    std::atomic<int> connections{0};
    struct Sample {
        Clock::time_point at;
        int connection;
        size_t total; // bytes served by then, all connections
    };
    std::mutex servedLock;
    std::vector<Sample> served;
    size_t totalServed = 0;
    size_t servedAtThirdRange = 0;

    CHttpServer server;
    CZorvDoc doc;
    CWorkerPool pool{doc};
    CFetchController controller{doc};
};

// One ranged request is cut: what was cut is asked for again, not the whole
// file, and the file arrives whole over every connection.
TEST_F(SegmentsTest, LargeFileArrivesWholeOverEveryConnectionAndNoMore)
{
    dropRangedRequest = 1;
    CItem* item = Add(server.Url("/big.bin"), "big.bin");
    FetchAll(4);
    ASSERT_EQ(item->GetState(), STATE_FETCHED) << item->GetNote();
    EXPECT_TRUE(Local("big.bin") == body);
    // The whole item in the note, one open-ended request, the rest in ranges.
    EXPECT_EQ(item->GetNote(), std::to_string(size) + "/" + std::to_string(size));
    EXPECT_EQ(PlainRequests(), 1u);
    EXPECT_EQ(item->m_nFailures, 0u);
    EXPECT_GE(rangedRequests.load(), 3);
    EXPECT_TRUE(maxInFlight >= 2 && maxInFlight <= 4) << maxInFlight;
    EXPECT_LT(Total(), size + size / 2);
}

// A large file starts in as many ranges as there are free transfers right
// away; with a per-server cap, the transfers of the queue never hold more
// connections to the server than the cap. (Whole files here: a range's
// owner request is cut by the client, and the server would count its
// connection a moment longer.)
TEST_F(SegmentsTest, SplitsAtOnceAndKeepsThePerServerCap)
{
    size = 32 * kMiB;
    const struct {
        int cap, items, maxSegments;
    } cases[] = {{0, 1, 8}, {2, 4, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cap);
        settings.Options().MaxConnectionsPerServer = c.cap;
        settings.Options().MaxSegments = c.maxSegments;
        maxInFlight = 0; // the uncapped case comes first: the counts of ranges and bytes are its own
        settled = 0;
        doc.RemoveAllItems();
        for (int i = 0; i < c.items; ++i)
            Add(server.Url("/big.bin"), "cap" + std::to_string(c.cap) + "-" + std::to_string(i) + ".bin");
        FetchAll(4);
        for (int i = 0; i < c.items; ++i) {
            ASSERT_EQ(doc.GetItem(i)->GetState(), STATE_FETCHED) << doc.GetItem(i)->GetNote();
            EXPECT_TRUE(Local(doc.GetItem(i)->m_strFileName) == body.substr(0, size));
        }
        if (c.cap) {
            EXPECT_LE(maxInFlight.load(), c.cap);
        } else {
            EXPECT_EQ(maxInFlight.load(), 4);
            ASSERT_GE(rangedRequests.load(), 3);
            std::scoped_lock lock(servedLock);
            EXPECT_LT(servedAtThirdRange, size / 4);
        }
    }
}

TEST_F(SegmentsTest, WholeFileOverOneConnectionWhenRangesCannotBeUsed)
{
    // A server that says nothing of ranges, one whose ranges are not to be
    // used (one segment allowed), one without a validator (a changed file
    // could not be told), and one that announces ranges but does not send
    // them: the same fetch then asks once more for the whole file, over one
    // connection, without counting a failure. A range of another file (its
    // ETag is not the first answer's) is never pieced in: the fetch starts
    // over and gets the new file. (changing.bin comes before any ranged
    // request: the server changes the file from the first one on.)
    const std::string plain(16 * kMiB, 'p');
    CScriptedServer noRanges;
    ASSERT_TRUE(noRanges.Start("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(plain.size())
                               + "\r\nConnection: close\r\n\r\n" + plain));
    size = 16 * kMiB;
    const struct {
        std::string url, name;
        int maxSegments;
    } cases[] = {{noRanges.Url("/plain.bin"), "plain.bin", 8}, {server.Url("/big.bin"), "big.bin", 1},
                 {server.Url("/bare.bin"), "bare.bin", 8}, {server.Url("/changing.bin"), "changing.bin", 8},
                 {server.Url("/liar.bin"), "liar.bin", 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings.Options().MaxSegments = c.maxSegments;
        CItem* item = Add(c.url, c.name);
        FetchAll(4);
        ASSERT_EQ(item->GetState(), STATE_FETCHED) << item->GetNote();
        EXPECT_EQ(item->m_nFailures, 0u);
        const std::string whole = body.substr(0, size);
        EXPECT_TRUE(Local(c.name) == (c.name == "plain.bin" ? plain : c.name == "changing.bin" ? Inverted(whole) : whole));
        const auto requests = server.RequestsFor("/" + c.name);
        if (c.name == "changing.bin") {
            EXPECT_EQ(PlainRequests("/changing.bin"), 2u);
        } else if (c.name == "liar.bin") { // the whole file asked for again
            ASSERT_FALSE(requests.empty());
            EXPECT_EQ(requests.back().HeaderCount("Range"), 0u);
        } else {
            EXPECT_EQ(c.name == "plain.bin" ? noRanges.RequestHeads().size() : requests.size(), 1u);
        }
    }
}

// A server that refuses the ranges on every connection but the first with
// 403, 429 or 503: the file goes on over the connection it has, with the
// bytes it brought, without a failure and without waiting for the
// refusal's Retry-After (two minutes). The next files of the server are not
// split, and after 429 or 503 they are fetched one at a time.
TEST_F(SegmentsTest, ServerThatRefusesExtraConnectionsKeepsOne)
{
    size = 16 * kMiB;
    const std::string whole = body.substr(0, size);
    const std::string complete = std::to_string(size) + "/" + std::to_string(size);
    for (const int status : {403, 429, 503}) {
        SCOPED_TRACE(status);
        CServerLimits::Global().Reset();
        refuseStatus = status;
        const std::string tag = std::to_string(status);
        doc.RemoveAllItems();
        settled = 0;
        const size_t servedBefore = Total();
        CItem* item = Add(server.Url("/big.bin"), tag + ".bin");
        FetchAll(4);
        ASSERT_EQ(item->GetState(), STATE_FETCHED) << item->GetNote();
        EXPECT_EQ(item->m_nFailures, 0u);
        EXPECT_TRUE(Local(tag + ".bin") == whole);
        EXPECT_EQ(item->GetNote(), complete + " " + kOneConnectionRemark);
        EXPECT_LT(Total() - servedBefore, size + size / 4);

        doc.RemoveAllItems();
        settled = 0;
        maxInFlight = 0;
        const size_t before = server.RequestsFor("/big.bin").size();
        Add(server.Url("/big.bin"), tag + "-a.bin");
        Add(server.Url("/big.bin"), tag + "-b.bin");
        FetchAll(4);
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(doc.GetItem(i)->GetState(), STATE_FETCHED) << doc.GetItem(i)->GetNote();
            EXPECT_TRUE(Local(doc.GetItem(i)->m_strFileName) == whole);
            EXPECT_EQ(doc.GetItem(i)->GetNote(), complete);
        }
        EXPECT_EQ(server.RequestsFor("/big.bin").size(), before + 2);
        EXPECT_EQ(maxInFlight.load(), status == 403 ? 2 : 1);
    }
}

TEST_F(SegmentsTest, CancelKeepsEveryRangeAndTheNextFetchAsksForExactlyTheHoles)
{
    pause = std::chrono::milliseconds(20); // about 6 MiB/s per connection
    CItem* item = Add(server.Url("/big.bin"), "big.bin");
    pool.SetWorkerCount(4);
    const auto received = [item] { return item->Progress().received; };
    ASSERT_TRUE(RunUntil([&] { return rangedRequests.load() >= 3 && received() >= 8 * kMiB; }, 20000));
    // The server goes quiet: a cancel still ends every range at once, not
    // at the client library's next once-a-second progress call.
    silent = true;
    RunUntil([] { return false; }, 300);
    const auto cancelled = Clock::now();
    item->Cancel();
    ASSERT_TRUE(RunUntil([&] { return pool.HoldingWorkers() == 0; }, 20000));
    EXPECT_LT(Clock::now() - cancelled, std::chrono::milliseconds(250));
    silent = false;
    ASSERT_TRUE(RunUntil([&] { return item->GetState() == STATE_FAILED; }, 20000));
    EXPECT_NE(item->GetNote().find("キャンセル"), std::string::npos) << item->GetNote();
    // No range is still being sent once the item is settled.
    EXPECT_TRUE(RunUntil([&] { return inFlight.load() == 0; }, 5000));
    // The record names the bytes of every range, holes between them.
    const auto record = ReadPartRecord(settings.Path(QStringLiteral("big.bin.part")).toStdString(), nullptr);
    ASSERT_TRUE(record);
    const CRangeMap done = record->done;
    const auto holes = done.Holes(size);
    ASSERT_GE(done.Ranges().size(), 2u);
    const std::string partial = Local("big.bin.part");
    for (const auto& [b, e] : done.Ranges())
        EXPECT_TRUE(partial.substr(b, e - b) == body.substr(b, e - b)) << b << "-" << e;
    EXPECT_FALSE(QFileInfo::exists(settings.Path(QStringLiteral("big.bin"))));

    // Fetched again: every request begins in a hole, the first at the first
    // one, and not much more than the holes is sent.
    pause = std::chrono::milliseconds(1);
    const size_t before = server.RequestsFor("/big.bin").size();
    const size_t servedBefore = Total();
    ASSERT_EQ(ResetItems(doc, {0}).nChanged, 1);
    settled = 0;
    FetchAll(4);
    ASSERT_EQ(item->GetState(), STATE_FETCHED) << item->GetNote();
    EXPECT_TRUE(Local("big.bin") == body);
    EXPECT_EQ(item->GetNote(), std::to_string(size) + "/" + std::to_string(size) + " (" + std::to_string(done.Bytes())
                                   + " バイトから再開)");
    const auto requests = server.RequestsFor("/big.bin");
    ASSERT_GT(requests.size(), before + 1);
    EXPECT_EQ(requests[before].Header("Range"), "bytes=" + std::to_string(holes.front().first) + "-");
    for (size_t i = before; i < requests.size(); ++i) {
        const std::string range = requests[i].Header("Range");
        ASSERT_TRUE(range.starts_with("bytes=")) << range;
        const std::uint64_t first = std::stoull(range.substr(6));
        EXPECT_TRUE(std::any_of(holes.begin(), holes.end(), [first](const auto& h) { return h.first <= first && first < h.second; }))
            << range;
    }
    EXPECT_LT(Total() - servedBefore, size - done.Bytes() + 4 * kMiB);
}

TEST_F(SegmentsTest, SpeedLimitIsSharedByTheTransfersAndHonouredAtTheServer)
{
    // Two files of 16 MiB at once, 8 MiB/s for both together. The rate is
    // measured on the server's side between 8 and 24 MiB served, when the
    // socket buffers are long full: the client's pace is the server's.
    settings.Options().MaxSegments = 1;
    size = 16 * kMiB;
    pause = {};
    piece = 64 * 1024;
    ApplySpeedLimit(8 * 1024);
    Add(server.Url("/big.bin"), "one.bin");
    Add(server.Url("/big.bin"), "two.bin");
    FetchAll(2);
    ASSERT_EQ(doc.GetItem(0)->GetState(), STATE_FETCHED);
    ASSERT_EQ(doc.GetItem(1)->GetState(), STATE_FETCHED) << doc.GetItem(1)->GetNote();

    std::scoped_lock lock(servedLock);
    const auto at = [&](size_t total) {
        return std::find_if(served.begin(), served.end(), [total](const Sample& s) { return s.total >= total; });
    };
    const auto from = at(8 * kMiB);
    const auto to = at(24 * kMiB);
    ASSERT_TRUE(from != served.end() && to != served.end());
    const double seconds = std::chrono::duration<double>(to->at - from->at).count();
    const double rate = double(to->total - from->total) / seconds;
    EXPECT_NEAR(rate, 8.0 * kMiB, 0.8 * kMiB) << seconds << " s";
    // Both transfers had their share.
    size_t first = 0;
    for (auto s = from + 1; s <= to; ++s)
        first += s->connection == 0 ? s->total - (s - 1)->total : 0;
    EXPECT_NEAR(double(first) / double(to->total - from->total), 0.5, 0.15);
}

} // namespace
} // namespace zorv::test

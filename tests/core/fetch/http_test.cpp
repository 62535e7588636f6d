// FetchItem over HTTP against a loopback server: status and reason phrase,
// lengths, redirects, request headers, file creation, connection reuse.
#include "fetch_fixture.h"

#include <gmock/gmock.h>

#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace zorv::test {
namespace {

TEST_F(FetchTest, KnownLengthBodyIsWrittenAndAnnounced)
{
    const std::string body = Pattern(3 * 1024 * 1024 + 17);
    http.Serve("/file.bin", body);
    ASSERT_TRUE(http.Start());
    ItemPtr item = Add(http.Url("/file.bin"));

    EXPECT_EQ(Fetch(item), STATE_FETCHED);
    EXPECT_EQ(LocalBytes(), QByteArray::fromStdString(body));
    const std::string n = std::to_string(body.size());
    EXPECT_EQ(item->GetNote(), n + "/" + n);
    // Connecting, fetching (progress coalesced into one pending update), complete.
    EXPECT_THAT(log.states, ElementsAre(STATE_CONNECTING, STATE_FETCHING, STATE_LAUNCHING));
    EXPECT_EQ(log.launches, 1);
    // Every byte is counted as traffic, including the last piece.
    EXPECT_EQ(doc.TakeTraffic(), body.size());
}

TEST_F(FetchTest, StatusOtherThan200FailsWithCodeAndReason)
{
    http.ServeStatus("/missing", 404);
    http.ServeStatus("/down", 503);
    ASSERT_TRUE(http.Start());

    ItemPtr missing = Add(http.Url("/missing"), {}, "missing.bin");
    EXPECT_EQ(Fetch(missing), STATE_FAILED);
    EXPECT_EQ(missing->GetNote(), "404 Not Found");
    EXPECT_FALSE(LocalExists("missing.bin")) << "a refused URL leaves no file";
    EXPECT_THAT(log.states, ElementsAre(STATE_CONNECTING));
    EXPECT_EQ(log.launches, 0);

    // An existing file of the same name is not emptied either.
    {
        QFile f(LocalPath("down.bin"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    ItemPtr down = Add(http.Url("/down"), {}, "down.bin");
    EXPECT_EQ(Fetch(down), STATE_FAILED);
    EXPECT_EQ(down->GetNote(), "503 Service Unavailable");
    EXPECT_EQ(LocalBytes("down.bin"), QByteArray("keep me"));
}

TEST_F(FetchTest, ReasonPhraseIsTakenAsSent)
{
    CScriptedServer odd;
    ASSERT_TRUE(odd.Start("HTTP/1.1 404 Nicht gefunden, leider\r\nContent-Length: 0\r\n\r\n"));
    ItemPtr item = Add(odd.Url("/x"));
    EXPECT_EQ(Fetch(item), STATE_FAILED);
    EXPECT_EQ(item->GetNote(), "404 Nicht gefunden, leider");

    CScriptedServer bare;
    ASSERT_TRUE(bare.Start("HTTP/1.1 500\r\nContent-Length: 0\r\n\r\n"));
    ItemPtr noReason = Add(bare.Url("/y"), {}, "y.bin");
    EXPECT_EQ(Fetch(noReason), STATE_FAILED);
    EXPECT_EQ(noReason->GetNote(), "HTTP Status 500");
    EXPECT_FALSE(LocalExists());
    EXPECT_FALSE(LocalExists("y.bin"));
}

TEST_F(FetchTest, WithoutLengthTheEndOfTheStreamCompletes)
{
    const std::string body = Pattern(200000);
    http.ServeSlow("/chunked", body, 64 * 1024, std::chrono::milliseconds(0), true);
    http.Serve("/empty", "");
    ASSERT_TRUE(http.Start());

    ItemPtr item = Add(http.Url("/chunked"));
    EXPECT_EQ(Fetch(item), STATE_FETCHED);
    EXPECT_EQ(item->GetNote(), std::to_string(body.size()));
    EXPECT_EQ(LocalBytes(), QByteArray::fromStdString(body));
    EXPECT_EQ(log.launches, 1);

    // A length of 0 counts as no length; the empty file is still created.
    ItemPtr empty = Add(http.Url("/empty"), {}, "empty.bin");
    EXPECT_EQ(Fetch(empty), STATE_FETCHED);
    EXPECT_EQ(empty->GetNote(), "0");
    EXPECT_TRUE(LocalExists("empty.bin"));
    EXPECT_EQ(LocalBytes("empty.bin"), QByteArray());

    // A body that ends when the server closes the connection.
    CScriptedServer closing;
    ASSERT_TRUE(closing.Start("HTTP/1.0 200 OK\r\n\r\nuntil close"));
    ItemPtr closed = Add(closing.Url("/c"), {}, "c.bin");
    EXPECT_EQ(Fetch(closed), STATE_FETCHED);
    EXPECT_EQ(closed->GetNote(), "11");
    EXPECT_EQ(LocalBytes("c.bin"), QByteArray("until close"));
}

TEST_F(FetchTest, ShortBodyFailsAndKeepsThePartialFile)
{
    CScriptedServer server;
    ASSERT_TRUE(server.Start("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(400, 'x')));
    ItemPtr item = Add(server.Url("/short"));
    EXPECT_EQ(Fetch(item), STATE_FAILED);
    EXPECT_EQ(item->GetNote(), "400/1000");
    EXPECT_EQ(LocalBytes(), QByteArray(400, 'x'));
    EXPECT_EQ(log.launches, 0);
    EXPECT_THAT(log.states, ElementsAre(STATE_CONNECTING, STATE_FETCHING));
}

TEST_F(FetchTest, RedirectsAreFollowedAndTheFinalStatusJudged)
{
    // A redirect with a body of its own: only the final body is saved.
    http.Raw().Get("/old", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/new", 301);
        res.set_content("this page has moved", "text/plain");
    });
    http.Serve("/new", "moved here");
    http.ServeRedirect("/gone", "/nowhere");
    http.ServeStatus("/nowhere", 410);
    ASSERT_TRUE(http.Start());

    ItemPtr item = Add(http.Url("/old"), "http://referrer.example/page");
    EXPECT_EQ(Fetch(item), STATE_FETCHED);
    EXPECT_EQ(LocalBytes(), QByteArray("moved here"));
    EXPECT_EQ(item->GetNote(), "10/10");
    // The referrer goes with the followed request too.
    const auto followed = http.RequestsFor("/new");
    ASSERT_EQ(followed.size(), 1u);
    EXPECT_EQ(followed[0].Header("Referer"), "http://referrer.example/page");

    ItemPtr gone = Add(http.Url("/gone"), {}, "gone.bin");
    EXPECT_EQ(Fetch(gone), STATE_FAILED);
    EXPECT_EQ(gone->GetNote(), "410 Gone");
    EXPECT_FALSE(LocalExists("gone.bin"));
}

TEST_F(FetchTest, RefererIsOneHeaderLineOrNone)
{
    http.Serve("/r", "r");
    ASSERT_TRUE(http.Start());

    Fetch(Add(http.Url("/r"), "http://example.test/list.html", "1.bin"));
    Fetch(Add(http.Url("/r"), "", "2.bin"));
    // A line break in the referrer must not start a header line of its own.
    Fetch(Add(http.Url("/r"), "http://a.test/\r\nX-Injected: 1", "3.bin"));

    const auto requests = http.RequestsFor("/r");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].HeaderCount("Referer"), 1u);
    EXPECT_EQ(requests[0].Header("Referer"), "http://example.test/list.html");
    EXPECT_EQ(requests[1].HeaderCount("Referer"), 0u);
    EXPECT_EQ(requests[2].HeaderCount("Referer"), 1u);
    EXPECT_EQ(requests[2].Header("Referer"), "http://a.test/");
    EXPECT_EQ(requests[2].HeaderCount("X-Injected"), 0u);
}

TEST_F(FetchTest, AgentIsSentAsUserAgentAndEmptyMeansNone)
{
    http.Serve("/a", "a");
    ASSERT_TRUE(http.Start());

    options.HttpAgent = "Agent Smith/2.0";
    Fetch(Add(http.Url("/a"), {}, "1.bin"));
    options.HttpAgent.clear();
    Fetch(Add(http.Url("/a"), {}, "2.bin"));

    const auto requests = http.RequestsFor("/a");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].HeaderCount("User-Agent"), 1u);
    EXPECT_EQ(requests[0].Header("User-Agent"), "Agent Smith/2.0");
    EXPECT_EQ(requests[1].HeaderCount("User-Agent"), 0u);
}

TEST_F(FetchTest, SessionReusesTheConnection)
{
    http.Serve("/one", "1");
    http.Serve("/two", "2");
    ASSERT_TRUE(http.Start());

    EXPECT_EQ(Fetch(Add(http.Url("/one"), {}, "1.bin")), STATE_FETCHED);
    EXPECT_EQ(Fetch(Add(http.Url("/two"), {}, "2.bin")), STATE_FETCHED);
    const auto requests = http.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].remotePort, requests[1].remotePort) << "the second fetch used a new connection";

    // After Reset the next fetch connects anew.
    session.Reset();
    EXPECT_EQ(Fetch(Add(http.Url("/one"), {}, "3.bin")), STATE_FETCHED);
    ASSERT_EQ(http.Requests().size(), 3u);
    EXPECT_NE(http.Requests()[2].remotePort, requests[1].remotePort);
}

TEST_F(FetchTest, LocalFileErrorFailsWithTheFileMessage)
{
    http.Serve("/f", "data");
    ASSERT_TRUE(http.Start());
    CItem* added = doc.AddUrl(http.Url("/f"), {}, dir.filePath(QStringLiteral("no/such/folder")).toStdString(),
                              "f.bin", 0);
    ASSERT_NE(added, nullptr);
    ItemPtr item = doc.GetItemPtr(doc.RowOf(added));
    EXPECT_EQ(Fetch(item), STATE_FAILED);
    EXPECT_THAT(item->GetNote(), HasSubstr("f.bin"));
    EXPECT_EQ(log.launches, 0);
}

TEST_F(FetchTest, ConnectionRefusedGivesTheLibraryError)
{
    // A port that was free a moment ago and has no listener now.
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    ::close(s);

    ItemPtr item = Add("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x");
    EXPECT_EQ(Fetch(item), STATE_FAILED);
    EXPECT_THAT(item->GetNote(), StartsWith("libcurl error 7: "));
    EXPECT_FALSE(LocalExists());
    EXPECT_THAT(log.states, ElementsAre(STATE_CONNECTING));
}

TEST_F(FetchTest, UnresolvableHostGivesTheLibraryError)
{
    ItemPtr item = Add("http://no-such-host.invalid/file.zip");
    EXPECT_EQ(Fetch(item), STATE_FAILED);
    EXPECT_THAT(item->GetNote(), StartsWith("libcurl error 6: "));
    EXPECT_FALSE(LocalExists());
}

TEST_F(FetchTest, UntrustedCertificateSaysSo)
{
    CHttpServer tls(CHttpServer::Scheme::Https);
    tls.Serve("/secret", "secret");
    ASSERT_TRUE(tls.Start()) << "no TLS server";
    ItemPtr item = Add(tls.Url("/secret"));
    EXPECT_EQ(Fetch(item), STATE_FAILED);
    EXPECT_THAT(item->GetNote(), StartsWith("サーバー証明書を検証できません: libcurl error 60: "));
    EXPECT_FALSE(LocalExists());
    session.Reset();
}

} // namespace
} // namespace zorv::test

// The pure helpers of the engine and the command line, without a network:
// Content-Range and header values as servers send them, the bookkeeping of
// the bytes a file holds, proxy choice, the progress note and the limiter.
#include "cli/progress.h"
#include "engine/partfile.h"
#include "engine/proxy.h"
#include "engine/ratelimit.h"
#include "engine/segments.h"
#include "settings/options.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

namespace zorv::test {
namespace {

using Ranges = std::vector<CRangeMap::Range>;

TEST(EngineHelpers, ContentRangeTakesOnlyWellFormedByteRanges)
{
    // value, then {first, total} when it parses
    const std::vector<std::pair<const char*, std::optional<std::pair<std::uint64_t, std::uint64_t>>>> cases = {
        {"bytes 100-199/1000", std::pair{100u, 1000u}},
        {"  BYTES 0-0/1 ", std::pair{0u, 1u}},
        {"bytes 5-9/*", std::pair{5u, 0u}},
        {"bytes 9-5/10", std::nullopt},   // last before first
        {"bytes -5/10", std::nullopt},
        {"bytes 0-5", std::nullopt},      // no length
        {"bytes 0-5/10x", std::nullopt},  // trailing junk
        {"bytes 0-10/10", std::nullopt},  // past the end
        {"bytes 0-5/18446744073709551616", std::nullopt}, // would wrap to 0
        {"bytes 0-18446744073709551614/18446744073709551615", std::pair{0ull, ~0ull}},
        {"bytes */1000", std::nullopt},   // the form of a 416
        {"items 0-5/10", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [value, want] : cases) {
        std::uint64_t first = 77, total = 77;
        const bool ok = ParseContentRange(value, first, total);
        EXPECT_EQ(ok, want.has_value()) << value;
        if (ok && want) {
            EXPECT_EQ(std::pair(first, total), *want) << value;
        }
    }
}

TEST(EngineHelpers, HeaderValueIsTheLastFieldOfExactlyThatName)
{
    const std::string block = "HTTP/1.1 200 OK\r\nX-ETag: \"no\"\r\nETag:  \"a\" \r\ncontent-length: 5\r\n"
                              "etag: \"b\"\r\nEmpty:\r\n";
    EXPECT_EQ(HeaderValue(block, "ETag"), "\"b\"");  // last wins, case ignored, no prefix match
    EXPECT_EQ(HeaderValue(block, "Content-Length"), "5");
    EXPECT_EQ(HeaderValue(block, "Empty"), "");
    EXPECT_EQ(HeaderValue(block, "Tag"), "");
    EXPECT_EQ(HeaderValue("ETag: \"x\"", "etag"), "\"x\""); // no line end
}

TEST(EngineHelpers, RangeMapMergesTouchingRangesAndFindsTheHoles)
{
    struct Case {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> add;
        Ranges ranges;
        std::uint64_t length;
        Ranges holes;
    };
    const std::vector<Case> cases = {
        {{}, {}, 10, {{0, 10}}},
        {{{3, 3}, {5, 4}}, {}, 4, {{0, 4}}},                               // empty and reversed: nothing
        {{{0, 4}, {4, 8}}, {{0, 8}}, 10, {{8, 10}}},                       // touching ranges join
        {{{6, 8}, {0, 2}, {3, 4}}, {{0, 2}, {3, 4}, {6, 8}}, 10, {{2, 3}, {4, 6}, {8, 10}}},
        {{{2, 4}, {6, 8}, {1, 9}}, {{1, 9}}, 9, {{0, 1}}},                // one range swallows two
        {{{2, 4}, {6, 8}, {3, 7}}, {{2, 8}}, 8, {{0, 2}}},                // a bridge joins two
        {{{0, 5}, {8, 20}}, {{0, 5}, {8, 20}}, 10, {{5, 8}}},             // bytes past the length
        {{{0, 10}}, {{0, 10}}, 10, {}},
    };
    for (const Case& c : cases) {
        CRangeMap map;
        for (const auto& [b, e] : c.add)
            map.Add(b, e);
        EXPECT_EQ(map.Ranges(), c.ranges);
        EXPECT_EQ(map.Holes(c.length), c.holes);
        std::uint64_t held = 0;
        for (const auto& [b, e] : c.ranges)
            held += e - b;
        EXPECT_EQ(map.Bytes(), held);
    }
    CRangeMap a, b;
    a.Add(0, 2);
    b.Add(2, 5);
    b.Add(9, 12);
    a.Add(b);
    EXPECT_EQ(a.Ranges(), (Ranges{{0, 5}, {9, 12}}));
    EXPECT_EQ(a.PrefixEnd(), 5u);
    EXPECT_EQ(a.End(), 12u);
}

TEST(EngineHelpers, NamedProxyPerProtocolWithTheBypassListAsLibcurlReadsIt)
{
    CNetSettings net;
    net.ProxySetting = PROXY_NAMED;
    net.ProxyHttpServer = "hp";
    net.ProxyHttpPort = "8080";
    net.ProxyFtpServer = "fp";
    net.ProxyFtpPort = "21";
    net.ProxyBypass = " *.corp.test;<local>,  one.test *x.test * ";
    const CProxyChoice http = ChooseProxy(net, "HTTPS://a.test/");
    EXPECT_FALSE(http.system);
    EXPECT_EQ(http.proxy, "hp:8080");
    EXPECT_EQ(http.noProxy, "corp.test,localhost,127.0.0.1,::1,one.test,x.test,*");
    EXPECT_EQ(ChooseProxy(net, "ftp://a.test/").proxy, "fp:21");

    // A protocol without its proxy goes direct rather than through another's.
    net.ProxyFtpPort.clear();
    EXPECT_EQ(ChooseProxy(net, "ftp://a.test/").proxy, "");
    EXPECT_EQ(ChooseProxy(net, "ftp://a.test/").noProxy, "*");
    // Equal entries: one proxy for every protocol.
    net.ProxyFtpServer = "hp";
    net.ProxyFtpPort = "8080";
    EXPECT_EQ(ChooseProxy(net, "ftp://a.test/").proxy, "hp:8080");

    net.ProxySetting = PROXY_DIRECT;
    EXPECT_FALSE(ChooseProxy(net, "http://a.test/").system);
    EXPECT_EQ(ChooseProxy(net, "http://a.test/").noProxy, "*");
    net.ProxySetting = PROXY_SYSTEM;
    EXPECT_TRUE(ChooseProxy(net, "http://a.test/").system);
}

TEST(EngineHelpers, ProgressNoteIsNumbersWithAtMostOneRemark)
{
    // note, then {done, total} when it parses
    const std::vector<std::pair<std::string, std::optional<std::pair<std::uint64_t, std::uint64_t>>>> cases = {
        {"400/1000", std::pair{400u, 1000u}},
        {"400", std::pair{400u, 0u}},
        {"400/1000 (400 バイトから再開)", std::pair{400u, 1000u}},
        {"18446744073709551615/18446744073709551615", std::pair{~0ull, ~0ull}},
        {"400/1000 (a", std::nullopt},
        {"400/1000x", std::nullopt},
        {"ホストが見つかりません (libcurl error 6)", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [note, want] : cases) {
        std::uint64_t done = 7, total = 7;
        const bool ok = ParseProgressNote(note, done, total);
        EXPECT_EQ(ok, want.has_value()) << note;
        if (ok && want) {
            EXPECT_EQ(std::pair(done, total), *want) << note;
        }
    }
}

TEST(EngineHelpers, RateLimiterHoldsBackBookingsAheadOfTheClockUntilTheLimitChanges)
{
    CRateLimiter limiter;
    EXPECT_TRUE(limiter.Ready());
    limiter.Book(1u << 30); // no limit: nothing is booked
    EXPECT_TRUE(limiter.Ready());

    limiter.SetRate(1000);
    EXPECT_TRUE(limiter.Limited());
    EXPECT_TRUE(limiter.Ready());
    limiter.Book(1000 * 3600); // an hour's worth
    EXPECT_FALSE(limiter.Ready());
    // Lifting the limit frees the waiting transfers at once, and a new limit
    // starts from now rather than from the old bookings.
    limiter.SetRate(0);
    EXPECT_FALSE(limiter.Limited());
    EXPECT_TRUE(limiter.Ready());
    limiter.SetRate(1000);
    EXPECT_TRUE(limiter.Ready());
}

} // namespace
} // namespace zorv::test

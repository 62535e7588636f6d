// Registration of fetched files in the per-user URL cache (EnableCache).
#include "fetch_fixture.h"

#include <gmock/gmock.h>

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace zorv::test {
namespace {

TEST_F(FetchTest, CompleteFileIsRegisteredInTheUrlCacheWithHeadersAndLastModified)
{
    options.EnableCache = 1;
    CUrlCache cache(dir.filePath(QStringLiteral("cache"))); // the fixture's override folder
    http.Serve("/dl/archive.tar.gz", "archive bytes",
               {{"Last-Modified", "Wed, 21 Oct 2015 07:28:00 GMT"}, {"X-Extra", "kept"}});
    http.ServeSlow("/chunked", "no length", 4, std::chrono::milliseconds(0), true);
    http.ServeStatus("/missing", 404);
    http.Serve("/off", "cache off");
    ASSERT_TRUE(http.Start());
    const std::string url = http.Url("/dl/archive.tar.gz");
    ASSERT_EQ(Fetch(Add(url)), STATE_FETCHED);

    const auto entry = cache.Lookup(url);
    ASSERT_TRUE(entry.has_value());
    EXPECT_FALSE(entry->sparse);
    EXPECT_EQ(entry->size, 13u);
    EXPECT_EQ(entry->lastModified, "Wed, 21 Oct 2015 07:28:00 GMT");
    EXPECT_EQ(entry->lastModifiedTime, 1445412480);
    EXPECT_EQ(entry->extension, "gz");
    EXPECT_THAT(entry->headers, AllOf(StartsWith("HTTP/1.1 200 OK\r\n"), HasSubstr("\r\nX-Extra: kept\r\n")));
    EXPECT_EQ(ReadFileBytes(entry->filePath), QByteArray("archive bytes"));

    // Nothing is registered without a length, when refused, or with the cache off.
    EXPECT_EQ(Fetch(Add(http.Url("/chunked"), {}, "1.bin")), STATE_FETCHED);
    EXPECT_EQ(Fetch(Add(http.Url("/missing"), {}, "2.bin")), STATE_FAILED);
    options.EnableCache = 0;
    EXPECT_EQ(Fetch(Add(http.Url("/off"), {}, "3.bin")), STATE_FETCHED);
    for (const char* path : {"/chunked", "/missing", "/off"})
        EXPECT_FALSE(cache.Lookup(http.Url(path)).has_value()) << path;
}

} // namespace
} // namespace zorv::test

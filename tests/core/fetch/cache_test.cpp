// Registration of fetched files in the per-user URL cache (EnableCache), and
// the cache store itself.
#include "fetch_fixture.h"

#include <gmock/gmock.h>

#include <QDir>

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace zorv::test {
namespace {

QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class CacheFetchTest : public FetchTest {
protected:
    void SetUp() override
    {
        FetchTest::SetUp();
        options.EnableCache = 1;
    }
    // The store in the fixture's override folder.
    CUrlCache cache{dir.filePath(QStringLiteral("cache"))};
};

TEST_F(CacheFetchTest, CompleteFileIsANormalEntryWithHeadersAndLastModified)
{
    http.Serve("/dl/archive.tar.gz", "archive bytes",
               {{"Last-Modified", "Wed, 21 Oct 2015 07:28:00 GMT"}, {"X-Extra", "kept"}});
    ASSERT_TRUE(http.Start());
    const std::string url = http.Url("/dl/archive.tar.gz");
    ASSERT_EQ(Fetch(Add(url)), STATE_FETCHED);

    const auto entry = cache.Lookup(url);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->url, url);
    EXPECT_FALSE(entry->sparse);
    EXPECT_EQ(entry->size, 13u);
    EXPECT_EQ(entry->expectedSize, 13u);
    EXPECT_EQ(entry->lastModified, "Wed, 21 Oct 2015 07:28:00 GMT");
    EXPECT_EQ(entry->lastModifiedTime, 1445412480);
    EXPECT_EQ(entry->extension, "gz");
    EXPECT_THAT(entry->headers, StartsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_THAT(entry->headers, HasSubstr("\r\nX-Extra: kept\r\n"));
    EXPECT_THAT(entry->headers, HasSubstr("\r\n\r\n"));
    EXPECT_EQ(FileBytes(entry->filePath), QByteArray("archive bytes"));
    EXPECT_TRUE(entry->filePath.startsWith(dir.filePath(QStringLiteral("cache/"))));
}

TEST_F(CacheFetchTest, ShortBodyIsASparseEntry)
{
    CScriptedServer server;
    ASSERT_TRUE(server.Start("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(400, 'p')));
    const std::string url = server.Url("/part.bin");
    ASSERT_EQ(Fetch(Add(url)), STATE_FAILED);

    const auto entry = cache.Lookup(url);
    ASSERT_TRUE(entry.has_value());
    EXPECT_TRUE(entry->sparse);
    EXPECT_EQ(entry->size, 400u);
    EXPECT_EQ(entry->expectedSize, 1000u);
    EXPECT_EQ(entry->lastModified, "");
    EXPECT_EQ(entry->lastModifiedTime, 0);
}

TEST_F(CacheFetchTest, NothingIsRegisteredWithoutLengthOrWhenRefusedOrSwitchedOff)
{
    http.ServeSlow("/chunked", "no length", 4, std::chrono::milliseconds(0), true);
    http.ServeStatus("/missing", 404);
    http.Serve("/off", "cache off");
    ASSERT_TRUE(http.Start());

    EXPECT_EQ(Fetch(Add(http.Url("/chunked"), {}, "1.bin")), STATE_FETCHED);
    EXPECT_EQ(Fetch(Add(http.Url("/missing"), {}, "2.bin")), STATE_FAILED);
    options.EnableCache = 0;
    EXPECT_EQ(Fetch(Add(http.Url("/off"), {}, "3.bin")), STATE_FETCHED);

    EXPECT_FALSE(cache.Lookup(http.Url("/chunked")).has_value());
    EXPECT_FALSE(cache.Lookup(http.Url("/missing")).has_value());
    EXPECT_FALSE(cache.Lookup(http.Url("/off")).has_value());
}

TEST(UrlCacheTest, NewerEntryReplacesTheOlderAndRemoveDeletesIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CUrlCache cache(dir.filePath(QStringLiteral("store")));
    const QString src = dir.filePath(QStringLiteral("src"));
    auto write = [&](const QByteArray& bytes) {
        QFile f(src);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };

    CUrlCacheRecord rec;
    rec.url = "http://h.test/a.txt";
    rec.expectedSize = 5;
    write("first");
    QString error;
    ASSERT_TRUE(cache.Store(rec, src, &error)) << error.toStdString();
    write("second!");
    rec.expectedSize = 7;
    ASSERT_TRUE(cache.Store(rec, src, &error)) << error.toStdString();

    const auto entry = cache.Lookup(rec.url);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(FileBytes(entry->filePath), QByteArray("second!"));
    EXPECT_EQ(entry->size, 7u);
    EXPECT_FALSE(cache.Lookup("http://h.test/b.txt").has_value());
    // One copy and one record; no temporary files left behind.
    const QStringList files = QDir(cache.Folder()).entryList(QDir::Files);
    EXPECT_EQ(files.filter(QStringLiteral(".part")).size(), 0) << files.join(' ').toStdString();
    EXPECT_EQ(files.filter(QStringLiteral(".json")).size(), 1);

    EXPECT_TRUE(cache.Remove(rec.url));
    EXPECT_FALSE(cache.Lookup(rec.url).has_value());
    EXPECT_FALSE(QFile::exists(entry->filePath));
}

TEST(UrlCacheTest, DefaultFolderFollowsTheOverride)
{
    CUrlCache::SetFolderOverride(QStringLiteral("/tmp/elsewhere"));
    EXPECT_EQ(CUrlCache::DefaultFolder(), QStringLiteral("/tmp/elsewhere"));
    CUrlCache::SetFolderOverride({});
    EXPECT_TRUE(CUrlCache::DefaultFolder().endsWith(QStringLiteral("/urlcache")));
    EXPECT_NE(CUrlCache::DefaultFolder(), QStringLiteral("/tmp/elsewhere"));
}

} // namespace
} // namespace zorv::test

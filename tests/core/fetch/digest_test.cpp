// A file whose server sends a digest is checked against it before it takes
// its name: the strongest usable digest decides; a mismatch discards the
// partial file and its record; what cannot be used is ignored.
#include "cli/progress.h"
#include "engine/partfile.h"
#include "fetch_fixture.h"
#include "support/tempsettings.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <thread>

namespace zorv::test {
namespace {

TEST_F(FetchTest, DownloadIsCheckedAgainstTheDigestItsServerSends)
{
    const std::string body = Pattern(1000);
    const auto b64 = [](QCryptographicHash::Algorithm a, const std::string& data) {
        return QCryptographicHash::hash(QByteArray::fromStdString(data), a).toBase64().toStdString();
    };
    const std::string sha256 = b64(QCryptographicHash::Sha256, body);
    const std::string sha512 = b64(QCryptographicHash::Sha512, body);
    const std::string md5 = b64(QCryptographicHash::Md5, body);
    const std::string other256 = b64(QCryptographicHash::Sha256, "other");
    const std::string resumed = " (400 バイトから再開)";
    enum Partial { None, Prefix, Holes }; // what an earlier fetch left
    const struct {
        httplib::Headers headers;
        Partial partial;
        int state;
        std::string remark; // after "1000/1000" and the resume remark
    } cases[] = {
        {{{"Repr-Digest", "sha-256=:" + sha256 + ":"}}, None, STATE_FETCHED, " (SHA-256 確認済み)"},
        // Names in any case; MD5 counts only from Content-MD5.
        {{{"Digest", "MD5=" + md5 + ", sha-512=" + sha512}}, None, STATE_FETCHED, " (SHA-512 確認済み)"},
        {{{"Content-MD5", md5}}, None, STATE_FETCHED, " (MD5 確認済み)"},
        // The strongest decides, whatever a weaker one says.
        {{{"Repr-Digest", "sha-256=:" + other256 + ":, sha-512=:" + sha512 + ":;x=1"}}, None, STATE_FETCHED,
         " (SHA-512 確認済み)"},
        {{{"Repr-Digest", "sha-256=:" + other256 + ":"}}, None, STATE_FAILED, " ダイジェストが一致しません"},
        // Unknown algorithms, values that are not base64 or not of the
        // algorithm's length: ignored.
        {{{"Repr-Digest", "sha3-256=:" + sha256 + ":, md5=:" + md5 + ":"}, {"Digest", "UNIXsum=30637"}}, None,
         STATE_FETCHED, ""},
        {{{"Repr-Digest", "sha-256=:" + sha256.substr(4) + ":, sha-512=:%%%:"},
          {"Digest", "SHA-512=" + sha256},
          {"Content-MD5", std::string(1000, 'A')}},
         None, STATE_FETCHED, ""},
        // The rest of a partial file (206, also in pieces): the whole file is
        // checked; Content-MD5 describes only that response's body.
        {{{"Repr-Digest", "sha-256=:" + sha256 + ":"}}, Prefix, STATE_FETCHED, resumed + " (SHA-256 確認済み)"},
        {{{"Digest", "SHA-512=" + sha512}}, Holes, STATE_FETCHED, " (600 バイトから再開) (SHA-512 確認済み)"},
        {{{"Content-MD5", b64(QCryptographicHash::Md5, "other")}}, Prefix, STATE_FETCHED, resumed},
        {{{"Repr-Digest", "sha-256=:" + other256 + ":"}}, Prefix, STATE_FAILED, resumed + " ダイジェストが一致しません"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        httplib::Headers headers = cases[i].headers;
        headers.emplace("ETag", "\"v1\"");
        http.Serve("/d" + std::to_string(i), body, headers);
    }
    ASSERT_TRUE(http.Start());
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        const std::string name = "d" + std::to_string(i) + ".bin";
        const std::string url = http.Url("/d" + std::to_string(i));
        if (c.partial != None) {
            CPartRecord record{url, "\"v1\"", -1, -1, 1000, {}};
            std::string part = body;
            record.done.Add(0, c.partial == Prefix ? 400 : 100);
            if (c.partial == Holes) {
                record.done.Add(300, 800);
                part.replace(100, 200, 200, 'X');
            }
            part.resize(c.partial == Prefix ? 400 : 1000);
            ASSERT_TRUE(WriteFileBytes(LocalPath(name + ".part"), QByteArray::fromStdString(part)));
            ASSERT_TRUE(WritePartRecord(LocalPath(name + ".part").toStdString(), record));
        }
        ItemPtr item = Add(url, {}, name);
        EXPECT_EQ(Fetch(item), c.state);
        EXPECT_EQ(item->GetNote(), "1000/1000" + c.remark);
        // The size of a fetched item is read back from its note.
        std::uint64_t done = 0, total = 0;
        EXPECT_EQ(ParseProgressNote(item->GetNote(), done, total) && done == 1000, c.state == STATE_FETCHED);
        EXPECT_EQ(LocalBytes(name), c.state == STATE_FETCHED ? QByteArray::fromStdString(body) : "<missing>");
        // Neither a kept partial file nor its record: a retry starts afresh.
        EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*.part*")}), QStringList());
    }
}

// A cancel while the file is being checked ends the item as any cancel does:
// failed, the partial file and its record kept for a later fetch.
TEST_F(FetchTest, CancelDuringTheDigestCheckKeepsThePartialFile)
{
    const std::string digest = QCryptographicHash::hash("x", QCryptographicHash::Sha512).toBase64().toStdString();
    http.Serve("/big", std::string(64 << 20, 'z'), {{"ETag", "\"v1\""}, {"Repr-Digest", "sha-512=:" + digest + ":"}});
    ASSERT_TRUE(http.Start());
    ItemPtr item = Add(http.Url("/big"));
    std::atomic<int> result{-1};
    std::thread fetch([&] { result = FetchItem(session, item, doc); });
    // The note of the complete file is written when the check begins.
    EXPECT_TRUE(RunUntil([&] { return result != -1 || !item->GetNote().empty(); }));
    item->Cancel();
    EXPECT_TRUE(RunUntil([&] { return result != -1; }));
    fetch.join();
    EXPECT_EQ(result, STATE_FAILED);
    EXPECT_EQ(item->GetNote(), "キャンセルされました (64.0 MB / 64.0 MB)");
    EXPECT_FALSE(LocalExists());
    EXPECT_EQ(QFileInfo(LocalPath("out.bin.part")).size(), 64 << 20);
    const auto record = ReadPartRecord(LocalPath("out.bin.part").toStdString(), nullptr);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->done.Bytes(), 64u << 20);
}

} // namespace
} // namespace zorv::test

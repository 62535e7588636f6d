// FetchItem over FTP against a real FTP server on loopback: files, a
// missing one, and the partial file of an earlier fetch.
#include "fetch_fixture.h"
#include "model/commands.h"
#include "support/ftp_server.h"

#include <gmock/gmock.h>

#include <QDateTime>

#include <algorithm>

using ::testing::ElementsAre;
using ::testing::StartsWith;

namespace zorv::test {
namespace {

TEST_F(FetchTest, FtpDownloadsResumesAndGivesTheServersReplyForAMissingOne)
{
    CFtpServer ftp;
    QString error;
    ASSERT_TRUE(ftp.Start(&error)) << error.toStdString();
    const std::string body = Pattern(700000);
    ASSERT_TRUE(ftp.PutFile(QStringLiteral("pub/data.lzh"), QByteArray::fromStdString(body)));
    ASSERT_TRUE(ftp.PutFile(QStringLiteral("empty.txt"), {}));

    ItemPtr item = Add(ftp.Url("/pub/data.lzh"));
    EXPECT_EQ(Fetch(item), STATE_FETCHED);
    EXPECT_EQ(LocalBytes(), QByteArray::fromStdString(body));
    // The server tells the size, so the progress shows it.
    EXPECT_EQ(item->GetNote(), "700000/700000");
    EXPECT_THAT(log.states, ElementsAre(STATE_CONNECTING, STATE_FETCHING, STATE_LAUNCHING));
    EXPECT_EQ(doc.TakeTraffic(), body.size());

    // An empty file is fetched too (no data ever arrives).
    EXPECT_EQ(Fetch(Add(ftp.Url("/empty.txt"), {}, "empty.txt")), STATE_FETCHED);
    EXPECT_TRUE(LocalExists("empty.txt"));

    log.states.clear();
    ItemPtr missing = Add(ftp.Url("/pub/none.zip"), {}, "none.zip");
    EXPECT_EQ(Fetch(missing), STATE_FAILED);
    EXPECT_THAT(missing->GetNote(), StartsWith("550 "));
    EXPECT_FALSE(LocalExists("none.zip"));
    EXPECT_THAT(log.states, ElementsAre(STATE_CONNECTING));
    session.Reset();

#ifndef _WIN32 // needs a file size limit
    // The fetch goes on with REST while the file keeps its size and date
    // (SIZE, MDTM); a file changed since starts over, and so does the same
    // file at another URL (without a validator nothing tells it is the same).
    std::string changed = body;
    std::reverse(changed.begin(), changed.end());
    // The body, dated a year ago.
    const QDateTime lastYear = QDateTime::currentDateTimeUtc().addYears(-1);
    const auto put = [&](const QString& path) {
        QFile file(ftp.Root() + QLatin1Char('/') + path);
        return ftp.PutFile(path, QByteArray::fromStdString(body)) && file.open(QIODevice::ReadWrite)
               && file.setFileTime(lastYear, QFileDevice::FileModificationTime);
    };
    for (const auto& [change, moved] : {std::pair(false, false), std::pair(true, false), std::pair(false, true)}) {
        SCOPED_TRACE(std::to_string(change) + std::to_string(moved));
        ASSERT_TRUE(put(QStringLiteral("pub/data.lzh")));
        // A file size limit stops the first fetch part of the way.
        const std::string name = "out" + std::to_string(change) + std::to_string(moved) + ".bin";
        ItemPtr partial = Add(ftp.Url("/pub/data.lzh"), {}, name);
        ASSERT_EQ(FetchWithSizeLimit(partial), STATE_FAILED);
        const qint64 kept = QFileInfo(LocalPath(name + ".part")).size();
        ASSERT_TRUE(kept > 0 && kept < 700000) << kept;
        session.Reset();
        doc.TakeTraffic();
        if (change) { // same size, another date
            ASSERT_TRUE(ftp.PutFile(QStringLiteral("pub/data.lzh"), QByteArray::fromStdString(changed)));
        }
        if (moved) { // the same size and date
            ASSERT_TRUE(put(QStringLiteral("pub/copy.lzh")));
            ASSERT_TRUE(EditItem(doc, doc.RowOf(partial.get()), {ftp.Url("/pub/copy.lzh"), {}, dir.path().toStdString(), name, 0}));
        }

        EXPECT_EQ(Fetch(partial), STATE_FETCHED) << partial->GetNote();
        const bool over = change || moved;
        EXPECT_EQ(partial->GetNote(), over ? "700000/700000" : "700000/700000 (" + std::to_string(kept) + " バイトから再開)");
        EXPECT_EQ(LocalBytes(name), QByteArray::fromStdString(change ? changed : body));
        EXPECT_EQ(doc.TakeTraffic(), static_cast<std::uint64_t>(over ? 700000 : 700000 - kept));
        session.Reset();
    }
#endif
}

} // namespace
} // namespace zorv::test

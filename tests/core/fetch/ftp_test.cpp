// FetchItem over FTP against a real FTP server on loopback.
#include "fetch_fixture.h"
#include "support/ftp_server.h"

#include <gmock/gmock.h>

using ::testing::ElementsAre;
using ::testing::StartsWith;

namespace zorv::test {
namespace {

TEST_F(FetchTest, FtpDownloadsFilesAndGivesTheServersReplyForAMissingOne)
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
}

} // namespace
} // namespace zorv::test

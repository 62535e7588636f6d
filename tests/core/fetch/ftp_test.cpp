// FetchItem over FTP against a real FTP server on loopback.
#include "fetch_fixture.h"
#include "support/ftp_server.h"

#include <gmock/gmock.h>

using ::testing::ElementsAre;
using ::testing::StartsWith;

namespace zorv::test {
namespace {

class FtpFetchTest : public FetchTest {
protected:
    void SetUp() override
    {
        FetchTest::SetUp();
        QString error;
        ASSERT_TRUE(ftp.Start(&error)) << error.toStdString();
    }
    void TearDown() override
    {
        session.Reset();
        FetchTest::TearDown();
    }
    CFtpServer ftp;
};

TEST_F(FtpFetchTest, DownloadsAFile)
{
    const std::string body = Pattern(700000);
    ASSERT_TRUE(ftp.PutFile(QStringLiteral("pub/data.lzh"), QByteArray::fromStdString(body)));
    ItemPtr item = Add(ftp.Url("/pub/data.lzh"));

    EXPECT_EQ(Fetch(item), STATE_FETCHED);
    EXPECT_EQ(LocalBytes(), QByteArray::fromStdString(body));
    // The server tells the size, so the progress shows it.
    EXPECT_EQ(item->GetNote(), "700000/700000");
    EXPECT_THAT(log.states, ElementsAre(STATE_CONNECTING, STATE_FETCHING, STATE_LAUNCHING));
    EXPECT_EQ(doc.TakeTraffic(), body.size());

    // An empty file is fetched too (no data ever arrives).
    ASSERT_TRUE(ftp.PutFile(QStringLiteral("empty.txt"), {}));
    ItemPtr empty = Add(ftp.Url("/empty.txt"), {}, "empty.txt");
    EXPECT_EQ(Fetch(empty), STATE_FETCHED);
    EXPECT_TRUE(LocalExists("empty.txt"));
}

TEST_F(FtpFetchTest, MissingFileGivesTheServersReply)
{
    ItemPtr item = Add(ftp.Url("/pub/none.zip"));
    EXPECT_EQ(Fetch(item), STATE_FAILED);
    EXPECT_THAT(item->GetNote(), StartsWith("550 "));
    EXPECT_FALSE(LocalExists());
    EXPECT_THAT(log.states, ElementsAre(STATE_CONNECTING));
}

} // namespace
} // namespace zorv::test

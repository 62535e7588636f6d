// Partial files and resume: the body goes to NAME.part and replaces NAME only
// when complete; a later fetch asks for the rest (Range with If-Range over
// HTTP, REST over FTP) and starts over when the server will not give it.
// The server's file name (Content-Disposition) replaces one derived from the URL.
#include "engine/controller.h"
#include "engine/finalname.h"
#include "fetch_fixture.h"
#include "support/ftp_server.h"
#include "support/tempsettings.h"

#include <gmock/gmock.h>

#include <QDir>

#include <atomic>
#include <mutex>


using ::testing::HasSubstr;

namespace zorv::test {
namespace {

const char kLastModified[] = "Wed, 21 Oct 2015 07:28:00 GMT";

// What the server at /file does with the next request.
enum class Mode {
    Cut,     // sends the first 400 bytes of the body and drops the connection
    Range,   // honours Range (206)
    Ignore,  // ignores Range: 200 with the whole body
    Changed, // the file changed: If-Range fails, 200 with the new body
    Refuse,  // 416 to any Range, the whole body without one
};

class ResumeTest : public FetchTest {
protected:
    void SetUp() override
    {
        FetchTest::SetUp();
        http.Raw().Get("/file", [this](const httplib::Request& req, httplib::Response& res) {
            // cpp-httplib cuts any body to the requested range by itself;
            // a server that ignores the range is one that never saw it.
            auto& ranges = const_cast<httplib::Request&>(req).ranges;
            const Mode m = mode;
            if (m != Mode::Range)
                ranges.clear();
            {
                std::scoped_lock hold(lock);
                for (const auto& [name, value] : headers)
                    res.set_header(name, value);
            }
            if (m == Mode::Refuse && req.has_header("Range")) {
                res.status = 416;
                return;
            }
            if (m == Mode::Cut) {
                res.set_content_provider(body.size(), "application/octet-stream",
                                         [this](size_t, size_t, httplib::DataSink& sink) {
                                             sink.write(body.data(), 400);
                                             return false;
                                         });
                return;
            }
            res.set_content(m == Mode::Changed ? changed : body, "application/octet-stream");
        });
    }

    void SetHeaders(httplib::Headers h)
    {
        std::scoped_lock hold(lock);
        headers = std::move(h);
    }

    std::atomic<Mode> mode{Mode::Cut};
    std::mutex lock; // the headers are read on the server's threads
    httplib::Headers headers{{"ETag", "\"v1\""}};
    const std::string body = Pattern(1000);
    const std::string changed = std::string(1000, 'N');
};

TEST_F(ResumeTest, SecondFetchAsksForTheRestAndStartsOverWhenRefused)
{
    ASSERT_TRUE(http.Start());
    const struct {
        Mode mode;
        httplib::Headers headers; // of both responses
        bool resume;              // ResumePartial
        std::string ifRange;      // sent with Range: bytes=400-; empty: no Range at all
        std::string bytes, note;
        size_t requests; // of the second fetch
    } cases[] = {
        {Mode::Range, {{"ETag", "\"v1\""}}, true, "\"v1\"", body, "1000/1000 (400 バイトから再開)", 1},
        {Mode::Range, {{"Last-Modified", kLastModified}}, true, kLastModified, body,
         "1000/1000 (400 バイトから再開)", 1},
        {Mode::Ignore, {{"ETag", "\"v1\""}}, true, "\"v1\"", body, "1000/1000", 1},
        {Mode::Changed, {{"ETag", "\"v1\""}}, true, "\"v1\"", changed, "1000/1000", 1},
        {Mode::Refuse, {{"ETag", "\"v1\""}}, true, "\"v1\"", body, "1000/1000", 2},
        {Mode::Range, {{"ETag", "\"v1\""}}, false, "", body, "1000/1000", 1},
        // A weak ETag cannot validate a range: without another validator
        // the fetch starts over.
        {Mode::Range, {{"ETag", "W/\"v1\""}}, true, "", body, "1000/1000", 1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        const std::string name = "f" + std::to_string(i) + ".bin";
        // This item's earlier download, which the complete one replaces.
        ASSERT_TRUE(WriteFileBytes(LocalPath(name), "old file"));
        ASSERT_TRUE(SetOrigin(LocalPath(name), http.Url("/file")));
        SetHeaders(c.headers);
        options.ResumePartial = c.resume ? 1 : 0;
        mode = Mode::Cut;
        ItemPtr item = Add(http.Url("/file"), {}, name);
        EXPECT_EQ(Fetch(item), STATE_FAILED);
        // The earlier file is not touched; the bytes wait in the partial file.
        EXPECT_EQ(LocalBytes(name), QByteArray("old file"));
        EXPECT_EQ(LocalBytes(name + ".part"), QByteArray::fromStdString(body.substr(0, 400)));
        session.Reset();
        doc.TakeTraffic();

        mode = c.mode;
        const size_t before = http.RequestsFor("/file").size();
        EXPECT_EQ(Fetch(item), STATE_FETCHED) << item->GetNote();
        EXPECT_EQ(item->GetNote(), c.note);
        EXPECT_EQ(LocalBytes(name), QByteArray::fromStdString(c.bytes));
        // Nothing of the partial file is left.
        EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*.part*")}), QStringList());
        // Traffic counts what came over the wire this time.
        EXPECT_EQ(doc.TakeTraffic(), c.note.find("再開") != std::string::npos ? 600u : 1000u);
        const auto requests = http.RequestsFor("/file");
        ASSERT_EQ(requests.size() - before, c.requests);
        const auto& asked = requests[before];
        EXPECT_EQ(asked.Header("Range"), c.ifRange.empty() ? "" : "bytes=400-");
        EXPECT_EQ(asked.Header("If-Range"), c.ifRange);
        if (c.requests == 2) { // the new request from the start
            EXPECT_EQ(requests.back().HeaderCount("Range"), 0u);
        }
        session.Reset();
    }
}

TEST_F(ResumeTest, CompleteBodyThatCannotTakeTheNamesPlaceFailsAndStaysPartial)
{
    mode = Mode::Range;
    ASSERT_TRUE(http.Start());
    // A folder (not empty) of the file's name, which the settings say to replace.
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("taken.bin/inside")));
    options.ExistingFile = EXISTING_REPLACE;
    ItemPtr item = Add(http.Url("/file"), {}, "taken.bin");
    EXPECT_EQ(Fetch(item), STATE_FAILED);
    EXPECT_THAT(item->GetNote(), HasSubstr(LocalPath("taken.bin").toStdString() + " に置き換えられません: "));
    EXPECT_EQ(LocalBytes("taken.bin.part"), QByteArray::fromStdString(body));
    EXPECT_EQ(log.launches, 0);
}

TEST_F(FetchTest, FtpFetchGoesOnFromThePartialFile)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs a file size limit";
#else
    CFtpServer ftp;
    QString error;
    ASSERT_TRUE(ftp.Start(&error)) << error.toStdString();
    const std::string body = Pattern(700000);
    ASSERT_TRUE(ftp.PutFile(QStringLiteral("pub/data.lzh"), QByteArray::fromStdString(body)));

    // A file size limit stops the first fetch part of the way.
    ItemPtr item = Add(ftp.Url("/pub/data.lzh"));
    const int first = FetchWithSizeLimit(item);
    ASSERT_EQ(first, STATE_FAILED);
    const qint64 kept = QFileInfo(LocalPath("out.bin.part")).size();
    ASSERT_GT(kept, 0);
    ASSERT_LT(kept, 700000);
    session.Reset();
    doc.TakeTraffic();

    EXPECT_EQ(Fetch(item), STATE_FETCHED) << item->GetNote();
    EXPECT_EQ(item->GetNote(), "700000/700000 (" + std::to_string(kept) + " バイトから再開)");
    EXPECT_EQ(LocalBytes(), QByteArray::fromStdString(body));
    EXPECT_EQ(doc.TakeTraffic(), static_cast<std::uint64_t>(700000 - kept));
    EXPECT_FALSE(LocalExists("out.bin.part"));
    session.Reset();
#endif
}

// The window and the headless run change the item through the controller.
TEST_F(FetchTest, ServerFileNameReplacesOnlyANameDerivedFromTheUrl)
{
    const httplib::Headers disposition{{"Content-Disposition", "attachment; filename=\"../report.pdf\""}};
    http.Serve("/d/cd", "server named", disposition);
    http.Serve("/d/", "server named", disposition);
    http.Serve("/e/", "folder page");
    http.Serve("/e/a b.txt", "blank"); // routes match the decoded path
    ASSERT_TRUE(http.Start());
    CFetchController controller(doc);
    std::vector<std::string> launched;
    controller.SetLauncher([&](const std::string& path) { launched.push_back(path); });

    const struct {
        std::string url, typed; // typed: the name the user gave, empty: derived
        bool useServerName;
        std::string before, after;
    } cases[] = {
        {http.Url("/d/cd"), "", true, "cd", "report.pdf"},
        {http.Url("/d/"), "", true, "index.html", "report.pdf"},
        {http.Url("/d/cd"), "mine.bin", true, "mine.bin", "mine.bin"},
        {http.Url("/d/cd"), "", false, "cd", "cd"},
        {http.Url("/e/"), "", true, "index.html", "index.html"},
        {http.Url("/e/a%20b.txt"), "", true, "a b.txt", "a b.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url + " " + c.typed);
        options.UseServerFileName = c.useServerName ? 1 : 0;
        CItem* added = doc.AddUrl(c.url, "", dir.path().toStdString(), c.typed, 0);
        ASSERT_NE(added, nullptr);
        ItemPtr item = doc.GetItemPtr(doc.RowOf(added));
        EXPECT_EQ(item->m_strFileName, c.before);
        doc.SetModifiedFlag(false);
        EXPECT_EQ(Fetch(item), STATE_FETCHED) << item->GetNote();
        EXPECT_EQ(item->m_strFileName, c.after);
        EXPECT_TRUE(LocalExists(c.after));
        ASSERT_FALSE(launched.empty());
        EXPECT_EQ(launched.back(), LocalPath(c.after).toStdString()); // the file under its new name
        if (c.before != c.after) {
            EXPECT_FALSE(LocalExists(c.before));
            EXPECT_TRUE(doc.IsModified());
        }
        QFile::remove(LocalPath(c.after));
        doc.RemoveItems({doc.RowOf(item.get())}); // its name is no longer taken
    }
}

} // namespace
} // namespace zorv::test

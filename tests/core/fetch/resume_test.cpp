// Partial files and resume: the body goes to NAME.part and replaces NAME only
// when complete; a later fetch asks for the rest (Range with If-Range over
// HTTP; REST over FTP: the FTP test) and starts over when the server will not give it,
// also from a new URL the item was given meanwhile.
#include "engine/finalname.h"
#include "engine/partfile.h"
#include "fetch_fixture.h"
#include "model/commands.h"
#include "support/tempsettings.h"

#include <gmock/gmock.h>

#include <QDir>

#include <algorithm>
#include <atomic>
#include <mutex>

#include <unistd.h>


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
    Spliced, // the file changed, If-Range ignored: 206 of the new body with its new ETag
    Overlong, // 206 for bytes 400-999 whose body goes on past them
    Longer,  // the file grew, its ETag did not change: 206 of a longer body
};

class ResumeTest : public FetchTest {
protected:
    void SetUp() override
    {
        FetchTest::SetUp();
        http.Raw().Get("/(file|moved)", [this](const httplib::Request& req, httplib::Response& res) {
            // cpp-httplib cuts any body to the requested range by itself;
            // a server that ignores the range is one that never saw it.
            auto& ranges = const_cast<httplib::Request&>(req).ranges;
            const Mode m = mode;
            if (m != Mode::Range && m != Mode::Spliced && m != Mode::Longer)
                ranges.clear();
            {
                std::scoped_lock hold(lock);
                for (const auto& [name, value] : headers)
                    res.set_header(name, m == Mode::Spliced && name == "ETag" ? "\"v2\"" : value);
            }
            if (m == Mode::Refuse && req.has_header("Range")) {
                res.status = 416;
                return;
            }
            if (m == Mode::Overlong) {
                res.status = 206;
                res.set_header("Content-Range", "bytes 400-999/1000");
                res.set_content(body.substr(400) + "and more", "application/octet-stream");
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
            res.set_content(m == Mode::Changed || m == Mode::Spliced ? changed : m == Mode::Longer ? longer : body,
                            "application/octet-stream");
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
    const std::string longer = body + std::string(200, 'L');
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
        std::string path = "/file"; // of the second fetch: "/moved" after the item's URL was edited
    } cases[] = {
        {Mode::Range, {{"ETag", "\"v1\""}}, true, "\"v1\"", body, "1000/1000 (400 バイトから再開)", 1},
        {Mode::Range, {{"Last-Modified", kLastModified}}, true, kLastModified, body,
         "1000/1000 (400 バイトから再開)", 1},
        {Mode::Ignore, {{"ETag", "\"v1\""}}, true, "\"v1\"", body, "1000/1000", 1},
        {Mode::Changed, {{"ETag", "\"v1\""}}, true, "\"v1\"", changed, "1000/1000", 1},
        {Mode::Refuse, {{"ETag", "\"v1\""}}, true, "\"v1\"", body, "1000/1000", 2},
        {Mode::Range, {{"ETag", "\"v1\""}}, false, "", body, "1000/1000", 1},
        // A weak ETag cannot validate a range (no more than no validator):
        // the fetch starts over.
        {Mode::Range, {{"ETag", "W/\"v1\""}}, true, "", body, "1000/1000", 1},
        // A 206 whose ETag is not the one recorded: the new file from the start.
        {Mode::Spliced, {{"ETag", "\"v1\""}}, true, "\"v1\"", changed, "1000/1000", 2},
        // A refreshed link: the record of another URL is asked for with its
        // validator (of either kind: the rows above); another ETag or another
        // length start over (a 200 does whatever the URL: the Changed row).
        {Mode::Range, {{"ETag", "\"v1\""}}, true, "\"v1\"", body, "1000/1000 (400 バイトから再開)", 1, "/moved"},
        {Mode::Spliced, {{"ETag", "\"v1\""}}, true, "\"v1\"", changed, "1000/1000", 2, "/moved"},
        {Mode::Longer, {{"ETag", "\"v1\""}}, true, "\"v1\"", longer, "1200/1200", 2, "/moved"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        const std::string name = "f" + std::to_string(i) + ".bin";
        // This item's earlier download, which the complete one replaces.
        ASSERT_TRUE(WriteFileBytes(LocalPath(name), "old file"));
        ASSERT_TRUE(SetOrigin(LocalPath(name), http.Url(c.path)));
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
        if (c.path != "/file") { // as the edit dialog does: the file name stays
            ASSERT_TRUE(EditItem(doc, doc.RowOf(item.get()), {http.Url(c.path), {}, dir.path().toStdString(), name, 0}));
        }
        const size_t before = http.RequestsFor(c.path).size();
        EXPECT_EQ(Fetch(item), STATE_FETCHED) << item->GetNote();
        EXPECT_EQ(item->GetNote(), c.note);
        EXPECT_EQ(LocalBytes(name), QByteArray::fromStdString(c.bytes));
        // Nothing of the partial file is left.
        EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*.part*")}), QStringList());
        // Traffic counts what came over the wire this time.
        EXPECT_EQ(doc.TakeTraffic(), c.note.find("再開") != std::string::npos ? 600u : c.bytes.size());
        const auto requests = http.RequestsFor(c.path);
        ASSERT_EQ(requests.size() - before, c.requests);
        const auto& asked = requests[before];
        EXPECT_EQ(asked.Header("Range"), c.ifRange.empty() ? "" : "bytes=400-");
        EXPECT_EQ(asked.Header("If-Range"), c.ifRange);
        EXPECT_EQ(requests.back().HeaderCount("Range"), c.requests == 2 ? 0u : asked.HeaderCount("Range"));
        session.Reset();
    }
}

// A resumed body that goes on past the length its Content-Range announced is
// not the server's file: the item fails and says so.
TEST_F(ResumeTest, ResumedBodyLongerThanAnnouncedFails)
{
    ASSERT_TRUE(http.Start());
    ItemPtr item = Add(http.Url("/file"));
    ASSERT_EQ(Fetch(item), STATE_FAILED);
    session.Reset();
    mode = Mode::Overlong;
    EXPECT_EQ(Fetch(item), STATE_FAILED);
    EXPECT_EQ(item->GetNote(), "1000/1000 (400 バイトから再開) サーバーが告げた長さより多く送りました");
    EXPECT_FALSE(LocalExists());
    EXPECT_EQ(http.RequestsFor("/file").back().Header("Range"), "bytes=400-");
}

// Only the record's map of the partial file is trusted: the fetch asks for
// exactly the bytes it lacks, and starts over without a trustworthy one
// (whatever the partial file's length).
TEST_F(ResumeTest, RecordedMapDecidesWhatIsAskedFor)
{
    mode = Mode::Range;
    ASSERT_TRUE(http.Start());
    const auto record = [&](std::initializer_list<std::pair<std::uint64_t, std::uint64_t>> done) {
        CPartRecord r{http.Url("/file"), "\"v1\"", -1, -1, 1000, {}};
        for (const auto& [b, e] : done)
            r.done.Add(b, e);
        return FormatPartRecord(r);
    };
    const std::string junk(1000, 'X');
    const std::string holes = body.substr(0, 100) + junk.substr(0, 200) + body.substr(300, 300) + junk.substr(0, 400);
    const struct {
        std::string meta, part;
        std::vector<std::string> ranges; // asked, in order; "" no Range
        std::string note;
    } cases[] = {
        {record({{0, 100}, {300, 600}}), holes, {"bytes=100-", "bytes=600-999"}, "1000/1000 (400 バイトから再開)"},
        // Complete but not renamed: the last byte tells whether it is the same file.
        {record({{0, 1000}}), body, {"bytes=999-"}, "1000/1000 (999 バイトから再開)"},
        // A map the partial file is too short for, an unknown record (an
        // older format), a damaged one: from the start.
        {record({{0, 800}}), body.substr(0, 400), {""}, "1000/1000"},
        {http.Url("/file") + "\n\"v1\"\n", body.substr(0, 400) + junk.substr(0, 600), {""}, "1000/1000"},
        {record({{0, 400}}).substr(0, 60), body.substr(0, 400), {""}, "1000/1000"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        ASSERT_TRUE(WriteFileBytes(LocalPath("out.bin.part"), QByteArray::fromStdString(c.part)));
        ASSERT_TRUE(WriteFileBytes(LocalPath("out.bin.part.meta"), QByteArray::fromStdString(c.meta)));
        ItemPtr item = Add(http.Url("/file"));
        const size_t before = http.RequestsFor("/file").size();
        EXPECT_EQ(Fetch(item), STATE_FETCHED) << item->GetNote();
        EXPECT_EQ(item->GetNote(), c.note);
        EXPECT_EQ(LocalBytes(), QByteArray::fromStdString(body));
        std::vector<std::string> asked;
        for (const auto& r : http.RequestsFor("/file"))
            asked.push_back(r.Header("Range"));
        EXPECT_EQ(std::vector<std::string>(asked.begin() + static_cast<long>(before), asked.end()), c.ranges);
        EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*.part*")}), QStringList());
        doc.DeleteContents();
        session.Reset();
    }
}

// A link (or a file swapped in) where the partial file or its record goes is
// never written through nor renamed into place; the item fails naming it.
TEST_F(ResumeTest, LinksAndSwappedPartialFilesAreNeitherWrittenNorRenamed)
{
    mode = Mode::Range;
    http.Raw().Get("/swap", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(1000, "application/octet-stream", [this](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset == 0) {
                sink.write(body.data(), 500);
                return true;
            }
            // Once the fetch has made it, the partial file is moved away and
            // another put in its place.
            const std::string part = LocalPath("out.bin.part").toStdString();
            for (int i = 0; i < 1000 && !QFile::exists(LocalPath("out.bin.part")); ++i)
                http.Sleep(std::chrono::milliseconds(5));
            if (::rename(part.c_str(), (part + ".moved").c_str()) != 0 || !WriteFileBytes(LocalPath("out.bin.part"), "planted"))
                return false;
            sink.write(body.data() + 500, 500);
            return true;
        });
    });
    ASSERT_TRUE(http.Start());
    QTemporaryDir elsewhere;
    const QString outside = elsewhere.filePath(QStringLiteral("precious"));
    // The record of a partial file of which 100 bytes are kept.
    CPartRecord record{http.Url("/file"), "\"v1\"", -1, -1, 1000, {}};
    record.done.Add(0, 100);
    const std::string precious = body.substr(0, 100);
    const struct {
        std::string link; // in the destination, to `outside`; empty: none
        bool hard;        // a hard link, with a record to resume from
        std::string path, note;
    } cases[] = {
        {"out.bin.part", false, "/file", "out.bin.part はシンボリックリンクなので使えません"},
        {"out.bin.part.meta", false, "/file", "out.bin.part.meta はシンボリックリンクなので使えません"},
        {"", false, "/swap", "out.bin.part が取得中に別のファイルに置き換えられたので使えません"},
        {"out.bin.part", true, "/file", "out.bin.part には別の名前（ハードリンク）もあるので使えません"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.note);
        ASSERT_TRUE(WriteFileBytes(outside, QByteArray::fromStdString(precious)));
        const QByteArray from = outside.toLocal8Bit(), to = LocalPath(c.link).toLocal8Bit();
        if (c.hard) {
            ASSERT_EQ(::link(from.constData(), to.constData()), 0);
            ASSERT_TRUE(WriteFileBytes(LocalPath("out.bin.part.meta"), QByteArray::fromStdString(FormatPartRecord(record))));
        } else if (!c.link.empty()) {
            ASSERT_EQ(::symlink(from.constData(), to.constData()), 0);
        }
        const size_t asked = http.RequestsFor("/file").size();
        ItemPtr item = Add(http.Url(c.path));
        EXPECT_EQ(Fetch(item), STATE_FAILED);
        EXPECT_THAT(item->GetNote(), HasSubstr(c.note));
        EXPECT_EQ(ReadFileBytes(outside), QByteArray::fromStdString(precious));
        EXPECT_FALSE(LocalExists());
        EXPECT_EQ(log.launches, 0);
        if (c.link.empty()) {
            EXPECT_EQ(LocalBytes("out.bin.part"), "planted");
        } else if (!c.hard) { // nothing asked while a symbolic link is in the way
            EXPECT_EQ(http.RequestsFor("/file").size(), asked);
        }
        for (const QString& f : QDir(dir.path()).entryList({QStringLiteral("out.bin*")}))
            QFile::remove(dir.filePath(f));
        doc.DeleteContents();
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

} // namespace
} // namespace zorv::test

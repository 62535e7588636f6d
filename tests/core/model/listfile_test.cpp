// The list file: the byte layout, the readers of older and foreign files,
// the reader's defences against damaged files, and saving.
#include "model/doc.h"
#include "support/tempsettings.h"

#include <QDir>

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <sys/resource.h>

using zorv::CItem;
using zorv::CZorvDoc;
using zorv::test::Bytes;
using zorv::test::HexDump;
using zorv::test::ReadFileBytes;

namespace {

using ListFileTest = zorv::test::SettingsTest;

QByteArray Str(const std::string& s) // a string as the file stores it (below 255 bytes)
{
    return Bytes({static_cast<int>(s.size())}) + QByteArray::fromStdString(s);
}
QByteArray I32(int v)
{
    const auto u = static_cast<unsigned>(v);
    return Bytes({int(u & 0xFF), int((u >> 8) & 0xFF), int((u >> 16) & 0xFF), int(u >> 24)});
}
const QByteArray kNewClass3 = Bytes({0xFF, 0xFF, 3, 0, 5, 0}) + "CItem";
const QByteArray kClassRef = Bytes({0x01, 0x80});

QByteArray Record3(const std::string& url, int state, const std::string& ref = "", const std::string& dest = "/d",
                   const std::string& name = "n")
{
    return Str(url) + I32(state) + Str(ref) + Str(dest) + Str(name);
}

// Loads a file image; a failure names the reader's cause.
bool Load(CZorvDoc& doc, const QByteArray& bytes)
{
    QString cause;
    const bool ok = doc.LoadFromBytes(bytes, &cause);
    EXPECT_TRUE(ok) << cause.toStdString();
    return ok;
}

std::string Fields(const CItem* item)
{
    return item->m_strUrl + "|" + item->m_strReferer + "|" + item->m_strDestination + "|" + item->m_strFileName;
}

TEST_F(ListFileTest, ByteLayout)
{
    CZorvDoc doc;
    EXPECT_EQ(HexDump(doc.SaveToBytes()), "00 00 00 00");

    doc.AddUrl("http://h/a.zip", "http://r/", "/dl", "a.zip", 0)->SetState(1);
    const QByteArray first = Record3("http://h/a.zip", 1, "http://r/", "/dl", "a.zip");
    EXPECT_EQ(HexDump(doc.SaveToBytes()), HexDump(I32(1) + kNewClass3 + first));

    doc.AddUrl("ftp://h/b", "", "/x", "b", 0)->SetState(3);
    EXPECT_EQ(HexDump(doc.SaveToBytes()),
              HexDump(I32(2) + kNewClass3 + first + kClassRef + Record3("ftp://h/b", 3, "", "/x", "b")));
}

// Length prefixes: one byte below 255, FF + 2 bytes below 65534, else
// FF FF FF + 4 bytes. The string is the URL, the first field after the class.
TEST_F(ListFileTest, StringLengthPrefixes)
{
    const struct { int length; QByteArray prefix; } cases[] = {
        {254, Bytes({0xFE})}, {255, Bytes({0xFF, 0xFF, 0x00})}, {300, Bytes({0xFF, 0x2C, 0x01})},
        {65533, Bytes({0xFF, 0xFD, 0xFF})}, {65534, Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00})},
        {70000, Bytes({0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00})},
    };
    for (const auto& c : cases) {
        const std::string url = "http://h/" + std::string(size_t(c.length - 9), 'u');
        CZorvDoc doc;
        doc.AddUrl(url, "", "/d", "n", 0)->SetState(1);
        const QByteArray bytes = doc.SaveToBytes();
        EXPECT_EQ(HexDump(bytes.mid(15, c.prefix.size())), HexDump(c.prefix)) << c.length;
        EXPECT_EQ(bytes.size(), 15 + c.prefix.size() + c.length + 4 + 1 + 3 + 2) << c.length;
        ASSERT_TRUE(Load(doc, bytes)) << c.length;
        EXPECT_EQ(doc.GetItem(0)->m_strUrl, url) << c.length;
    }
}

TEST_F(ListFileTest, ReadsSchemaTwoAndSkipsUnknownSchemas)
{
    settings.Options().DefaultDestination = "/default";
    const QByteArray schema2 = I32(2) + Bytes({0xFF, 0xFF, 2, 0, 5, 0}) + "CItem" + Str("http://h/a") + I32(1)
        + Str("r") + Str("/d") + kClassRef + Str("http://h/b") + I32(0) + Str("") + Str("/e");
    CZorvDoc doc;
    ASSERT_TRUE(Load(doc, schema2));
    ASSERT_EQ(doc.GetCount(), 2);
    EXPECT_EQ(Fields(doc.GetItem(0)) + Fields(doc.GetItem(1)), "http://h/a|r|/d|http://h/b||/e|");
    EXPECT_EQ(doc.GetItem(0)->GetState(), 1);
    EXPECT_EQ(doc.PendingItems(), std::vector<CItem*>{doc.GetItem(1)});
    EXPECT_EQ(doc.SaveToBytes().mid(4, kNewClass3.size()), kNewClass3); // saving writes schema 3

    // A record of another schema consumes nothing and keeps the defaults.
    for (const int schema : {1, 4, 0xFFFF}) {
        const QByteArray other = I32(2) + Bytes({0xFF, 0xFF, schema & 0xFF, schema >> 8, 5, 0}) + "CItem" + kClassRef;
        ASSERT_TRUE(Load(doc, other)) << schema;
        ASSERT_EQ(doc.GetCount(), 2);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(Fields(doc.GetItem(i)) + std::to_string(doc.GetItem(i)->GetState()), "||/default|0") << schema;
    }
}

TEST_F(ListFileTest, StatesOnLoadAndSave)
{
    // Loading: states in progress (4–7) and unknown states become failed;
    // state 0 items are queued in list order, the others come back as rows.
    const int stored[] = {0, 1, 0, 2, 3, -1, 8, INT_MAX, 5, 0};
    const int loaded[] = {0, 1, 0, 2, 3, 2, 2, 2, 2, 0};
    QByteArray file = I32(10);
    for (int i = 0; i < 10; ++i)
        file += (i == 0 ? kNewClass3 : kClassRef) + Record3("http://h/" + std::to_string(i), stored[i]);
    CZorvDoc doc;
    ASSERT_TRUE(Load(doc, file));
    ASSERT_EQ(doc.GetCount(), 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(doc.GetItem(i)->GetState(), loaded[i]) << i;
    EXPECT_EQ(doc.PendingItems(), (std::vector<CItem*>{doc.GetItem(0), doc.GetItem(2), doc.GetItem(9)}));

    // Saving: an item in progress is written as failed and keeps its state.
    for (int s = 4; s <= 7; ++s) {
        doc.GetItem(1)->SetState(s);
        CZorvDoc back;
        ASSERT_TRUE(Load(back, doc.SaveToBytes()));
        EXPECT_EQ(doc.GetItem(1)->GetState(), s);
        EXPECT_EQ(back.GetItem(1)->GetState(), zorv::STATE_FAILED) << s;
        EXPECT_FALSE(back.IsQueued(back.GetItem(1)));
    }
}

// Lists made on Japanese Windows hold code page 932 text; it is converted.
// Valid UTF-8 is kept as it is.
TEST_F(ListFileTest, ConvertsCodePage932Strings)
{
    const std::string sjis = "\x83\x65\x83\x58\x83\x67"; // テスト
    const std::string sjisFolder = "C:\\\x83\x5f\x83\x45\x83\x93\x83\x8d\x81\x5b\x83\x68"; // C:\ダウンロード
    CZorvDoc doc;
    ASSERT_TRUE(Load(doc, I32(1) + kNewClass3
                              + Record3("http://h/" + sjis + ".zip", 1, "http://h/\x95\x5c.html", sjisFolder, sjis + ".zip")));
    EXPECT_EQ(Fields(doc.GetItem(0)), "http://h/テスト.zip|http://h/表.html|C:\\ダウンロード|テスト.zip");

    const QByteArray utf8 = I32(1) + kNewClass3 + Record3("http://h/テスト.zip", 1, "", "/表", "テスト.zip");
    ASSERT_TRUE(Load(doc, utf8));
    EXPECT_EQ(Fields(doc.GetItem(0)), "http://h/テスト.zip||/表|テスト.zip");
    EXPECT_EQ(doc.SaveToBytes(), utf8);
}

// Damaged, hostile and cut files fail with a cause; the list loaded before
// stays as it was, and opening such a file leaves an empty list.
TEST_F(ListFileTest, DamagedFilesFailCleanly)
{
    const QByteArray good = I32(2) + kNewClass3 + Record3("http://h/a", 0) + kClassRef + Record3("http://h/b", 1);
    std::vector<std::pair<std::string, QByteArray>> cases = {
        {"huge count", I32(INT_MAX) + kNewClass3 + Record3("http://h/a", 0)},
        {"4-byte length past the end", I32(1) + kNewClass3 + Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
        {"unknown class", I32(1) + Bytes({0xFF, 0xFF, 3, 0, 4, 0}) + "CFoo" + Record3("a", 0)},
        {"class name past the end", I32(1) + Bytes({0xFF, 0xFF, 3, 0, 0xFF, 0xFF}) + "CItem"},
        {"class reference first", I32(1) + kClassRef + Record3("http://h/a", 0)},
        {"reference to an object", good.left(good.indexOf(kClassRef)) + Bytes({0x02, 0x80}) + Record3("http://h/b", 1)},
        {"null object", I32(1) + Bytes({0, 0})},
    };
    for (qsizetype n = 0; n < good.size(); ++n)
        cases.emplace_back("cut at " + std::to_string(n), good.left(n));
    const QString path = settings.Path(QStringLiteral("damaged.zorv"));
    for (const auto& [what, bytes] : cases) {
        CZorvDoc doc;
        ASSERT_TRUE(Load(doc, good));
        QString cause;
        EXPECT_TRUE(!doc.LoadFromBytes(bytes, &cause) && !cause.isEmpty()) << what;
        EXPECT_EQ(std::pair(doc.GetCount(), doc.GetItemCount(true)), std::pair(2, 1)) << what;

        ASSERT_TRUE(zorv::test::WriteFileBytes(path, bytes));
        QString error;
        EXPECT_FALSE(doc.OnOpenDocument(path, &error)) << what;
        EXPECT_TRUE(error.contains(path)) << error.toStdString();
        EXPECT_EQ(doc.GetCount() + doc.GetItemCount(true), 0) << what;
        EXPECT_TRUE(doc.GetPathName().isEmpty() && !doc.IsModified()) << what;
    }
    // A list is consumed exactly: files that only start like one (a JPEG's
    // first bytes read as a negative count, a list with bytes after its last
    // item) are not lists, and opening them never writes them.
    for (const QByteArray& bytes : {Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F'}), I32(-5) + "junk",
                                    good + "junk", I32(0) + "x"}) {
        CZorvDoc doc;
        ASSERT_TRUE(zorv::test::WriteFileBytes(path, bytes));
        QString error;
        EXPECT_FALSE(doc.OnOpenDocument(path, &error)) << zorv::test::HexDump(bytes);
        EXPECT_TRUE(error.contains(QStringLiteral("zorv のリストではありません"))) << error.toStdString();
        EXPECT_EQ(ReadFileBytes(path), bytes);
    }
    CZorvDoc doc;
    EXPECT_TRUE(Load(doc, I32(0)) && doc.GetCount() == 0);

    // A long list, read on a thread of its own, reads whole; damaged, it
    // fails with its cause and leaves the list as it was.
    const std::string dest = "/srv/downloads/a/folder/deep/enough/for/a/long/list";
    QByteArray longList = I32(20000) + kNewClass3 + Record3("http://h/0", 0, "", dest);
    for (int i = 1; i < 20000; ++i)
        longList += kClassRef + Record3("http://h/" + std::to_string(i), 0, "", dest);
    ASSERT_GT(longList.size(), 1 << 20);
    EXPECT_TRUE(doc.LoadFromBytes(longList, nullptr));
    ASSERT_EQ(doc.GetCount(), 20000);
    EXPECT_EQ(doc.GetItem(19999)->m_strUrl, "http://h/19999");
    QString cause;
    EXPECT_FALSE(doc.LoadFromBytes(longList + "junk", &cause));
    EXPECT_TRUE(cause.contains(QStringLiteral("4 バイト余っています"))) << cause.toStdString();
    EXPECT_EQ(doc.GetCount(), 20000);
}

// A save that fails leaves the previous file whole and no stray files, both
// for a list that fits the file's write buffer (the failure shows only when
// the buffer is written out) and for a larger one.
TEST_F(ListFileTest, FailedSaveKeepsThePreviousFile)
{
    for (const int added : {80, 1000}) {
        CZorvDoc doc;
        doc.AddUrl("http://h/old", "", "/d", "n", 0);
        const QString path = settings.Path(QStringLiteral("list.zorv"));
        QString error;
        ASSERT_TRUE(doc.OnSaveDocument(path, &error)) << error.toStdString();
        const QByteArray old = ReadFileBytes(path);
        const QStringList before = QDir(settings.Dir()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);

        // The disk fills up while the new list is written.
        for (int i = 0; i < added; ++i)
            doc.AddUrl("http://h/new/" + std::to_string(i), "", "/d", "n", 0);
        doc.SetModifiedFlag(true);
        ASSERT_GT(doc.SaveToBytes().size(), 2048);
        struct rlimit saved {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit small = {1024, saved.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool ok = doc.OnSaveDocument(path, &error);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(ok) << added;
        EXPECT_TRUE(error.contains(path) && error.contains(QStringLiteral("ファイルが大きすぎます"))) << error.toStdString();
        EXPECT_EQ(ReadFileBytes(path), old) << added;
        EXPECT_TRUE(doc.IsModified());
        EXPECT_EQ(QDir(settings.Dir()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), before);
    }
}

} // namespace

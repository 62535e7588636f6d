// The list file: the byte layout, the readers of older and foreign files,
// the reader's defences against damaged files, and saving.
#include "model/doc.h"
#include "support/tempsettings.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <sys/resource.h>

using zorv::CItem;
using zorv::CZorvDoc;
using zorv::test::Bytes;
using zorv::test::HexDump;
using zorv::test::ReadFileBytes;
using zorv::test::WriteFileBytes;

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
const QByteArray kNewClass2 = Bytes({0xFF, 0xFF, 2, 0, 5, 0}) + "CItem";
const QByteArray kClassRef = Bytes({0x01, 0x80});

QByteArray Record3(const std::string& url, int state, const std::string& ref, const std::string& dest,
                   const std::string& name)
{
    return Str(url) + I32(state) + Str(ref) + Str(dest) + Str(name);
}

zorv::ItemPtr MakeItem(const std::string& url, int state = 0, const std::string& ref = "",
                       const std::string& dest = "/d", const std::string& name = "n")
{
    auto item = std::make_shared<CItem>(url, ref, dest, name, 0);
    item->SetState(state);
    return item;
}

TEST_F(ListFileTest, ByteLayout)
{
    CZorvDoc doc;
    EXPECT_EQ(HexDump(doc.SaveToBytes()), "00 00 00 00");

    ASSERT_TRUE(doc.AppendItem(MakeItem("http://h/a.zip", 1, "http://r/", "/dl", "a.zip")));
    const QByteArray one = I32(1) + kNewClass3 + Record3("http://h/a.zip", 1, "http://r/", "/dl", "a.zip");
    EXPECT_EQ(HexDump(doc.SaveToBytes()), HexDump(one));

    ASSERT_TRUE(doc.AppendItem(MakeItem("ftp://h/b", 3, "", "/x", "b")));
    ASSERT_TRUE(doc.AppendItem(MakeItem("ftp://h/c", 0, "", "", "")));
    const QByteArray three = I32(3) + kNewClass3 + Record3("http://h/a.zip", 1, "http://r/", "/dl", "a.zip")
        + kClassRef + Record3("ftp://h/b", 3, "", "/x", "b") + kClassRef
        + Record3("ftp://h/c", 0, "", "", "c");
    EXPECT_EQ(HexDump(doc.SaveToBytes()), HexDump(three));
}

// Length prefixes: one byte below 255, FF + 2 bytes below 65534, else
// FF FF FF + 4 bytes. The string is the URL, the first field after the class.
TEST_F(ListFileTest, StringLengthPrefixes)
{
    const struct {
        int length;
        QByteArray prefix;
    } cases[] = {
        {0, Bytes({0x00})},
        {254, Bytes({0xFE})},
        {255, Bytes({0xFF, 0xFF, 0x00})},
        {300, Bytes({0xFF, 0x2C, 0x01})},
        {65533, Bytes({0xFF, 0xFD, 0xFF})},
        {65534, Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00})},
        {70000, Bytes({0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00})},
    };
    for (const auto& c : cases) {
        const std::string url = "http://h/" + std::string(std::max(c.length - 9, 0), 'u');
        auto item = MakeItem(c.length == 0 ? "" : url, 1);
        if (c.length == 0)
            item->m_strUrl.clear();
        ASSERT_EQ(item->m_strUrl.size(), size_t(c.length));
        CZorvDoc doc;
        doc.AppendItem(item);
        const QByteArray bytes = doc.SaveToBytes();
        EXPECT_EQ(HexDump(bytes.mid(15, c.prefix.size())), HexDump(c.prefix)) << c.length;
        EXPECT_EQ(bytes.size(), 15 + c.prefix.size() + c.length + 4 + 1 + 3 + 2) << c.length;

        CZorvDoc back;
        QString cause;
        ASSERT_TRUE(back.LoadFromBytes(bytes, &cause)) << c.length << ": " << cause.toStdString();
        ASSERT_EQ(back.GetCount(), 1);
        EXPECT_EQ(back.GetItem(0)->m_strUrl, item->m_strUrl) << c.length;
        EXPECT_EQ(back.GetItem(0)->m_strFileName, "n") << c.length;
    }
}

TEST_F(ListFileTest, ReadsSchemaTwoAndSkipsUnknownSchemas)
{
    settings.Options().DefaultDestination = "/default";
    const QByteArray schema2 = I32(2) + kNewClass2 + Str("http://h/a") + I32(1) + Str("r") + Str("/d")
        + kClassRef + Str("http://h/b") + I32(0) + Str("") + Str("/e");
    CZorvDoc doc;
    QString cause;
    ASSERT_TRUE(doc.LoadFromBytes(schema2, &cause)) << cause.toStdString();
    ASSERT_EQ(doc.GetCount(), 2);
    EXPECT_EQ(doc.GetItem(0)->m_strUrl, "http://h/a");
    EXPECT_EQ(doc.GetItem(0)->GetState(), 1);
    EXPECT_EQ(doc.GetItem(0)->m_strReferer, "r");
    EXPECT_EQ(doc.GetItem(0)->m_strDestination, "/d");
    EXPECT_EQ(doc.GetItem(0)->m_strFileName, "");
    EXPECT_EQ(doc.GetItem(1)->m_strDestination, "/e");
    EXPECT_EQ(doc.PendingItems(), std::vector<CItem*>{doc.GetItem(1)});
    // Saving writes schema 3.
    EXPECT_EQ(doc.SaveToBytes().mid(4, kNewClass3.size()), kNewClass3);

    // A record of another schema consumes nothing and keeps the defaults.
    for (const int schema : {1, 4, 0xFFFF}) {
        const QByteArray other = I32(2) + Bytes({0xFF, 0xFF, schema & 0xFF, schema >> 8, 5, 0}) + "CItem"
            + kClassRef;
        CZorvDoc d;
        ASSERT_TRUE(d.LoadFromBytes(other, &cause)) << schema << ": " << cause.toStdString();
        ASSERT_EQ(d.GetCount(), 2);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(d.GetItem(i)->m_strUrl, "");
            EXPECT_EQ(d.GetItem(i)->m_strDestination, "/default");
            EXPECT_EQ(d.GetItem(i)->GetState(), 0);
        }
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
        file += (i == 0 ? kNewClass3 : kClassRef) + Record3("http://h/" + std::to_string(i), stored[i], "", "/d", "f");
    CZorvDoc doc;
    QString cause;
    ASSERT_TRUE(doc.LoadFromBytes(file, &cause)) << cause.toStdString();
    ASSERT_EQ(doc.GetCount(), 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(doc.GetItem(i)->GetState(), loaded[i]) << i;
    EXPECT_EQ(doc.PendingItems(), (std::vector<CItem*>{doc.GetItem(0), doc.GetItem(2), doc.GetItem(9)}));
    EXPECT_EQ(doc.GetItemCount(true), 3);

    // Saving: an item in progress is written as failed and keeps its state.
    for (int s = 4; s <= 7; ++s) {
        doc.GetItem(1)->SetState(s);
        const QByteArray bytes = doc.SaveToBytes();
        EXPECT_EQ(doc.GetItem(1)->GetState(), s);
        CZorvDoc back;
        ASSERT_TRUE(back.LoadFromBytes(bytes, &cause));
        EXPECT_EQ(back.GetItem(1)->GetState(), zorv::STATE_FAILED) << s;
        EXPECT_EQ(back.GetItem(1)->GetColumnText(zorv::COL_STATE), "取得失敗");
        EXPECT_FALSE(back.IsQueued(back.GetItem(1)));
    }
}

// Lists made on Japanese Windows hold code page 932 text; it is converted.
// Valid UTF-8 is kept as it is.
TEST_F(ListFileTest, ConvertsCodePage932Strings)
{
    const std::string sjis = "\x83\x65\x83\x58\x83\x67"; // テスト
    const std::string sjisFolder = "C:\\\x83\x5f\x83\x45\x83\x93\x83\x8d\x81\x5b\x83\x68"; // C:\ダウンロード
    const QByteArray file = I32(1) + kNewClass3
        + Record3("http://h/" + sjis + ".zip", 1, "http://h/\x95\x5c.html", sjisFolder, sjis + ".zip");
    const QByteArray utf8 = I32(1) + kNewClass3 + Record3("http://h/テスト.zip", 1, "", "/表", "テスト.zip");
    CZorvDoc doc;
    QString cause;
    ASSERT_TRUE(doc.LoadFromBytes(file, &cause)) << cause.toStdString();
    const CItem* item = doc.GetItem(0);
    EXPECT_EQ(item->m_strUrl, "http://h/テスト.zip");
    EXPECT_EQ(item->m_strReferer, "http://h/表.html");
    EXPECT_EQ(item->m_strDestination, "C:\\ダウンロード");
    EXPECT_EQ(item->m_strFileName, "テスト.zip");
    ASSERT_TRUE(doc.LoadFromBytes(utf8, &cause));
    EXPECT_EQ(doc.GetItem(0)->m_strUrl, "http://h/テスト.zip");
    EXPECT_EQ(doc.GetItem(0)->m_strDestination, "/表");
    EXPECT_EQ(doc.SaveToBytes(), utf8);
}

// Damaged and hostile files fail with a cause; the list loaded before stays
// as it was, and opening such a file leaves an empty list.
TEST_F(ListFileTest, DamagedFilesFailCleanly)
{
    const QByteArray good = I32(2) + kNewClass3 + Record3("http://h/a", 0, "", "/d", "a") + kClassRef
        + Record3("http://h/b", 1, "", "/d", "b");
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"empty file", QByteArray()},
        {"short count", Bytes({1, 0, 0})},
        {"count without items", I32(1)},
        {"huge count", I32(INT_MAX) + kNewClass3 + Record3("http://h/a", 0, "", "", "")},
        {"string longer than the file", I32(1) + kNewClass3 + Bytes({10}) + "http"},
        {"4-byte length past the end", I32(1) + kNewClass3 + Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
        {"unknown class", I32(1) + Bytes({0xFF, 0xFF, 3, 0, 4, 0}) + "CFoo" + Record3("a", 0, "", "", "")},
        {"class name past the end", I32(1) + Bytes({0xFF, 0xFF, 3, 0, 0xFF, 0xFF}) + "CItem"},
        {"class reference first", I32(1) + kClassRef + Record3("http://h/a", 0, "", "", "")},
        {"reference to an object", good.left(good.indexOf(kClassRef)) + Bytes({0x02, 0x80})
             + Record3("http://h/b", 1, "", "/d", "b")},
        {"null object", I32(1) + Bytes({0, 0})},
        {"big object tag", I32(1) + Bytes({0xFF, 0x7F, 1, 0, 0, 0})},
    };
    for (const auto& c : cases) {
        CZorvDoc doc;
        QString cause;
        ASSERT_TRUE(doc.LoadFromBytes(good, &cause));
        EXPECT_FALSE(doc.LoadFromBytes(c.bytes, &cause)) << c.what;
        EXPECT_FALSE(cause.isEmpty()) << c.what;
        EXPECT_EQ(doc.GetCount(), 2) << c.what;
        EXPECT_EQ(doc.GetItemCount(true), 1) << c.what;

        const QString path = settings.Path(QStringLiteral("damaged.zorv"));
        ASSERT_TRUE(WriteFileBytes(path, c.bytes));
        QString error;
        EXPECT_FALSE(doc.OnOpenDocument(path, &error)) << c.what;
        EXPECT_TRUE(error.contains(path)) << error.toStdString();
        EXPECT_EQ(doc.GetCount(), 0) << c.what;
        EXPECT_EQ(doc.GetItemCount(true), 0) << c.what;
        EXPECT_TRUE(doc.PendingItems().empty()) << c.what;
        EXPECT_TRUE(doc.GetPathName().isEmpty()) << c.what;
        EXPECT_FALSE(doc.IsModified()) << c.what;
    }
    // Every cut of a valid file fails.
    for (qsizetype n = 0; n < good.size(); ++n) {
        CZorvDoc doc;
        QString cause;
        EXPECT_FALSE(doc.LoadFromBytes(good.left(n), &cause)) << "cut at " << n;
    }
    // A negative count is an empty list; bytes after the last item are ignored.
    CZorvDoc doc;
    QString cause;
    EXPECT_TRUE(doc.LoadFromBytes(I32(-5) + "junk", &cause));
    EXPECT_EQ(doc.GetCount(), 0);
    EXPECT_TRUE(doc.LoadFromBytes(good + "junk", &cause));
    EXPECT_EQ(doc.GetCount(), 2);

    QString error;
    EXPECT_FALSE(doc.OnOpenDocument(settings.Path(QStringLiteral("missing.zorv")), &error));
    EXPECT_TRUE(error.contains(settings.Path(QStringLiteral("missing.zorv")))) << error.toStdString();
    EXPECT_EQ(doc.GetCount(), 0);
}

TEST_F(ListFileTest, SaveAndOpenRoundTrip)
{
    CZorvDoc doc;
    doc.AppendItem(MakeItem("http://h/日本語/a b.zip", 1, "http://ref/ü", "/home/u/ダウンロード", "a b.zip"));
    doc.AppendItem(MakeItem("ftp://h/" + std::string(400, 'x'), 0, std::string(70000, 'r'), "", "y"));
    doc.GetItem(0)->SetNote("note is never saved");
    doc.GetItem(0)->m_nFailures = 3;
    const QString path = settings.Path(QStringLiteral("list.zorv"));
    QString error;
    ASSERT_TRUE(doc.OnSaveDocument(path, &error)) << error.toStdString();
    EXPECT_EQ(ReadFileBytes(path), doc.SaveToBytes());
    EXPECT_EQ(doc.GetPathName(), path);

    CZorvDoc back;
    ASSERT_TRUE(back.OnOpenDocument(path, &error)) << error.toStdString();
    ASSERT_EQ(back.GetCount(), 2);
    EXPECT_EQ(back.SaveToBytes(), doc.SaveToBytes());
    EXPECT_EQ(back.GetItem(0)->m_strDestination, "/home/u/ダウンロード");
    EXPECT_EQ(back.GetItem(0)->GetNote(), "");
    EXPECT_EQ(back.GetItem(0)->m_nFailures, 0u);
    EXPECT_EQ(back.PendingItems(), std::vector<CItem*>{back.GetItem(1)});
    EXPECT_EQ(back.GetPathName(), path);
    EXPECT_FALSE(back.IsModified());
}

// A save that fails leaves the previous file whole and no stray files.
TEST_F(ListFileTest, FailedSaveKeepsThePreviousFile)
{
    CZorvDoc doc;
    doc.AppendItem(MakeItem("http://h/old"));
    const QString path = settings.Path(QStringLiteral("list.zorv"));
    QString error;
    ASSERT_TRUE(doc.OnSaveDocument(path, &error));
    const QByteArray old = ReadFileBytes(path);
    const QStringList before = QDir(settings.Dir()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);

    // The disk fills up while the new list is written.
    for (int i = 0; i < 1000; ++i)
        doc.AppendItem(MakeItem("http://h/new/" + std::to_string(i)));
    ASSERT_GT(doc.SaveToBytes().size(), 8192);
    doc.SetModifiedFlag(true);
    {
        struct rlimit saved {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = 4096;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool ok = doc.OnSaveDocument(path, &error);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(ok);
    }
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
    EXPECT_EQ(ReadFileBytes(path), old);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(QDir(settings.Dir()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), before);

    // The target is a folder, or its folder is a file.
    ASSERT_TRUE(QDir(settings.Dir()).mkdir(QStringLiteral("folder.zorv")));
    for (const QString& bad : {settings.Path(QStringLiteral("folder.zorv")),
                               path + QStringLiteral("/inner.zorv")}) {
        error.clear();
        EXPECT_FALSE(doc.OnSaveDocument(bad, &error)) << bad.toStdString();
        EXPECT_TRUE(error.contains(bad)) << error.toStdString();
        EXPECT_EQ(doc.GetPathName(), path);
    }
    EXPECT_EQ(ReadFileBytes(path), old);
    EXPECT_TRUE(QDir(settings.Path(QStringLiteral("folder.zorv"))).isEmpty());
}

} // namespace

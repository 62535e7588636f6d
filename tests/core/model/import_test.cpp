// Import of other programs' list files: the three readers on files in a
// temporary folder, the choice of reader by extension, and damaged files.
#include "model/import.h"
#include "support/items.h"
#include "support/tempsettings.h"

#include <QDir>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace zorv::test {
namespace {

class ImportTest : public SettingsTest {
protected:
    void SetUp() override
    {
        // The default level mirrors one URL folder; the default folder is /def.
        settings.Options().DefaultFnameLevel = 1;
        settings.Options().DefaultDestination = "/def";
    }

    // Writes `bytes` to `name` in the temporary folder and imports it.
    CImportResult Import(const std::string& name, const QByteArray& bytes, CImportFailure* failure = nullptr)
    {
        const std::string path = settings.Path(QString::fromStdString(name)).toStdString();
        EXPECT_TRUE(WriteFileBytes(QString::fromStdString(path), bytes));
        return ImportFile(doc, path, {}, failure);
    }
    // "URL|destination|file name|referer" of every item, in list order.
    std::vector<std::string> Items() const
    {
        std::vector<std::string> out;
        for (const CItem* it : Rows(doc))
            out.push_back(it->m_strUrl + "|" + it->m_strDestination + "|" + it->m_strFileName + "|" + it->m_strReferer);
        return out;
    }

    CZorvDoc doc;
};

struct Case { const char* name; QByteArray text; bool ok; int failedLine /* when !ok */; std::vector<std::string> items; };

TEST_F(ImportTest, ReadersAddWhatTheirRecordsName)
{
    ASSERT_TRUE(QDir(settings.Dir()).mkdir(QStringLiteral("in")));
    const std::string base = settings.Dir().toStdString();
    const std::vector<Case> cases = {
        // Plain text: one URL a line, LF or CR LF, empty lines skipped, a
        // last line without a line end, a byte order mark dropped.
        {"a.txt", "\xEF\xBB\xBFhttp://h/p/1.zip\n\nhttp://h/p/2.zip\r\nftp://h/p/3.zip", true, 0,
         {"http://h/p/1.zip|/def/p|1.zip|", "http://h/p/2.zip|/def/p|2.zip|", "ftp://h/p/3.zip|/def/p|3.zip|"}},
        {"b.txt", "http://h/1\nnot a url\nhttp://h/3\n", false, 2, {"http://h/1|/def/h|1|"}},
        {"empty.txt", "", true, 0, {}},
        // .grx: "File: " and "URL: " in either order; a record left open at
        // the end is dropped.
        {"a.grx", "File: /d/dl\nURL: http://h/x/y.zip\nURL: http://h/b\n\nFile: /e\nURL: http://h/c\n", true, 0,
         {"http://h/x/y.zip|/d/dl/x|y.zip|", "http://h/b|/e/h|b|"}},
        {"b.grx", "URL:http://h/x.zip\nFile: /d\n", false, 1, {}},
        {"c.grx", "URL: http://h/a\nURL: http://h/b\nFile: /d\n", false, 2, {}},
        {"d.grx", "URL: http://h/a\nFile: /d\nFile: /e\nURL: mailto:x@h\n", false, 4, {"http://h/a|/d/h|a|"}},
        // .wrg: a referer counts for the record it precedes; SaveAs= adds a
        // folder level once StoreIn= is known; other lines are ignored.
        {"a.wrg", "[x]\nRefererStr=r\nUrl=http://h/u\nStoreIn=/d/dl\nUrl=http://h/v\nStoreIn=/e\nRefererStr=s\n"
                  "Url=http://h/w\nStoreIn=/f\n",
         true, 0, {"http://h/u|/d/dl/h|u|r", "http://h/v|/e/h|v|", "http://h/w|/f/h|w|s"}},
        {"b.wrg", "StoreIn=/d/dl\nSaveAs=sub\nUrl=http://h/u\nStoreIn=/e/\nSaveAs=sub\nUrl=http://h/v\n"
                  "SaveAs=no\nStoreIn=/f\nUrl=http://h/w\n",
         true, 0, {"http://h/u|/d/dl/sub/h|u|", "http://h/v|/e/sub/h|v|", "http://h/w|/f/h|w|"}},
        {"c.wrg", "Url=http://h/u\nRefererStr=r\n", true, 0, {}}, // no StoreIn=: nothing
        // Relative folders are taken from the file's folder; a SaveAs= that
        // is not one folder name is refused, its record stays in StoreIn=.
        {"in/a.grx", "File: ../rel\nURL: http://h/a\n", true, 0, {"http://h/a|" + base + "/rel/h|a|"}},
        {"in/e.wrg", "StoreIn=s\nSaveAs=../../up\nUrl=http://h/a\nStoreIn=/d\nSaveAs=/etc\nSaveAs=..\nSaveAs=a\\b\n"
                     "Url=http://h/b\n",
         true, 0, {"http://h/a|" + base + "/in/s/h|a|", "http://h/b|/d/h|b|"}},
        {"d.wrg", "StoreIn=/d\nUrl=http://h/a\nStoreIn=/d\nUrl=gopher://h/u\nStoreIn=/d\nUrl=http://h/b\n", false, 4,
         {"http://h/a|/d/h|a|"}},
        // Code page 932 where a line is not UTF-8 ("テスト").
        {"sjis.txt", "http://h/\x83\x65\x83X\x83g.zip\nhttp://h/ok\n", true, 0,
         {"http://h/テスト.zip|/def/h|テスト.zip|", "http://h/ok|/def/h|ok|"}},
        {"sjis.grx", "File: /d/\x83\x65\x83X\x83g\nURL: http://h/a\n", true, 0, {"http://h/a|/d/テスト/h|a|"}},
    };
    for (const Case& c : cases) {
        doc.DeleteContents();
        CImportFailure failure;
        const CImportResult r = Import(c.name, c.text, &failure);
        EXPECT_EQ(r.ok, c.ok) << c.name;
        EXPECT_EQ(r.added, static_cast<int>(c.items.size())) << c.name;
        EXPECT_EQ(Items(), c.items) << c.name;
        EXPECT_EQ(doc.GetItemCount(true), static_cast<int>(c.items.size())) << c.name << ": all queued";
        EXPECT_TRUE(c.ok || failure.line == c.failedLine) << c.name << ": " << failure.line << " " << failure.cause;
    }
}

// The reader is chosen by the text after the last "." of the whole path,
// in any case; a path without "." is not read at all.
TEST_F(ImportTest, ExtensionChoosesTheReader)
{
    ASSERT_FALSE(settings.Dir().contains('.')) << "the test needs a temporary folder without a dot";
    const QByteArray grx = "URL: http://h/a\nFile: /d\n";
    EXPECT_TRUE(Import("a.GRX", grx).ok);
    EXPECT_EQ(doc.GetCount(), 1);
    ASSERT_TRUE(QDir(settings.Dir()).mkdir(QStringLiteral("my.lists")));
    EXPECT_FALSE(Import("my.lists/readme", grx).ok); // plain text: "URL: ..." is no URL
    EXPECT_TRUE(Import("my.lists/readme", "http://h/b\n").ok);
    EXPECT_EQ(doc.GetCount(), 2);
    CImportFailure failure;
    EXPECT_FALSE(Import("readme", "http://h/c\n", &failure).ok);
    EXPECT_EQ(failure.line, 0);
    EXPECT_EQ(doc.GetCount(), 2);
    // A folder and a missing file cannot be read.
    ASSERT_TRUE(QDir(settings.Dir()).mkdir(QStringLiteral("dir.txt")));
    for (const char* name : {"dir.txt", "missing.txt"})
        EXPECT_FALSE(ImportFile(doc, settings.Path(QString::fromUtf8(name)).toStdString()).ok) << name;
    EXPECT_EQ(doc.GetCount(), 2);
}

// Binary and damaged files end the import without a crash or a hang: a
// NUL byte or an endless line stops it at that line.
TEST_F(ImportTest, DamagedFilesFail)
{
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 131 + 7) & 0xFF);
    QByteArray nul("Url=http://h/a\nStoreIn=/d\nUrl=http://h/b\0x\nStoreIn=/d\n", 46);
    QByteArray endless = "http://h/a\nhttp://h/";
    endless += QByteArray(kMaxImportLine + 10, 'x');
    endless += "\nhttp://h/c\n";
    for (const auto& [name, bytes, added] : std::vector<std::tuple<std::string, QByteArray, int>>{
             {"bin.txt", binary, 0}, {"bin.grx", binary, 0}, {"bin.wrg", binary, 0}, {"nul.wrg", nul, 1},
             {"endless.txt", endless, 1}}) {
        doc.DeleteContents();
        const CImportResult r = Import(name, bytes);
        EXPECT_FALSE(r.ok) << name;
        EXPECT_EQ(std::pair(r.added, doc.GetCount()), std::pair(added, added)) << name;
    }
}

} // namespace
} // namespace zorv::test

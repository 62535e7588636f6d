// CZorvDoc: adding URLs, the pending queue, reordering and removing rows,
// the modified flag with automatic saving, and the title.
#include "model/adder.h"
#include "model/doc.h"
#include "support/items.h"
#include "support/tempsettings.h"

#include <gtest/gtest.h>

#include <chrono>

using zorv::CItem;
using zorv::CZorvDoc;
using zorv::test::ReadFileBytes;
using zorv::test::Rows;

namespace {

using DocTest = zorv::test::SettingsTest;
using V = std::vector<CItem*>;

// The new-URL command's add of one text (patterns expand); the number added.
int AddExpanded(CZorvDoc& doc, const std::string& url)
{
    return zorv::AddNewUrls(doc, {{url, {}, {}}}, "/d", 0, zorv::kNewUrlCommand).added;
}

// Adds n URLs http://h/0 … and returns them in list order.
V AddN(CZorvDoc& doc, int n)
{
    V items;
    for (int i = 0; i < n; ++i)
        items.push_back(doc.AddUrl("http://h/" + std::to_string(i), "", "/d", "", 0));
    return items;
}

TEST_F(DocTest, AddUrlTakesTheFirstLineAndRefusesOtherSchemes)
{
    settings.Options().DefaultDestination = "/def";
    settings.Options().DefaultFnameLevel = 1;
    CZorvDoc doc;
    // Text given, and the URL added with DefaultDestination and
    // DefaultFnameLevel (URL, destination, file name), or "refused".
    for (const auto& [text, want] : std::vector<std::pair<const char*, const char*>>{
             {"http://h/a/one.zip\r\nhttp://h/two.zip", "http://h/a/one.zip|/def/a|one.zip"},
             {"http://h/a/one.zip\nhttp://h/two.zip\r\n", "http://h/a/one.zip|/def/a|one.zip"},
             {"ftp://h/a/f.lzh\r", "ftp://h/a/f.lzh|/def/a|f.lzh"},
             // White space around the URL is dropped before the name is
             // derived; a blank inside stays.
             {" \thttp://h/a/x.zip \t", "http://h/a/x.zip|/def/a|x.zip"},
             {"http://h/a/a b.txt ", "http://h/a/a b.txt|/def/a|a b.txt"},
             {"http://h/a/x\x1b.zip", "refused"},
             {"\r\nhttp://h/a/late.zip", "refused"},
             {"mailto:a@b\r\nhttp://h/a/b.zip", "refused"},
             {"", "refused"}}) {
        CItem* item = doc.AddUrl(text, "", "", "", -1);
        EXPECT_EQ(item ? item->m_strUrl + "|" + item->m_strDestination + "|" + item->m_strFileName : "refused", want)
            << text;
        EXPECT_TRUE(!item || doc.PendingItems().back() == item) << text;
    }
    EXPECT_EQ(doc.GetCount(), 5);
    EXPECT_FALSE(doc.IsModified()); // AddUrl leaves marking to its callers

    // The same URL twice: two rows, two queue entries.
    EXPECT_NE(doc.AddUrl("http://h/same", "", "", "", 0), doc.AddUrl("http://h/same", "", "", "", 0));
    EXPECT_EQ(doc.GetItemCount(true), 7);
}

TEST_F(DocTest, QueueOperations)
{
    CZorvDoc doc;
    const auto it = AddN(doc, 5);
    EXPECT_EQ(doc.PopPending().get(), it[0]); // the head
    EXPECT_FALSE(doc.IsQueued(it[0]));

    // RemovePending: true once, false for an item that is not queued.
    EXPECT_TRUE(doc.RemovePending(it[2]));
    EXPECT_FALSE(doc.RemovePending(it[2]));
    EXPECT_FALSE(doc.RemovePending(it[0]));
    EXPECT_FALSE(doc.RemovePending(nullptr));
    EXPECT_EQ(doc.PendingItems(), (V{it[1], it[3], it[4]}));

    // InsertPending: before == item does nothing and answers true; before
    // queued → in front of it; before not queued → head; null → tail.
    EXPECT_TRUE(doc.InsertPending(it[3], it[3]));
    EXPECT_EQ(doc.PendingItems(), (V{it[1], it[3], it[4]}));
    EXPECT_FALSE(doc.InsertPending(it[4], it[2]));
    EXPECT_EQ(doc.PendingItems(), (V{it[1], it[3], it[2], it[4]}));
    EXPECT_FALSE(doc.InsertPending(it[0], it[4])); // it[0] is not queued; it[4] moves
    EXPECT_EQ(doc.PendingItems(), (V{it[4], it[1], it[3], it[2]}));
    EXPECT_FALSE(doc.InsertPending(nullptr, it[0]));
    EXPECT_EQ(doc.PendingItems(), (V{it[4], it[1], it[3], it[2], it[0]}));
    doc.QueuePending(it[1]); // already queued: no second entry
    EXPECT_EQ(doc.PendingItems().size(), 5u);

    // An item that is no longer in the list cannot be queued.
    auto kept = doc.GetItemPtr(3);
    doc.RemoveItems({3});
    EXPECT_FALSE(doc.IsQueued(kept.get()));
    doc.QueuePending(kept.get());
    EXPECT_FALSE(doc.InsertPending(nullptr, kept.get()));
    EXPECT_EQ(doc.GetItemCount(true), 4);

    doc.OnNewDocument(); // a new list empties the queue
    EXPECT_EQ(doc.GetItemCount(true), 0);
    EXPECT_EQ(doc.PopPending(), nullptr);
}

// A retry's wait: the item counts as queued but is not taken before its
// time; pausing, moving and leaving the queue keep the counts right, and a
// server's pause reaches only its own queued items.
TEST_F(DocTest, WaitingItemsStayQueuedUntilTheirTime)
{
    using namespace std::chrono_literals;
    CZorvDoc doc;
    const auto it = AddN(doc, 3);
    CItem* other = doc.AddUrl("http://elsewhere/x", "", "/d", "", 0);
    const auto now = CItem::RetryClock::now();
    doc.QueueRetry(it[0], now + 1h);
    EXPECT_EQ(doc.PendingItems(), (V{it[1], it[2], other, it[0]}));
    EXPECT_EQ(it[0]->GetColumnText(zorv::COL_STATE).substr(0, 15), "再試行まで");
    doc.DelayServer(CItem::ServerOf("HTTP://user@H:80/y"), now + 2h);
    EXPECT_EQ(doc.WaitingCount(), 3);
    EXPECT_EQ(doc.GetItemCount(true), 4); // waiting items count as queued
    EXPECT_EQ(doc.ReadyCount(), 1);
    doc.SetPaused(other, true);
    EXPECT_EQ(doc.ReadyCount(), 0);
    EXPECT_EQ(doc.PopPending(), nullptr);
    doc.SetPaused(other, false);
    doc.InsertPending(nullptr, it[1]); // a move keeps the wait
    EXPECT_EQ(doc.PopPending().get(), other);
    EXPECT_EQ(doc.ReadyCount(), 0);
    EXPECT_EQ(doc.NextRetry(), CItem::RetryClock::time_point(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   (now + 2h).time_since_epoch())));
    EXPECT_TRUE(doc.RemovePending(it[2])); // leaving the queue ends the wait
    EXPECT_EQ(it[2]->RetryWaitLeft().count(), 0);
    doc.QueuePending(it[2]);
    EXPECT_EQ(doc.PopPending().get(), it[2]);
    doc.QueueRetry(it[1], now); // a time passed: taken at once
    EXPECT_EQ(doc.PopPending().get(), it[1]);
    EXPECT_EQ(doc.WaitingCount(), 1);
    EXPECT_EQ(doc.GetItemCount(true), 1);
}

TEST_F(DocTest, ReorderKeepsTheQueueInListOrder)
{
    CZorvDoc doc;
    const auto it = AddN(doc, 6);
    doc.RemovePending(it[1]);
    doc.RemovePending(it[4]);
    doc.InsertPending(it[0], it[5]); // queue out of list order: 5 0 2 3

    doc.Reorder({5, 4, 3, 2, 1, 0});
    const V reversed{it[5], it[4], it[3], it[2], it[1], it[0]};
    EXPECT_EQ(Rows(doc), reversed);
    EXPECT_EQ(doc.PendingItems(), (V{it[5], it[3], it[2], it[0]}));
    EXPECT_EQ(doc.RowOf(it[0]), 5);

    // Not a permutation: nothing changes.
    for (const std::vector<int>& bad : {std::vector<int>{0, 1, 2}, std::vector<int>{0, 0, 1, 2, 3, 4}}) {
        doc.Reorder(bad);
        EXPECT_EQ(Rows(doc), reversed);
    }
}

// Few runs are announced one by one, many at once: both must leave the same
// list. Rows are given backwards, with a duplicate and rows out of range.
TEST_F(DocTest, RemoveItemsTakesRowsAndQueueEntries)
{
    for (const int n : {10, 300}) {
        CZorvDoc doc;
        const auto it = AddN(doc, n);
        std::vector<int> rows{1, -1, n};
        V kept;
        for (int r = n - 1; r >= 0; r -= 2) {
            rows.push_back(r);
            kept.insert(kept.begin(), it[size_t(r - 1)]);
        }
        const auto removed = doc.GetItemPtr(1);
        doc.RemoveItems(rows);
        EXPECT_EQ(Rows(doc), kept) << n;
        EXPECT_EQ(doc.PendingItems(), kept) << n;
        EXPECT_EQ(doc.RowOf(kept.back()), n / 2 - 1) << n;
        EXPECT_EQ(doc.RowOf(removed.get()), -1) << n;
        EXPECT_FALSE(doc.IsQueued(removed.get())) << n;
    }
}

TEST_F(DocTest, ModifiedMarkAndAutomaticSave)
{
    struct Watcher : zorv::IDocObserver {
        void OnTitleChanged() override { ++changes; }
        void OnAutoSaveFailed(const QString& error) override { failures << error; }
        int changes = 0;
        QStringList failures;
    } watch;
    const QString path = settings.Path(QStringLiteral("list.zorv"));
    CZorvDoc doc;
    doc.AddObserver(&watch);
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("無題"));

    // AutoSave off: marked, " *" in the title until saved.
    AddExpanded(doc, "http://h/a*1.3.1d*");
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("無題 *"));
    QString error;
    ASSERT_TRUE(doc.OnSaveDocument(path, &error)) << error.toStdString();
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("list.zorv"));

    // AutoSave on with a path: the first change is written at once and never
    // marked; a pattern run is written once, not once per URL.
    settings.Options().AutoSave = 1;
    doc.AutoSave().SetInterval(std::chrono::milliseconds(300));
    watch.changes = 0;
    EXPECT_EQ(AddExpanded(doc, "http://h/b*1.4.1d*"), 4);
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("list.zorv"));
    EXPECT_EQ(ReadFileBytes(path), doc.SaveToBytes());
    EXPECT_EQ(watch.changes, 1);

    // Changes within the interval wait as one save, written when it has
    // passed (or at once by Flush).
    for (int round = 0; round < 2; ++round) {
        const QByteArray before = ReadFileBytes(path);
        for (int i = 0; i < 3; ++i)
            AddExpanded(doc, "http://h/c" + std::to_string(round * 3 + i));
        EXPECT_EQ(doc.GetTitle(), QStringLiteral("list.zorv *"));
        EXPECT_TRUE(doc.AutoSave().Pending());
        EXPECT_EQ(ReadFileBytes(path), before); // nothing written yet
        if (round == 0)
            EXPECT_TRUE(doc.AutoSave().Flush());
        else
            EXPECT_TRUE(zorv::test::RunUntil([&] { return !doc.IsModified(); }, 5000));
        EXPECT_EQ(ReadFileBytes(path), doc.SaveToBytes());
        EXPECT_EQ(doc.GetTitle(), QStringLiteral("list.zorv"));
    }

    // AutoSave on without a path: only marked.
    CZorvDoc fresh;
    AddExpanded(fresh, "http://h/c");
    EXPECT_EQ(fresh.GetTitle(), QStringLiteral("無題 *"));

    // Failed automatic saves leave the list marked; the observers hear of a
    // run of failures once, and again after a save succeeded.
    const QByteArray onDisk = ReadFileBytes(path);
    doc.AutoSave().SetInterval(std::chrono::milliseconds(0));
    doc.SetPathName(settings.Path(QStringLiteral("no/such/folder/list.zorv")));
    for (int i = 0; i < 2; ++i)
        AddExpanded(doc, "http://h/d" + std::to_string(i));
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("list.zorv *"));
    ASSERT_EQ(watch.failures.size(), 1);
    EXPECT_TRUE(watch.failures[0].contains(QStringLiteral("no/such/folder/list.zorv"))) << watch.failures[0].toStdString();
    EXPECT_EQ(doc.AutoSave().LastError(), watch.failures[0]);
    EXPECT_EQ(ReadFileBytes(path), onDisk);
    doc.SetPathName(path);
    AddExpanded(doc, "http://h/e");
    EXPECT_FALSE(doc.IsModified());
    doc.SetPathName(settings.Path(QStringLiteral("no/such/folder/list.zorv")));
    AddExpanded(doc, "http://h/f");
    EXPECT_EQ(watch.failures.size(), 2);
    doc.RemoveObserver(&watch);
}

// With AutoSave on, opening another list (that opens or not) or closing the
// list never writes the list being left.
TEST_F(DocTest, OpeningAnotherListLeavesThePreviousFileUnchanged)
{
    settings.Options().AutoSave = 1;
    const QString first = settings.Path(QStringLiteral("first.zorv"));
    const QString damaged = settings.Path(QStringLiteral("damaged.zorv"));
    ASSERT_TRUE(zorv::test::WriteFileBytes(damaged, QByteArray("\x05\x00\x00\x00", 4)));
    CZorvDoc doc;
    AddN(doc, 3);
    ASSERT_TRUE(doc.OnSaveDocument(first, nullptr));
    const QByteArray saved = ReadFileBytes(first);
    EXPECT_FALSE(doc.OnOpenDocument(damaged, nullptr));
    ASSERT_TRUE(doc.OnOpenDocument(first, nullptr));
    doc.OnCloseDocument();
    EXPECT_EQ(doc.GetCount(), 0);
    EXPECT_EQ(ReadFileBytes(first), saved);
    EXPECT_EQ(ReadFileBytes(damaged), QByteArray("\x05\x00\x00\x00", 4));
}

} // namespace

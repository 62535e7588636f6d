// CZorvDoc: adding URLs, the pending queue, reordering and removing rows,
// the modified flag with automatic saving, and the title.
#include "model/doc.h"
#include "support/tempsettings.h"

#include <gtest/gtest.h>

using zorv::CItem;
using zorv::CZorvDoc;
using zorv::test::ReadFileBytes;

namespace {

using DocTest = zorv::test::SettingsTest;

class TitleWatcher : public zorv::IDocObserver {
public:
    void OnTitleChanged() override { ++titleChanges; }
    int titleChanges = 0;
};

std::vector<CItem*> Rows(const CZorvDoc& doc)
{
    std::vector<CItem*> rows;
    for (int i = 0; i < doc.GetCount(); ++i)
        rows.push_back(doc.GetItem(i));
    return rows;
}

// Adds n URLs http://h/0 … and returns them in list order.
std::vector<CItem*> AddN(CZorvDoc& doc, int n)
{
    std::vector<CItem*> items;
    for (int i = 0; i < n; ++i)
        items.push_back(doc.AddUrl("http://h/" + std::to_string(i), "", "/d", "", 0));
    return items;
}

TEST_F(DocTest, AddUrlTakesTheFirstLineAndRefusesOtherSchemes)
{
    settings.Options().DefaultDestination = "/def";
    settings.Options().DefaultFnameLevel = 1;
    CZorvDoc doc;
    const struct {
        const char* text;
        const char* url; // null: refused
    } cases[] = {
        {"http://h/a/one.zip\r\nhttp://h/two.zip", "http://h/a/one.zip"},
        {"http://h/a/one.zip\nhttp://h/two.zip\r\n", "http://h/a/one.zip"},
        {"https://h/a/s.zip", "https://h/a/s.zip"},
        {"ftp://h/a/f.lzh\r", "ftp://h/a/f.lzh"},
        {"\r\nhttp://h/a/late.zip", nullptr},
        {"mailto:a@b\r\nhttp://h/a/b.zip", nullptr},
        {"file:///etc/passwd", nullptr},
        {"h/a/noscheme.zip", nullptr},
        {"", nullptr},
    };
    int rows = 0;
    for (const auto& c : cases) {
        CItem* item = doc.AddUrl(c.text, "", "", "", -1);
        if (!c.url) {
            EXPECT_EQ(item, nullptr) << c.text;
            EXPECT_EQ(doc.GetCount(), rows) << c.text;
            EXPECT_EQ(doc.GetItemCount(true), rows) << c.text;
            continue;
        }
        ASSERT_NE(item, nullptr) << c.text;
        ++rows;
        EXPECT_EQ(item->m_strUrl, c.url);
        EXPECT_EQ(item->m_strDestination, "/def/a"); // DefaultDestination, DefaultFnameLevel
        EXPECT_EQ(item->GetState(), zorv::STATE_NOT_FETCHED);
        EXPECT_EQ(doc.RowOf(item), rows - 1);
        EXPECT_EQ(doc.PendingItems().back(), item);
    }
    EXPECT_EQ(doc.GetCount(), rows);
    EXPECT_FALSE(doc.IsModified()); // AddUrl leaves marking to its callers

    // The same URL twice: two rows, two queue entries.
    CItem* a = doc.AddUrl("http://h/same", "", "", "", 0);
    CItem* b = doc.AddUrl("http://h/same", "", "", "", 0);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(doc.GetCount(), rows + 2);
    EXPECT_EQ(doc.GetItemCount(true), rows + 2);
}

TEST_F(DocTest, QueueOperations)
{
    CZorvDoc doc;
    const auto it = AddN(doc, 5);
    using V = std::vector<CItem*>;
    ASSERT_EQ(doc.PendingItems(), Rows(doc));

    // PopPending takes the head.
    EXPECT_EQ(doc.PopPending().get(), it[0]);
    EXPECT_EQ(doc.GetItemCount(true), 4);
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
    EXPECT_TRUE(doc.InsertPending(it[2], it[2]));
    EXPECT_EQ(doc.PendingItems(), (V{it[1], it[3], it[4]}));
    EXPECT_FALSE(doc.InsertPending(it[4], it[2]));
    EXPECT_EQ(doc.PendingItems(), (V{it[1], it[3], it[2], it[4]}));
    EXPECT_FALSE(doc.InsertPending(it[0], it[4])); // it[0] is not queued; it[4] moves
    EXPECT_EQ(doc.PendingItems(), (V{it[4], it[1], it[3], it[2]}));
    EXPECT_FALSE(doc.InsertPending(nullptr, it[0]));
    EXPECT_EQ(doc.PendingItems(), (V{it[4], it[1], it[3], it[2], it[0]}));
    EXPECT_EQ(doc.GetItemCount(true), 5);

    // Queueing a queued item never makes a second entry.
    doc.QueuePending(it[1]);
    EXPECT_EQ(doc.GetItemCount(true), 5);
    EXPECT_EQ(doc.PendingItems().size(), 5u);

    // An item that is no longer in the list cannot be queued.
    auto kept = doc.GetItemPtr(3);
    doc.RemoveItems({3});
    EXPECT_FALSE(doc.IsQueued(kept.get()));
    doc.QueuePending(kept.get());
    EXPECT_FALSE(doc.InsertPending(nullptr, kept.get()));
    EXPECT_EQ(doc.GetItemCount(true), 4);

    // A new list empties the queue.
    doc.OnNewDocument();
    EXPECT_EQ(doc.GetItemCount(true), 0);
    EXPECT_EQ(doc.GetItemCount(false), 0);
    EXPECT_EQ(doc.PopPending(), nullptr);
}

TEST_F(DocTest, ReorderKeepsTheQueueInListOrder)
{
    CZorvDoc doc;
    const auto it = AddN(doc, 6);
    doc.RemovePending(it[1]);
    doc.RemovePending(it[4]);
    doc.InsertPending(it[0], it[5]); // queue out of list order: 5 0 2 3

    doc.Reorder({5, 4, 3, 2, 1, 0});
    EXPECT_EQ(Rows(doc), (std::vector<CItem*>{it[5], it[4], it[3], it[2], it[1], it[0]}));
    EXPECT_EQ(doc.PendingItems(), (std::vector<CItem*>{it[5], it[3], it[2], it[0]}));
    for (int r = 0; r < 6; ++r)
        EXPECT_EQ(doc.RowOf(doc.GetItem(r)), r);

    // Not a permutation: nothing changes.
    for (const std::vector<int>& bad : {std::vector<int>{0, 1, 2}, std::vector<int>{0, 0, 1, 2, 3, 4},
                                        std::vector<int>{0, 1, 2, 3, 4, 6}}) {
        doc.Reorder(bad);
        EXPECT_EQ(Rows(doc), (std::vector<CItem*>{it[5], it[4], it[3], it[2], it[1], it[0]}));
    }
}

TEST_F(DocTest, RemoveItemsTakesRowsAndQueueEntries)
{
    // Few runs are announced one by one, many at once: both must leave the
    // same list.
    for (const int n : {10, 300}) {
        CZorvDoc doc;
        const auto it = AddN(doc, n);
        std::vector<int> rows;
        for (int r = n - 1; r >= 0; r -= 2) // every second row, given backwards
            rows.push_back(r);
        rows.push_back(1);  // duplicate
        rows.push_back(-1); // out of range
        rows.push_back(n);
        auto removed = doc.GetItemPtr(1);
        doc.RemoveItems(rows);
        ASSERT_EQ(doc.GetCount(), n / 2) << n;
        for (int r = 0; r < doc.GetCount(); ++r) {
            EXPECT_EQ(doc.GetItem(r), it[static_cast<size_t>(2 * r)]) << n;
            EXPECT_EQ(doc.RowOf(doc.GetItem(r)), r) << n;
        }
        EXPECT_EQ(doc.PendingItems(), Rows(doc)) << n;
        EXPECT_EQ(doc.GetItemCount(true), n / 2) << n;
        EXPECT_EQ(doc.RowOf(removed.get()), -1) << n;
        EXPECT_FALSE(doc.IsQueued(removed.get())) << n;
    }
}

TEST_F(DocTest, ModifiedMarkAndAutomaticSave)
{
    const QString path = settings.Path(QStringLiteral("list.zorv"));
    CZorvDoc doc;
    TitleWatcher watch;
    doc.AddObserver(&watch);
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("無題"));

    // AutoSave off: marked, " *" in the title until saved.
    doc.AddUrlExpanded("http://h/a*1.3.1d*", "/d", "", "", 0);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("無題 *"));
    QString error;
    ASSERT_TRUE(doc.OnSaveDocument(path, &error)) << error.toStdString();
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("list.zorv"));
    doc.SetModifiedFlag(true);
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("list.zorv *"));
    doc.SetModifiedFlag(false);
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("list.zorv"));

    // AutoSave on with a path: written at once, never marked; a pattern run
    // is written once, not once per URL.
    settings.Options().AutoSave = 1;
    watch.titleChanges = 0;
    EXPECT_EQ(doc.AddUrlExpanded("http://h/b*1.4.1d*", "/d", "", "", 0), 4);
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("list.zorv"));
    EXPECT_EQ(ReadFileBytes(path), doc.SaveToBytes());
    EXPECT_EQ(doc.GetCount(), 7);
    EXPECT_EQ(watch.titleChanges, 1);

    // AutoSave on without a path: only marked.
    CZorvDoc fresh;
    fresh.AddUrlExpanded("http://h/c", "/d", "", "", 0);
    EXPECT_TRUE(fresh.IsModified());
    EXPECT_EQ(fresh.GetTitle(), QStringLiteral("無題 *"));

    // A failed automatic save leaves the list marked, and the title says so.
    const QByteArray onDisk = ReadFileBytes(path);
    doc.SetPathName(settings.Path(QStringLiteral("no/such/folder/list.zorv")));
    watch.titleChanges = 0;
    doc.AddUrlExpanded("http://h/d", "/d", "", "", 0);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("list.zorv *"));
    EXPECT_GE(watch.titleChanges, 1);
    EXPECT_FALSE(doc.LastAutoSaveError().isEmpty());
    EXPECT_EQ(ReadFileBytes(path), onDisk);
    doc.RemoveObserver(&watch);
}

// Opening another list with AutoSave on never writes the list being left,
// whether the new one opens or not.
TEST_F(DocTest, OpeningAnotherListLeavesThePreviousFileUnchanged)
{
    settings.Options().AutoSave = 1;
    const QString first = settings.Path(QStringLiteral("first.zorv"));
    const QString second = settings.Path(QStringLiteral("second.zorv"));
    const QString damaged = settings.Path(QStringLiteral("damaged.zorv"));
    QString error;
    {
        CZorvDoc other;
        other.AddUrl("http://h/second", "", "/d", "", 0);
        ASSERT_TRUE(other.OnSaveDocument(second, &error));
    }
    ASSERT_TRUE(zorv::test::WriteFileBytes(damaged, QByteArray("\x05\x00\x00\x00", 4)));

    CZorvDoc doc;
    AddN(doc, 3);
    ASSERT_TRUE(doc.OnSaveDocument(first, &error));
    const QByteArray saved = ReadFileBytes(first);

    ASSERT_TRUE(doc.OnOpenDocument(second, &error)) << error.toStdString();
    EXPECT_EQ(doc.GetCount(), 1);
    EXPECT_EQ(doc.GetPathName(), second);
    EXPECT_EQ(ReadFileBytes(first), saved);

    ASSERT_TRUE(doc.OnOpenDocument(first, &error));
    EXPECT_FALSE(doc.OnOpenDocument(damaged, &error));
    EXPECT_EQ(ReadFileBytes(first), saved);
    EXPECT_EQ(ReadFileBytes(damaged), QByteArray("\x05\x00\x00\x00", 4));
    EXPECT_FALSE(doc.IsModified());

    // Closing a list does not save it either.
    ASSERT_TRUE(doc.OnOpenDocument(first, &error));
    doc.OnCloseDocument();
    EXPECT_EQ(doc.GetCount(), 0);
    EXPECT_EQ(ReadFileBytes(first), saved);
    EXPECT_EQ(settings.Options().AutoSave, 1);
}

} // namespace

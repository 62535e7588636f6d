// The list view: columns, selection text, the item commands through their
// actions, keys, header clicks and the Ctrl+wheel, the context menu,
// clipboard monitoring and the progress shown while fetching.
#include "window.h"

#include "settings/options.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QMenu>
#include <QTimer>
#include <QWheelEvent>

namespace zorv::test {
namespace {

class ViewTest : public WindowTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Start());
        Fill("ABCDE");
        Doc().SetModifiedFlag(false);
    }
    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(View().viewport()->parentWidget(), static_cast<Qt::Key>(key), mods);
    }
    void Wheel(int delta, Qt::KeyboardModifiers mods = Qt::ControlModifier)
    {
        const QPointF pos(20, 20);
        QWheelEvent e(pos, View().viewport()->mapToGlobal(pos), QPoint(), QPoint(0, delta),
                      Qt::NoButton, mods, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(View().viewport(), &e);
    }
    void ClickHeader(int column)
    {
        QHeaderView* header = View().horizontalHeader();
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, 5));
    }
    void SetClipboard(const QString& text) { QGuiApplication::clipboard()->setText(text); }
};

TEST_F(ViewTest, ShowsSixColumnsWithTheirTitlesAndTexts)
{
    const QStringList titles{"URL", "状態", "補足", "ローカルパス", "ファイル名", "Referer"};
    CListModel& model = View().Model();
    ASSERT_EQ(model.columnCount(), 6);
    for (int c = 0; c < 6; ++c)
        EXPECT_EQ(model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), titles[c]);
    CItem* b = Doc().GetItem(1);
    b->m_strReferer = "http://ref/";
    b->SetNote("404 Not Found");
    b->SetState(STATE_FAILED);
    Doc().UpdateItem(b);
    const QStringList row{"http://host/B", "取得失敗", "404 Not Found", settings.Dir(), "B", "http://ref/"};
    for (int c = 0; c < 6; ++c)
        EXPECT_EQ(model.index(1, c).data().toString(), row[c]) << c;
    EXPECT_EQ(View().selectionMode(), QAbstractItemView::ExtendedSelection);
}

TEST_F(ViewTest, SelectionCountFollowsEveryChange)
{
    EXPECT_EQ(Frame().PaneText(0), QStringLiteral("5個中0個選択中"));
    View().selectRow(1);
    EXPECT_EQ(Frame().PaneText(0), QStringLiteral("5個中1個選択中"));
    View().selectionModel()->select(View().Model().index(3, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(Frame().PaneText(0), QStringLiteral("5個中2個選択中"));
    Fill("F");
    EXPECT_EQ(Frame().PaneText(0), QStringLiteral("6個中2個選択中"));
}

TEST_F(ViewTest, DeleteKeyDeletesTheSelectedRows)
{
    Activate();
    Select("BD");
    Key(Qt::Key_Delete);
    EXPECT_EQ(Names(), "ACE");
    EXPECT_EQ(Doc().GetItemCount(true), 3);
    EXPECT_TRUE(Doc().IsModified());
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("無題 * - zorv"));
    EXPECT_EQ(Frame().PaneText(0), QStringLiteral("3個中0個選択中"));
    // Nothing selected: the command is disabled and the key does nothing.
    Key(Qt::Key_Delete);
    EXPECT_EQ(Names(), "ACE");
}

TEST_F(ViewTest, ResetMovesFetchedItemsToTheBottomAndQueuesThem)
{
    for (int r : {0, 2}) {
        Doc().RemovePending(Doc().GetItem(r));
        Doc().GetItem(r)->SetState(STATE_FETCHED);
        Doc().GetItem(r)->SetNote("done");
    }
    Select("AC");
    Run(res::ID_EDIT_RESET);
    EXPECT_EQ(Names(), "BDEAC");
    EXPECT_EQ(View().Model().index(3, COL_STATE).data().toString(), QStringLiteral("未取得"));
    EXPECT_EQ(View().Model().index(3, COL_NOTE).data().toString(), QString());
    EXPECT_EQ(SelectedNames(), "") << "reset rows are not selected";
    std::string queue;
    for (CItem* item : Doc().PendingItems())
        queue += item->m_strFileName;
    EXPECT_EQ(queue, "BDEAC");
    EXPECT_TRUE(Doc().IsModified());
}

TEST_F(ViewTest, MoveKeysMoveTheSelectionAndItFollows)
{
    Activate();
    Select("BC");
    Key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(Names(), "ADBCE");
    EXPECT_EQ(SelectedNames(), "BC");
    Key(Qt::Key_Up, Qt::ControlModifier);
    Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Names(), "BCADE");
    EXPECT_TRUE(Doc().IsModified());

    Select("BD");
    Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(Names(), "CAEBD");
    EXPECT_EQ(SelectedNames(), "BD");
    Key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(Names(), "BDCAE");
    EXPECT_EQ(SelectedNames(), "BD");
    // The queue keeps list order through the moves.
    std::string queue;
    for (CItem* item : Doc().PendingItems())
        queue += item->m_strFileName;
    EXPECT_EQ(queue, "BDCAE");
}

TEST_F(ViewTest, CtrlWheelMovesByWholeNotches)
{
    Select("D");
    Wheel(240); // two notches away from the user: two rows up
    EXPECT_EQ(Names(), "ADBCE");
    Wheel(60);
    EXPECT_EQ(Names(), "ADBCE") << "half a notch waits";
    Wheel(60);
    EXPECT_EQ(Names(), "DABCE");
    Wheel(-120); // towards the user: one down
    EXPECT_EQ(Names(), "ADBCE");
    EXPECT_EQ(SelectedNames(), "D");
    Wheel(-120, Qt::NoModifier); // without Ctrl the wheel only scrolls
    EXPECT_EQ(Names(), "ADBCE");
}

TEST_F(ViewTest, SelectAllAndInvert)
{
    Activate();
    Key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(SelectedNames(), "ABCDE");
    Select("AC");
    Run(res::ID_EDIT_INVERT_SELECTION);
    EXPECT_EQ(SelectedNames(), "BDE");
    EXPECT_EQ(Frame().PaneText(0), QStringLiteral("5個中3個選択中"));
}

TEST_F(ViewTest, HeaderClicksSortAscendingDescendingAscending)
{
    // File names run against the URL order so the keys can be told apart.
    const char* names[] = {"5", "4", "3", "2", "1"};
    for (int r = 0; r < 5; ++r) {
        Doc().GetItem(r)->m_strFileName = names[r];
        Doc().GetItem(r)->m_strReferer = std::string("ref") + static_cast<char>('a' + (r * 2) % 5);
    }
    auto urls = [&] {
        std::string out;
        for (int r = 0; r < Doc().GetCount(); ++r)
            out += Doc().GetItem(r)->m_strUrl.back();
        return out;
    };
    ClickHeader(COL_URL);
    EXPECT_EQ(urls(), "ABCDE");
    ClickHeader(COL_URL);
    EXPECT_EQ(urls(), "EDCBA");
    ClickHeader(COL_URL);
    EXPECT_EQ(urls(), "ABCDE");
    EXPECT_TRUE(Doc().IsModified());

    // "Referer順" orders by the file name; the Referer header by the referrer.
    Run(res::ID_SORT_REFERER);
    EXPECT_EQ(urls(), "EDCBA");
    ClickHeader(COL_REFERER); // refa A, refc B, refe C, refb D, refd E
    EXPECT_EQ(urls(), "ADBEC");

    Doc().RemovePending(Doc().GetItem(2));
    Doc().GetItem(2)->SetState(STATE_FAILED);
    ClickHeader(COL_STATE);
    EXPECT_EQ(urls().back(), 'B') << "failed (2) after not fetched (0)";
}

TEST_F(ViewTest, RandomSortKeepsEveryRowAndTheQueueInOrder)
{
    Fill("FGHIJKLMNOPQRSTUVWXYZ");
    Select("CX");
    Run(res::ID_SORT_RANDOM);
    std::string names = Names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(SelectedNames().size(), 2u);
    std::vector<CItem*> rows;
    for (int r = 0; r < Doc().GetCount(); ++r)
        rows.push_back(Doc().GetItem(r));
    EXPECT_EQ(Doc().PendingItems(), rows);
}

TEST_F(ViewTest, ContextMenuIsTheEditMenuWithItsRules)
{
    QMenu* shown = nullptr;
    bool deleteEnabled = true;
    QTimer::singleShot(50, [&] {
        shown = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        deleteEnabled = Act(res::ID_EDIT_DELETE).isEnabled();
        if (shown)
            shown->close();
    });
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(30, 30), View().viewport()->mapToGlobal(QPoint(30, 30)));
    QCoreApplication::sendEvent(View().viewport(), &e);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown, Frame().EditMenu());
    EXPECT_EQ(shown->title(), QStringLiteral("編集(&E)"));
    EXPECT_FALSE(deleteEnabled) << "nothing selected";
}

TEST_F(ViewTest, NoHandlerKeysAreTakenWithoutEffect)
{
    Activate();
    Select("B");
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    Key(Qt::Key_C, Qt::ControlModifier);
    Key(Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
}

TEST_F(ViewTest, ClipboardIsCapturedOnlyWhileMonitoring)
{
    SetClipboard(QStringLiteral("http://host/off"));
    EXPECT_EQ(Doc().GetCount(), 5) << "monitoring starts off";

    SetClipboard(QStringLiteral("http://host/present"));
    Run(res::ID_MONITOR_CLIPBOARD);
    EXPECT_TRUE(View().IsMonitoringClipboard());
    Frame().UpdateCommandUI();
    EXPECT_TRUE(Act(res::ID_MONITOR_CLIPBOARD).isChecked());
    EXPECT_EQ(Doc().GetCount(), 5) << "switching on does not read what is there";

    SetClipboard(QStringLiteral("http://host/one\r\nno url here\nftp://host/two\n"));
    ASSERT_EQ(Doc().GetCount(), 7);
    EXPECT_EQ(Doc().GetItem(5)->m_strUrl, "http://host/one");
    EXPECT_EQ(Doc().GetItem(6)->m_strUrl, "ftp://host/two");
    EXPECT_TRUE(Doc().IsQueued(Doc().GetItem(5)));
    EXPECT_TRUE(Doc().IsQueued(Doc().GetItem(6)));
    EXPECT_TRUE(Doc().IsModified());

    // The same URL again is added again.
    SetClipboard(QStringLiteral("x"));
    SetClipboard(QStringLiteral("http://host/one"));
    EXPECT_EQ(Doc().GetCount(), 8);

    // Nothing while a dialog of the view runs.
    {
        CZorvView::CDialogScope dialog(View());
        SetClipboard(QStringLiteral("http://host/in-dialog"));
    }
    EXPECT_EQ(Doc().GetCount(), 8);

    Run(res::ID_MONITOR_CLIPBOARD);
    SetClipboard(QStringLiteral("http://host/after"));
    EXPECT_EQ(Doc().GetCount(), 8);
}

TEST_F(ViewTest, ClipboardWithoutAUrlLeavesTheListUnmodified)
{
    Run(res::ID_MONITOR_CLIPBOARD);
    SetClipboard(QStringLiteral("just some words\nand more"));
    EXPECT_EQ(Doc().GetCount(), 5);
    EXPECT_FALSE(Doc().IsModified());
}

TEST_F(ViewTest, NoteColumnCarriesTheProgressOfAFetchingItem)
{
    CItem* c = Doc().GetItem(2);
    Doc().RemovePending(c);
    c->SetState(STATE_FETCHING);
    c->SetNote("2500/10000");
    const QModelIndex note = View().Model().index(2, COL_NOTE);
    EXPECT_DOUBLE_EQ(note.data(CListModel::ProgressRole).toDouble(), 0.25);
    EXPECT_EQ(note.data().toString(), QStringLiteral("2500/10000"));
    EXPECT_FALSE(View().Model().index(2, COL_URL).data(CListModel::ProgressRole).isValid());
    c->SetNote("2500"); // size unknown: no bar
    EXPECT_FALSE(note.data(CListModel::ProgressRole).isValid());
    c->SetNote("2500/10000");
    c->SetState(STATE_FAILED);
    EXPECT_FALSE(note.data(CListModel::ProgressRole).isValid());
    // Painting the cell with a bar works offscreen as on a screen.
    c->SetState(STATE_FETCHING);
    QPixmap image(View().size());
    View().render(&image);
}

} // namespace
} // namespace zorv::test

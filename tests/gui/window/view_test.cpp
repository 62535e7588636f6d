// The list view: columns, selection text, the item commands through their
// keys, actions, header clicks and the Ctrl+wheel, the context menu, the
// row focus frame, clipboard monitoring and the progress shown while fetching.
#include "window.h"

#include "support/dbusmock.h"
#include "view/statemark.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusMessage>
#include <QHeaderView>
#include <QMenu>
#include <QProxyStyle>
#include <QStatusTipEvent>
#include <QTimer>
#include <QWheelEvent>

#include <cmath>
#include <functional>

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
    std::string Urls() { return UrlEnds(Doc()); }
};

TEST_F(ViewTest, ShowsTheSixFieldsAndTheSelectionCountUnlessAPromptIsShown)
{
    CListModel& model = View().Model();
    ASSERT_EQ(model.columnCount(), 6);
    CItem* b = Doc().GetItem(1);
    b->m_strReferer = "http://ref/";
    b->SetNote("404 Not Found");
    b->SetState(STATE_FAILED);
    Doc().UpdateItem(b);
    const QStringList row{"http://host/B", "取得失敗", "404 Not Found", settings.Dir(), "B", "http://ref/"};
    for (int c = 0; c < 6; ++c)
        EXPECT_EQ(model.index(1, c).data().toString(), row[c]) << c;

    Select("BD");
    Fill("F");
    EXPECT_EQ(Frame().PaneText(0), QStringLiteral("6個中2個選択中"));
    // A menu prompt takes the pane while shown; the selection text comes back.
    QStatusTipEvent show(Act(res::ID_EDIT_DELETE).statusTip());
    QCoreApplication::sendEvent(&Frame(), &show);
    EXPECT_TRUE(Frame().PaneText(0) == show.tip() && !show.tip().isEmpty());
    QStatusTipEvent clear{QString()};
    QCoreApplication::sendEvent(&Frame(), &clear);
    EXPECT_EQ(Frame().PaneText(0), QStringLiteral("6個中2個選択中"));
}

TEST_F(ViewTest, KeysReachTheCommandsAndTheSelectionFollows)
{
    Activate();
    const struct {
        const char* select;
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        const char* names;
        const char* selected;
    } steps[] = {
        {"C", Qt::Key_Home, Qt::NoModifier, "ABCDE", "A"}, // the first row
        {"C", Qt::Key_End, Qt::NoModifier, "ABCDE", "E"},  // the last row
        {"", Qt::Key_A, Qt::ControlModifier, "ABCDE", "ABCDE"},
        {"BC", Qt::Key_Down, Qt::ControlModifier, "ADBCE", "BC"},
        {"BC", Qt::Key_Up, Qt::ControlModifier, "ABCDE", "BC"},
        {"BC", Qt::Key_Up, Qt::ControlModifier, "BCADE", "BC"},
        {"BD", Qt::Key_End, Qt::ControlModifier, "CAEBD", "BD"},
        {"BD", Qt::Key_Home, Qt::ControlModifier, "BDCAE", "BD"},
        {"BD", Qt::Key_Delete, Qt::NoModifier, "CAE", ""},
        {"", Qt::Key_Delete, Qt::NoModifier, "CAE", ""}, // nothing selected: disabled
    };
    for (const auto& s : steps) {
        Select(s.select);
        if (const std::vector<int> rows = View().SelectedRows(); !rows.empty()) // as a click leaves it
            View().selectionModel()->setCurrentIndex(View().Model().index(rows[0], 0), QItemSelectionModel::NoUpdate);
        QTest::keyClick(&View(), s.key, s.mods);
        EXPECT_EQ(Names(), s.names) << s.key;
        EXPECT_EQ(SelectedNames(), s.selected) << s.key;
    }
    EXPECT_EQ(Doc().GetItemCount(true), 3);
    EXPECT_TRUE(Doc().IsModified());

    // The actions without keys.
    Select("A");
    Run(res::ID_EDIT_INVERT_SELECTION);
    EXPECT_EQ(SelectedNames(), "CE");
    Doc().RemovePending(Doc().GetItem(2));
    Doc().GetItem(2)->SetState(STATE_FETCHED);
    Run(res::ID_EDIT_RESET);
    EXPECT_EQ(Names(), "ACE") << "reset rows go to the bottom";
    EXPECT_EQ(SelectedNames(), "") << "and are not selected";
}

TEST_F(ViewTest, CtrlWheelMovesByWholeNotches)
{
    Select("D");
    Wheel(240); // two notches away from the user: two rows up
    EXPECT_EQ(Names(), "ADBCE");
    Wheel(-60);
    Wheel(-60); // towards the user, two halves: one down
    EXPECT_EQ(Names(), "ABDCE");
    EXPECT_EQ(SelectedNames(), "D");
    Wheel(-120, Qt::NoModifier); // without Ctrl the wheel only scrolls
    EXPECT_EQ(Names(), "ABDCE");
}

TEST_F(ViewTest, HeaderClicksAndSortMenusReachTheSort)
{
    // File names run against the URL order so the keys can be told apart.
    for (int r = 0; r < 5; ++r) {
        Doc().GetItem(r)->m_strFileName = std::to_string(5 - r);
        Doc().GetItem(r)->m_strReferer = std::string("ref") + static_cast<char>('a' + (r * 2) % 5);
    }
    for (const char* expected : {"ABCDE", "EDCBA", "ABCDE"}) {
        ClickHeader(COL_URL);
        EXPECT_EQ(Urls(), expected);
    }
    EXPECT_TRUE(Doc().IsModified());
    // "Referer順" orders by the file name; the Referer header by the referrer.
    Run(res::ID_SORT_REFERER);
    EXPECT_EQ(Urls(), "EDCBA");
    ClickHeader(COL_REFERER); // refa A, refc B, refe C, refb D, refd E
    EXPECT_EQ(Urls(), "ADBEC");

    Fill("FGHIJKLMNOPQRSTUVWXYZ"); // the shuffle's own rules are the core test's
    Run(res::ID_SORT_RANDOM);
    EXPECT_NE(Urls(), "ADBECFGHIJKLMNOPQRSTUVWXYZ");
}

// The right button and Shift+F10 both open the Edit menu; from the keyboard
// it opens under the current row.
TEST_F(ViewTest, ContextMenuIsTheEditMenuWithItsRules)
{
    Activate();
    View().setCurrentIndex(View().Model().index(2, 1));
    View().clearSelection();
    const QRect row = View().visualRect(View().Model().index(2, 0));
    for (const bool keyboard : {false, true}) {
        QMenu* shown = nullptr;
        QPoint at;
        bool deleteEnabled = true;
        QTimer::singleShot(50, [&] {
            shown = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            deleteEnabled = Act(res::ID_EDIT_DELETE).isEnabled();
            if (shown) {
                at = shown->pos();
                shown->close();
            }
        });
        const QPoint mouse(30, 30);
        if (keyboard) {
            QTest::keyClick(&View(), Qt::Key_F10, Qt::ShiftModifier);
        } else {
            QContextMenuEvent e(QContextMenuEvent::Mouse, mouse, View().viewport()->mapToGlobal(mouse));
            QCoreApplication::sendEvent(View().viewport(), &e);
        }
        ASSERT_NE(shown, nullptr) << keyboard;
        EXPECT_EQ(shown, Frame().EditMenu());
        EXPECT_FALSE(deleteEnabled) << "nothing selected";
        EXPECT_EQ(at, View().viewport()->mapToGlobal(keyboard ? row.bottomLeft() : mouse)) << keyboard;
    }
}

// Records the focus frames a view's painting asks the style for.
class CFocusFrameRecorder : public QProxyStyle {
public:
    mutable std::vector<QRect> frames;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        if (element == PE_FrameFocusRect)
            frames.push_back(option->rect);
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

TEST_F(ViewTest, FocusFrameMarksTheWholeCurrentRow)
{
    Activate();
    auto* recorder = new CFocusFrameRecorder; // owned by the application once set
    View().setStyle(recorder);
    View().setCurrentIndex(View().Model().index(3, 2));
    QPixmap image(View().size());
    View().render(&image);
    const QRect first = View().visualRect(View().Model().index(3, 0));
    const QRect last = View().visualRect(View().Model().index(3, COL_REFERER));
    ASSERT_EQ(recorder->frames.size(), 1u);
    EXPECT_EQ(recorder->frames[0], first.united(last));
    View().setStyle(nullptr);
}

TEST_F(ViewTest, ClipboardIsCapturedOnlyWhileMonitoring)
{
    SetClipboard(QStringLiteral("http://host/off"));
    EXPECT_EQ(Doc().GetCount(), 5) << "monitoring starts off";
    SetClipboard(QStringLiteral("http://host/present"));
    Run(res::ID_MONITOR_CLIPBOARD);
    Frame().UpdateCommandUI();
    EXPECT_TRUE(Act(res::ID_MONITOR_CLIPBOARD).isChecked());
    EXPECT_EQ(Doc().GetCount(), 5) << "switching on does not read what is there";
    SetClipboard(QStringLiteral("just some words\nand more"));
    EXPECT_FALSE(Doc().IsModified()) << "no URL: the list is left alone";

    SetClipboard(QStringLiteral("http://host/one\r\nno url here\nftp://host/two\n"));
    EXPECT_EQ(UrlsFrom(5), (std::vector<std::string>{"http://host/one", "ftp://host/two"}));
    EXPECT_EQ(Doc().GetItemCount(true), 7);
    // (Nothing is captured while a dialog of the view runs: the URL dialog's test.)
    Run(res::ID_MONITOR_CLIPBOARD);
    SetClipboard(QStringLiteral("http://host/after"));
    EXPECT_EQ(Doc().GetCount(), 7);
}

// Ctrl+C and Ctrl+Insert copy the selected rows' URLs; Ctrl+V and
// Shift+Insert add the clipboard's URLs as a capture does, each file once.
// Under monitoring the list's own copy is not taken back.
TEST_F(ViewTest, CopyAndPasteCarryURLs)
{
    Options().DefaultDestination = settings.Dir().toStdString();
    Activate();
    Run(res::ID_MONITOR_CLIPBOARD);
    Select("BD");
    QTest::keyClick(&View(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("http://host/B\nhttp://host/D"));
    Select("A");
    QTest::keyClick(&View(), Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("http://host/A"));
    EXPECT_EQ(Urls(), "ABCDE") << "the list's own copy is not taken back";
    Run(res::ID_MONITOR_CLIPBOARD);

    SetClipboard(QStringLiteral("http://host/F\nwords\nhttp://host/B"));
    QTest::keyClick(&View(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Urls(), "ABCDEF");
    EXPECT_TRUE(Frame().PaneText(0).endsWith(QStringLiteral(": http://host/B"))) << Frame().PaneText(0).toStdString();
    SetClipboard(QStringLiteral("http://host/G"));
    QTest::keyClick(&View(), Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(Urls(), "ABCDEFG");
    EXPECT_TRUE(Doc().IsQueued(Doc().GetItem(6)));
}

// A fetched row's file and any row's folder open through the desktop's
// handler; the folder with the file selected where a file manager is on the
// bus (the folder alone where none is). A double click opens a fetched
// row's file and does nothing on other rows.
TEST_F(ViewTest, OpenFileAndFolderGoThroughTheDesktop)
{
    CPrivateBus bus;
    QString error;
    ASSERT_TRUE(bus.Start(&error)) << error.toStdString();
    View().FileManager().SetConnection(bus.Connection());
    QStringList opened;
    View().SetUrlOpener([&](const QUrl& url) {
        opened << url.toString();
        return true;
    });
    CItem* b = Doc().GetItem(1);
    Doc().RemovePending(b);
    b->SetState(STATE_FETCHED);
    ASSERT_TRUE(WriteFileBytes(settings.Path(QStringLiteral("B")), "b"));
    const QString file = QUrl::fromLocalFile(settings.Path(QStringLiteral("B"))).toString();
    const QString folder = QUrl::fromLocalFile(settings.Dir()).toString();

    Select("A");
    EXPECT_FALSE(Enabled(res::ID_EDIT_OPEN_FILE)) << "not fetched";
    Run(res::ID_EDIT_OPEN_FOLDER); // no file yet: the folder itself
    EXPECT_EQ(opened, QStringList{folder});
    const auto doubleClick = [&](int row) {
        const QPoint at = View().visualRect(View().Model().index(row, 0)).center();
        QTest::mouseClick(View().viewport(), Qt::LeftButton, {}, at); // as the window system sends it
        QTest::mouseDClick(View().viewport(), Qt::LeftButton, {}, at);
    };
    doubleClick(0);
    doubleClick(1);
    EXPECT_EQ(opened, (QStringList{folder, file}));
    Select("AB");
    EXPECT_FALSE(Enabled(res::ID_EDIT_OPEN_FILE)) << "one row at a time";
    EXPECT_FALSE(Enabled(res::ID_EDIT_OPEN_FOLDER));

    // No file manager on the bus: the folder opens on its own.
    opened.clear();
    Select("B");
    Run(res::ID_EDIT_OPEN_FOLDER);
    ASSERT_TRUE(RunUntil([&] { return !opened.isEmpty(); }));
    EXPECT_EQ(opened, QStringList{folder});
    // With one, it shows the file.
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    const QString path = QStringLiteral("/org/freedesktop/FileManager1");
    ASSERT_TRUE(bus.StartService(service, path, service, &error)) << error.toStdString();
    QDBusMessage add = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Mock"),
                                                      QStringLiteral("AddMethod"));
    add << service << QStringLiteral("ShowItems") << QStringLiteral("ass") << QString() << QString();
    ASSERT_EQ(bus.Connection().call(add).type(), QDBusMessage::ReplyMessage);
    opened.clear();
    Run(res::ID_EDIT_OPEN_FOLDER);
    ASSERT_TRUE(RunUntil([&] { return bus.MockLog().contains(QStringLiteral("ShowItems")); }));
    EXPECT_TRUE(bus.MockLog().contains(file)) << bus.MockLog().toStdString();
    ASSERT_TRUE(bus.Settle(service, path));
    EXPECT_TRUE(opened.isEmpty());
}

// WCAG contrast ratio of two colours.
double Contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double x = luminance(a) + 0.05, y = luminance(b) + 0.05;
    return std::max(x, y) / std::min(x, y);
}

// The state column starts with a mark per state, and failed rows read in
// their own colour; marks and colour keep their contrast on a light and on
// a dark palette.
TEST_F(ViewTest, StateMarksAndFailedRowsReadOnLightAndDarkPalettes)
{
    const QPalette saved = QGuiApplication::palette();
    QPalette dark = saved;
    dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
    CItem* c = Doc().GetItem(2);
    Doc().RemovePending(c);
    const QModelIndex state = View().Model().index(2, COL_STATE);
    const QModelIndex url = View().Model().index(2, COL_URL);
    for (const QPalette& palette : {saved, dark}) {
        QGuiApplication::setPalette(palette);
        const QColor base = palette.color(QPalette::Base);
        QSet<qint64> icons;
        for (const int s : {STATE_NOT_FETCHED, STATE_FETCHING, STATE_FETCHED, STATE_FAILED, STATE_INVALID_URL}) {
            c->SetState(s);
            const QIcon icon = state.data(Qt::DecorationRole).value<QIcon>();
            EXPECT_FALSE(icon.isNull()) << s;
            icons.insert(icon.cacheKey());
            EXPECT_FALSE(url.data(Qt::DecorationRole).isValid()) << "the state column only";
            const QVariant foreground = url.data(Qt::ForegroundRole);
            EXPECT_EQ(foreground.isValid(), s == STATE_FAILED || s == STATE_INVALID_URL) << s;
            if (foreground.isValid()) {
                EXPECT_GE(Contrast(foreground.value<QBrush>().color(), base), 4.5) << s;
            }
        }
        EXPECT_EQ(icons.size(), 5) << "one mark per state";
        for (const EStateMark mark : {EStateMark::Active, EStateMark::Done, EStateMark::Failed, EStateMark::Invalid,
                                      EStateMark::Paused})
            EXPECT_GE(Contrast(StateMarkColor(mark, palette), base), 4.5) << static_cast<int>(mark);
    }
    QGuiApplication::setPalette(saved);
}

// The note stays as stored; what the cell shows is the item's typed
// progress (never the note's numbers) with its own speed, and a fetched
// item's size from the note its transfer left.
TEST_F(ViewTest, NoteColumnCarriesTheProgressOfAFetchingItem)
{
    CItem* c = Doc().GetItem(2);
    Doc().RemovePending(c);
    c->SetState(STATE_FETCHING);
    c->SetNote("1/2");
    c->SetProgress({2500, 10000, 0, 0});
    const QModelIndex note = View().Model().index(2, COL_NOTE);
    EXPECT_DOUBLE_EQ(note.data(CListModel::ProgressRole).toDouble(), 0.25);
    EXPECT_EQ(note.data().toString(), QStringLiteral("1/2"));
    EXPECT_FALSE(View().Model().index(2, COL_URL).data(CListModel::ProgressRole).isValid());
    // The texts themselves are the progress text's own test.
    c->SetProgress({2500, 0, 0, 0}); // size unknown: no bar
    EXPECT_FALSE(note.data(CListModel::ProgressRole).isValid());
    EXPECT_FALSE(note.data(CListModel::ProgressTextRole).toString().isEmpty());
    c->SetState(STATE_FAILED);
    EXPECT_FALSE(note.data(CListModel::ProgressTextRole).isValid());
    // The cell is painted from the progress (its bar), offscreen as on a screen.
    c->SetState(STATE_FETCHING);
    const auto painted = [&](std::uint64_t received) {
        c->SetProgress({received, 10000, 0, 0});
        QPixmap image(View().size());
        View().render(&image);
        return image.copy(View().visualRect(note).translated(View().viewport()->pos())).toImage();
    };
    EXPECT_NE(painted(2500), painted(7500));
}

// An item's update signals only the cells whose display changed; a row that
// turns to or from a failure's colour changes whole (-1 below).
TEST_F(ViewTest, AnItemUpdateSignalsOnlyTheCellsThatChanged)
{
    CItem* c = Doc().GetItem(2);
    Doc().RemovePending(c);
    std::vector<int> cells;
    QObject::connect(&View().Model(), &QAbstractItemModel::dataChanged, &View(),
                     [&](const QModelIndex& from, const QModelIndex& to) {
                         EXPECT_TRUE(from.row() == 2 && to.row() == 2);
                         cells.push_back(from.column() == to.column() ? from.column() : -1);
                     });
    c->SetState(STATE_FETCHING);
    Doc().UpdateItem(c); // the first notice of a row: all of it
    const struct {
        const char* what;
        std::function<void()> change;
        std::vector<int> cells;
    } cases[] = {
        {"nothing", [] {}, {}},
        {"progress", [&] { c->SetProgress({100, 1000, 0, 10}); }, {COL_NOTE}},
        {"speed alone", [&] { c->SetProgress({100, 1000, 0, 20}); }, {COL_NOTE}},
        {"note", [&] { c->SetNote("100/1000"); }, {COL_NOTE}},
        {"server's name", [&] { c->m_strFileName = "other.bin"; }, {COL_FILENAME}},
        {"fetched", [&] { c->SetState(STATE_FETCHED); }, {COL_STATE, COL_NOTE}},
        {"failed", [&] { c->SetState(STATE_FAILED); }, {-1}},
        {"queued again", [&] { c->SetState(STATE_NOT_FETCHED); }, {-1}},
    };
    for (const auto& k : cases) {
        cells.clear();
        k.change();
        Doc().UpdateItem(c);
        EXPECT_EQ(cells, k.cells) << k.what;
    }
}

} // namespace
} // namespace zorv::test

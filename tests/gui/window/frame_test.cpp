// The main frame: menu prompts, enable rules, the timer's panes, the
// scheduled start, the hang-up offer and its dialog.
#include "window.h"

#include "app/hangupdlg.h"
#include "dialogs/help.h"
#include "dialogs/helpwindow.h"
#include "engine/controller.h"
#include "model/commands.h"
#include "model/selectiontally.h"
#include "settings/options.h"
#include "support/dbusmock.h"
#include "support/http_server.h"

#include <QDBusMessage>
#include <QItemSelectionModel>
#include <QFileInfo>
#include <QPushButton>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>

namespace zorv::test {
namespace {

class FrameTest : public WindowTest {
protected:
    std::uint64_t tick = 1000000;
    QDateTime now = QDateTime(QDate(2026, 6, 1), QTime(9, 0, 0));
    void UseClock() { Frame().SetClock([this] { return tick; }, [this] { return now; }); }
    // Advances the clocks by `ms` and ticks the timer.
    void Tick(int ms = 1000)
    {
        tick += static_cast<std::uint64_t>(ms);
        now = now.addMSecs(ms);
        Frame().OnTimer();
    }
    int Live() { return app->Pool().LiveWorkers(); }
    void StopWorkers()
    {
        Run(res::ID_FETCH_STOP);
        ASSERT_TRUE(RunUntil([&] { return Live() == 0; }));
    }
};

// "目次..." and Help (F1) open the help window at its contents.
TEST_F(FrameTest, HelpCommandsOpenTheContents)
{
    ASSERT_TRUE(Start());
    for (const int id : {res::ID_HELP_INDEX, res::ID_HELP}) {
        ShowHelpTopic(QStringLiteral("OptLocal.html"));
        Run(id);
        EXPECT_EQ(CHelpWindow::Existing()->Browser().source().fileName(), QStringLiteral("index.html")) << id;
    }
}

TEST_F(FrameTest, EnableRulesFollowSelectionWorkersAndTheDialUpLink)
{
    ASSERT_TRUE(Start());
    Fill("abc");
    for (const bool selected : {false, true}) {
        Select(selected ? "a" : "");
        for (const int id : {res::ID_EDIT_RESET, res::ID_EDIT_CANCEL, res::ID_EDIT_EDIT})
            EXPECT_EQ(Enabled(id), selected) << id;
    }
    EXPECT_FALSE(Enabled(res::ID_FILE_MRU_FILE1)) << "the placeholder of an empty recent-file list";

    // Start while no worker lives, Stop while one does.
    const auto startStop = [&] {
        return std::pair(Enabled(res::ID_FETCH_START), Enabled(res::ID_FETCH_STOP));
    };
    Options().Connections = 3;
    Doc().RemoveAllItems(); // nothing to fetch: the workers stay idle
    EXPECT_EQ(startStop(), std::pair(true, false));
    Run(res::ID_FETCH_START);
    EXPECT_EQ(startStop(), std::pair(false, true));
    StopWorkers();
    EXPECT_EQ(startStop(), std::pair(true, false));

    // The hang-up toggle needs a dial-up link.
    Run(res::ID_AUTO_DISCONNECT);
    Frame().UpdateCommandUI();
    EXPECT_TRUE(Frame().AutoDisconnect() && Act(res::ID_AUTO_DISCONNECT).isChecked());
    Run(res::ID_AUTO_DISCONNECT);
    dialUp->available = false;
    Run(res::ID_AUTO_DISCONNECT);
    EXPECT_FALSE(Frame().AutoDisconnect()) << "disabled without a link";
}

// The rules follow the selection and the selected items' changes on their
// own (no rule is run by hand here), from counts that match the selection.
TEST_F(FrameTest, EnableStatesFollowTheSelectionAndItemNotices)
{
    ASSERT_TRUE(Start());
    Fill("abcdefgh");
    const auto counts = [&] {
        int pausable = 0, paused = 0;
        const std::vector<int> rows = View().SelectedRows();
        for (const int r : rows) {
            pausable += Pausable(*Doc().GetItem(r));
            paused += Doc().GetItem(r)->IsPaused();
        }
        const CSelectionTally& t = View().Tally();
        EXPECT_EQ(std::tuple(t.Count(), t.PausableCount(), t.PausedCount()),
                  std::tuple(int(rows.size()), pausable, paused));
        return std::tuple(Act(res::ID_EDIT_DELETE).isEnabled(), Act(res::ID_EDIT_PAUSE).isEnabled(),
                          Act(res::ID_EDIT_RESUME).isEnabled());
    };
    QItemSelectionModel& sel = *View().selectionModel();
    const auto toggle = [&](int row) {
        sel.select(View().Model().index(row, 0), QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
    };
    EXPECT_EQ(counts(), std::tuple(false, false, false));
    Select("bcd");
    EXPECT_EQ(counts(), std::tuple(true, true, false));
    PauseItems(Doc(), {2, 3}); // told by the document, not by a command
    EXPECT_EQ(counts(), std::tuple(true, true, true));
    toggle(1);
    EXPECT_EQ(counts(), std::tuple(true, false, true));
    toggle(6);
    // One cell of a row leaves the selection: the row stays selected.
    sel.select(View().Model().index(6, 2), QItemSelectionModel::Deselect);
    EXPECT_EQ(counts(), std::tuple(true, true, true));
    Run(res::ID_EDIT_SELECT_ALL);
    Run(res::ID_MOVE_DOWN); // a reorder
    EXPECT_EQ(counts(), std::tuple(true, true, true));
    Select("cdg");
    Doc().RemoveItems({2}); // a selected row leaves
    EXPECT_EQ(counts(), std::tuple(true, true, true));
    Doc().RemoveAllItems();
    EXPECT_EQ(counts(), std::tuple(false, false, false));
}

// NetworkManager coming onto the bus enables the auto-disconnect command by
// its own notice: nothing polls the link.
TEST_F(FrameTest, AutoDisconnectFollowsNetworkManagerComingAndGoing)
{
    CPrivateBus bus;
    QString error;
    ASSERT_TRUE(bus.Start(&error)) << error.toStdString();
    ASSERT_TRUE(Start({}, MakeDialUpLink(bus.Connection())));
    ASSERT_TRUE(RunUntil([&] { return app->DialUp().IsKnown(); }));
    QAction& toggle = Act(res::ID_AUTO_DISCONNECT);
    EXPECT_FALSE(toggle.isEnabled());
    ASSERT_TRUE(bus.StartMock(QStringLiteral("networkmanager"), QStringLiteral("org.freedesktop.NetworkManager"),
                              &error))
        << error.toStdString();
    EXPECT_TRUE(RunUntil([&] { return toggle.isEnabled(); }));
}

TEST_F(FrameTest, TimerPanesShowCountsWorkersAndNoTrafficWhenIdle)
{
    CHttpServer server;
    server.Serve("/file", std::string(200000, 'x'));
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(Start());
    UseClock();
    Options().Connections = 2;
    ASSERT_TRUE(Add(server.Url("/file")));
    Frame().AddTraffic(99999);
    const auto panes = [&] { return Frame().PaneText(1) + '|' + Frame().PaneText(2) + '|' + Frame().PaneText(3); };
    Frame().OnTimer(); // the first tick only notes the time
    EXPECT_EQ(panes(), QStringLiteral("1個中1個取得待ち|最大0接続中0アクティブ|Traffic Status       "));

    bool finished = false;
    QObject::connect(&app->Controller(), &CFetchController::ItemFinished, &Frame(),
                     [&](const ItemPtr&, int state, bool) { finished = state == STATE_FETCHED; });
    Run(res::ID_FETCH_START);
    // The worker's notices are handled in order: the traffic before the result.
    ASSERT_TRUE(RunUntil([&] { return finished && app->Pool().ActiveFetches() == 0; }));
    Tick();
    // Nothing transfers any more: 0, not the mean of the last ten seconds.
    EXPECT_EQ(panes(), QStringLiteral("1個中0個取得待ち|最大2接続中0アクティブ|0.00KBps"));
}

TEST_F(FrameTest, ScheduledStartFiresOnCrossingTheStartTime)
{
    ASSERT_TRUE(Start());
    Options().Connections = 2;
    Options().StartAt = 1;
    Options().StartAtHour = 10;
    Options().StartAtMin = 0;
    now.setTime(QTime(9, 59, 58));
    UseClock();
    Tick(); // 09:59:59
    EXPECT_EQ(Live(), 0);
    Tick(); // 10:00:00: crossed
    EXPECT_EQ(Live(), 2);
    // Once per crossing: stopped workers are not started again the same day.
    StopWorkers();
    Tick();
    EXPECT_EQ(Live(), 0);

    // Switched off, the time passes unnoticed; switched on again later, the
    // first tick compares against the last tick on which it was on, so a
    // start time in between starts the workers at once.
    Options().StartAt = 0;
    now.setTime(QTime(11, 0, 0));
    Tick();
    Options().StartAt = 1;
    Options().StartAtMin = 30;
    Tick();
    EXPECT_EQ(Live(), 2);
}

TEST_F(FrameTest, HangUpIsOfferedAfterIdleTimeAndCountsDown)
{
    CHttpServer server;
    server.ServeStalled("/stall", "abc", 1000000);
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(Start());
    UseClock();
    Options().HangUpOnIdleTimer = 30000;
    Options().HangUpOnIdleTimer2 = 20000;
    dialUp->connected = true;
    Run(res::ID_AUTO_DISCONNECT);
    ASSERT_TRUE(Add(server.Url("/stall")));
    Run(res::ID_FETCH_START);
    ASSERT_TRUE(RunUntil([&] { return app->Pool().ActiveFetches() == 1; }));
    Tick(); // the last tick with a fetch active
    View().SelectRows({0});
    Run(res::ID_EDIT_CANCEL);
    ASSERT_TRUE(RunUntil([&] { return app->Pool().ActiveFetches() == 0; }));

    Tick(30001); // idle past the timeout (its boundary: the watch's own test)
    CHangUpDialog* dialog = Frame().HangUpDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible() && dialog->isModal() && dialog->CancelButton()->isDefault());
    EXPECT_EQ(dialog->RemainingText(), QStringLiteral("あと20秒で切断します"));

    // The frame's ticks go on under the dialog without offering a second one.
    Tick(1500);
    EXPECT_EQ(Frame().HangUpDialog(), dialog);
    tick += 18500; // 20000 ms passed: not yet over
    dialog->OnTimer();
    EXPECT_EQ(dialog->RemainingText(), QStringLiteral("あと0秒で切断します"));
    EXPECT_EQ(dialUp->hangUps, 0);
    tick += 1;
    dialog->OnTimer();
    EXPECT_EQ(dialUp->hangUps, 1);
    EXPECT_TRUE(RunUntil([&] { return Frame().HangUpDialog() == nullptr; }));
    EXPECT_FALSE(dialUp->connected);
}

TEST_F(FrameTest, CancellingTheHangUpKeepsTheConnection)
{
    ASSERT_TRUE(Start());
    std::uint64_t t = 5000;
    dialUp->connected = true;
    for (const bool cancel : {true, false}) {
        CHangUpDialog dialog(*dialUp, 30000, [&] { return t; }, &Frame());
        dialog.show();
        (cancel ? dialog.CancelButton() : dialog.DisconnectButton())->click();
        EXPECT_EQ(dialog.result(), cancel ? QDialog::Rejected : QDialog::Accepted);
        t += 60000;
        dialog.OnTimer(); // a late tick after closing does nothing
        EXPECT_EQ(dialUp->hangUps, cancel ? 0 : 1);
        EXPECT_EQ(dialUp->connected, cancel);
    }
}

// The toolbar holds the menus' own actions (so the same rules enable them),
// each with an icon; its toggle in the View menu is kept across runs.
TEST_F(FrameTest, ToolbarSharesTheMenuActionsAndItsToggleIsKept)
{
    ASSERT_TRUE(Start());
    QToolBar* bar = Frame().ToolBar();
    ASSERT_NE(bar, nullptr);
    for (QAction* a : bar->actions()) {
        if (a->isSeparator())
            continue;
        EXPECT_EQ(a, Frame().Action(a->data().toInt()));
        EXPECT_FALSE(a->icon().isNull()) << a->data().toInt();
    }
    Fill("ab");
    Select("a");
    Frame().UpdateCommandUI();
    auto* del = qobject_cast<QToolButton*>(bar->widgetForAction(&Act(res::ID_EDIT_DELETE)));
    ASSERT_NE(del, nullptr);
    del->click();
    EXPECT_EQ(Names(), "b") << "the button runs the command";

    EXPECT_TRUE(Act(res::ID_VIEW_TOOLBAR).isChecked());
    Run(res::ID_VIEW_TOOLBAR);
    EXPECT_TRUE(bar->isHidden());
    Stop();
    ASSERT_TRUE(Start());
    EXPECT_TRUE(Frame().ToolBar()->isHidden()) << "kept in the settings";
}

// When the queue has run empty after fetching, the notification service
// is told how many items were fetched and failed, once, counting items (one
// cancelled and then fetched is one fetched); a click on it brings the
// window back. Switched off, nothing is sent.
TEST_F(FrameTest, EmptiedQueueIsAnnouncedOnTheDesktopAndTheClickShowsTheWindow)
{
    CPrivateBus bus;
    QString error;
    ASSERT_TRUE(bus.Start(&error)) << error.toStdString();
    ASSERT_TRUE(bus.StartMock(QStringLiteral("notification_daemon"), QStringLiteral("org.freedesktop.Notifications"), &error))
        << error.toStdString();
    CHttpServer server;
    server.Serve("/ok", std::string(1000, 'x'));
    server.ServeSlow("/slow", std::string(3000, 's'), 1000, std::chrono::milliseconds(200));
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(Start());
    Frame().Notifier().SetConnection(bus.Connection());
    Options().Connections = 2;
    ASSERT_TRUE(Add(server.Url("/ok")) && Add(server.Url("/missing")));
    CItem* slow = Add(server.Url("/slow"));
    ASSERT_NE(slow, nullptr);
    const auto notices = [&] { return bus.MockLog().count(QStringLiteral(" Notify ")); };
    int finished = 0;
    QObject::connect(&app->Controller(), &CFetchController::ItemFinished, &Frame(),
                     [&](const ItemPtr&, int, bool) { ++finished; });
    const auto waitFor = [&](int results) {
        return RunUntil([&] { return finished == results && app->Pool().ActiveFetches() == 0; });
    };
    Frame().OnTimer(); // nothing finished yet: nothing to tell
    Run(res::ID_FETCH_START);
    ASSERT_TRUE(RunUntil([&] { return slow->GetState() == STATE_FETCHING; }));
    Select("slow");
    Run(res::ID_EDIT_CANCEL);
    ASSERT_TRUE(waitFor(3));
    Run(res::ID_EDIT_RESET);
    ASSERT_TRUE(waitFor(4));
    EXPECT_EQ(slow->GetState(), STATE_FETCHED);
    EXPECT_EQ(notices(), 0);
    Frame().OnTimer();
    ASSERT_TRUE(RunUntil([&] { return notices() == 1; })) << bus.MockLog().toStdString();
    EXPECT_TRUE(bus.MockLog().contains(QStringLiteral("取得完了 2個、取得失敗 1個")))
        << bus.MockLog().toStdString();
    Frame().OnTimer();

    Frame().hide();
    QDBusMessage click = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("EmitSignal"));
    click << QStringLiteral("org.freedesktop.Notifications") << QStringLiteral("ActionInvoked") << QStringLiteral("us")
          << QVariantList{QVariant::fromValue(uint(1)), QStringLiteral("default")};
    EXPECT_EQ(bus.Connection().call(click).type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(RunUntil([&] { return Frame().isVisible(); }));

    Options().NotifyWhenDone = 0;
    View().OnSelectAll();
    Run(res::ID_EDIT_RESET);
    ASSERT_TRUE(waitFor(7));
    Frame().OnTimer();
    ASSERT_TRUE(bus.Settle(QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications")));
    EXPECT_EQ(notices(), 1);
}

// Pausing one item stops its transfer at once and keeps it from the workers
// until resumed; pausing all stops every transfer and leaves the items
// queued in their places. Each next fetch asks only for the missing bytes.
TEST_F(FrameTest, PauseStopsTransfersAtOnceAndResumeAsksForTheRest)
{
    const std::string body = Pattern(60000);
    CHttpServer server;
    server.ServeSlow("/slow", body, 2000, std::chrono::milliseconds(100), false, {{"ETag", "\"v1\""}});
    server.Serve("/quick", "quick");
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(Start());
    Options().Connections = 1;
    CItem* slow = Add(server.Url("/slow"));
    CItem* quick = Add(server.Url("/quick"));
    ASSERT_TRUE(slow && quick);
    std::vector<int> results;
    QObject::connect(&app->Controller(), &CFetchController::ItemFinished, &Frame(),
                     [&](const ItemPtr&, int state, bool) { results.push_back(state); });
    // The slow item is being fetched and has more than `bytes`.
    const auto receiving = [&](qint64 bytes) {
        return slow->GetState() == STATE_FETCHING && slow->Progress().received > std::uint64_t(bytes);
    };
    const auto partSize = [&] { return QFileInfo(QString::fromStdString(slow->LocalPath()) + ".part").size(); };
    const auto ranges = [&] {
        std::vector<std::string> out;
        for (const CRecordedRequest& r : server.RequestsFor("/slow"))
            out.push_back(r.Header("Range"));
        return out;
    };
    EXPECT_FALSE(Enabled(res::ID_FETCH_PAUSE_ALL));
    Select("slow");
    EXPECT_TRUE(Enabled(res::ID_EDIT_PAUSE) && !Enabled(res::ID_EDIT_RESUME));

    // One item paused while it runs: the worker goes on with the next one.
    Run(res::ID_FETCH_START);
    ASSERT_TRUE(RunUntil([&] { return receiving(0); }));
    Run(res::ID_EDIT_PAUSE);
    ASSERT_TRUE(RunUntil([&] { return quick->GetState() == STATE_FETCHED; }));
    EXPECT_EQ(Names(), "slowquick");
    EXPECT_TRUE(!Enabled(res::ID_EDIT_PAUSE) && Enabled(res::ID_EDIT_RESUME));
    const qint64 first = partSize();
    EXPECT_EQ(ranges().size(), 1u) << "not taken while paused";

    // Resumed, then everything paused: queued in its place, not failed.
    Run(res::ID_EDIT_RESUME);
    ASSERT_TRUE(RunUntil([&] { return receiving(first); }));
    EXPECT_TRUE(Enabled(res::ID_FETCH_PAUSE_ALL));
    Run(res::ID_FETCH_PAUSE_ALL);
    ASSERT_TRUE(RunUntil([&] { return Live() == 0 && slow->GetState() == STATE_NOT_FETCHED; }));
    const qint64 second = partSize();

    Run(res::ID_FETCH_START);
    ASSERT_TRUE(RunUntil([&] { return slow->GetState() == STATE_FETCHED; }));
    EXPECT_EQ(ReadFileBytes(QString::fromStdString(slow->LocalPath())), QByteArray::fromStdString(body));
    EXPECT_EQ(ranges(), (std::vector<std::string>{"", "bytes=" + std::to_string(first) + "-",
                                                  "bytes=" + std::to_string(second) + "-"}));
    EXPECT_EQ(results, (std::vector<int>{STATE_FETCHED, STATE_FETCHED})) << "a pause is no result";
}

} // namespace
} // namespace zorv::test

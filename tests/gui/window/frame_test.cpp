// The main frame: menu bar, prompts, enable rules, the timer's panes, the
// scheduled start, the hang-up offer and its dialog.
#include "window.h"

#include "app/hangupdlg.h"
#include "settings/options.h"
#include "support/http_server.h"

#include <QMenu>
#include "engine/controller.h"
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStatusTipEvent>

namespace zorv::test {
namespace {

// The menu as lines: popups and entries indented, "-" for a separator,
// "<text> [id]" for a command.
void Dump(const QMenu* menu, int depth, QStringList& out)
{
    const QString indent(depth * 2, QLatin1Char(' '));
    for (const QAction* a : menu->actions()) {
        if (!a->isVisible())
            continue;
        if (a->isSeparator())
            out << indent + QStringLiteral("-");
        else if (a->menu())
            out << indent + a->text(), Dump(a->menu(), depth + 1, out);
        else
            out << indent + QStringLiteral("%1 [%2]").arg(a->text()).arg(a->data().toInt());
    }
}

class FrameTest : public WindowTest {
protected:
    std::uint64_t tick = 1000000;
    QTime now = QTime(9, 0, 0);
    void UseClock()
    {
        Frame().SetClock([this] { return tick; }, [this] { return now; });
    }
    // Advances the clocks by `ms` and ticks the timer.
    void Tick(int ms = 1000)
    {
        tick += static_cast<std::uint64_t>(ms);
        now = now.addMSecs(ms);
        Frame().OnTimer();
    }
};

TEST_F(FrameTest, MenuBarHasTheTextsIdsAndOrder)
{
    ASSERT_TRUE(Start());
    QStringList lines;
    for (const QAction* top : Frame().menuBar()->actions()) {
        lines << top->text();
        Dump(top->menu(), 1, lines);
    }
    const QStringList expected{
        "ファイル(&F)",
        "  新規作成(&N)\tCtrl+N [57600]",
        "  開く(&O)...\tCtrl+O [57601]",
        "  インポート [32788]",
        "  上書き保存(&S)\tCtrl+S [57603]",
        "  名前を付けて保存(&A)... [57604]",
        "  -",
        "  取得開始 [32772]",
        "  取得停止 [32773]",
        "  クリップボードの監視 [32780]",
        "  接続を自動的に切断 [32795]",
        "  保存先のチェック... [32799]",
        "  -",
        "  最新のﾌｧｲﾙ [57616]",
        "  -",
        "  終了(&X) [57665]",
        "編集(&E)",
        "  新規(&N)...\tINS [32777]",
        "  編集(E)...\tRET [32779]",
        "  リセット [32775]",
        "  取得のキャンセル [32796]",
        "  削除(&D)\tDEL [32774]",
        "  -",
        "  移動",
        "    先頭へ\tCTRL+HOME [32791]",
        "    ひとつ前へ\tCTRL+Up [32792]",
        "    ひとつ後へ\tCTRL+Down [32793]",
        "    最後尾へ\tCTRL+END [32794]",
        "  -",
        "  すべて選択(&A)\tCtrl+A [57642]",
        "  選択の切り替え(&I) [32787]",
        "  -",
        "  設定(&O)... [32776]",
        "表示(&V)",
        "  ソート(&S)",
        "    URL順 [32782]",
        "    状態順 [32783]",
        "    ローカルパス順 [32784]",
        "    Referer順 [32785]",
        "    -",
        "    ランダム [32789]",
        "  -",
        "  ｽﾃｰﾀｽ ﾊﾞｰ [59393]",
        "  -",
        "  フォント... [32797]",
        "ヘルプ(&H)",
        "  目次... [57666]",
        "  バージョン情報... [57664]",
    };
    EXPECT_EQ(lines, expected) << lines.join(QLatin1Char('\n')).toStdString();
}

TEST_F(FrameTest, MenuPromptsReplaceTheSelectionTextWhileShown)
{
    ASSERT_TRUE(Start());
    Fill("abc");
    Select("b");
    EXPECT_EQ(Frame().PaneText(0), QStringLiteral("3個中1個選択中"));
    const std::pair<int, const char*> prompts[] = {
        {res::ID_EDIT_DELETE, "選択したオブジェクトを削除"},
        {res::ID_EDIT_RESET, "選択したオブジェクトを未取得状態に変更"},
        {res::ID_MONITOR_CLIPBOARD, "クリップボードに追加されたURLを自動的に取得対象にする"},
        {res::ID_SORT_REFERER, "Referer順でソート"},
        {res::ID_MOVE_BOTTOM, "選択アイテムをリスト最後尾へ"},
        {res::ID_CHECK_DESTINATION, "ファイルの保存先が正しいかチェックします"},
        {res::ID_EDIT_SELECT_ALL, "全体を選択"},
    };
    for (const auto& [id, prompt] : prompts) {
        EXPECT_EQ(Act(id).statusTip(), QString::fromUtf8(prompt)) << id;
        QStatusTipEvent show(Act(id).statusTip());
        QCoreApplication::sendEvent(&Frame(), &show);
        EXPECT_EQ(Frame().PaneText(0), QString::fromUtf8(prompt));
    }
    EXPECT_EQ(Act(res::ID_EDIT_DELETE).toolTip(), QStringLiteral("削除"));
    QStatusTipEvent clear{QString()};
    QCoreApplication::sendEvent(&Frame(), &clear);
    EXPECT_EQ(Frame().PaneText(0), QStringLiteral("3個中1個選択中"));
}

TEST_F(FrameTest, EnableRulesFollowSelectionAndWorkers)
{
    ASSERT_TRUE(Start());
    Fill("abc");
    const int bySelection[] = {res::ID_EDIT_RESET, res::ID_EDIT_CANCEL, res::ID_EDIT_DELETE};
    for (int id : bySelection)
        EXPECT_FALSE(Enabled(id)) << id;
    for (int id : {res::ID_MOVE_TOP, res::ID_MOVE_DOWN, res::ID_EDIT_SELECT_ALL,
                   res::ID_EDIT_INVERT_SELECTION, res::ID_SORT_URL, res::ID_SORT_RANDOM,
                   res::ID_VIEW_FONT, res::ID_MONITOR_CLIPBOARD, res::ID_FILE_SAVE})
        EXPECT_TRUE(Enabled(id)) << id;
    Select("a");
    for (int id : bySelection)
        EXPECT_TRUE(Enabled(id)) << id;

    // The placeholder of an empty recent-file list, and the commands whose
    // dialogs come later, stand disabled, selection or not.
    EXPECT_FALSE(Enabled(res::ID_FILE_MRU_FILE1));
    for (int id : {res::ID_EDIT_NEW, res::ID_EDIT_EDIT, res::ID_EDIT_OPTIONS, res::ID_FILE_IMPORT,
                   res::ID_CHECK_DESTINATION, res::ID_APP_ABOUT, res::ID_HELP_INDEX})
        EXPECT_FALSE(Enabled(id)) << id;

    // Start while no worker lives, Stop while one does.
    Options().Connections = 3;
    EXPECT_TRUE(Enabled(res::ID_FETCH_START));
    EXPECT_FALSE(Enabled(res::ID_FETCH_STOP));
    Doc().RemoveAllItems(); // nothing to fetch: the workers stay idle
    Run(res::ID_FETCH_START);
    EXPECT_EQ(app->Pool().LiveWorkers(), 3);
    EXPECT_FALSE(Enabled(res::ID_FETCH_START));
    EXPECT_TRUE(Enabled(res::ID_FETCH_STOP));
    Run(res::ID_FETCH_START); // disabled: nothing happens
    EXPECT_EQ(app->Pool().LiveWorkers(), 3);
    Run(res::ID_FETCH_STOP);
    ASSERT_TRUE(WaitFor([&] { return app->Pool().LiveWorkers() == 0; }));
    EXPECT_TRUE(Enabled(res::ID_FETCH_START));
    EXPECT_FALSE(Enabled(res::ID_FETCH_STOP));
}

TEST_F(FrameTest, AutoDisconnectNeedsTheDialUpLinkAndToggles)
{
    ASSERT_TRUE(Start());
    QAction& toggle = Act(res::ID_AUTO_DISCONNECT);
    EXPECT_TRUE(Enabled(res::ID_AUTO_DISCONNECT));
    EXPECT_FALSE(toggle.isChecked());
    Run(res::ID_AUTO_DISCONNECT);
    EXPECT_TRUE(Frame().AutoDisconnect());
    Frame().UpdateCommandUI();
    EXPECT_TRUE(toggle.isChecked());
    Run(res::ID_AUTO_DISCONNECT);
    EXPECT_FALSE(Frame().AutoDisconnect());

    dialUp->available = false;
    EXPECT_FALSE(Enabled(res::ID_AUTO_DISCONNECT));
    Run(res::ID_AUTO_DISCONNECT);
    EXPECT_FALSE(Frame().AutoDisconnect());
}

TEST_F(FrameTest, TimerShowsCountsAndTheSpeedOverTenSeconds)
{
    ASSERT_TRUE(Start());
    UseClock();
    Fill("abcd");
    Doc().RemovePending(Doc().GetItem(0));

    Frame().AddTraffic(99999);
    Frame().OnTimer(); // the first tick only notes the time
    EXPECT_EQ(Frame().PaneText(3), QStringLiteral("Traffic Status       "));
    EXPECT_EQ(Frame().PaneText(2), QStringLiteral("最大0接続中0アクティブ"));
    EXPECT_EQ(Frame().PaneText(1), QStringLiteral("4個中3個取得待ち"));

    // 10240 bytes a second: the mean over ten samples climbs by 1.00 a tick,
    // empty samples counting as 0.
    QStringList shown;
    for (int i = 0; i < 11; ++i) {
        Frame().AddTraffic(10240);
        Tick(1000);
        shown << Frame().PaneText(3);
    }
    EXPECT_EQ(shown, (QStringList{"1.00KBps", "2.00KBps", "3.00KBps", "4.00KBps", "5.00KBps",
                                  "6.00KBps", "7.00KBps", "8.00KBps", "9.00KBps", "10.00KBps",
                                  "10.00KBps"}));
    Tick(1000); // silence: one sample of 0 replaces the oldest
    EXPECT_EQ(Frame().PaneText(3), QStringLiteral("9.00KBps"));
}

TEST_F(FrameTest, WorkersAndTrafficOfARealFetchReachThePanes)
{
    CHttpServer server;
    server.Serve("/file", std::string(200000, 'x'));
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(Start());
    UseClock();
    Options().DefaultDestination = settings.Dir().toStdString();
    Options().Connections = 2;
    CItem* item = Doc().AddUrl(server.Url("/file"), "", "", "", 0);
    ASSERT_NE(item, nullptr);
    Frame().OnTimer();
    bool finished = false;
    QObject::connect(&app->Controller(), &CFetchController::ItemFinished, &Frame(),
                     [&](const ItemPtr&, int state, bool) { finished = state == STATE_FETCHED; });
    Run(res::ID_FETCH_START);
    // The worker's notices are handled in order: the traffic before the result.
    ASSERT_TRUE(WaitFor([&] { return finished; }));
    EXPECT_EQ(View().Model().index(0, COL_STATE).data().toString(), QStringLiteral("取得完了"));
    ASSERT_TRUE(WaitFor([&] { return app->Pool().ActiveFetches() == 0; }));
    Tick();
    // 200000 bytes in one second: 195.3 KiB/s, over ten samples 19.53.
    EXPECT_EQ(Frame().PaneText(3), QStringLiteral("19.53KBps"));
    EXPECT_EQ(Frame().PaneText(2), QStringLiteral("最大2接続中0アクティブ"));
    EXPECT_EQ(Frame().PaneText(1), QStringLiteral("1個中0個取得待ち"));
}

TEST_F(FrameTest, ScheduledStartFiresOnCrossingTheStartTime)
{
    ASSERT_TRUE(Start());
    Options().Connections = 2;
    Options().StartAt = 1;
    Options().StartAtHour = 10;
    Options().StartAtMin = 0;
    now = QTime(9, 59, 58);
    UseClock();
    Tick(1000); // 09:59:59
    EXPECT_EQ(app->Pool().LiveWorkers(), 0);
    Tick(1000); // 10:00:00: crossed
    EXPECT_EQ(app->Pool().LiveWorkers(), 2);

    // Once per crossing: stopped workers are not started again the same day.
    Run(res::ID_FETCH_STOP);
    ASSERT_TRUE(WaitFor([&] { return app->Pool().LiveWorkers() == 0; }));
    Tick(1000);
    Tick(60000);
    EXPECT_EQ(app->Pool().LiveWorkers(), 0);

    // Switched off, the time passes unnoticed; switched on again later, the
    // first tick compares against the last tick on which it was on, so a
    // start time in between starts the workers at once.
    Options().StartAt = 0;
    now = QTime(11, 0, 0);
    Tick(1000);
    Options().StartAt = 1;
    Options().StartAtHour = 10;
    Options().StartAtMin = 30;
    Tick(1000);
    EXPECT_EQ(app->Pool().LiveWorkers(), 2);
}

TEST_F(FrameTest, ScheduledStartAtMidnightIsReachedAcrossTheDayBoundary)
{
    ASSERT_TRUE(Start());
    Options().Connections = 1;
    Options().StartAt = 1;
    Options().StartAtHour = 0;
    Options().StartAtMin = 0;
    now = QTime(23, 59, 59);
    UseClock();
    Tick(1000); // 00:00:00
    EXPECT_EQ(app->Pool().LiveWorkers(), 1);
}

TEST_F(FrameTest, HangUpIsOfferedAfterIdleTimeAndCountsDown)
{
    CHttpServer server;
    server.ServeStalled("/stall", "abc", 1000000);
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(Start());
    UseClock();
    Options().DefaultDestination = settings.Dir().toStdString();
    Options().HangUpOnIdleTimer = 30000;
    Options().HangUpOnIdleTimer2 = 20000;
    dialUp->connected = true;
    Run(res::ID_AUTO_DISCONNECT);
    ASSERT_TRUE(Frame().AutoDisconnect());

    ASSERT_NE(Doc().AddUrl(server.Url("/stall"), "", "", "", 0), nullptr);
    Run(res::ID_FETCH_START);
    ASSERT_TRUE(WaitFor([&] { return app->Pool().ActiveFetches() == 1; }));
    Tick(); // the last tick with a fetch active
    View().SelectRows({0});
    Run(res::ID_EDIT_CANCEL);
    ASSERT_TRUE(WaitFor([&] { return app->Pool().ActiveFetches() == 0; }));

    Tick(29000);
    Tick(1000); // exactly 30 s idle: not more than the timeout yet
    EXPECT_EQ(Frame().HangUpDialog(), nullptr);
    Tick(1);
    CHangUpDialog* dialog = Frame().HangUpDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->isModal());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("ダイアルアップ接続の切断"));
    EXPECT_EQ(dialog->MessageText(),
              QStringLiteral("ファイル取得がすべて終了しました．ダイアルアップ接続を切断します．"
                             "切断をキャンセルするには20秒以内にキャンセルしてください．"));
    EXPECT_EQ(dialog->RemainingText(), QStringLiteral("あと20秒で切断します"));
    EXPECT_TRUE(dialog->CancelButton()->isDefault());
    EXPECT_EQ(dialog->DisconnectButton()->text(), QStringLiteral("切断"));

    // The frame's ticks go on under the dialog without offering a second one.
    Tick(1500);
    EXPECT_EQ(Frame().HangUpDialog(), dialog);
    dialog->OnTimer();
    EXPECT_EQ(dialog->RemainingText(), QStringLiteral("あと18秒で切断します"));
    EXPECT_EQ(dialUp->hangUps, 0);
    tick += 18500; // 20000 ms passed: not yet over
    dialog->OnTimer();
    EXPECT_EQ(dialog->RemainingText(), QStringLiteral("あと0秒で切断します"));
    EXPECT_EQ(dialUp->hangUps, 0);
    tick += 1;
    dialog->OnTimer();
    EXPECT_EQ(dialUp->hangUps, 1);
    EXPECT_TRUE(WaitFor([&] { return Frame().HangUpDialog() == nullptr; }));
    EXPECT_FALSE(dialUp->connected);
}

TEST_F(FrameTest, CancellingTheHangUpKeepsTheConnection)
{
    ASSERT_TRUE(Start());
    std::uint64_t t = 5000;
    CHangUpDialog dialog(*dialUp, 30000, [&] { return t; }, &Frame());
    dialUp->connected = true;
    dialog.show();
    EXPECT_EQ(dialog.RemainingText(), QStringLiteral("あと30秒で切断します"));
    dialog.CancelButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    t += 60000;
    dialog.OnTimer(); // a late tick after closing does nothing
    EXPECT_EQ(dialUp->hangUps, 0);
    EXPECT_TRUE(dialUp->connected);

    CHangUpDialog second(*dialUp, 30000, [&] { return t; }, &Frame());
    second.show();
    second.DisconnectButton()->click();
    EXPECT_EQ(second.result(), QDialog::Accepted);
    EXPECT_EQ(dialUp->hangUps, 1);
}

} // namespace
} // namespace zorv::test

// The end of a list and of the window: closing while items are fetched,
// a window ended by a signal, the placement brought back on screen.
#include "window.h"

#include "model/listowner.h"
#include "model/listrequest.h"
#include "model/recovery.h"
#include "support/childprocess.h"
#include "support/http_server.h"

#include <QFile>

#include <csignal>

namespace zorv::test {
namespace {

class LifecycleTest : public WindowTest {};

// A new list, another list or closing the window while a transfer runs asks
// first: Cancel leaves the list and its transfer alone; OK stops the
// transfer and closes the list without a trace of it in the new one, or
// closes the window once no worker holds an item of the list.
TEST_F(LifecycleTest, ClosingWhileFetchingAsksFirst)
{
    CHttpServer server;
    server.ServeSlow("/slow.bin", std::string(4 << 20, 'x'), 16384, std::chrono::milliseconds(20));
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(Start());
    std::uint64_t now = 1000;
    Frame().SetClock([&] { return now; }, [] { return QDateTime::currentDateTime(); });
    ASSERT_TRUE(Add(server.Url("/slow.bin")));
    Run(res::ID_FETCH_START);
    ASSERT_TRUE(RunUntil([&] { return Doc().GetItem(0)->GetState() == STATE_FETCHING; }));

    const std::string other = settings.Path(QStringLiteral("other.zorv")).toStdString();
    chosenFile = QString::fromStdString(other);
    answers = {IDCANCEL, IDCANCEL, IDCANCEL};
    Run(res::ID_FILE_NEW);
    Run(res::ID_FILE_OPEN);
    EXPECT_FALSE(Frame().close());
    ASSERT_EQ(prompts.size(), 3u);
    for (const CPrompt& p : prompts)
        EXPECT_TRUE(p.textId == IDS_CLOSE_FETCHING && p.buttons == PromptButtons::OkCancel);
    EXPECT_TRUE(Frame().isVisible() && Doc().GetCount() == 1);
    EXPECT_EQ(app->Pool().ActiveFetches(), 1) << "Cancel leaves the transfer running";

    answers = {IDOK};
    Run(res::ID_FILE_NEW);
    EXPECT_EQ(prompts.size(), 4u);
    EXPECT_EQ(Doc().GetCount(), 0);
    EXPECT_TRUE(app->Pool().WaitUntilStopped(std::chrono::seconds(3)));
    QCoreApplication::sendPostedEvents(); // the stopped worker's last notices
    for (int i = 0; i < 3; ++i) {
        now += 1000;
        Frame().OnTimer();
        EXPECT_FALSE(Frame().PaneText(3).startsWith(QLatin1Char('-'))) << Frame().PaneText(3).toStdString();
    }
    EXPECT_FALSE(Doc().IsModified()) << "the cancelled result belongs to the list that was closed";
    EXPECT_TRUE(questions.isEmpty()) << "the closed list had no changes to save";

    ASSERT_TRUE(Add(server.Url("/slow.bin")));
    Run(res::ID_FETCH_START);
    ASSERT_TRUE(RunUntil([&] { return app->Pool().ActiveFetches() == 1; }));
    answers = {IDOK};
    EXPECT_TRUE(Frame().close());
    EXPECT_EQ(prompts.size(), 5u);
    EXPECT_EQ(app->Pool().ActiveFetches() + Doc().GetCount(), 0);
    EXPECT_TRUE(app->Pool().WaitUntilStopped(std::chrono::seconds(3)));
}

// The real window ended by a signal, as at logout: a list with a file is
// saved, a list never saved becomes the recovery list, which the next window
// offers (No discards it, Yes restores it as an unsaved new list).
TEST_F(LifecycleTest, SignalKeepsTheListAndTheNextStartOffersTheRecoveryList)
{
    CZorvDoc made;
    ASSERT_NE(made.AddUrl("http://h/a.bin", "", settings.Dir().toStdString(), "", 0), nullptr);
    const QString list = settings.Path(QStringLiteral("kept.zorv"));
    ASSERT_TRUE(made.OnSaveDocument(list, nullptr));
    CChildProcess::Options options; // XDG_RUNTIME_DIR and XDG_DATA_HOME are the test run's
    options.env = PrivateHomeEnv(settings.Dir()) << "QT_QPA_PLATFORM=offscreen";
    options.stderrFile = settings.Path(QStringLiteral("stderr.txt"));
    // Starts a window on `args`, adds `url` to the list it has open and ends it with `signal`.
    const auto addAndKill = [&](const QStringList& args, const QString& owner, const char* url, int signal) {
        CChildProcess window;
        QString why;
        ASSERT_TRUE(window.Start(QStringLiteral(ZORV_EXE), args, options, &why)) << why.toStdString();
        CAddRequest add;
        add.urls = {url};
        add.destination = settings.Dir().toStdString();
        QJsonObject reply;
        ASSERT_TRUE(RunUntil([&] { return SendToOwner(owner, add.ToJson(), &reply) == HandOff::Answered; }, 30000))
            << ReadFileBytes(options.stderrFile).toStdString();
        ASSERT_TRUE(reply.value("ok").toBool());
        ASSERT_EQ(::kill(window.Pid(), signal), 0);
        EXPECT_EQ(window.Wait(30000), 128 + signal) << ReadFileBytes(options.stderrFile).toStdString();
    };
    addAndKill({list}, list, "http://h/b.bin", SIGTERM);
    CZorvDoc saved;
    ASSERT_TRUE(saved.OnOpenDocument(list, nullptr));
    EXPECT_EQ(test::Names(saved), "a.binb.bin");
    EXPECT_FALSE(QFile::exists(RecoveryListPath()));

    addAndKill({}, WindowHandOffPath(), "http://h/c.bin", SIGHUP);
    const QByteArray recovery = ReadFileBytes(RecoveryListPath());
    ASSERT_FALSE(recovery.isEmpty());
    answers = {IDNO};
    ASSERT_TRUE(Start());
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_TRUE(prompts[0].textId == IDS_RECOVERY_OFFER && prompts[0].arg == "1");
    EXPECT_TRUE(Doc().GetCount() == 0 && !QFile::exists(RecoveryListPath())) << "No discards it";
    Stop();
    ASSERT_TRUE(WriteFileBytes(RecoveryListPath(), recovery));
    answers = {IDYES};
    ASSERT_TRUE(Start());
    EXPECT_EQ(Names(), "c.bin");
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("無題 * - zorv")) << "unsaved, without a path";
    EXPECT_TRUE(!QFile::exists(RecoveryListPath()) && errors.isEmpty());
}

} // namespace
} // namespace zorv::test

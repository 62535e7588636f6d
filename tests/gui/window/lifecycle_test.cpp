// The end of a list and of the window: closing while items are fetched,
// a window ended by a signal, the placement brought back on screen.
#include "window.h"

#include "support/http_server.h"

namespace zorv::test {
namespace {

class LifecycleTest : public WindowTest {};

// A new list, another list or closing the window while a transfer runs asks
// first: Cancel leaves the list and its transfer alone; OK stops the
// transfer and closes the list without a trace of it in the new one.
TEST_F(LifecycleTest, ClosingWhileFetchingAsksFirst)
{
    CHttpServer server;
    server.ServeSlow("/slow.bin", std::string(4 << 20, 'x'), 16384, std::chrono::milliseconds(20));
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(Start());
    std::uint64_t now = 1000;
    Frame().SetClock([&] { return now; }, [] { return QDateTime::currentDateTime(); });
    ASSERT_NE(Doc().AddUrl(server.Url("/slow.bin"), "", settings.Dir().toStdString(), "", 0), nullptr);
    Run(res::ID_FETCH_START);
    ASSERT_TRUE(RunUntil([&] { return Doc().GetItem(0)->GetState() == STATE_FETCHING; }));

    const std::string other = settings.Path(QStringLiteral("other.zorv")).toStdString();
    chosenFile = QString::fromStdString(other);
    answers = {IDCANCEL, IDCANCEL, IDCANCEL};
    Run(res::ID_FILE_NEW);
    Run(res::ID_FILE_OPEN);
    EXPECT_FALSE(Frame().close());
    ASSERT_EQ(prompts.size(), 3u);
    for (const CPrompt& p : prompts) {
        EXPECT_EQ(p.textId, IDS_CLOSE_FETCHING);
        EXPECT_EQ(p.buttons, PromptButtons::OkCancel);
    }
    EXPECT_TRUE(Frame().isVisible());
    EXPECT_EQ(Doc().GetCount(), 1);
    EXPECT_EQ(app->Pool().ActiveFetches(), 1) << "Cancel leaves the transfer running";

    answers = {IDOK};
    Run(res::ID_FILE_NEW);
    EXPECT_EQ(prompts.size(), 4u);
    EXPECT_EQ(Doc().GetCount(), 0);
    EXPECT_TRUE(app->Pool().WaitUntilStopped(std::chrono::seconds(3)));
    for (int i = 0; i < 3; ++i) {
        QTest::qWait(50);
        now += 1000;
        Frame().OnTimer();
        EXPECT_FALSE(Frame().PaneText(3).startsWith(QLatin1Char('-'))) << Frame().PaneText(3).toStdString();
    }
    EXPECT_FALSE(Doc().IsModified()) << "the cancelled result belongs to the list that was closed";
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("無題 - zorv"));
    EXPECT_TRUE(questions.isEmpty()) << "the closed list had no changes to save";
    // Nothing runs: closing asks nothing more.
    EXPECT_TRUE(Frame().close());
    EXPECT_EQ(prompts.size(), 4u);
}

} // namespace
} // namespace zorv::test

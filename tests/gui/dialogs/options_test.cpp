// The options sheet over a settings record in a private store: what the
// pages copy in and out, the commit on OK, when a refused value keeps its
// page, the proxy fields and dialog, help topics, and the options command of
// the window.
#include "dialogs/optconnection.h"
#include "dialogs/optionssheet.h"
#include "dialogs/optlocal.h"
#include "dialogs/optmisc.h"
#include "dialogs/proxydlg.h"
#include "engine/finalname.h"
#include "engine/ratelimit.h"
#include "gui/controls.h"
#include "gui/window/window.h"
#include "res/resource.h"
#include "settings/options.h"
#include "support/tempsettings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>

#include <gtest/gtest.h>

namespace zorv::test {
namespace {

enum { CONNECTION, LOCAL, MISC };

class OptionsSheetTest : public SettingsTest {
protected:
    COptions& Record() { return settings.Options(); }

    // A sheet over the record, shown without a modal loop.
    std::unique_ptr<COptionsSheet> Open()
    {
        auto sheet = std::make_unique<COptionsSheet>(Record());
        Hook(*sheet);
        sheet->show();
        return sheet;
    }
    void Hook(COptionsSheet& sheet)
    {
        sheet.SetMessageHook([this](const QString& text) { messages << text; });
        sheet.SetHelpHook([this](const QString& topic) { topics << topic; });
    }
    // Runs the sheet modally; `drive` acts on it from inside the loop and
    // should close it (a sheet left open is cancelled so the test goes on).
    int RunModal(const std::function<void(COptionsSheet&)>& drive)
    {
        COptionsSheet sheet(Record());
        Hook(sheet);
        QTimer::singleShot(0, &sheet, [&] {
            drive(sheet);
            if (sheet.isVisible()) {
                ADD_FAILURE() << "the sheet is still open";
                sheet.reject();
            }
        });
        return sheet.DoModal();
    }
    QStringList messages;
    QStringList topics;
};

void Ok(QWidget& root) { Click(root, 1); }

// The pages edit a copy: the record keeps its values while pages are left
// and after Cancel, and takes every page's values at once on OK. The sheet
// never touches the store.
TEST_F(OptionsSheetTest, CancelLeavesTheRecordAloneAndOkCommitsEveryPage)
{
    Record().Connections = 2;
    Record().HttpAgent = "agent";
    Record().DefaultDestination = "/old";
    const auto edited = [&] {
        const COptions& r = Record();
        return std::tuple(r.Connections, r.HttpAgent, r.MaxSegments, r.MaxConnectionsPerServer, r.CaCertificates,
                          r.DefaultDestination, r.ExistingFile, r.StartAtHour, r.NotifyWhenDone, r.CloseToTray);
    };
    const auto before = edited();
    const auto edit = [&](COptionsSheet& s, const char* connections) {
        Type(s, res::IDC_OPT_CONNECTIONS, QString::fromLatin1(connections));
        Type(s, res::IDC_OPT_AGENT, QStringLiteral("other"));
        Type(s, res::IDC_OPT_MAX_SEGMENTS, QStringLiteral("3"));
        Type(s, res::IDC_OPT_MAX_PER_SERVER, QStringLiteral("4"));
        s.ConnectionPage().SetFileChooser([](const QString& current) -> std::optional<QString> {
            EXPECT_EQ(current, QString());
            return QStringLiteral("/etc/ca.pem");
        });
        Click(s, res::IDC_OPT_CA_BROWSE);
        s.Tabs()->setCurrentIndex(LOCAL); // the connection page is left
        Type(s, res::IDC_OPT_DESTINATION, QStringLiteral("/new"));
        Control<QComboBox>(s, res::IDC_OPT_EXISTING_FILE)->setCurrentIndex(EXISTING_SKIP);
        s.Tabs()->setCurrentIndex(MISC);
        Type(s, res::IDC_OPT_START_HOUR, QStringLiteral("5"));
        Click(s, res::IDC_OPT_NOTIFY_DONE);
        Click(s, res::IDC_OPT_CLOSE_TO_TRAY);
        EXPECT_EQ(edited(), before);
    };

    EXPECT_EQ(RunModal([&](COptionsSheet& s) {
                  edit(s, "5");
                  Click(s, 2);
              }),
              QDialog::Rejected);
    EXPECT_EQ(edited(), before);

    EXPECT_EQ(RunModal([&](COptionsSheet& s) {
                  EXPECT_EQ(Text(s, res::IDC_OPT_CONNECTIONS), QStringLiteral("2")); // not the cancelled 5
                  edit(s, "7");
                  Ok(s);
              }),
              QDialog::Accepted);
    EXPECT_EQ(edited(), std::tuple(7, std::string("other"), 3, 4, std::string("/etc/ca.pem"), std::string("/new"),
                                   EXISTING_SKIP, 5, 0, 1));
    EXPECT_FALSE(QSettings(settings.IniFile(), QSettings::IniFormat).contains(QStringLiteral("Settings/Connections")));
}

// A refused value keeps its page in front, whether another tab or OK is
// chosen, with a message naming the field and its range and the focus on
// the field; the record is left alone.
TEST_F(OptionsSheetTest, RefusedValueKeepsItsPageActive)
{
    struct Case { int page; int id; const char* text; const char* message; };
    // One field of each page; the bounds themselves are the core test's.
    const Case cases[] = {
        {CONNECTION, res::IDC_OPT_CONNECTIONS, "65", "接続数には 1 から 64 までの整数を入力してください。"},
        {LOCAL, res::IDC_OPT_FNAME_LEVEL, "256", "フォルダレベルには 0 から 255 までの整数を入力してください。"},
        {MISC, res::IDC_OPT_COUNTDOWN, "-1", "切断までの秒数には 0 から 2147483 までの整数を入力してください。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        messages.clear();
        auto sheet = Open();
        sheet->Tabs()->setCurrentIndex(c.page);
        QLineEdit* edit = Control(*sheet, c.id);
        edit->setText(QString::fromUtf8(c.text));
        sheet->Tabs()->setCurrentIndex(c.page == CONNECTION ? MISC : CONNECTION);
        EXPECT_EQ(sheet->Tabs()->currentIndex(), c.page);
        EXPECT_EQ(messages, QStringList{QString::fromUtf8(c.message)});
        EXPECT_EQ(sheet->focusWidget(), edit);
        EXPECT_EQ(edit->selectedText(), edit->text());
        Ok(*sheet);
        EXPECT_TRUE(sheet->isVisible() && messages.size() == 2);
    }
    EXPECT_EQ(std::pair(Record().Connections, Record().StartAtHour), std::pair(1, 0));
}

// The access type picks the radio button and the enabling; a type other
// than 0, 1 or 3 checks none, leaves everything enabled and is written back
// unchanged unless a button is clicked.
TEST_F(OptionsSheetTest, ProxyTypeRadioButtons)
{
    struct Case {
        int stored;
        int checked; // 0: none
        bool enabled;
        int click; // 0: none
        int written;
    };
    const Case cases[] = {
        {0, res::IDC_OPT_PROXY_SYSTEM, false, 0, 0},
        {1, res::IDC_OPT_PROXY_DIRECT, false, 0, 1},
        {3, res::IDC_OPT_PROXY_NAMED, true, 0, 3},
        {2, 0, true, 0, 2},
        {2, 0, true, res::IDC_OPT_PROXY_DIRECT, 1},
        {1, res::IDC_OPT_PROXY_DIRECT, false, res::IDC_OPT_PROXY_NAMED, 3},
    };
    const int radios[] = {res::IDC_OPT_PROXY_DIRECT, res::IDC_OPT_PROXY_SYSTEM, res::IDC_OPT_PROXY_NAMED};
    const int proxyControls[] = {res::IDC_OPT_PROXY_ADDRESS, res::IDC_OPT_PROXY_PORT, res::IDC_OPT_PROXY_DETAILS};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.stored << " click " << c.click);
        Record().ProxySetting = c.stored;
        auto sheet = Open();
        for (const int id : radios)
            EXPECT_EQ(Control<QRadioButton>(*sheet, id)->isChecked(), id == c.checked) << id;
        for (const int id : proxyControls)
            EXPECT_EQ(Control<QWidget>(*sheet, id)->isEnabled(), c.enabled) << id;
        if (c.click) {
            Click(*sheet, c.click);
            for (const int id : proxyControls)
                EXPECT_EQ(Control<QWidget>(*sheet, id)->isEnabled(), c.click == res::IDC_OPT_PROXY_NAMED) << id;
        }
        Ok(*sheet);
        EXPECT_EQ(Record().ProxySetting, c.written);
    }
}

// The simple address and port show a common HTTP/FTP pair, write it into
// all four strings on OK, and leave the four strings alone when either is
// empty; "詳細" starts from them (or from the four strings) and derives them
// again from what it gives back.
TEST_F(OptionsSheetTest, SimpleProxyFieldsAndDetailsDialog)
{
    struct Case {
        const char* what;
        CProxyServers stored;
        CSimpleProxy shown;
        CSimpleProxy typed;
        CProxyServers written;
    };
    const Case cases[] = {
        {"different pairs, typed pair", {"px", "8080", "px", "21"}, {}, {"new", "3128"}, {"new", "3128", "new", "3128"}},
        {"equal pairs, cleared port", {"px", "80", "px", "80"}, {"px", "80"}, {"px", ""}, {"px", "80", "px", "80"}},
    };
    const auto simple = [](QWidget& s) {
        return CSimpleProxy{FromQ(Text(s, res::IDC_OPT_PROXY_ADDRESS)), FromQ(Text(s, res::IDC_OPT_PROXY_PORT))};
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Record().ProxySetting = PROXY_NAMED;
        std::tie(Record().ProxyHttpServer, Record().ProxyHttpPort, Record().ProxyFtpServer, Record().ProxyFtpPort) =
            std::tie(c.stored.httpServer, c.stored.httpPort, c.stored.ftpServer, c.stored.ftpPort);
        auto sheet = Open();
        EXPECT_EQ(simple(*sheet), c.shown);
        Type(*sheet, res::IDC_OPT_PROXY_ADDRESS, ToQ(c.typed.address));
        Type(*sheet, res::IDC_OPT_PROXY_PORT, ToQ(c.typed.port));

        // The details dialog, cancelled: nothing changes.
        CProxyServers prefill;
        sheet->ConnectionPage().SetProxyDialogRunner([&](CProxyDialog& d) {
            prefill = d.Servers();
            return int(QDialog::Rejected);
        });
        Click(*sheet, res::IDC_OPT_PROXY_DETAILS);
        EXPECT_EQ(prefill, ApplySimpleProxy(c.typed, c.stored));
        EXPECT_EQ(simple(*sheet), c.typed);

        Ok(*sheet);
        EXPECT_EQ((CProxyServers{Record().ProxyHttpServer, Record().ProxyHttpPort, Record().ProxyFtpServer,
                                 Record().ProxyFtpPort}),
                  c.written);
    }

    // Confirmed details replace the four strings and the bypass list, and
    // the simple fields follow them.
    Record().ProxyBypass = "localhost";
    Record().ProxyHttpPort = Record().ProxyFtpPort = "8080";
    auto sheet = Open();
    std::string bypassShown;
    sheet->ConnectionPage().SetProxyDialogRunner([&](CProxyDialog& d) {
        EXPECT_EQ(Control(d, res::IDC_PROXY_HTTP_SERVER)->text(), QStringLiteral("px"));
        bypassShown = d.Bypass();
        Type(d, res::IDC_PROXY_FTP_PORT, QStringLiteral("2121"));
        Type(d, res::IDC_PROXY_BYPASS, QStringLiteral("*.local"));
        return int(QDialog::Accepted);
    });
    Click(*sheet, res::IDC_OPT_PROXY_DETAILS);
    EXPECT_EQ(bypassShown, "localhost");
    EXPECT_EQ(simple(*sheet), CSimpleProxy{});
    Ok(*sheet);
    EXPECT_EQ(std::tuple(Record().ProxyFtpPort, Record().ProxyHttpPort, Record().ProxyBypass),
              std::tuple(std::string("2121"), std::string("8080"), std::string("*.local")));

    // "詳細" does nothing while the page's input is refused.
    sheet = Open();
    bool opened = false;
    sheet->ConnectionPage().SetProxyDialogRunner([&](CProxyDialog&) { return int(opened = true); });
    Type(*sheet, res::IDC_OPT_CONNECTIONS, QStringLiteral("x"));
    Click(*sheet, res::IDC_OPT_PROXY_DETAILS);
    EXPECT_TRUE(!opened && messages.size() == 1);
}

// "参照" asks for a folder starting at the field (not while the folder level
// is refused); the misc page shows seconds of milliseconds, rounding down.
TEST_F(OptionsSheetTest, LocalBrowseMiscSecondsAndChecks)
{
    Record().DefaultDestination = "/start";
    Record().HangUpOnIdleTimer = 1999;
    Record().HangUpOnIdleTimer2 = 30000;
    Record().UseServerFileName = 0;
    auto sheet = Open();
    QStringList asked;
    sheet->LocalPage().SetFolderChooser([&](const QString& current) -> std::optional<QString> {
        asked << current;
        return QStringLiteral("/chosen");
    });
    sheet->Tabs()->setCurrentIndex(LOCAL);
    QLineEdit* level = Control(*sheet, res::IDC_OPT_FNAME_LEVEL);
    level->clear();
    QTest::keyClicks(level, QStringLiteral("x2-y"));
    EXPECT_EQ(level->text(), QStringLiteral("2")) << "typed: digits only";
    Type(*sheet, res::IDC_OPT_FNAME_LEVEL, QStringLiteral("256"));
    Click(*sheet, res::IDC_OPT_BROWSE);
    EXPECT_TRUE(asked.isEmpty());
    Type(*sheet, res::IDC_OPT_FNAME_LEVEL, QStringLiteral("3"));
    Click(*sheet, res::IDC_OPT_BROWSE);
    EXPECT_EQ(asked, QStringList{QStringLiteral("/start")});
    EXPECT_EQ(Text(*sheet, res::IDC_OPT_DESTINATION), QStringLiteral("/chosen"));

    sheet->Tabs()->setCurrentIndex(MISC);
    EXPECT_TRUE(Control<QAbstractButton>(*sheet, res::IDC_OPT_RESUME_PARTIAL)->isChecked() &&
                !Control<QAbstractButton>(*sheet, res::IDC_OPT_SERVER_FILE_NAME)->isChecked());
    Click(*sheet, res::IDC_OPT_RESUME_PARTIAL);
    Click(*sheet, res::IDC_OPT_SERVER_FILE_NAME);
    EXPECT_EQ(Text(*sheet, res::IDC_OPT_CONFIRM_DELAY) + ' ' + Text(*sheet, res::IDC_OPT_COUNTDOWN), QStringLiteral("1 30"));
    Type(*sheet, res::IDC_OPT_CONFIRM_DELAY, QStringLiteral("0"));
    Type(*sheet, res::IDC_OPT_COUNTDOWN, QStringLiteral(" 45 "));
    Ok(*sheet);
    const COptions& r = Record();
    EXPECT_EQ(std::tuple(r.DefaultDestination, r.DefaultFnameLevel, r.HangUpOnIdleTimer, r.HangUpOnIdleTimer2,
                         r.ResumePartial, r.UseServerFileName),
              std::tuple(std::string("/chosen"), 3, 0, 45000, 0, 1));
}

// ヘルプ and F1 open the topic of the page in front.
TEST_F(OptionsSheetTest, HelpFollowsTheActivePage)
{
    auto sheet = Open();
    sheet->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet.get()));
    const char* expected[] = {"OptConnection.html", "OptLocal.html", "OptMisc.html"};
    for (int page = CONNECTION; page <= MISC; ++page) {
        topics.clear();
        sheet->Tabs()->setCurrentIndex(page);
        Click(*sheet, res::IDC_OPT_HELP);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
        EXPECT_EQ(topics, QStringList(2, QString::fromLatin1(expected[page])));
    }
}

// The options command pauses clipboard capture while the sheet runs, and a
// changed number of connections reaches running workers on OK only.
TEST_F(WindowTest, OptionsCommandAppliesConnectionsAndSpeedLimitToRunningWorkers)
{
    ASSERT_TRUE(Start());
    const auto runOptions = [&](const char* connections, int button, const char* speedLimit = "0") {
        bool inDialog = false;
        QTimer::singleShot(0, [&] {
            auto* sheet = qobject_cast<COptionsSheet*>(QApplication::activeModalWidget());
            ASSERT_NE(sheet, nullptr);
            inDialog = View().InDialog();
            Type(*sheet, res::IDC_OPT_CONNECTIONS, QString::fromLatin1(connections));
            Type(*sheet, res::IDC_OPT_SPEED_LIMIT, QString::fromLatin1(speedLimit));
            Click(*sheet, button);
        });
        Run(res::ID_EDIT_OPTIONS);
        EXPECT_TRUE(inDialog);
        EXPECT_FALSE(View().InDialog());
    };
    Run(res::ID_FETCH_START);
    ASSERT_EQ(app->Pool().LiveWorkers(), 1);
    const auto applied = [&] {
        return std::tuple(Options().Connections, app->Pool().TargetWorkers(), CRateLimiter::Global().Rate());
    };
    runOptions("4", 2, "50"); // cancelled
    EXPECT_EQ(applied(), std::tuple(1, 1, 0u));
    runOptions("3", 1, "100");
    EXPECT_EQ(applied(), std::tuple(3, 3, 100u * 1024));

    Run(res::ID_FETCH_STOP);
    ASSERT_TRUE(RunUntil([&] { return app->Pool().LiveWorkers() == 0; }));
    runOptions("2", 1); // not fetching: no worker starts
    EXPECT_EQ(std::tuple(Options().Connections, app->Pool().LiveWorkers(), CRateLimiter::Global().Rate()),
              std::tuple(2, 0, 0u));
}

} // namespace
} // namespace zorv::test

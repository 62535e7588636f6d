#include "app/mainframe.h"

#include "app/app.h"
#include "app/hangupdlg.h"
#include "dialogs/aboutdlg.h"
#include "dialogs/help.h"
#include "settings/profile.h"
#include "engine/controller.h"
#include "engine/pool.h"
#include "model/commands.h"
#include "model/doc.h"
#include "res/buttontips.h"
#include "res/menus.h"
#include "res/resource.h"
#include "res/strings.h"
#include "settings/options.h"
#include "view/listmodel.h"
#include "view/zorvview.h"

#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QGuiApplication>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolBar>

#include <algorithm>
#include <chrono>
#include <cstdio>

// The resources of the zorv_gui library (icons). A static library's
// resources are registered only when something refers to them.
static void InitGuiResources()
{
    Q_INIT_RESOURCE(zorv);
}

namespace zorv {

namespace {

// The window icon in drawn sizes (PNG: readable without Qt's SVG plugin).
QIcon AppIcon()
{
    InitGuiResources();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/zorv/zorv-%1.png").arg(size), QSize(size, size));
    return icon;
}

const QString kPlacementSection = QStringLiteral("Settings");
const QString kPlacementEntry = QStringLiteral("WindowPlacement");

// Status-bar panes after the message pane, by their indicator ids.
constexpr int kPaneIds[4] = {0, res::ID_INDICATOR_NUM, res::ID_INDICATOR_EXT, res::ID_INDICATOR_CAPS};

std::uint64_t SteadyMilliseconds()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

QString ShortPath(const QString& path)
{
    constexpr int kMax = 60;
    const QString native = QDir::toNativeSeparators(path);
    if (native.size() <= kMax)
        return native;
    return native.left(kMax / 3) + QStringLiteral("...") + native.right(kMax - kMax / 3 - 3);
}

} // namespace

CMainFrame::CMainFrame(CZorvApp& app)
    : m_app(app), m_prompt([this](const CPrompt& prompt) { return m_app.UI().ask(prompt); }),
      m_tick(SteadyMilliseconds), m_timeOfDay([] { return QDateTime::currentDateTime(); })
{
    m_prevTime = m_timeOfDay();
    setWindowTitle(res::LoadString(res::AFX_IDS_APP_TITLE));
    setWindowIcon(AppIcon());
    setAcceptDrops(true);
    // Room for the default column widths (the list view's) and the toolbar.
    resize(1080, 600);

    BuildMenus();
    BuildAccelerators();
    BuildStatusBar();
    m_pView = new CZorvView(*this, this);
    setCentralWidget(m_pView);
    RegisterCommands();
    BuildToolBar();
    BuildTrayIcon();
    m_pView->OnInitialUpdate();

    connect(&m_pView->Model(), &CListModel::TitleChanged, this, &CMainFrame::UpdateTitle);
    m_app.Doc().AddObserver(this);
    connect(&m_app.Controller(), &CFetchController::TrafficAdded, this, &CMainFrame::AddTraffic);
    connect(&m_app.Controller(), &CFetchController::ItemFinished, this,
            [this](const ItemPtr& item, int state, bool retried) { m_doneWatch.OnFinished(item->Serial(), state, retried); });
    connect(&m_notifier, &CDesktopNotifier::Clicked, this, &CMainFrame::ShowInFront);
    connect(&m_app, &CZorvApp::RecentFilesChanged, this, &CMainFrame::UpdateRecentFileMenu);
    UpdateRecentFileMenu();

    RestorePlacement();
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &CMainFrame::OnTimer);
    m_timer.start();
    UpdateTitle();
    // The dial-up link tells when it comes or goes (never asked on the UI
    // thread); the auto-disconnect command follows.
    m_app.DialUp().onChanged = [this] {
        UpdateCommandUI();
        m_app.OnDialUpChanged();
    };
    // A hang-up's outcome arrives after its dialog has closed; only a
    // failure is worth a line.
    m_app.DialUp().onHangUpDone = [](bool gone) {
        if (!gone)
            std::fprintf(stderr, "zorv: ダイアルアップ接続を切断できませんでした\n");
    };
    UpdateCommandUI();
}

CMainFrame::~CMainFrame()
{
    m_app.DialUp().onChanged = nullptr;
    m_app.DialUp().onHangUpDone = nullptr;
    DestroyWindow();
    m_app.Doc().RemoveObserver(this);
}

// ---- menus and accelerators ---------------------------------------------------------

void CMainFrame::BuildMenus()
{
    std::function<void(QMenu*, const std::vector<res::CMenuEntry>&)> fill =
        [&](QMenu* menu, const std::vector<res::CMenuEntry>& entries) {
            for (const res::CMenuEntry& e : entries) {
                if (e.id == 0) {
                    menu->addSeparator();
                } else if (e.id < 0) {
                    QMenu* sub = menu->addMenu(e.text);
                    fill(sub, e.popup);
                } else {
                    QAction* a = menu->addAction(e.text);
                    a->setData(e.id);
                    a->setStatusTip(res::Prompt(e.id));
                    a->setToolTip(res::ToolTip(e.id));
                    m_actions[e.id] = a;
                    addAction(a); // keys work whether or not the menu is open
                }
            }
            connect(menu, &QMenu::aboutToShow, this, [this] { UpdateCommandUI(); });
        };
    const auto& bar = res::MainMenu();
    for (size_t i = 0; i < bar.size(); ++i) {
        QMenu* menu = menuBar()->addMenu(bar[i].text);
        fill(menu, bar[i].popup);
        if (i == 0)
            m_pFileMenu = menu;
        if (i == res::kEditMenuIndex)
            m_pEditMenu = menu;
    }
    for (int id : {res::ID_MONITOR_CLIPBOARD, res::ID_AUTO_DISCONNECT, res::ID_VIEW_TOOLBAR,
                   res::ID_VIEW_STATUS_BAR})
        m_actions[id]->setCheckable(true);
    // "最新のﾌｧｲﾙ" stands, disabled, in place of an empty recent-file list.
    m_pRecentPlaceholder = m_actions[res::ID_FILE_MRU_FILE1];
    m_actions.erase(res::ID_FILE_MRU_FILE1);
    m_pRecentPlaceholder->setEnabled(false);
}

void CMainFrame::BuildAccelerators()
{
    std::map<int, QList<QKeySequence>> keys;
    for (const res::CAccelerator& a : res::Accelerators())
        keys[a.id].append(QKeySequence(a.key));
    for (auto& [id, list] : keys) {
        QAction* action = Action(id);
        if (!action) {
            // A key without a menu entry (copy, paste, next pane, ...).
            action = new QAction(this);
            action->setData(id);
            m_actions[id] = action;
            addAction(action);
        }
        action->setShortcuts(list);
    }
}

QAction* CMainFrame::Action(int id) const
{
    const auto it = m_actions.find(id);
    if (it != m_actions.end())
        return it->second;
    return id == res::ID_FILE_MRU_FILE1 ? m_pRecentPlaceholder : nullptr;
}

CZorvDoc& CMainFrame::Doc() const
{
    return m_app.Doc();
}

CWorkerPool& CMainFrame::Pool() const
{
    return m_app.Pool();
}

void CMainFrame::SetCommand(int id, Handler run, Updater update)
{
    QAction* action = Action(id);
    if (!action)
        return;
    m_commands[id] = {std::move(run), std::move(update)};
    disconnect(action, &QAction::triggered, this, nullptr);
    connect(action, &QAction::triggered, this, [this, id] {
        // A command whose rule disables it never runs, whatever reached it.
        UpdateCommandUI();
        const auto it = m_commands.find(id);
        QAction* a = Action(id);
        if (it == m_commands.end() || !a || !a->isEnabled() || !it->second.run)
            return;
        // A copy: the command may replace its own entry (the recent files).
        const Handler command = it->second.run;
        command();
        UpdateCommandUI();
    });
}

void CMainFrame::UpdateCommandUI()
{
    m_nLiveSeen = m_app.Pool().LiveWorkers();
    for (auto& [id, action] : m_actions) {
        const auto it = m_commands.find(id);
        if (it == m_commands.end()) {
            action->setEnabled(false);
            continue;
        }
        action->setEnabled(true);
        if (it->second.update)
            it->second.update(*action);
    }
}

void CMainFrame::RegisterCommands()
{
    SetCommand(res::ID_FILE_NEW, [this] { m_app.OnFileNew(); });
    SetCommand(res::ID_FILE_OPEN, [this] { m_app.OnFileOpen(); });
    SetCommand(res::ID_FILE_SAVE, [this] { m_app.OnFileSave(); });
    SetCommand(res::ID_FILE_SAVE_AS, [this] { m_app.OnFileSaveAs(); });
    SetCommand(res::ID_APP_EXIT, [this] {
        m_bExiting = true; // not to the tray
        close();
        m_bExiting = false;
    });
    SetCommand(
        res::ID_VIEW_TOOLBAR,
        [this] {
            m_pToolBar->setVisible(m_pToolBar->isHidden());
            Options().ToolBar = m_pToolBar->isHidden() ? 0 : 1;
        },
        [this](QAction& a) { a.setChecked(!m_pToolBar->isHidden()); });
    SetCommand(
        res::ID_VIEW_STATUS_BAR, [this] { statusBar()->setVisible(!statusBar()->isVisible()); },
        [this](QAction& a) { a.setChecked(!statusBar()->isHidden()); });
    SetCommand(
        res::ID_AUTO_DISCONNECT, [this] { m_bAutoDisconnect = !m_bAutoDisconnect; },
        [this](QAction& a) {
            a.setEnabled(m_app.DialUp().IsAvailable());
            a.setChecked(m_bAutoDisconnect);
        });
    SetCommand(res::ID_APP_ABOUT, [this] {
        CAboutDlg about(this);
        about.exec();
    });
    // The help contents: the Help menu's "目次..." and F1 in the window.
    SetCommand(res::ID_HELP_INDEX, [] { ShowHelpTopic(); });
    SetCommand(res::ID_HELP, [] { ShowHelpTopic(); });
    // Keys of the accelerator table that have no command behind them: the key
    // is taken and nothing happens.
    for (int id : {res::ID_EDIT_CUT, res::ID_EDIT_UNDO,
                   res::ID_NEXT_PANE, res::ID_PREV_PANE})
        SetCommand(id, [] {});
}

void CMainFrame::UpdateRecentFileMenu()
{
    for (QAction* a : m_recentActions) {
        m_actions.erase(a->data().toInt());
        m_commands.erase(a->data().toInt());
        m_pFileMenu->removeAction(a);
        a->deleteLater(); // it may be the action being triggered
    }
    m_recentActions.clear();
    const QStringList files = m_app.RecentFiles();
    for (int i = 0; i < files.size(); ++i) {
        const int id = res::ID_FILE_MRU_FILE1 + i;
        auto* a = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(ShortPath(files[i])), this);
        a->setData(id);
        a->setStatusTip(res::Prompt(id));
        m_pFileMenu->insertAction(m_pRecentPlaceholder, a);
        m_recentActions.push_back(a);
        m_actions[id] = a;
        const QString path = files[i];
        SetCommand(id, [this, path] {
            // A list that no longer exists leaves the recent-file list.
            if (!m_app.OpenDocumentFile(path) && !QFileInfo::exists(path))
                m_app.RemoveFromRecentFileList(path);
        });
    }
    m_pRecentPlaceholder->setVisible(files.isEmpty());
}

// ---- status bar -------------------------------------------------------------------------

void CMainFrame::BuildStatusBar()
{
    QStatusBar* bar = statusBar();
    m_panes[0] = new QLabel(bar);
    bar->addWidget(m_panes[0], 1);
    // Each pane is as wide as the longest text it shows (large counts, a
    // fast transfer) or its width-setting text, and a line parts it from
    // the one before.
    const QString longest[4] = {
        {},
        res::FormatCount(res::IDS_ITEM_STATUS, 999999, 999999),
        res::FormatCount(res::IDS_THREAD_STATUS, 99, 99),
        QString::fromStdString(CSpeedMeter::FormatSpeed(999999.99)),
    };
    for (int i = 1; i < 4; ++i) {
        const QString width = res::LoadString(kPaneIds[i]);
        auto* line = new QFrame(bar);
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
        bar->addPermanentWidget(line);
        auto* pane = new QLabel(width, bar);
        const QFontMetrics metrics = pane->fontMetrics();
        pane->setMinimumWidth(std::max(metrics.horizontalAdvance(width), metrics.horizontalAdvance(longest[i])) + 8);
        pane->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        bar->addPermanentWidget(pane);
        m_panes[i] = pane;
    }
}

void CMainFrame::BuildToolBar()
{
    InitGuiResources();
    // The commands a user needs most, with the icon theme's pictures where
    // the desktop has them and the program's own otherwise.
    struct CButton {
        int id;
        const char* theme;
        const char* own;
    };
    static const CButton buttons[] = {
        {res::ID_EDIT_NEW, "list-add", "add"},
        {res::ID_FILE_IMPORT, "document-import", "import"},
        {0, nullptr, nullptr},
        {res::ID_FETCH_START, "media-playback-start", "start"},
        {res::ID_FETCH_PAUSE_ALL, "media-playback-pause", "pause"},
        {res::ID_FETCH_STOP, "media-playback-stop", "stop"},
        {0, nullptr, nullptr},
        {res::ID_EDIT_DELETE, "edit-delete", "delete"},
        {res::ID_MOVE_UP, "go-up", "up"},
        {res::ID_MOVE_DOWN, "go-down", "down"},
        {0, nullptr, nullptr},
        {res::ID_EDIT_OPTIONS, "preferences-system", "options"},
    };
    m_pToolBar = addToolBar(res::LoadString(res::ID_VIEW_TOOLBAR).section(QLatin1Char('\n'), 1));
    m_pToolBar->setObjectName(QStringLiteral("toolbar"));
    m_pToolBar->setMovable(false);
    m_pToolBar->setFloatable(false);
    m_pToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_pToolBar->setIconSize(QSize(24, 24));
    // Hiding it is the View menu's toggle, not the bar's own context menu.
    m_pToolBar->toggleViewAction()->setVisible(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    for (const CButton& b : buttons) {
        if (b.id == 0) {
            m_pToolBar->addSeparator();
            continue;
        }
        QAction* a = Action(b.id);
        const QIcon own(QStringLiteral(":/zorv/icons/%1.svg").arg(QLatin1String(b.own)));
        a->setIcon(QIcon::fromTheme(QLatin1String(b.theme), own));
        a->setIconText(res::ToolTip(b.id));
        a->setToolTip(res::ButtonTip(b.id)); // what it does, not its label again
        a->setIconVisibleInMenu(false); // the menus keep their look
        m_pToolBar->addAction(a);
    }
    m_pToolBar->setVisible(Options().ToolBar != 0);
}

void CMainFrame::BuildTrayIcon()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_pTray = new QSystemTrayIcon(windowIcon(), this);
    auto* menu = new QMenu(this);
    menu->addAction(Action(res::ID_FETCH_START));
    menu->addAction(Action(res::ID_FETCH_STOP));
    menu->addSeparator();
    menu->addAction(QStringLiteral("表示"), this, &CMainFrame::ShowInFront);
    menu->addAction(Action(res::ID_APP_EXIT));
    connect(menu, &QMenu::aboutToShow, this, [this] { UpdateCommandUI(); });
    m_pTray->setContextMenu(menu);
    m_pTray->setToolTip(res::LoadString(res::AFX_IDS_APP_TITLE));
    connect(m_pTray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
        if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick)
            isVisible() && !isMinimized() ? hide() : ShowInFront();
    });
    m_pTray->show();
}

void CMainFrame::ShowInFront()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void CMainFrame::CheckDone(int pending, int active)
{
    int fetched = 0, failed = 0;
    if (!m_doneWatch.Tick(pending, active, fetched, failed) || !Options().NotifyWhenDone)
        return;
    m_notifier.Notify(QStringLiteral("ファイル取得が終了しました"),
                      QStringLiteral("取得完了 %1個、取得失敗 %2個").arg(fetched).arg(failed));
}

void CMainFrame::SetSelectionText(const QString& text)
{
    m_panes[0]->setText(text);
}

void CMainFrame::ShowMessage(const QString& text)
{
    constexpr int kMessageMs = 8000;
    statusBar()->showMessage(text, kMessageMs);
}

QString CMainFrame::PaneText(int pane) const
{
    if (pane < 0 || pane > 3)
        return {};
    if (pane == 0 && !statusBar()->currentMessage().isEmpty())
        return statusBar()->currentMessage();
    return m_panes[pane]->text();
}

// ---- timer ------------------------------------------------------------------------------

void CMainFrame::SetClock(TickSource tick, TimeSource timeOfDay)
{
    m_tick = std::move(tick);
    m_timeOfDay = std::move(timeOfDay);
    m_prevTime = m_timeOfDay();
}

void CMainFrame::OnTimer()
{
    const std::uint64_t tick = m_tick();
    CZorvDoc& doc = m_app.Doc();
    CWorkerPool& pool = m_app.Pool();
    const COptions& options = Options();

    const int active = pool.ActiveFetches();
    // Nothing transfers: the speed is 0, not the fading mean of the last run.
    if (active == 0)
        m_speed.Idle();
    if (m_speed.Tick(tick))
        m_panes[3]->setText(QString::fromStdString(CSpeedMeter::FormatSpeed(m_speed.Speed())));
    const int pending = doc.GetItemCount(true);
    m_pView->Model().RefreshWaits();
    m_panes[2]->setText(res::FormatCount(res::IDS_THREAD_STATUS, pool.LiveWorkers(), active));
    m_panes[1]->setText(res::FormatCount(res::IDS_ITEM_STATUS, doc.GetItemCount(false), pending));
    CheckDone(pending, active);
    if (m_pTray)
        m_pTray->setToolTip(res::LoadString(res::AFX_IDS_APP_TITLE) + QLatin1Char('\n') + m_panes[3]->text()
                            + QLatin1Char('\n') + m_panes[1]->text());

    // Offer to hang up once the dial-up connection has been idle long enough.
    const bool connected = m_app.DialUp().IsConnected();
    if (m_hangUpWatch.Tick(connected, m_bAutoDisconnect, active,
                           static_cast<unsigned>(options.HangUpOnIdleTimer), tick)
        && !m_pHangUp) {
        m_pHangUp = new CHangUpDialog(m_app.DialUp(), static_cast<unsigned>(options.HangUpOnIdleTimer2),
                                      m_tick, this);
        m_pHangUp->setAttribute(Qt::WA_DeleteOnClose);
        m_pHangUp->open(); // modal; the frame's timer keeps running
    }

    // Scheduled start: the time of day passed the start time since the last
    // tick on which it was switched on.
    if (options.StartAt) {
        const QDateTime now = m_timeOfDay();
        if (ScheduledStartDue(m_prevTime, now, options.StartAtHour, options.StartAtMin)
            && pool.LiveWorkers() == 0)
            pool.StartFetching();
        m_prevTime = m_timeOfDay();
    }
    // Workers come and go without a notice (a stop takes effect when they
    // leave): the rules that read their number follow on the tick that sees
    // it change. Nothing else here touches a rule.
    if (pool.LiveWorkers() != m_nLiveSeen)
        UpdateCommandUI();
}

// ---- title, placement, closing -----------------------------------------------------------

void CMainFrame::UpdateTitle()
{
    setWindowTitle(m_app.Doc().GetTitle() + QStringLiteral(" - ") + res::LoadString(res::AFX_IDS_APP_TITLE));
}

void CMainFrame::OnAutoSaveFailed(const QString& error)
{
    const QString text = QStringLiteral("リストファイルを自動保存できませんでした。\n%1").arg(error);
    std::fprintf(stderr, "zorv: %s\n", text.toLocal8Bit().constData());
    // Shown once the document has finished the change that saved (the
    // title's mark comes with the document's own title notice).
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (m_app.UI().warning)
                m_app.UI().warning(text);
        },
        Qt::QueuedConnection);
}

void CMainFrame::RestorePlacement()
{
    const auto bytes = GetBinaryProfile(kPlacementSection, kPlacementEntry, kWindowPlacementSize);
    if (!bytes)
        return;
    const auto placement = PlacementFromBytes(*bytes);
    if (!placement)
        return;
    // A window closed maximized or minimized comes back in its normal state,
    // wholly on the screen it was on (or the main one), however that screen
    // has changed since.
    setWindowState(Qt::WindowNoState);
    setGeometry(placement->normal);
    m_bFitOnShow = true;
    FitOnScreen();
}

void CMainFrame::FitOnScreen()
{
    QScreen* screen = QGuiApplication::screenAt(geometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // The frame (title bar, borders) stays on the screen too, once the
    // window system has told its size.
    const QRect frame = frameGeometry(), inner = geometry();
    const QMargins margins(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                           frame.bottom() - inner.bottom());
    const QRect fitted = FitIntoArea(inner, screen->availableGeometry().marginsRemoved(margins));
    if (fitted != inner)
        setGeometry(fitted);
}

void CMainFrame::SavePlacement() const
{
    if (!m_bShown)
        return;
    CWindowPlacement p;
    p.showCmd = isMinimized() ? SW_SHOWMINIMIZED : isMaximized() ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    p.normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    WriteBinaryProfile(kPlacementSection, kPlacementEntry, PlacementToBytes(p));
}

void CMainFrame::DestroyWindow()
{
    if (m_bDestroyed)
        return;
    m_bDestroyed = true;
    SavePlacement();
    m_pView->SaveColumnWidths();
    m_timer.stop();
    if (m_pHangUp)
        m_pHangUp->reject();
    // Closing the list: the workers are told to leave and let go of its items.
    m_app.Doc().OnCloseDocument();
}

void CMainFrame::showEvent(QShowEvent* event)
{
    m_bShown = true;
    QMainWindow::showEvent(event);
    if (std::exchange(m_bFitOnShow, false)) {
        // Once shown the frame's size becomes known (a window manager tells
        // it a little after the window appears): the restored placement is
        // fitted again with it.
        for (int delay : {0, 500})
            QTimer::singleShot(delay, this, &CMainFrame::FitOnScreen);
    }
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // With a tray icon to come back by, closing may only hide the window.
    if (!m_bDestroyed && !m_bExiting && Options().CloseToTray && m_pTray && m_pTray->isVisible()) {
        hide();
        event->ignore();
        return;
    }
    if (!m_bDestroyed && !m_app.CanCloseList()) {
        event->ignore();
        return;
    }
    DestroyWindow();
    event->accept();
}

namespace {

// A dropped local file that is a list of this program.
bool IsListFile(const QUrl& url)
{
    return url.isLocalFile() && url.toLocalFile().endsWith(QLatin1String(".zorv"), Qt::CaseInsensitive);
}

} // namespace

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    // List files, and links (or text) from other programs.
    const QMimeData* mime = event->mimeData();
    if (mime->hasUrls() || mime->hasText())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    const QMimeData* mime = event->mimeData();
    const QList<QUrl> urls = mime->urls();
    for (const QUrl& url : urls) {
        if (IsListFile(url)) {
            event->acceptProposedAction();
            activateWindow();
            m_app.OpenDocumentFile(url.toLocalFile()); // the first list file dropped
            return;
        }
    }
    // Links are added like URLs copied to the clipboard; other local files
    // are not URLs of this program and add nothing.
    QString text;
    if (!urls.isEmpty()) {
        for (const QUrl& url : urls) {
            if (!url.isLocalFile())
                text += url.toString(QUrl::FullyEncoded) + QLatin1Char('\n');
        }
    } else if (mime->hasText()) {
        text = mime->text();
    }
    if (m_pView->AddUrlText(text) > 0)
        event->acceptProposedAction();
}

} // namespace zorv

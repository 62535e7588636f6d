#pragma once
// CMainFrame: the main window. The menu bar and accelerators (actions carry
// the command ids), the status bar (message pane with the selection count,
// items waiting, workers, transfer speed), the one-second timer (panes,
// scheduled start, hang-up decision), the auto-disconnect toggle, the window
// placement kept in the settings store, the title with the " *" mark, and
// dropped list files and links.
#include "app/hangupdlg.h"
#include "desktop/notify.h"
#include "engine/ticker.h"
#include "model/doc.h"
#include "model/prompt.h"
#include "view/viewhost.h"

#include <QMainWindow>
#include <QPointer>
#include <QDateTime>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <map>

class QLabel;
class QMenu;
class QSystemTrayIcon;
class QToolBar;

namespace zorv {

class CZorvApp;
class CZorvView;

class CMainFrame : public QMainWindow, public IDocObserver, public IViewHost {
    Q_OBJECT
public:
    explicit CMainFrame(CZorvApp& app);
    ~CMainFrame() override;

    CZorvView& View() const { return *m_pView; }

    // ---- commands ----------------------------------------------------------
    // The action of a command id (menu entry or accelerator), or null.
    QAction* Action(int id) const;
    // The Edit popup, also the list's context menu.
    QMenu* EditMenu() const override { return m_pEditMenu; }
    // Connects a command to its handler and its enable/check rule. A command
    // without a handler stays disabled.
    void SetCommand(int id, Handler run, Updater update = {}) override;
    // Applies every enable and check rule. Rules run when what they read
    // changes (the selection, the selected items, a command, the dial-up
    // link, the number of workers seen by the timer) and when a menu opens;
    // no rule walks the list or waits on the system.
    void UpdateCommandUI() override;
    CZorvDoc& Doc() const override;
    CWorkerPool& Pool() const override;
    IPrompt& Prompt() override { return m_prompt; }

    // ---- status bar ----------------------------------------------------------
    // Pane 0's text when no prompt is shown (the selection count).
    void SetSelectionText(const QString& text) override;
    // A passing message in pane 0 for a few seconds.
    void ShowMessage(const QString& text) override;
    // The text a pane shows now (pane 0: the prompt while one is shown).
    QString PaneText(int pane) const;

    // ---- timer ---------------------------------------------------------------
    using TickSource = std::function<std::uint64_t()>; // monotonic milliseconds
    using TimeSource = std::function<QDateTime()>;     // local date and time
    // Replaces the clocks (tests); the scheduled start's previous time
    // becomes the new clock's now.
    void SetClock(TickSource tick, TimeSource timeOfDay);
    // One tick of the one-second timer.
    void OnTimer();
    void AddTraffic(quint64 bytes) { m_speed.AddTraffic(bytes); }
    bool AutoDisconnect() const { return m_bAutoDisconnect; }
    // The hang-up dialog while it is shown.
    CHangUpDialog* HangUpDialog() const { return m_pHangUp; }
    // The one-second timer (tests stop it and tick by hand).
    QTimer& Timer() { return m_timer; }

    void UpdateTitle();
    // Saves the placement and the column widths, stops the timer and closes
    // the list. Runs once; closing the window runs it.
    void DestroyWindow();
    // The window has been closed (DestroyWindow ran): its list is gone.
    bool IsDestroyed() const { return m_bDestroyed; }

    // The toolbar under the menu bar (its actions are the menus' own).
    QToolBar* ToolBar() const { return m_pToolBar; }
    // The tray icon, where the desktop has a system tray; else null.
    QSystemTrayIcon* TrayIcon() const { return m_pTray; }
    // The notification shown when the queue has run empty (tests give it a
    // private bus).
    CDesktopNotifier& Notifier() { return m_notifier; }
    // Shows the window in front (a click on the notification or the tray).
    void ShowInFront();

    // IDocObserver: a failed automatic save is told to the user (the list
    // stays modified, so the title keeps its " *").
    void OnAutoSaveFailed(const QString& error) override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildMenus();
    void BuildAccelerators();
    void BuildStatusBar();
    void BuildToolBar();
    void BuildTrayIcon();
    // The notification when the queue has run empty (a timer tick).
    void CheckDone(int pending, int active);
    void RegisterCommands();
    void UpdateRecentFileMenu();
    void RestorePlacement();
    void SavePlacement() const;
    // Brings the window (with its frame) wholly onto its screen.
    void FitOnScreen();

    CZorvApp& m_app;
    CFunctionPrompt m_prompt;
    CZorvView* m_pView = nullptr;
    QMenu* m_pFileMenu = nullptr;
    QMenu* m_pEditMenu = nullptr;
    std::map<int, QAction*> m_actions;
    struct CCommand {
        Handler run;
        Updater update;
    };
    std::map<int, CCommand> m_commands;
    QAction* m_pRecentPlaceholder = nullptr;
    std::vector<QAction*> m_recentActions;
    QLabel* m_panes[4] = {};
    QToolBar* m_pToolBar = nullptr;
    QSystemTrayIcon* m_pTray = nullptr;
    CDesktopNotifier m_notifier;
    CDoneWatch m_doneWatch;
    bool m_bExiting = false; // the Exit command: closing does not go to the tray

    QTimer m_timer;
    TickSource m_tick;
    TimeSource m_timeOfDay;
    CSpeedMeter m_speed;
    CHangUpWatch m_hangUpWatch;
    QDateTime m_prevTime;
    bool m_bAutoDisconnect = false;
    int m_nLiveSeen = -1; // the workers the rules last saw
    QPointer<CHangUpDialog> m_pHangUp;
    bool m_bDestroyed = false;
    bool m_bShown = false; // a window never shown keeps the stored placement
    bool m_bFitOnShow = false; // a restored placement is fitted again once shown
};

} // namespace zorv

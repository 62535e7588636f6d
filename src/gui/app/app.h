#pragma once
// CZorvApp: the window application. Start-up (InitInstance) creates, in
// order, the settings record, the Qt translation, the document with its
// worker pool and event controller, and the main window, then opens the list
// named on the command line (or starts a new one). Shutdown (ExitInstance)
// stops the workers before the list goes away and writes the settings back.
// It also carries the list-file commands (new, open, save, save as, the
// recent-file list) and the dropped-file opening.
#include "app/dialup.h"
#include "model/prompt.h"

#include <QJsonObject>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTranslator>

#include <atomic>
#include <functional>
#include <memory>

namespace zorv {

class CFetchController;
class CListOwner;
class CStopSignals;
class CMainFrame;
class COptions;
class CWorkerPool;
class CZorvDoc;

class CZorvApp : public QObject {
    Q_OBJECT
public:
    // `link` null: the system's dial-up link.
    explicit CZorvApp(std::unique_ptr<IDialUpLink> link = nullptr);
    ~CZorvApp() override;
    CZorvApp(const CZorvApp&) = delete;
    CZorvApp& operator=(const CZorvApp&) = delete;

    // Start-up; `args` are the command-line arguments without the program
    // name: none = a new list, one = the list file to open. False when the
    // program must end (the list could not be opened: the user was told).
    bool InitInstance(const QStringList& args);
    // Shutdown; returns the exit code. Safe to call more than once.
    int ExitInstance();

    CZorvDoc& Doc() const { return *m_pDoc; }
    CWorkerPool& Pool() const { return *m_pPool; }
    CFetchController& Controller() const { return *m_pController; }
    IDialUpLink& DialUp() const { return *m_pDialUp; }
    // The dial-up link's answers changed (the frame passes its notice on).
    void OnDialUpChanged();
    CMainFrame* MainFrame() const { return m_pFrame.get(); }

    // ---- list-file commands -------------------------------------------------
    bool OnFileNew();
    void OnFileOpen();
    bool OnFileSave();
    bool OnFileSaveAs();
    // Opens a list file (after asking to save the current one); a file that
    // cannot be opened is reported and leaves a new, empty list.
    bool OpenDocumentFile(const QString& path);
    // Asks whether to save a modified list; false when the user cancelled
    // (or the save failed).
    bool SaveModified();
    // Before the open list goes away: with items being fetched, whether to
    // stop them (ConfirmStopFetching), then whether to save (SaveModified).
    // False when the list is to stay.
    bool CanCloseList();

    // The recent-file list, newest first (at most 4 entries).
    QStringList RecentFiles() const { return m_recent; }
    // The folder of the open list, else of the most recent one; empty when
    // there is none. The file dialogs start there.
    QString LastListFolder() const;
    void AddToRecentFileList(const QString& path);
    void RemoveFromRecentFileList(const QString& path);

    // From here on, Ctrl+C, SIGTERM and SIGHUP end the window without a
    // question, keeping the list first (KeepListAtEnd); the event loop ends
    // with 128 + the signal.
    void EndOnSignals();
    // Keeps the open list when the window is ended from outside (a signal,
    // the end of the desktop session), asking nothing: see
    // model/recovery.h. Nothing once the window has been closed.
    void KeepListAtEnd();

    // Start-up found the list open in another zorv window and brought that
    // window to the front: this process ends without a window of its own.
    bool HandedOff() const { return m_bHandedOff; }
    // The list-owner socket of the open list (see model/listowner.h).
    CListOwner& Owner() const { return *m_pOwner; }

    // How the application talks to the user. The defaults are message boxes
    // and file dialogs; tests replace them.
    struct CUserInterface {
        std::function<void(const QString& text)> error;
        // A warning that does not wait for the user (a failed automatic save).
        std::function<void(const QString& text)> warning;
        // Yes, No or Cancel.
        std::function<QMessageBox::StandardButton(const QString& text)> askSave;
        // A file to open (forSave false) or to save to; empty: cancelled.
        // `current`: the list's own path when saving one that has a name,
        // else the folder to start in (that of the last list).
        std::function<QString(bool forSave, const QString& current)> chooseFile;
        // A question of a core operation: IDYES, IDNO or IDCANCEL.
        std::function<int(const CPrompt& prompt)> ask;
    };
    CUserInterface& UI() { return m_ui; }

signals:
    void RecentFilesChanged();
    // Another zorv asked this window to come to the front.
    void Raised();

private:
    // Saves the list to `path`; a failure is reported to the user.
    bool SaveTo(const QString& path);
    void LoadTranslation();
    void LoadRecentFileList();
    void SaveRecentFileList() const;
    void ReportError(const QString& text);
    // Takes the list at `path` (see CListOwner::Own) and runs `load` under
    // its lock. False when the list could not be taken: another zorv holds
    // it (with `raiseOther` its window is brought to the front, else the
    // user is told) or the user was told why.
    bool TakeList(const QString& path, const std::function<bool()>& load, bool raiseOther = true);
    QJsonObject AnswerRequest(const QJsonObject& request);
    // Brings the window to the front.
    void RaiseFrame();

    std::unique_ptr<IDialUpLink> m_pDialUp;
    std::unique_ptr<COptions> m_pOptions;
    std::unique_ptr<CZorvDoc> m_pDoc;
    std::unique_ptr<CWorkerPool> m_pPool;
    std::unique_ptr<CFetchController> m_pController;
    std::unique_ptr<CMainFrame> m_pFrame;
    QTranslator m_qtTranslator;
    bool m_bTranslatorInstalled = false;
    QStringList m_recent;
    CUserInterface m_ui;
    bool m_bRunning = false;
    std::atomic<bool> m_bAutoStartAsked{false}; // the auto-start asked the link before it knew
    bool m_bHandedOff = false;
    std::unique_ptr<CListOwner> m_pOwner;
    // The first window also answers for "the window" (WindowHandOffPath):
    // requests for whatever list it has open, a new one too.
    std::unique_ptr<CListOwner> m_pWindowOwner;
    std::unique_ptr<CStopSignals> m_pStopSignals;
};

} // namespace zorv

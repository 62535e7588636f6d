#include "app/app.h"

#include "app/mainframe.h"
#include "cli/stopsignals.h"
#include "engine/closing.h"
#include "engine/controller.h"
#include "engine/pool.h"
#include "model/doc.h"
#include "model/listowner.h"
#include "model/listrequest.h"
#include "model/recovery.h"
#include "res/resource.h"
#include "res/strings.h"
#include "settings/options.h"
#include "settings/store.h"
#include "ui/messagebox.h"
#include "view/zorvview.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <clocale>
#include <cstdio>

namespace zorv {

namespace {

const QString kRecentSection = QStringLiteral("Recent File List");

// Field `n` of the document template string (string 128).
QString DocString(int n)
{
    return res::LoadString(res::IDR_MAINFRAME).section(QLatin1Char('\n'), n, n);
}

QString FileFilter()
{
    return DocString(3) + QStringLiteral(";;すべてのファイル (*)");
}

} // namespace

CZorvApp::CZorvApp(std::unique_ptr<IDialUpLink> link) : m_pDialUp(std::move(link))
{
    if (!m_pDialUp)
        m_pDialUp = MakeSystemDialUpLink();
    m_ui.error = [this](const QString& text) {
        QMessageBox::critical(m_pFrame && m_pFrame->isVisible() ? m_pFrame.get() : nullptr,
                              res::LoadString(res::AFX_IDS_APP_TITLE), text);
    };
    m_ui.warning = [this](const QString& text) {
        auto* box = new QMessageBox(QMessageBox::Warning, res::LoadString(res::AFX_IDS_APP_TITLE), text,
                                    QMessageBox::Ok, m_pFrame.get());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
    m_ui.askSave = [this](const QString& text) {
        return QMessageBox::question(m_pFrame.get(), res::LoadString(res::AFX_IDS_APP_TITLE), text,
                                     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                     QMessageBox::Yes);
    };
    m_ui.ask = [this](const CPrompt& prompt) { return AskUser(m_pFrame.get(), prompt); };
    m_ui.chooseFile = [this](bool forSave, const QString& current) {
        if (!forSave)
            return QFileDialog::getOpenFileName(m_pFrame.get(), QString(), current, FileFilter());
        QFileDialog dialog(m_pFrame.get(), QString(), current, FileFilter());
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(DocString(4).mid(1));
        if (!current.isEmpty() && !QFileInfo(current).isDir())
            dialog.selectFile(current);
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
            ? dialog.selectedFiles().first()
            : QString();
    };
}

CZorvApp::~CZorvApp()
{
    ExitInstance();
}

void CZorvApp::LoadTranslation()
{
    // Qt's own texts (message-box buttons, file and font dialogs) in Japanese.
    if (m_qtTranslator.load(QStringLiteral("qtbase_ja"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        m_bTranslatorInstalled = QCoreApplication::installTranslator(&m_qtTranslator);
    }
}

bool CZorvApp::InitInstance(const QStringList& args)
{
    m_bRunning = true;
    std::setlocale(LC_ALL, "");
    LoadTranslation();
    QCoreApplication::setOrganizationName(res::LoadString(res::IDS_COMPANY));
    QCoreApplication::setApplicationName(res::LoadString(res::AFX_IDS_APP_TITLE));

    // The settings record of this run; written back when it is destroyed.
    m_pOptions = std::make_unique<COptions>();
    m_pOptions->SetSaveOnDestroy(true);
    SetOptions(m_pOptions.get());

    LoadRecentFileList();
    // New items without a destination go to the user's download folder.
    SetFallbackDestination(
        QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)).toStdString());

    // The list, its fetch workers, the handling of their events, the window.
    m_pDoc = std::make_unique<CZorvDoc>();
    m_pPool = std::make_unique<CWorkerPool>(*m_pDoc);
    IDialUpLink* link = m_pDialUp.get();
    m_pPool->SetDialUpTest([this, link] {
        // Asked before the link's first answer: asked again when it comes.
        if (!link->IsKnown())
            m_bAutoStartAsked.store(true);
        return link->IsConnected();
    });
    m_pController = std::make_unique<CFetchController>(*m_pDoc);
    m_pFrame = std::make_unique<CMainFrame>(*this);
    // The verb "open" of a fetched file: the desktop's default application.
    SetOpenFileHandler([](const std::string& path) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
    });

    m_pOwner = std::make_unique<CListOwner>([this](const QJsonObject& r) { return AnswerRequest(r); });

    // The command line: no argument is a new list, one is a list to open.
    if (args.isEmpty()) {
        m_pDoc->OnNewDocument();
        // A list kept when the last window was ended from outside.
        CFunctionPrompt prompt(m_ui.ask);
        OfferRecovery(*m_pDoc, prompt);
    } else {
        QString error;
        // `error` is set only by a load that failed (TakeList tells of the rest).
        if (!TakeList(args.first(), [&] { return m_pDoc->OnOpenDocument(args.first(), &error); })) {
            if (!error.isEmpty())
                ReportError(QStringLiteral("リストファイルを開けませんでした。\n%1").arg(error));
            return false;
        }
        AddToRecentFileList(args.first());
    }
    // The first window takes what a browser hands to "the window"; another
    // window already does in the second.
    m_pWindowOwner = std::make_unique<CListOwner>([this](const QJsonObject& r) { return AnswerRequest(r); });
    m_pWindowOwner->Own(WindowHandOffPath(), nullptr);
    m_pFrame->UpdateTitle();
    m_pFrame->show();
    // The desktop session ending: what the user did is kept, unasked.
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
#ifndef QT_NO_SESSIONMANAGER
        connect(gui, &QGuiApplication::commitDataRequest, this, [this] { KeepListAtEnd(); });
#endif
        connect(gui, &QCoreApplication::aboutToQuit, this, &CZorvApp::KeepListAtEnd);
    }
    return true;
}

void CZorvApp::EndOnSignals()
{
    m_pStopSignals = std::make_unique<CStopSignals>();
    connect(m_pStopSignals.get(), &CStopSignals::Stopped, this, [this](int signal) {
        KeepListAtEnd();
        QCoreApplication::exit(128 + signal);
    });
}

void CZorvApp::KeepListAtEnd()
{
    if (!m_bRunning || !m_pFrame || m_pFrame->IsDestroyed())
        return; // closed by the user: the list was settled then
    QString error;
    if (!zorv::KeepListAtEnd(*m_pDoc, &error))
        std::fprintf(stderr, "zorv: %s\n", error.toLocal8Bit().constData());
}

void CZorvApp::OnDialUpChanged()
{
    // A list opened before the link's first answer starts as it would have
    // had the answer been there.
    if (m_pPool && m_pDialUp->IsKnown() && m_bAutoStartAsked.exchange(false))
        m_pPool->CheckAutoStart();
}

int CZorvApp::ExitInstance()
{
    if (!m_bRunning)
        return 0;
    m_bRunning = false;
    if (m_pFrame) {
        // Saves the placement and the column widths, stops the timer, and
        // closes the list: the workers are told to leave and let go of its
        // items before any item is destroyed.
        m_pFrame->DestroyWindow();
        m_pFrame.reset();
    }
    m_pStopSignals.reset();
    // Nobody can hand this list anything once the window is gone.
    m_pWindowOwner.reset();
    m_pOwner.reset();
    // The workers are joined while their events still have a receiver.
    m_pPool.reset();
    SetOpenFileHandler({});
    m_pController.reset();
    m_pDoc.reset();
    if (m_pOptions) {
        SetOptions(nullptr);
        m_pOptions.reset(); // writes every setting back
    }
    if (m_bTranslatorInstalled) {
        QCoreApplication::removeTranslator(&m_qtTranslator);
        m_bTranslatorInstalled = false;
    }
    return 0;
}

void CZorvApp::ReportError(const QString& text)
{
    std::fprintf(stderr, "zorv: %s\n", text.toLocal8Bit().constData());
    if (m_ui.error)
        m_ui.error(text);
}

// ---- list-file commands -------------------------------------------------------

bool CZorvApp::SaveModified()
{
    // A waiting automatic save is written first: with AutoSave on, closing
    // asks only when that save failed.
    m_pDoc->AutoSave().Flush();
    if (!m_pDoc->IsModified())
        return true;
    const QString name = m_pDoc->GetPathName().isEmpty()
        ? QStringLiteral("無題")
        : QDir::toNativeSeparators(m_pDoc->GetPathName());
    switch (m_ui.askSave(QStringLiteral("%1 への変更を保存しますか?").arg(name))) {
    case QMessageBox::Yes:
        return OnFileSave();
    case QMessageBox::No:
        return true;
    default:
        return false;
    }
}

bool CZorvApp::CanCloseList()
{
    CFunctionPrompt prompt(m_ui.ask);
    return ConfirmStopFetching(*m_pPool, prompt) && SaveModified();
}

bool CZorvApp::OnFileNew()
{
    if (!CanCloseList())
        return false;
    m_pDoc->OnNewDocument();
    m_pOwner->Release();
    return true;
}

bool CZorvApp::TakeList(const QString& path, const std::function<bool()>& load, bool raiseOther)
{
    QString error;
    switch (m_pOwner->Own(path, &error, load)) {
    case CListOwner::OwnResult::Owned:
        return true;
    case CListOwner::OwnResult::Failed:
        if (!error.isEmpty())
            ReportError(QStringLiteral("リストファイルを開けませんでした。\n%1").arg(error));
        return false;
    case CListOwner::OwnResult::Taken:
        break;
    }
    if (!raiseOther) {
        ReportError(QStringLiteral("%1 は別の zorv が開いているため、この名前では保存できません。")
                        .arg(QDir::toNativeSeparators(path)));
        return false;
    }
    // Another zorv holds the list: its window comes to the front instead.
    QJsonObject reply;
    if (SendToOwner(path, {{QStringLiteral("command"), QStringLiteral("raise")}}, &reply) == HandOff::Answered
        && reply.value(QStringLiteral("ok")).toBool()) {
        m_bHandedOff = true;
        return false;
    }
    const QString why = reply.value(QStringLiteral("error")).toString();
    ReportError(QStringLiteral("リストファイルを開けませんでした。\n%1\n%2")
                    .arg(QDir::toNativeSeparators(path), why.isEmpty() ? QStringLiteral("別の zorv が使用中です。") : why));
    return false;
}

void CZorvApp::RaiseFrame()
{
    if (m_pFrame) {
        if (m_pFrame->isMinimized())
            m_pFrame->showNormal();
        m_pFrame->show();
        m_pFrame->raise();
        m_pFrame->activateWindow();
    }
    emit Raised();
}

QJsonObject CZorvApp::AnswerRequest(const QJsonObject& request)
{
    const QString command = request.value(QStringLiteral("command")).toString();
    if (command == QLatin1String("raise")) {
        RaiseFrame();
        return {{QStringLiteral("ok"), true}};
    }
    const QJsonObject reply = AnswerListRequest(*m_pDoc, request);
    if (command == QLatin1String("links") && reply.value(QStringLiteral("ok")).toBool()) {
        // Links from a browser end as the new-URL command ends: the last row
        // in view and the destination check, once the sender has its answer
        // (the check may ask the user). A dialog already open is not
        // stacked upon.
        const bool added = reply.value(QStringLiteral("report")).toObject().value(QStringLiteral("added")).toInt() > 0;
        if (added && m_pFrame) {
            QTimer::singleShot(0, m_pFrame.get(), [this] {
                CZorvView& view = m_pFrame->View();
                if (view.model()->rowCount() > 0)
                    view.scrollTo(view.model()->index(view.model()->rowCount() - 1, 0));
                if (!view.InDialog() && !QApplication::activeModalWidget())
                    view.OnCheckDestinations();
            });
        }
        if (request.value(QStringLiteral("raise")).toBool())
            RaiseFrame();
    }
    return reply;
}

void CZorvApp::OnFileOpen()
{
    const QString path = m_ui.chooseFile(false, LastListFolder());
    if (!path.isEmpty())
        OpenDocumentFile(path);
}

bool CZorvApp::OpenDocumentFile(const QString& path)
{
    if (!CanCloseList())
        return false;
    QString error;
    if (!TakeList(path, [&] { return m_pDoc->OnOpenDocument(path, &error); })) {
        m_bHandedOff = false; // this window stays
        if (!error.isEmpty())
            ReportError(QStringLiteral("リストファイルを開けませんでした。\n%1").arg(error));
        return false;
    }
    AddToRecentFileList(path);
    return true;
}

bool CZorvApp::SaveTo(const QString& path)
{
    QString error;
    const auto save = [&] { return m_pDoc->OnSaveDocument(path, &error); };
    // Saving under another name takes that list (unless another zorv holds it).
    const bool saved = CanonicalListPath(path) == m_pOwner->OwnedPath() ? save() : TakeList(path, save, false);
    if (!saved && !error.isEmpty())
        ReportError(QStringLiteral("リストファイルを保存できませんでした。\n%1").arg(error));
    return saved;
}

bool CZorvApp::OnFileSave()
{
    const QString path = m_pDoc->GetPathName();
    return path.isEmpty() ? OnFileSaveAs() : SaveTo(path);
}

bool CZorvApp::OnFileSaveAs()
{
    const QString current = m_pDoc->GetPathName();
    const QString path = m_ui.chooseFile(true, current.isEmpty() ? LastListFolder() : current);
    if (path.isEmpty() || !SaveTo(path))
        return false;
    AddToRecentFileList(path);
    return true;
}

QString CZorvApp::LastListFolder() const
{
    const QString path = !m_pDoc->GetPathName().isEmpty() ? m_pDoc->GetPathName()
                         : m_recent.isEmpty()              ? QString()
                                                           : m_recent.first();
    return path.isEmpty() ? QString() : QFileInfo(path).absolutePath();
}

// ---- recent-file list -----------------------------------------------------------

void CZorvApp::LoadRecentFileList()
{
    m_recent = ReadRecentFileList(res::kRecentFileCount);
}

void CZorvApp::SaveRecentFileList() const
{
    auto store = OpenSettingsStore();
    store->beginGroup(kRecentSection);
    for (int i = 1; i <= res::kRecentFileCount; ++i) {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= m_recent.size())
            store->setValue(key, m_recent[i - 1]);
        else
            store->remove(key);
    }
}

void CZorvApp::AddToRecentFileList(const QString& path)
{
    const QString full = QFileInfo(path).absoluteFilePath();
    m_recent.removeAll(full);
    m_recent.prepend(full);
    while (m_recent.size() > res::kRecentFileCount)
        m_recent.removeLast();
    SaveRecentFileList();
    emit RecentFilesChanged();
}

} // namespace zorv

namespace zorv {

void CZorvApp::RemoveFromRecentFileList(const QString& path)
{
    if (m_recent.removeAll(path) == 0)
        return;
    SaveRecentFileList();
    emit RecentFilesChanged();
}

} // namespace zorv

#include "dialogs/help.h"

#include "dialogs/helpwindow.h"
#include "ui/placement.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QIcon>
#include <QPointer>
#include <QKeyEvent>
#include <QStyle>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolBar>

// The help pages are a resource of the zorv_gui library; a static library's
// resources are registered only when something refers to them.
static void InitHelpResources()
{
    Q_INIT_RESOURCE(help);
}

namespace zorv {

namespace {

QPointer<CHelpWindow> g_pHelpWindow;

} // namespace

QUrl HelpTopicUrl(const QString& topic)
{
    InitHelpResources();
    const qsizetype hash = topic.indexOf(QLatin1Char('#'));
    const QString page = hash < 0 ? topic : topic.left(hash);
    // Page names only: a topic never reaches outside the help folder.
    const bool known = !page.isEmpty() && !page.contains(QLatin1Char('/'))
                       && QFile::exists(QStringLiteral(":/help/") + page);
    QUrl url(QStringLiteral("qrc:/help/") + (known ? page : QString::fromLatin1(kHelpContents)));
    if (known && hash >= 0)
        url.setFragment(topic.mid(hash + 1));
    return url;
}

CHelpWindow::CHelpWindow(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("zorv ヘルプ"));
    setObjectName(QStringLiteral("help"));
    m_pBrowser = new QTextBrowser(this);
    // Pages link to each other; addresses with another scheme (http, https)
    // go to the desktop's browser.
    m_pBrowser->setOpenExternalLinks(true);
    // One look for every page (the pages carry no style of their own).
    m_pBrowser->document()->setDefaultStyleSheet(QStringLiteral(
        "body { font-size: 10pt; }"
        "h1 { font-size: 15pt; color: #1f4e79; }"
        "h2 { font-size: 12pt; color: #1f4e79; margin-top: 16px; }"
        "th { background-color: #dde6f0; text-align: left; }"
        "code { font-family: monospace; background-color: #f2f2f2; }"));
    setCentralWidget(m_pBrowser);

    QToolBar* bar = addToolBar(QStringLiteral("ヘルプ"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QAction* contents = bar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), QStringLiteral("目次"));
    QAction* back = bar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("戻る"));
    QAction* forward = bar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("進む"));
    contents->setObjectName(QStringLiteral("contents"));
    back->setObjectName(QStringLiteral("back"));
    forward->setObjectName(QStringLiteral("forward"));
    back->setShortcut(QKeySequence::Back);
    forward->setShortcut(QKeySequence::Forward);
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(contents, &QAction::triggered, this, [this] { ShowTopic({}); });
    connect(back, &QAction::triggered, m_pBrowser, &QTextBrowser::backward);
    connect(forward, &QAction::triggered, m_pBrowser, &QTextBrowser::forward);
    connect(m_pBrowser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(m_pBrowser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    connect(m_pBrowser, &QTextBrowser::sourceChanged, this, [this] {
        const QString title = m_pBrowser->documentTitle();
        setWindowTitle(title.isEmpty() ? QStringLiteral("zorv ヘルプ") : QStringLiteral("zorv ヘルプ - ") + title);
    });
    resize(640, 520);
}

void CHelpWindow::ShowTopic(const QString& topic)
{
    const QUrl url = HelpTopicUrl(topic);
    if (m_pBrowser->source() != url)
        m_pBrowser->setSource(url);
}

void CHelpWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape closes the help as it closes a dialog.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void CHelpWindow::FollowModal(QWidget* modal)
{
    if (!modal || modal == this || modal->isAncestorOf(this))
        return;
    const QRect frame = geometry();
    setParent(modal, Qt::Window);
    setGeometry(frame);
    modal->installEventFilter(this);
}

bool CHelpWindow::eventFilter(QObject* watched, QEvent* event)
{
    // The dialog closes: stay open as a window of the application.
    if (event->type() == QEvent::Hide && watched == parentWidget()) {
        watched->removeEventFilter(this);
        const QRect frame = geometry();
        const bool visible = isVisible();
        setParent(nullptr, Qt::Window);
        setGeometry(frame);
        if (visible)
            show();
    }
    return QMainWindow::eventFilter(watched, event);
}

CHelpWindow* CHelpWindow::Existing()
{
    return g_pHelpWindow;
}

void ShowHelpTopic(const QString& topic)
{
    if (!g_pHelpWindow) {
        g_pHelpWindow = new CHelpWindow;
        // A window without a parent: deleted with the application.
        qAddPostRoutine([] { delete g_pHelpWindow.data(); });
    }
    // A window that is not on the screen yet opens beside the window that
    // asked for it (the dialog that runs, else the active window); one that
    // is stays where the user has it.
    QWidget* anchor = QApplication::activeModalWidget();
    if (!anchor)
        anchor = QApplication::activeWindow();
    const bool place = !g_pHelpWindow->isVisible() && anchor && anchor != g_pHelpWindow;
    g_pHelpWindow->FollowModal(QApplication::activeModalWidget());
    g_pHelpWindow->ShowTopic(topic);
    if (place)
        PlaceWindowBeside(*g_pHelpWindow, *anchor);
    if (g_pHelpWindow->isMinimized())
        g_pHelpWindow->showNormal();
    else
        g_pHelpWindow->show();
    g_pHelpWindow->raise();
    g_pHelpWindow->activateWindow();
}

} // namespace zorv

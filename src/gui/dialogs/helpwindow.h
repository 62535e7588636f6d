#pragma once
// The help window: the help pages of the resources in a text browser with
// a tool bar (contents, back, forward). ShowHelpTopic keeps one of them for
// the whole application.
#include <QMainWindow>
#include <QUrl>

class QTextBrowser;

namespace zorv {

class CHelpWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit CHelpWindow(QWidget* parent = nullptr);

    // Shows `topic` (a page name, optionally with "#anchor"); an empty or
    // unknown topic shows the contents.
    void ShowTopic(const QString& topic);
    QTextBrowser& Browser() const { return *m_pBrowser; }

    // The window ShowHelpTopic made, or nullptr before the first call.
    static CHelpWindow* Existing();

    // Keeps the window usable while `modal` runs: a modal dialog blocks
    // every window but its own children, so the help window becomes one
    // for that time and a window of its own again when the dialog closes.
    void FollowModal(QWidget* modal);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTextBrowser* m_pBrowser;
};

// The address of a help page: "qrc:/help/TOPIC" when that page exists, else
// the contents page. An "#anchor" after the page name is kept.
QUrl HelpTopicUrl(const QString& topic);
// The name of the contents page.
inline const char* const kHelpContents = "index.html";

} // namespace zorv

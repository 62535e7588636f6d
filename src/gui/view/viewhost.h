#pragma once
// What the list view needs of the window that holds it: the list and its
// workers, the command table (menus, accelerators, enable rules), the
// selection pane of the status bar and the Edit menu as context menu. The
// main frame provides it; the view knows nothing else of the application.
#include <QString>

#include <functional>

class QAction;
class QMenu;

namespace zorv {

class CWorkerPool;
class CZorvDoc;
class IPrompt;

class IViewHost {
public:
    using Handler = std::function<void()>;
    using Updater = std::function<void(QAction&)>;

    virtual CZorvDoc& Doc() const = 0;
    virtual CWorkerPool& Pool() const = 0;
    // Connects a command to its handler and its enable/check rule.
    virtual void SetCommand(int id, Handler run, Updater update = {}) = 0;
    // Applies every enable and check rule. Each rule reads state kept up to
    // date (counts, flags): cheap enough to run on every change.
    virtual void UpdateCommandUI() = 0;
    // Pane 0's text when no prompt is shown (the selection count).
    virtual void SetSelectionText(const QString& text) = 0;
    // A passing message in pane 0 (it gives way to the selection count).
    virtual void ShowMessage(const QString& text) = 0;
    // The Edit popup, also the list's context menu.
    virtual QMenu* EditMenu() const = 0;
    // Answers the questions that core operations ask the user.
    virtual IPrompt& Prompt() = 0;

protected:
    ~IViewHost() = default;
};

} // namespace zorv

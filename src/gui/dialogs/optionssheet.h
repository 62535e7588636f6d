#pragma once
// COptionsSheet: the options sheet over a settings record. Three pages in
// the tabs "接続", "ローカルファイル" and "詳細"; OK, キャンセル and ヘルプ, no
// Apply. The pages edit a copy of the record taken when the sheet is made: a
// page is filled from the copy when it is first shown and copies back into
// it when it is left; a page whose input is refused stays active (the tab
// does not change, OK does not close).
//
// OK commits the copy into the record in one step under the record's lock,
// so the timer and the transfers see the values of before or of after the
// run, never a page's half. Anything else leaves the record untouched. The
// store gets the new values at exit, as it gets every other change.
#include "settings/options.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <vector>

class QTabWidget;

namespace zorv {

class COptConnection;
class COptLocal;
class COptMisc;
class COptPage;

class COptionsSheet : public QDialog {
    Q_OBJECT
public:
    using HelpHook = std::function<void(const QString& topic)>;
    using MessageHook = std::function<void(const QString& text)>;

    explicit COptionsSheet(COptions& options, QWidget* parent = nullptr);

    // Runs modally; the dialog's result.
    int DoModal();

    // Opens a help topic (default: ShowHelpTopic).
    void SetHelpHook(HelpHook hook) { m_help = std::move(hook); }
    // Shows the pages' messages for refused input (default: a warning box).
    void SetMessageHook(const MessageHook& hook);

    QTabWidget* Tabs() const { return m_pTabs; }
    COptPage* ActivePage() const;
    COptConnection& ConnectionPage() const { return *m_pConnection; }
    COptLocal& LocalPage() const { return *m_pLocal; }
    COptMisc& MiscPage() const { return *m_pMisc; }

    // ヘルプ and F1: the topic of the active page.
    void OnHelp();
    // OK: the active page must be left first; then the copy is committed.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnTabChanged(int index);

    COptions& m_options;
    COptions m_edit; // what the pages edit
    QTabWidget* m_pTabs;
    COptConnection* m_pConnection;
    COptLocal* m_pLocal;
    COptMisc* m_pMisc;
    std::vector<COptPage*> m_pages;
    int m_nActive = 0;
    bool m_bSwitching = false;
    HelpHook m_help;
};

} // namespace zorv

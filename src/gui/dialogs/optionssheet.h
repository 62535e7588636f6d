#pragma once
// COptionsSheet: the options sheet over a settings record. Three pages in
// the tabs "接続", "ローカルファイル" and "詳細"; OK, キャンセル and ヘルプ, no
// Apply. A page is filled from the record when it is first shown and copies
// back into the record when it is left; a page whose input is refused stays
// active (the tab does not change, OK does not close).
//
// DoModal saves the record to the store before the sheet runs and reloads
// it from there after anything but OK, so a cancelled run leaves no trace.
// After OK the new values live in memory; the store gets them at the next
// run or at exit.
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
class COptions;

class COptionsSheet : public QDialog {
    Q_OBJECT
public:
    using HelpHook = std::function<void(const QString& topic)>;
    using MessageHook = std::function<void(const QString& text)>;

    explicit COptionsSheet(COptions& options, QWidget* parent = nullptr);

    // Save, run modally, reload unless accepted; the dialog's result.
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
    // OK: the active page must be left first.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnTabChanged(int index);

    QTabWidget* m_pTabs;
    COptConnection* m_pConnection;
    COptLocal* m_pLocal;
    COptMisc* m_pMisc;
    std::vector<COptPage*> m_pages;
    int m_nActive = 0;
    bool m_bSwitching = false;
    HelpHook m_help;
    COptions& m_options;
};

} // namespace zorv

#pragma once
// COptMisc: "詳細", automatic and scheduled start, removal of fetched items,
// automatic saving, the launch after a fetch, the disconnect delays (shown
// in whole seconds, kept in milliseconds), resuming partial files, the
// server's file names, the notification when the list is done and closing
// to the tray. Every control stays enabled.
#include "dialogs/optpage.h"

namespace zorv {

class COptMisc : public COptPage {
    Q_OBJECT
public:
    COptMisc(COptions& options, QWidget* parent);
    QString HelpTopic() const override { return QStringLiteral("OptMisc.html"); }

protected:
    void OnInitPage() override;
    bool OnKillActive() override;

private:
    QCheckBox* m_pAutoStart;
    QCheckBox* m_pStartAt;
    QLineEdit* m_pHour;
    QLineEdit* m_pMinute;
    QCheckBox* m_pRemove;
    QCheckBox* m_pAutoSave;
    QCheckBox* m_pLaunch;
    QLineEdit* m_pAction;
    QLineEdit* m_pConfirmDelay;
    QLineEdit* m_pCountdown;
    QCheckBox* m_pResume;
    QCheckBox* m_pServerName;
    QCheckBox* m_pNotify;
    QCheckBox* m_pCloseToTray;
};

} // namespace zorv

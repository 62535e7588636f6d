#include "dialogs/optmisc.h"

#include "res/resource.h"
#include "settings/options.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace zorv {

namespace {

QString Seconds(int milliseconds)
{
    // Unsigned division, as the value is shown: 1999 ms is 1 second.
    return QString::number(static_cast<unsigned>(milliseconds) / 1000u);
}

} // namespace

COptMisc::COptMisc(COptions& options, QWidget* parent)
    : COptPage(options, QStringLiteral("詳細"), res::IDD_OPT_MISC, parent),
      m_pAutoStart(MakeCheck(res::IDC_OPT_AUTO_START, QStringLiteral("ダイアルアップ中なら自動的に取得開始"))),
      m_pStartAt(MakeCheck(res::IDC_OPT_START_AT, QString())), m_pHour(MakeEdit(res::IDC_OPT_START_HOUR, 3)),
      m_pMinute(MakeEdit(res::IDC_OPT_START_MIN, 3)),
      m_pRemove(MakeCheck(res::IDC_OPT_AUTO_REMOVE, QStringLiteral("取得したファイルはリストから削除"))),
      m_pAutoSave(MakeCheck(res::IDC_OPT_AUTO_SAVE, QStringLiteral("リストを自動保存"))),
      m_pLaunch(MakeCheck(res::IDC_OPT_EXEC_AFTER_FETCH, QStringLiteral("ファイル取得後アプリケーション起動"))),
      m_pAction(MakeEdit(res::IDC_OPT_EXEC_ACTION)), m_pConfirmDelay(MakeEdit(res::IDC_OPT_CONFIRM_DELAY, 7)),
      m_pCountdown(MakeEdit(res::IDC_OPT_COUNTDOWN, 7)),
      m_pResume(MakeCheck(res::IDC_OPT_RESUME_PARTIAL, QStringLiteral("中断したファイルは続きから取得"))),
      m_pServerName(MakeCheck(res::IDC_OPT_SERVER_FILE_NAME, QStringLiteral("サーバーが示すファイル名で保存"))),
      m_pNotify(MakeCheck(res::IDC_OPT_NOTIFY_DONE, QStringLiteral("取得がすべて終わったらデスクトップに通知"))),
      m_pCloseToTray(MakeCheck(res::IDC_OPT_CLOSE_TO_TRAY, QStringLiteral("閉じるボタンでタスクトレイに格納")))
{
    auto* time = new QHBoxLayout;
    time->addWidget(m_pStartAt);
    time->addWidget(m_pHour);
    time->addWidget(new QLabel(QStringLiteral("時"), this));
    time->addWidget(m_pMinute);
    time->addWidget(new QLabel(QStringLiteral("分に取得開始"), this));
    time->addStretch(1);

    // The check box heads its group but does not switch the action field.
    auto* launch = new QGroupBox(this);
    auto* launchGrid = new QGridLayout(launch);
    launchGrid->addWidget(m_pLaunch, 0, 0, 1, 2);
    launchGrid->addWidget(new QLabel(QStringLiteral("アクション"), launch), 1, 0);
    launchGrid->addWidget(m_pAction, 1, 1);
    launchGrid->setColumnStretch(1, 1);

    auto* hangUp = new QGroupBox(QStringLiteral("ダイアルアップ接続を自動切断する場合"), this);
    auto* hangUpGrid = new QGridLayout(hangUp);
    hangUpGrid->addWidget(new QLabel(QStringLiteral("取得完了後"), hangUp), 0, 0);
    hangUpGrid->addWidget(m_pConfirmDelay, 0, 1);
    hangUpGrid->addWidget(new QLabel(QStringLiteral("秒後に切断確認する"), hangUp), 0, 2);
    hangUpGrid->addWidget(new QLabel(QStringLiteral("確認表示後"), hangUp), 1, 0);
    hangUpGrid->addWidget(m_pCountdown, 1, 1);
    hangUpGrid->addWidget(new QLabel(QStringLiteral("秒後に切断"), hangUp), 1, 2);
    hangUpGrid->setColumnStretch(3, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pAutoStart);
    layout->addLayout(time);
    layout->addWidget(m_pRemove);
    layout->addWidget(m_pAutoSave);
    layout->addWidget(m_pResume);
    layout->addWidget(m_pServerName);
    layout->addWidget(m_pNotify);
    layout->addWidget(m_pCloseToTray);
    layout->addWidget(launch);
    layout->addWidget(hangUp);
    layout->addStretch(1);
}

void COptMisc::OnInitPage()
{
    const COptions& o = m_options;
    m_pAction->setText(ToQ(o.ExecAction));
    m_pLaunch->setChecked(o.ExecAfterFetch != 0);
    m_pConfirmDelay->setText(Seconds(o.HangUpOnIdleTimer));
    m_pCountdown->setText(Seconds(o.HangUpOnIdleTimer2));
    m_pAutoStart->setChecked(o.AutoStartIfRasActive != 0);
    m_pStartAt->setChecked(o.StartAt != 0);
    m_pHour->setText(QString::number(static_cast<unsigned>(o.StartAtHour)));
    m_pMinute->setText(QString::number(static_cast<unsigned>(o.StartAtMin)));
    m_pRemove->setChecked(o.AutoRemoveUrlIfSuccess != 0);
    m_pAutoSave->setChecked(o.AutoSave != 0);
    m_pResume->setChecked(o.ResumePartial != 0);
    m_pServerName->setChecked(o.UseServerFileName != 0);
    m_pNotify->setChecked(o.NotifyWhenDone != 0);
    m_pCloseToTray->setChecked(o.CloseToTray != 0);
}

bool COptMisc::OnKillActive()
{
    // In the order of the controls on the page.
    const auto hour = ReadField(m_pHour, PageField("StartAtHour"));
    if (!hour)
        return false;
    const auto minute = ReadField(m_pMinute, PageField("StartAtMin"));
    if (!minute)
        return false;
    const auto confirm = ReadField(m_pConfirmDelay, PageField("HangUpOnIdleTimer"));
    if (!confirm)
        return false;
    const auto countdown = ReadField(m_pCountdown, PageField("HangUpOnIdleTimer2"));
    if (!countdown)
        return false;
    COptions& o = m_options;
    o.ExecAction = FromQ(m_pAction->text());
    o.ExecAfterFetch = m_pLaunch->isChecked() ? 1 : 0;
    o.HangUpOnIdleTimer = static_cast<int>(*confirm * 1000u);
    o.HangUpOnIdleTimer2 = static_cast<int>(*countdown * 1000u);
    o.AutoStartIfRasActive = m_pAutoStart->isChecked() ? 1 : 0;
    o.StartAt = m_pStartAt->isChecked() ? 1 : 0;
    o.StartAtHour = static_cast<int>(*hour);
    o.StartAtMin = static_cast<int>(*minute);
    o.AutoRemoveUrlIfSuccess = m_pRemove->isChecked() ? 1 : 0;
    o.AutoSave = m_pAutoSave->isChecked() ? 1 : 0;
    o.NotifyWhenDone = m_pNotify->isChecked() ? 1 : 0;
    o.CloseToTray = m_pCloseToTray->isChecked() ? 1 : 0;
    o.ResumePartial = m_pResume->isChecked() ? 1 : 0;
    o.UseServerFileName = m_pServerName->isChecked() ? 1 : 0;
    return true;
}

} // namespace zorv

#include "app/hangupdlg.h"

#include "res/resource.h"
#include "res/strings.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zorv {

CHangUpDialog::CHangUpDialog(IDialUpLink& link, unsigned countdownMs, TickSource tick,
                             QWidget* parent)
    : QDialog(parent), m_link(link), m_countdown(countdownMs), m_tick(std::move(tick)),
      m_start(m_tick())
{
    setWindowTitle(QStringLiteral("ダイアルアップ接続の切断"));
    m_pMessage = new QPlainTextEdit(this);
    m_pMessage->setObjectName(QString::number(res::IDC_HANGUP_MESSAGE));
    m_pMessage->setReadOnly(true);
    m_pMessage->setFocusPolicy(Qt::NoFocus);
    m_pRemaining = new QLineEdit(this);
    m_pRemaining->setObjectName(QString::number(res::IDC_HANGUP_REMAINING));
    m_pRemaining->setReadOnly(true);
    m_pRemaining->setFocusPolicy(Qt::NoFocus);
    m_pDisconnect = new QPushButton(QStringLiteral("切断"), this);
    m_pCancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    m_pCancel->setDefault(true);
    m_pCancel->setFocus();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_pDisconnect);
    buttons->addWidget(m_pCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pMessage);
    layout->addWidget(m_pRemaining);
    layout->addLayout(buttons);
    resize(360, 180);

    connect(m_pDisconnect, &QPushButton::clicked, this, &CHangUpDialog::OnDisconnect);
    connect(m_pCancel, &QPushButton::clicked, this, &QDialog::reject);

    m_pMessage->setPlainText(res::FormatNumber(res::IDS_HANGUP_MESSAGE, static_cast<long>(m_countdown / 1000)));
    m_pRemaining->setText(FormatRemaining());
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &CHangUpDialog::OnTimer);
    m_timer.start();
}

QString CHangUpDialog::FormatRemaining() const
{
    const std::uint64_t elapsed = m_tick() - m_start;
    const std::uint64_t left = elapsed >= m_countdown ? 0 : m_countdown - elapsed;
    return res::FormatNumber(res::IDS_HANGUP_REMAINING, static_cast<long>(left / 1000));
}

void CHangUpDialog::OnTimer()
{
    if (m_bDone)
        return;
    m_pRemaining->setText(FormatRemaining());
    if (m_tick() - m_start > m_countdown)
        OnDisconnect();
}

void CHangUpDialog::OnDisconnect()
{
    if (m_bDone)
        return;
    m_bDone = true;
    m_timer.stop();
    m_link.HangUp();
    QDialog::done(QDialog::Accepted);
}

void CHangUpDialog::done(int result)
{
    m_bDone = true;
    m_timer.stop();
    QDialog::done(result);
}

QString CHangUpDialog::MessageText() const
{
    return m_pMessage->toPlainText();
}

QString CHangUpDialog::RemainingText() const
{
    return m_pRemaining->text();
}

} // namespace zorv

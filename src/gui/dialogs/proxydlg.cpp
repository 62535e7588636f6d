#include "dialogs/proxydlg.h"

#include "dialogs/optpage.h"
#include "model/prompt.h"
#include "res/resource.h"
#include "ui/controls.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zorv {

CProxyDialog::CProxyDialog(QWidget* parent)
    : QDialog(parent), m_pHttpServer(DialogEdit(this, res::IDC_PROXY_HTTP_SERVER)),
      m_pHttpPort(DialogEdit(this, res::IDC_PROXY_HTTP_PORT)),
      m_pFtpServer(DialogEdit(this, res::IDC_PROXY_FTP_SERVER)),
      m_pFtpPort(DialogEdit(this, res::IDC_PROXY_FTP_PORT)), m_pBypass(DialogEdit(this, res::IDC_PROXY_BYPASS))
{
    setWindowTitle(QStringLiteral("プロキシ設定"));
    setObjectName(QString::number(res::IDD_PROXY));

    const int portWidth = m_pHttpPort->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16;
    m_pHttpPort->setFixedWidth(portWidth);
    m_pFtpPort->setFixedWidth(portWidth);

    auto* servers = new QGroupBox(QStringLiteral("サーバ"), this);
    auto* grid = new QGridLayout(servers);
    grid->addWidget(new QLabel(QStringLiteral("アドレス"), servers), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("ポート"), servers), 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("HTTP"), servers), 1, 0);
    grid->addWidget(m_pHttpServer, 1, 1);
    grid->addWidget(m_pHttpPort, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("FTP"), servers), 2, 0);
    grid->addWidget(m_pFtpServer, 2, 1);
    grid->addWidget(m_pFtpPort, 2, 2);
    grid->setColumnStretch(1, 1);

    auto* exceptions = new QGroupBox(QStringLiteral("例外"), this);
    auto* note = new QLabel(QStringLiteral("次の文字列にマッチするアドレスにはプロキシを使用しない．"
                                           "スペースで複数アドレスを入力できます．"),
                            exceptions);
    note->setWordWrap(true);
    auto* exceptionsLayout = new QVBoxLayout(exceptions);
    exceptionsLayout->addWidget(note);
    exceptionsLayout->addWidget(m_pBypass);

    auto* ok = DialogButton(this, QStringLiteral("OK"), IDOK, true);
    auto* cancel = DialogButton(this, QStringLiteral("ｷｬﾝｾﾙ"), IDCANCEL);
    auto* buttons = ButtonRow({ok, cancel});

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(servers);
    layout->addWidget(exceptions);
    layout->addLayout(buttons);
    // The note reads on two lines at most.
    setMinimumWidth(note->fontMetrics().horizontalAdvance(note->text()) / 2 + 60);

    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CProxyDialog::SetServers(const CProxyServers& servers)
{
    m_pHttpServer->setText(ToQ(servers.httpServer));
    m_pHttpPort->setText(ToQ(servers.httpPort));
    m_pFtpServer->setText(ToQ(servers.ftpServer));
    m_pFtpPort->setText(ToQ(servers.ftpPort));
}

CProxyServers CProxyDialog::Servers() const
{
    return {FromQ(m_pHttpServer->text()), FromQ(m_pHttpPort->text()), FromQ(m_pFtpServer->text()),
            FromQ(m_pFtpPort->text())};
}

void CProxyDialog::SetBypass(const std::string& bypass)
{
    m_pBypass->setText(ToQ(bypass));
}

std::string CProxyDialog::Bypass() const
{
    return FromQ(m_pBypass->text());
}

} // namespace zorv

#include "dialogs/optconnection.h"

#include "dialogs/proxydlg.h"
#include "res/resource.h"
#include "settings/options.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace zorv {

COptConnection::COptConnection(COptions& options, QWidget* parent)
    : COptPage(options, QStringLiteral("接続"), res::IDD_OPT_CONNECTION, parent),
      m_pConnections(MakeEdit(res::IDC_OPT_CONNECTIONS, 4)), m_pAgent(MakeEdit(res::IDC_OPT_AGENT)),
      m_pCache(MakeCheck(res::IDC_OPT_CACHE, QStringLiteral("取得したファイルをキャッシュに登録"))),
      m_pRetries(MakeEdit(res::IDC_OPT_MAX_RETRY, 5)), m_pRetryWait(MakeEdit(res::IDC_OPT_RETRY_WAIT, 4)),
      m_pSegments(MakeEdit(res::IDC_OPT_MAX_SEGMENTS, 4)),
      m_pPerServer(MakeEdit(res::IDC_OPT_MAX_PER_SERVER, 4)), m_pSpeedLimit(MakeEdit(res::IDC_OPT_SPEED_LIMIT, 8)),
      m_pCaFile(MakeEdit(res::IDC_OPT_CA_CERTIFICATES)),
      m_pDirect(new QRadioButton(QStringLiteral("プロキシサーバを使用しない"), this)),
      m_pSystem(new QRadioButton(QStringLiteral("OSの設定を使用"), this)),
      m_pNamed(new QRadioButton(QStringLiteral("プロキシサーバを使用する"), this)),
      m_pAddress(MakeEdit(res::IDC_OPT_PROXY_ADDRESS)), m_pPort(MakeEdit(res::IDC_OPT_PROXY_PORT, 6)),
      m_pDetails(new QPushButton(QStringLiteral("詳細"), this))
{
    m_pDirect->setObjectName(QString::number(res::IDC_OPT_PROXY_DIRECT));
    m_pSystem->setObjectName(QString::number(res::IDC_OPT_PROXY_SYSTEM));
    m_pNamed->setObjectName(QString::number(res::IDC_OPT_PROXY_NAMED));
    m_pDetails->setObjectName(QString::number(res::IDC_OPT_PROXY_DETAILS));
    m_pDetails->setAutoDefault(false);
    auto* caBrowse = new QPushButton(QStringLiteral("参照..."), this);
    caBrowse->setObjectName(QString::number(res::IDC_OPT_CA_BROWSE));
    caBrowse->setAutoDefault(false);
    // Room for a host name such as "proxy.example.com" and more.
    m_pAddress->setMinimumWidth(m_pAddress->fontMetrics().horizontalAdvance(QStringLiteral("proxy.example.co.jp:")) + 16);
    // One choice among buttons in two group boxes; none is checked while the
    // stored type is not one of the three.
    auto* radios = new QButtonGroup(this);
    radios->addButton(m_pDirect);
    radios->addButton(m_pSystem);
    radios->addButton(m_pNamed);

    auto* top = new QGridLayout;
    top->addWidget(new QLabel(QStringLiteral("接続数"), this), 0, 0);
    top->addWidget(m_pConnections, 0, 1, Qt::AlignLeft);
    top->addWidget(new QLabel(QStringLiteral("HTTP Agent"), this), 1, 0);
    top->addWidget(m_pAgent, 1, 1);
    top->setColumnStretch(1, 1);

    auto* retry = new QHBoxLayout;
    retry->addWidget(new QLabel(QStringLiteral("ファイル取得に失敗したら"), this));
    retry->addWidget(m_pRetries);
    retry->addWidget(new QLabel(QStringLiteral("回までリトライする"), this));
    retry->addStretch(1);
    auto* retryWait = new QHBoxLayout;
    retryWait->addWidget(new QLabel(QStringLiteral("リトライの間隔"), this));
    retryWait->addWidget(m_pRetryWait);
    retryWait->addWidget(new QLabel(QStringLiteral("秒（失敗のたびに倍、最大 10 分）"), this));
    retryWait->addStretch(1);

    auto* transfer = new QGridLayout;
    transfer->addWidget(new QLabel(QStringLiteral("1 ファイルの最大接続数"), this), 0, 0);
    transfer->addWidget(m_pSegments, 0, 1, Qt::AlignLeft);
    transfer->addWidget(new QLabel(QStringLiteral("サーバーごとの最大接続数 (0 = 無制限)"), this), 1, 0);
    transfer->addWidget(m_pPerServer, 1, 1, Qt::AlignLeft);
    transfer->addWidget(new QLabel(QStringLiteral("速度制限"), this), 2, 0);
    auto* limit = new QHBoxLayout;
    limit->addWidget(m_pSpeedLimit);
    limit->addWidget(new QLabel(QStringLiteral("KiB/s（0 は制限なし）"), this));
    limit->addStretch(1);
    transfer->addLayout(limit, 2, 1);
    transfer->setColumnStretch(1, 1);

    auto* ca = new QHBoxLayout;
    ca->addWidget(new QLabel(QStringLiteral("追加の認証局証明書 (PEM)"), this));
    ca->addWidget(m_pCaFile, 1);
    ca->addWidget(caBrowse);

    auto* proxy = new QGroupBox(QStringLiteral("プロキシ サーバ"), this);
    auto* named = new QGroupBox(proxy);
    auto* namedGrid = new QGridLayout(named);
    namedGrid->addWidget(m_pNamed, 0, 0, 1, 5);
    namedGrid->addWidget(new QLabel(QStringLiteral("アドレス"), named), 1, 0);
    namedGrid->addWidget(m_pAddress, 1, 1);
    namedGrid->addWidget(new QLabel(QStringLiteral("ポート"), named), 1, 2);
    namedGrid->addWidget(m_pPort, 1, 3);
    namedGrid->addWidget(m_pDetails, 1, 4);
    namedGrid->setColumnStretch(1, 1);
    auto* proxyLayout = new QVBoxLayout(proxy);
    proxyLayout->addWidget(m_pDirect);
    proxyLayout->addWidget(m_pSystem);
    proxyLayout->addWidget(named);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_pCache);
    layout->addLayout(retry);
    layout->addLayout(retryWait);
    layout->addLayout(transfer);
    layout->addLayout(ca);
    layout->addWidget(proxy);
    layout->addStretch(1);

    m_runProxyDialog = [](CProxyDialog& dialog) { return dialog.exec(); };
    m_chooseFile = [this](const QString& current) -> std::optional<QString> {
        const QString path = QFileDialog::getOpenFileName(
            this, QStringLiteral("追加の認証局証明書"), current,
            QStringLiteral("PEM 証明書 (*.pem *.crt *.cer);;すべてのファイル (*)"));
        if (path.isEmpty())
            return std::nullopt;
        return path;
    };
    connect(caBrowse, &QPushButton::clicked, this, [this] {
        if (const auto path = m_chooseFile(m_pCaFile->text()))
            m_pCaFile->setText(*path);
    });
    connect(m_pDirect, &QRadioButton::clicked, this, [this] { OnProxyType(PROXY_DIRECT); });
    connect(m_pSystem, &QRadioButton::clicked, this, [this] { OnProxyType(PROXY_SYSTEM); });
    connect(m_pNamed, &QRadioButton::clicked, this, [this] { OnProxyType(PROXY_NAMED); });
    connect(m_pDetails, &QPushButton::clicked, this, &COptConnection::OnDetails);
}

void COptConnection::OnInitPage()
{
    const COptions& o = m_options;
    m_pConnections->setText(QString::number(static_cast<unsigned>(o.Connections)));
    m_pAgent->setText(ToQ(o.HttpAgent));
    m_pCache->setChecked(o.EnableCache != 0);
    m_pRetries->setText(QString::number(static_cast<unsigned>(o.MaxRetry)));
    m_pRetryWait->setText(QString::number(static_cast<unsigned>(o.RetryWait)));
    m_pSegments->setText(QString::number(static_cast<unsigned>(o.MaxSegments)));
    m_pPerServer->setText(QString::number(static_cast<unsigned>(o.MaxConnectionsPerServer)));
    m_pSpeedLimit->setText(QString::number(static_cast<unsigned>(o.SpeedLimit)));
    m_pCaFile->setText(ToQ(o.CaCertificates));
    // Another stored type checks no button, leaves every proxy control
    // enabled and is kept until a button is clicked.
    m_nProxyType = o.ProxySetting;
    if (m_nProxyType == PROXY_SYSTEM || m_nProxyType == PROXY_DIRECT || m_nProxyType == PROXY_NAMED) {
        QRadioButton* button = m_nProxyType == PROXY_SYSTEM   ? m_pSystem
                               : m_nProxyType == PROXY_DIRECT ? m_pDirect
                                                              : m_pNamed;
        button->setChecked(true);
        SetProxyControlsEnabled(m_nProxyType == PROXY_NAMED);
    }
    m_servers = {o.ProxyHttpServer, o.ProxyHttpPort, o.ProxyFtpServer, o.ProxyFtpPort};
    ShowSimpleProxy(DeriveSimpleProxy(m_servers));
    m_strBypass = o.ProxyBypass;
}

void COptConnection::OnProxyType(int type)
{
    m_nProxyType = type;
    SetProxyControlsEnabled(type == PROXY_NAMED);
}

void COptConnection::SetProxyControlsEnabled(bool enabled)
{
    m_pAddress->setEnabled(enabled);
    m_pPort->setEnabled(enabled);
    m_pDetails->setEnabled(enabled);
}

void COptConnection::ShowSimpleProxy(const CSimpleProxy& simple)
{
    m_pAddress->setText(ToQ(simple.address));
    m_pPort->setText(ToQ(simple.port));
}

CSimpleProxy COptConnection::SimpleProxy() const
{
    return {FromQ(m_pAddress->text()), FromQ(m_pPort->text())};
}

bool COptConnection::ReadControls()
{
    const auto connections = ReadField(m_pConnections, PageField("Connections"));
    if (!connections)
        return false;
    const auto retries = ReadField(m_pRetries, PageField("MaxRetry"));
    if (!retries)
        return false;
    const auto retryWait = ReadField(m_pRetryWait, PageField("RetryWait"));
    if (!retryWait)
        return false;
    const auto segments = ReadField(m_pSegments, PageField("MaxSegments"));
    if (!segments)
        return false;
    const auto perServer = ReadField(m_pPerServer, PageField("MaxConnectionsPerServer"));
    if (!perServer)
        return false;
    const auto speedLimit = ReadField(m_pSpeedLimit, PageField("SpeedLimit"));
    if (!speedLimit)
        return false;
    m_nConnections = *connections;
    m_nRetries = *retries;
    m_nRetryWait = *retryWait;
    m_nSegments = *segments;
    m_nPerServer = *perServer;
    m_nSpeedLimit = *speedLimit;
    return true;
}

void COptConnection::OnDetails()
{
    if (!ReadControls())
        return;
    CProxyDialog dialog(this);
    dialog.SetServers(ProxyDetailsPrefill(SimpleProxy(), m_servers));
    dialog.SetBypass(m_strBypass);
    if (m_runProxyDialog(dialog) != QDialog::Accepted)
        return;
    m_servers = dialog.Servers();
    ShowSimpleProxy(DeriveSimpleProxy(m_servers));
    m_strBypass = dialog.Bypass();
}

bool COptConnection::OnKillActive()
{
    if (!ReadControls())
        return false;
    m_servers = ApplySimpleProxy(SimpleProxy(), m_servers);
    COptions& o = m_options;
    o.Connections = static_cast<int>(m_nConnections);
    o.MaxRetry = static_cast<int>(m_nRetries);
    o.RetryWait = static_cast<int>(m_nRetryWait);
    o.SpeedLimit = static_cast<int>(m_nSpeedLimit);
    o.HttpAgent = FromQ(m_pAgent->text());
    o.EnableCache = m_pCache->isChecked() ? 1 : 0;
    o.ProxySetting = m_nProxyType;
    o.ProxyHttpServer = m_servers.httpServer;
    o.ProxyHttpPort = m_servers.httpPort;
    o.ProxyFtpServer = m_servers.ftpServer;
    o.ProxyFtpPort = m_servers.ftpPort;
    o.ProxyBypass = m_strBypass;
    o.MaxSegments = static_cast<int>(m_nSegments);
    o.MaxConnectionsPerServer = static_cast<int>(m_nPerServer);
    o.CaCertificates = FromQ(m_pCaFile->text());
    return true;
}

} // namespace zorv

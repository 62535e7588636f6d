#pragma once
// COptConnection: "接続", the number of connections, the agent name, the
// cache, the retries, the connections per file and per server, the speed
// limit, the extra certificate authorities and the proxy (the three access
// types, one address and port for HTTP and FTP alike, and "詳細" for
// separate ones).
#include "dialogs/optpage.h"

#include <functional>

class QAbstractButton;
class QPushButton;
class QRadioButton;

namespace zorv {

class CProxyDialog;

class COptConnection : public COptPage {
    Q_OBJECT
public:
    // Runs the proxy dialog; QDialog::Accepted when confirmed (default: exec).
    using ProxyDialogRunner = std::function<int(CProxyDialog& dialog)>;
    // Asks for the certificate file, starting at `current`; nothing when
    // cancelled (default: a file dialog).
    using FileChooser = std::function<std::optional<QString>(const QString& current)>;

    COptConnection(COptions& options, QWidget* parent);
    QString HelpTopic() const override { return QStringLiteral("OptConnection.html"); }

    void SetProxyDialogRunner(ProxyDialogRunner run) { m_runProxyDialog = std::move(run); }
    void SetFileChooser(FileChooser choose) { m_chooseFile = std::move(choose); }
    // "詳細": the page's input must validate first.
    void OnDetails();

protected:
    void OnInitPage() override;
    bool OnKillActive() override;

private:
    // Sets the access type and enables the simple fields and "詳細" for 3 only.
    void OnProxyType(int type);
    void SetProxyControlsEnabled(bool enabled);
    void ShowSimpleProxy(const CSimpleProxy& simple);
    CSimpleProxy SimpleProxy() const;
    // Validates the number fields into m_nConnections, m_nRetries, m_nRetryWait,
    // m_nSegments, m_nPerServer and m_nSpeedLimit.
    bool ReadControls();

    QLineEdit* m_pConnections;
    QLineEdit* m_pAgent;
    QCheckBox* m_pCache;
    QLineEdit* m_pRetries;
    QLineEdit* m_pRetryWait;
    QLineEdit* m_pSegments;
    QLineEdit* m_pPerServer;
    QLineEdit* m_pSpeedLimit;
    QLineEdit* m_pCaFile;
    QRadioButton* m_pDirect;
    QRadioButton* m_pSystem;
    QRadioButton* m_pNamed;
    QLineEdit* m_pAddress;
    QLineEdit* m_pPort;
    QPushButton* m_pDetails;
    ProxyDialogRunner m_runProxyDialog;
    FileChooser m_chooseFile;

    // Values of the page that no control holds.
    unsigned m_nConnections = 0;
    unsigned m_nRetries = 0;
    unsigned m_nRetryWait = 5;
    unsigned m_nSegments = 8;
    unsigned m_nPerServer = 0;
    unsigned m_nSpeedLimit = 0;
    int m_nProxyType = 0;
    CProxyServers m_servers;
    std::string m_strBypass;
};

} // namespace zorv

#pragma once
// CProxyDialog: "プロキシ設定", the separate HTTP and FTP proxy servers and
// ports and the bypass list, opened by the connection page's "詳細" button.
// The fields are plain texts; the dialog checks nothing.
#include "settings/optionsedit.h"

#include <QDialog>

class QLineEdit;

namespace zorv {

class CProxyDialog : public QDialog {
    Q_OBJECT
public:
    explicit CProxyDialog(QWidget* parent = nullptr);

    void SetServers(const CProxyServers& servers);
    CProxyServers Servers() const;
    void SetBypass(const std::string& bypass);
    std::string Bypass() const;

private:
    QLineEdit* m_pHttpServer;
    QLineEdit* m_pHttpPort;
    QLineEdit* m_pFtpServer;
    QLineEdit* m_pFtpPort;
    QLineEdit* m_pBypass;
};

} // namespace zorv

#include "tls_server.h"

#include "tempsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

namespace zorv::test {

namespace {

// A port that was free a moment ago (nginx cannot be asked to pick one).
int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

bool WriteText(const QString& path, const QString& text)
{
    return WriteFileBytes(path, text.toUtf8());
}

QString ReadText(const QString& path)
{
    return QString::fromUtf8(ReadFileBytes(path));
}

QString FindNginx()
{
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("nginx"));
    if (!onPath.isEmpty())
        return onPath;
    return QFileInfo(QStringLiteral("/usr/sbin/nginx")).isExecutable() ? QStringLiteral("/usr/sbin/nginx")
                                                                        : QString();
}

} // namespace

bool CTlsServer::RunOpenssl(const QStringList& args, QString* error)
{
    CChildProcess openssl;
    CChildProcess::Options options;
    options.stderrFile = m_work.filePath(QStringLiteral("openssl.err"));
    if (!openssl.Start(QStringLiteral("openssl"), args, options, error))
        return false;
    if (openssl.Wait(30000) != 0) {
        *error = QStringLiteral("openssl %1 failed: %2")
                     .arg(args.value(0), ReadText(options.stderrFile));
        return false;
    }
    return true;
}

bool CTlsServer::MakeCertificates(QString* error)
{
    const QString dir = m_work.path() + QLatin1Char('/');
    const QStringList key = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                             QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    if (!WriteText(dir + QStringLiteral("san.cnf"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost\n"))) {
        *error = QStringLiteral("cannot write the certificate extensions");
        return false;
    }
    return RunOpenssl(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + key +
                          QStringList{QStringLiteral("-keyout"), dir + QStringLiteral("ca.key"),
                                      QStringLiteral("-out"), dir + QStringLiteral("ca.pem"),
                                      QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                                      QStringLiteral("/CN=zorv test authority")},
                      error) &&
           RunOpenssl(QStringList{QStringLiteral("req")} + key +
                          QStringList{QStringLiteral("-keyout"), dir + QStringLiteral("server.key"),
                                      QStringLiteral("-out"), dir + QStringLiteral("server.csr"),
                                      QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")},
                      error) &&
           RunOpenssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                       dir + QStringLiteral("server.csr"), QStringLiteral("-CA"), dir + QStringLiteral("ca.pem"),
                       QStringLiteral("-CAkey"), dir + QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"),
                       QStringLiteral("-out"), dir + QStringLiteral("server.pem"), QStringLiteral("-days"),
                       QStringLiteral("2"), QStringLiteral("-extfile"), dir + QStringLiteral("san.cnf")},
                      error);
}

bool CTlsServer::Start(QString* error)
{
    if (!m_root.isValid() || !m_work.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString nginx = FindNginx();
    if (nginx.isEmpty()) {
        *error = QStringLiteral("nginx not found (Debian package nginx)");
        return false;
    }
    if (!MakeCertificates(error))
        return false;
    const QString dir = m_work.path() + QLatin1Char('/');
    // A port taken between FreePort and nginx's bind fails the start; try again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = FreePort();
        const QString conf =
            QStringLiteral("daemon off;\nmaster_process off;\nworker_processes 1;\n"
                           "pid %1nginx.pid;\nerror_log %1error.log warn;\n"
                           "events { worker_connections 256; }\n"
                           "http {\n"
                           "  log_format conn '$connection $status $server_protocol $request_uri';\n"
                           "  access_log %1access.log conn;\n"
                           "  client_body_temp_path %1tmp; proxy_temp_path %1tmp; fastcgi_temp_path %1tmp;\n"
                           "  uwsgi_temp_path %1tmp; scgi_temp_path %1tmp;\n"
                           "  keepalive_requests 100000;\n"
                           "  server {\n"
                           "    listen 127.0.0.1:%2 ssl http2;\n"
                           "    ssl_certificate %1server.pem; ssl_certificate_key %1server.key;\n"
                           "    root %3;\n"
                           "  }\n"
                           "}\n")
                .arg(dir, QString::number(m_port), m_root.path());
        if (m_port <= 0 || !QDir().mkpath(dir + QStringLiteral("tmp")) ||
            !WriteText(dir + QStringLiteral("nginx.conf"), conf)) {
            *error = QStringLiteral("cannot write the nginx configuration");
            return false;
        }
        CChildProcess::Options options;
        options.stderrFile = dir + QStringLiteral("nginx.err");
        if (!m_process.Start(nginx, {QStringLiteral("-e"), dir + QStringLiteral("error.log"), QStringLiteral("-p"), dir,
                                      QStringLiteral("-c"), dir + QStringLiteral("nginx.conf")},
                              options, error))
            return false;
        for (int waited = 0; waited < 10000 && m_process.IsRunning(); waited += 20) {
            if (Accepts(m_port))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        *error = QStringLiteral("nginx did not start: ") + ReadText(dir + QStringLiteral("error.log")) +
                 ReadText(options.stderrFile);
        Stop();
    }
    return false;
}

std::string CTlsServer::CaFile() const
{
    return m_work.filePath(QStringLiteral("ca.pem")).toStdString();
}

std::string CTlsServer::Url(const std::string& path) const
{
    return "https://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<CTlsServer::CRequest> CTlsServer::Requests() const
{
    std::vector<CRequest> requests;
    std::istringstream log(ReadText(m_work.filePath(QStringLiteral("access.log"))).toStdString());
    CRequest r;
    while (log >> r.connection >> r.status >> r.protocol >> r.uri)
        requests.push_back(r);
    return requests;
}

} // namespace zorv::test

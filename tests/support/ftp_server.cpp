#include "ftp_server.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <csignal>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace zorv::test {

namespace {

// Prints the bound port on its first line, then serves until terminated.
constexpr const char* kScript = R"(import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

logging.basicConfig(level=logging.WARNING)
root = sys.argv[1]
authorizer = DummyAuthorizer()
authorizer.add_anonymous(root, perm="elr")
authorizer.add_user("user", "secret", root, perm="elradfmw")
handler = FTPHandler
handler.authorizer = authorizer
server = FTPServer(("127.0.0.1", 0), handler)
print(server.address[1], flush=True)
server.serve_forever()
)";

void DieWithParent()
{
#ifdef __linux__
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
}

} // namespace

CFtpServer::CFtpServer() = default;

CFtpServer::~CFtpServer()
{
    Stop();
}

bool CFtpServer::Start(QString* error)
{
    if (!m_root.isValid() || !m_work.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString script = m_work.filePath(QStringLiteral("ftpserver.py"));
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly) || file.write(kScript) < 0) {
        *error = QStringLiteral("cannot write ") + script;
        return false;
    }
    file.close();

    m_process = std::make_unique<QProcess>();
    m_process->setChildProcessModifier(DieWithParent);
    m_process->setStandardErrorFile(m_work.filePath(QStringLiteral("ftpserver.err")));
    m_process->start(QStringLiteral("/usr/bin/python3"), {script, m_root.path()});
    if (!m_process->waitForStarted(5000)) {
        *error = QStringLiteral("python3 does not start: ") + m_process->errorString();
        m_process.reset();
        return false;
    }
    const QDeadlineTimer deadline(10000);
    while (!m_process->canReadLine() && !deadline.hasExpired()
           && m_process->state() == QProcess::Running)
        m_process->waitForReadyRead(100);
    bool ok = false;
    if (m_process->canReadLine())
        m_port = QString::fromLatin1(m_process->readLine()).trimmed().toInt(&ok);
    if (!ok || m_port <= 0) {
        QFile err(m_work.filePath(QStringLiteral("ftpserver.err")));
        err.open(QIODevice::ReadOnly);
        *error = QStringLiteral("the FTP server did not start: ") + QString::fromUtf8(err.readAll());
        Stop();
        return false;
    }
    return true;
}

void CFtpServer::Stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
    }
    m_process.reset();
    m_port = -1;
}

bool CFtpServer::PutFile(const QString& relativePath, const QByteArray& contents) const
{
    const QString path = QDir(m_root.path()).filePath(relativePath);
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

std::string CFtpServer::Url(const std::string& path) const
{
    return "ftp://127.0.0.1:" + std::to_string(m_port) + path;
}

} // namespace zorv::test

#include "ftp_server.h"

#include "tempsettings.h"


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

} // namespace

bool CFtpServer::Start(QString* error)
{
    if (!m_root.isValid() || !m_work.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString script = m_work.filePath(QStringLiteral("ftpserver.py"));
    if (!WriteFileBytes(script, kScript)) {
        *error = QStringLiteral("cannot write ") + script;
        return false;
    }

    // A plain fork and exec (not QProcess) keeps ThreadSanitizer builds working.
    CChildProcess::Options options;
    options.pipeStdout = true;
    options.stderrFile = m_work.filePath(QStringLiteral("ftpserver.err"));
    if (!m_process.Start(QStringLiteral("/usr/bin/python3"), {script, m_root.path()}, options, error))
        return false;
    bool ok = false;
    m_port = m_process.ReadLine(10000).trimmed().toInt(&ok);
    if (!ok || m_port <= 0) {
        *error = QStringLiteral("the FTP server did not start: ") + QString::fromUtf8(ReadFileBytes(options.stderrFile));
        Stop();
        return false;
    }
    return true;
}

std::string CFtpServer::Url(const std::string& path) const
{
    return "ftp://127.0.0.1:" + std::to_string(m_port) + path;
}

} // namespace zorv::test

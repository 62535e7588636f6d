#pragma once
// A real FTP server for tests: pyftpdlib (started with /usr/bin/python3) on
// 127.0.0.1 and a free port, serving the files of a fresh temporary folder.
// Anonymous users may list and read; user "user" with password "secret" may
// also write. Stopped by Stop() or the destructor; on Linux it also dies with
// the test process (parent-death signal, bound to the starting thread: start
// it from the test's main thread).
#include "tempsettings.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <string>


namespace zorv::test {

class CChildProcess;

class CFtpServer {
public:
    CFtpServer();
    ~CFtpServer();
    CFtpServer(const CFtpServer&) = delete;
    CFtpServer& operator=(const CFtpServer&) = delete;

    // Starts the server and waits (10 s at most) until it listens. False,
    // with the reason in *error, when it cannot.
    bool Start(QString* error);
    void Stop();

    // The folder served as "/".
    QString Root() const { return m_root.path(); }
    // Writes a file below Root() (folders are created); false on failure.
    bool PutFile(const QString& relativePath, const QByteArray& contents) const
    {
        return PutFileBelow(Root(), relativePath, contents);
    }

    int Port() const { return m_port; }
    // "ftp://127.0.0.1:PORT" + path (anonymous).
    std::string Url(const std::string& path) const;

private:
    QTemporaryDir m_root;
    QTemporaryDir m_work; // the server's script and log
    std::unique_ptr<CChildProcess> m_process;
    int m_port = -1;
};

} // namespace zorv::test

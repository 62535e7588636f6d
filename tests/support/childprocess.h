#pragma once
// A helper program for tests (a bus daemon, a mock service, a server),
// started with fork and exec and stopped by Stop or the destructor. On Linux
// the child also gets SIGKILL when the starting thread ends, so a crashed
// test leaves nothing behind: start children from the main thread.
//
// Why not QProcess: Qt starts children with a vfork-style clone
// (CLONE_VM | CLONE_VFORK). ThreadSanitizer's clone hook then runs its
// "child after fork" code in the parent's memory, so once a second thread
// exists the whole test process is marked as forked: its main thread is no
// longer checked, and the next thread it creates kills the program
// ("starting new threads after multi-threaded fork is not supported").
// A plain fork keeps the child's bookkeeping in the child.
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/types.h>

namespace zorv::test {

// The environment entries ("NAME=value") that give a zorv child its own
// settings under `home` and no display.
QStringList PrivateHomeEnv(const QString& home);
// This process's environment with `entries` added or replaced (as for
// CChildProcess::Options::env), for a QProcess.
QProcessEnvironment EnvironmentWith(const QStringList& entries);

class CChildProcess {
public:
    struct Options {
        // "NAME=value" entries added to (or replacing in) this process's environment.
        QStringList env;
        // Standard output into a pipe read by ReadLine; otherwise into
        // stdoutFile, or nowhere when that is empty.
        bool pipeStdout = false;
        QString stdoutFile;
        // Standard error into this file; inherited when empty.
        QString stderrFile;
    };

    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Starts `program` (a path, or a name looked up on PATH). False, with
    // the reason in *error, when it cannot be executed.
    bool Start(const QString& program, const QStringList& args, const Options& options,
               QString* error);
    // The next line of the child's standard output without its line end,
    // waiting at most `timeoutMs`; empty at the end of the output or on timeout.
    QString ReadLine(int timeoutMs);
    // 0 when no child runs.
    pid_t Pid() const { return m_pid; }
    // False once the child has ended (it is then reaped).
    bool IsRunning();
    // Waits at most `timeoutMs` for the child to end: its exit code, or 128 +
    // the signal that ended it; -1 while it still runs.
    int Wait(int timeoutMs);
    // Closes the reading end of the standard output pipe: the child's next
    // writes there fail (EPIPE, or SIGPIPE when it does not ignore that).
    void CloseStdout();
    // SIGCONT (a test may have stopped it), SIGTERM, then SIGKILL after
    // 3 seconds; waits until the child is gone.
    void Stop();

private:
    pid_t m_pid = 0;
    int m_exitStatus = -1;
    int m_stdout = -1;
    QByteArray m_buffer;
};

// A server program run as a child that serves the files of a fresh
// temporary folder (the FTP and the TLS server); the subclass starts it.
class CFileServerProcess {
public:
    CFileServerProcess() = default;
    ~CFileServerProcess() { Stop(); }
    CFileServerProcess(const CFileServerProcess&) = delete;
    CFileServerProcess& operator=(const CFileServerProcess&) = delete;

    void Stop()
    {
        m_process.Stop();
        m_port = -1;
    }
    // The folder served as "/".
    QString Root() const { return m_root.path(); }
    // Writes a file below Root() (folders are created); false on failure.
    bool PutFile(const QString& relativePath, const QByteArray& contents) const;
    int Port() const { return m_port; }

protected:
    QTemporaryDir m_root;
    QTemporaryDir m_work; // the server's own files: configuration, logs
    CChildProcess m_process;
    int m_port = -1;
};

} // namespace zorv::test

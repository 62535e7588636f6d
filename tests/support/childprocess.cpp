#include "childprocess.h"

#include "tempsettings.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace zorv::test {

namespace {

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> ptrs;
    for (std::string& s : strings)
        ptrs.push_back(s.data());
    ptrs.push_back(nullptr);
    return ptrs;
}

int OpenForWriting(const QString& path)
{
    const QByteArray name = path.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(path);
    return ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

} // namespace

QStringList PrivateHomeEnv(const QString& home)
{
    return {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/.config", "DISPLAY=", "WAYLAND_DISPLAY="};
}

QProcessEnvironment EnvironmentWith(const QStringList& entries)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& o : entries)
        env.insert(o.section(QLatin1Char('='), 0, 0), o.section(QLatin1Char('='), 1));
    return env;
}

CChildProcess::~CChildProcess()
{
    Stop();
}

bool CChildProcess::Start(const QString& program, const QStringList& args, const Options& options,
                          QString* error)
{
    Stop();
    m_exitStatus = -1;
    const QString path = program.contains(QLatin1Char('/'))
        ? program : QStandardPaths::findExecutable(program);
    if (path.isEmpty()) {
        *error = program + QStringLiteral(" not found");
        return false;
    }

    // Everything the child needs is prepared here: between fork and exec it
    // may only make plain system calls.
    std::vector<std::string> argStrings{QFile::encodeName(path).toStdString()};
    for (const QString& a : args)
        argStrings.push_back(a.toLocal8Bit().toStdString());
    const QProcessEnvironment env = EnvironmentWith(options.env);
    std::vector<std::string> envStrings;
    for (const QString& entry : env.toStringList())
        envStrings.push_back(entry.toLocal8Bit().toStdString());
    std::vector<char*> argv = Pointers(argStrings);
    std::vector<char*> envp = Pointers(envStrings);

    int out[2] = {-1, -1};
    int status[2] = {-1, -1};
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int outFile = options.pipeStdout ? -1 : OpenForWriting(options.stdoutFile);
    const int errFile = options.stderrFile.isEmpty() ? -1 : OpenForWriting(options.stderrFile);
    const bool ok = in >= 0 && (options.pipeStdout || outFile >= 0)
        && (options.stderrFile.isEmpty() || errFile >= 0)
        && (!options.pipeStdout || ::pipe2(out, O_CLOEXEC) == 0) && ::pipe2(status, O_CLOEXEC) == 0;
    auto closeAll = [&] {
        for (int fd : {in, outFile, errFile, out[0], out[1], status[0], status[1]})
            if (fd >= 0)
                ::close(fd);
    };
    if (!ok) {
        *error = QStringLiteral("cannot set up the child's files: ")
            + QString::fromLocal8Bit(std::strerror(errno));
        closeAll();
        return false;
    }

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
#ifdef __linux__
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
#endif
        // A child starts with the default SIGPIPE action, as from a shell,
        // whatever this process ignores.
        ::signal(SIGPIPE, SIG_DFL);
        ::dup2(in, 0);
        ::dup2(options.pipeStdout ? out[1] : outFile, 1);
        if (errFile >= 0)
            ::dup2(errFile, 2);
        ::execve(argv[0], argv.data(), envp.data());
        const int err = errno;
        (void)!::write(status[1], &err, sizeof err);
        ::_exit(127);
    }
    (void)parent;
    if (pid < 0) {
        *error = QStringLiteral("fork failed: ") + QString::fromLocal8Bit(std::strerror(errno));
        closeAll();
        return false;
    }

    // The status pipe closes on a successful exec; an errno arrives otherwise.
    ::close(status[1]);
    status[1] = -1;
    int err = 0;
    ssize_t n;
    do
        n = ::read(status[0], &err, sizeof err);
    while (n < 0 && errno == EINTR);
    m_pid = pid;
    if (options.pipeStdout) {
        m_stdout = out[0];
        out[0] = -1;
    }
    closeAll();
    if (n > 0) {
        *error = QStringLiteral("cannot execute %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(err)));
        Stop();
        return false;
    }
    return true;
}

QString CChildProcess::ReadLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const qsizetype eol = m_buffer.indexOf('\n');
        if (eol >= 0) {
            const QByteArray line = m_buffer.left(eol);
            m_buffer.remove(0, eol + 1);
            return QString::fromLocal8Bit(line);
        }
        if (m_stdout < 0 || deadline.hasExpired())
            return {};
        pollfd p{m_stdout, POLLIN, 0};
        if (::poll(&p, 1, int(std::max<qint64>(deadline.remainingTime(), 1))) <= 0)
            continue;
        char chunk[512];
        const ssize_t n = ::read(m_stdout, chunk, sizeof chunk);
        if (n > 0) {
            m_buffer.append(chunk, n);
        } else if (n == 0 || errno != EINTR) {
            ::close(m_stdout);
            m_stdout = -1;
        }
    }
}

bool CChildProcess::IsRunning()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = 0;
        m_exitStatus = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
        return false;
    }
    return true;
}

int CChildProcess::Wait(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (IsRunning()) {
        if (deadline.hasExpired())
            return -1;
        QThread::msleep(10);
    }
    return m_exitStatus;
}

void CChildProcess::CloseStdout()
{
    if (m_stdout >= 0) {
        ::close(m_stdout);
        m_stdout = -1;
    }
    m_buffer.clear();
}

void CChildProcess::Stop()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGCONT);
        ::kill(m_pid, SIGTERM);
        if (Wait(3000) < 0) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        m_pid = 0;
    }
    CloseStdout();
}

bool CFileServerProcess::PutFile(const QString& relativePath, const QByteArray& contents) const
{
    return PutFileBelow(Root(), relativePath, contents);
}

} // namespace zorv::test

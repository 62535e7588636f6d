#include "dbusmock.h"

#include "tempsettings.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <atomic>

namespace zorv::test {

CPrivateBus::CPrivateBus()
{
    static std::atomic<int> s_serial{0};
    m_connectionName = QStringLiteral("zorv-test-bus-%1").arg(++s_serial);
}

CPrivateBus::~CPrivateBus()
{
    m_mock.Stop();
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_daemon.Stop();
    if (m_runtimeDirSet) {
        if (m_hadRuntimeDir)
            qputenv("XDG_RUNTIME_DIR", m_oldRuntimeDir);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }
}

bool CPrivateBus::Start(QString* error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary folder: ") + m_dir.errorString();
        return false;
    }
    // QTemporaryDir creates the folder with mode 0700.
    if (!m_runtimeDirSet) {
        m_hadRuntimeDir = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
        m_oldRuntimeDir = qgetenv("XDG_RUNTIME_DIR");
        m_runtimeDirSet = true;
    }
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));

    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    if (!WriteFileBytes(config, QStringLiteral(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig>\n"
        "  <type>session</type>\n"
        "  <listen>unix:dir=%1</listen>\n"
        "  <policy context=\"default\">\n"
        "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
        "    <allow eavesdrop=\"true\"/>\n"
        "    <allow own=\"*\"/>\n"
        "  </policy>\n"
        "</busconfig>\n").arg(m_dir.path().toHtmlEscaped()).toUtf8())) {
        *error = QStringLiteral("cannot write ") + config;
        return false;
    }

    CChildProcess::Options options;
    options.pipeStdout = true;
    options.stderrFile = m_dir.filePath(QStringLiteral("daemon.err"));
    if (!m_daemon.Start(QStringLiteral("dbus-daemon"),
                        {QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"),
                         QStringLiteral("--nofork"), QStringLiteral("--nopidfile")},
                        options, error))
        return false;
    m_address = m_daemon.ReadLine(10000).trimmed();
    if (m_address.isEmpty()) {
        *error = QStringLiteral("dbus-daemon printed no address");
        m_daemon.Stop();
        return false;
    }
    return true;
}

QDBusConnection CPrivateBus::Connection()
{
    QDBusConnection conn(m_connectionName);
    if (conn.isConnected() || m_address.isEmpty())
        return conn;
    return QDBusConnection::connectToBus(m_address, m_connectionName);
}

bool CPrivateBus::StartMock(const QString& templateName, const QString& busName, QString* error)
{
    return StartMockProcess({QStringLiteral("--template"), templateName}, busName, error);
}

bool CPrivateBus::StartService(const QString& busName, const QString& path, const QString& interface, QString* error)
{
    return StartMockProcess({busName, path, interface}, busName, error);
}

bool CPrivateBus::StartMockProcess(const QStringList& args, const QString& busName, QString* error)
{
    if (m_address.isEmpty()) {
        *error = QStringLiteral("the bus is not running");
        return false;
    }
    m_mock.Stop();
    CChildProcess::Options options;
    options.env = QStringList{QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS=") + m_address,
                              QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + m_address,
                              QStringLiteral("XDG_RUNTIME_DIR=") + m_dir.path()};
    // The call log goes to a file (MockLog); the mock's own output is dropped.
    options.stderrFile = m_dir.filePath(QStringLiteral("mock.err"));
    if (!m_mock.Start(QStringLiteral("/usr/bin/python3"),
                      QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--logfile"),
                                  m_dir.filePath(QStringLiteral("mock.log"))}
                          + args,
                      options, error))
        return false;

    const QDBusConnection conn = Connection();
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && m_mock.IsRunning()) {
        QDBusMessage msg = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
        msg << busName;
        const QDBusMessage reply = conn.call(msg, QDBus::Block, 1000);
        if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool())
            return true;
        QThread::msleep(20);
    }
    *error = QStringLiteral("the mock did not take %1: %2").arg(busName, QString::fromUtf8(ReadFileBytes(options.stderrFile)));
    m_mock.Stop();
    return false;
}

QString CPrivateBus::MockLog() const
{
    return QString::fromUtf8(ReadFileBytes(m_dir.filePath(QStringLiteral("mock.log"))));
}

bool CPrivateBus::Settle(const QString& busName, const QString& path)
{
    const QDBusMessage reply = Connection().call(QDBusMessage::createMethodCall(
        busName, path, QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("GetCalls")));
    QCoreApplication::processEvents();
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace zorv::test

#pragma once
// A private D-Bus for tests: a dbus-daemon of its own, listening in a fresh
// 0700 folder that also serves as XDG_RUNTIME_DIR while the bus exists, and
// optionally a python3-dbusmock service (a template such as
// "networkmanager") on it. The mock sees the private bus as both its system
// and its session bus.
//
// Everything started here is stopped by the destructor, and dies with the
// test process if it crashes (see CChildProcess): start from the main thread.
#include "childprocess.h"

#include <QDBusConnection>
#include <QString>
#include <QTemporaryDir>

namespace zorv::test {

class CPrivateBus {
public:
    CPrivateBus();
    ~CPrivateBus();
    CPrivateBus(const CPrivateBus&) = delete;
    CPrivateBus& operator=(const CPrivateBus&) = delete;

    // Starts the daemon and sets XDG_RUNTIME_DIR. False, with a reason in
    // *error, when it cannot be started.
    bool Start(QString* error);

    // This process's connection to the bus, opened on first use and closed
    // by the destructor.
    QDBusConnection Connection();

    // Starts `/usr/bin/python3 -m dbusmock --template NAME` on the bus and
    // waits (10 s at most) until it owns `busName`. The mock logs every call
    // to a file (MockLog).
    bool StartMock(const QString& templateName, const QString& busName, QString* error);
    // Starts a bare mock that owns `busName` and serves `path` with
    // `interface` (methods are added through its org.freedesktop.DBus.Mock
    // interface), and waits as StartMock does.
    bool StartService(const QString& busName, const QString& path, const QString& interface, QString* error);
    // Everything the mock has logged so far (one line per method call).
    QString MockLog() const;
    // Returns once the mock owning `busName` has handled every call sent on
    // Connection() before this one and their replies have reached this
    // process's event loop: false when the mock does not answer.
    bool Settle(const QString& busName, const QString& path);

private:
    bool StartMockProcess(const QStringList& args, const QString& busName, QString* error);

    QTemporaryDir m_dir;
    QString m_address;
    QString m_connectionName;
    QByteArray m_oldRuntimeDir;
    bool m_hadRuntimeDir = false;
    bool m_runtimeDirSet = false;
    CChildProcess m_daemon;
    CChildProcess m_mock;
};

} // namespace zorv::test

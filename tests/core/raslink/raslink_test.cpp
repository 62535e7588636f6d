// CRasLink against a mocked NetworkManager (python3-dbusmock's template) on
// a private bus.
#include "engine/raslink.h"
#include "support/dbusmock.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QUuid>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>
#include <utility>

using namespace std::chrono_literals;
using zorv::CRasLink;
using zorv::test::CPrivateBus;

namespace {

const QString kNm = QStringLiteral("org.freedesktop.NetworkManager");
const QString kNmPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kSettingsIface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString kActiveIface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kEth0 = QStringLiteral("/org/freedesktop/NetworkManager/Devices/eth0");
const QString kMockObj = QStringLiteral("/org/freedesktop");
const QString kMockIface = QStringLiteral("org.freedesktop.DBus.Mock");

enum : uint { ACTIVATING = 1, ACTIVATED = 2, DEACTIVATING = 3, DEACTIVATED = 4 };

using ConnectionSettings = QMap<QString, QVariantMap>;

std::string Str(const QString& s) { return s.toStdString(); }

// A private bus; NetworkManager is not on it.
class RasLinkBusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qDBusRegisterMetaType<ConnectionSettings>();
        QString error;
        ASSERT_TRUE(m_bus.Start(&error)) << Str(error);
    }

    QDBusMessage Call(const QString& path, const QString& iface, const QString& method,
                      const QVariantList& args)
    {
        QDBusMessage msg = QDBusMessage::createMethodCall(kNm, path, iface, method);
        msg.setArguments(args);
        const QDBusMessage reply = m_bus.Connection().call(msg, QDBus::Block, 5000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << Str(method) << ": "
                                                             << Str(reply.errorMessage());
        return reply;
    }

    // A new active connection of `type` in `state`; its object path.
    QString AddActive(const QString& type, uint state)
    {
        const QString name = QString::number(++m_serial);
        ConnectionSettings settings;
        settings[QStringLiteral("connection")] = QVariantMap{
            {QStringLiteral("type"), type},
            {QStringLiteral("id"), type + name},
            {QStringLiteral("uuid"), QUuid::createUuid().toString(QUuid::WithoutBraces)}};
        const QDBusMessage added = Call(kSettingsPath, kSettingsIface, QStringLiteral("AddConnection"),
                                        {QVariant::fromValue(settings)});
        const QString conn = added.arguments().value(0).value<QDBusObjectPath>().path();
        const QDBusMessage reply = Call(kMockObj, kMockIface, QStringLiteral("AddActiveConnection"),
                                        {QStringList(), conn, QStringLiteral("/"), name, state});
        return reply.arguments().value(0).toString();
    }

    void SetState(const QString& active, uint state)
    {
        Call(kMockObj, kMockIface, QStringLiteral("SetProperty"),
             {active, kActiveIface, QStringLiteral("State"), QVariant::fromValue(QDBusVariant(state))});
    }

    void Remove(const QString& active)
    {
        Call(kMockObj, kMockIface, QStringLiteral("RemoveActiveConnection"), {kEth0, active});
    }

    QStringList ActivePaths()
    {
        const QDBusMessage reply = Call(kNmPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"),
                                        {kNm, QStringLiteral("ActiveConnections")});
        QStringList paths;
        const QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
        for (const QDBusObjectPath& p : qdbus_cast<QList<QDBusObjectPath>>(value))
            paths << p.path();
        return paths;
    }

    // Replaces NetworkManager's DeactivateConnection by Python `code`
    // (args[0] is the active connection, self the manager object).
    void ScriptDeactivate(const QString& code)
    {
        Call(kNmPath, kMockIface, QStringLiteral("AddMethod"),
             {kNm, QStringLiteral("DeactivateConnection"), QStringLiteral("o"), QString(), code});
    }

    // Calls of DeactivateConnection in the mock's log ("<time> Name <args>";
    // an error raised is logged on a line of its own).
    qsizetype DeactivateCalls() const
    {
        static const QRegularExpression re(QStringLiteral("^\\S+ DeactivateConnection \""),
                                           QRegularExpression::MultilineOption);
        return m_bus.MockLog().count(re);
    }

    CPrivateBus m_bus;
    int m_serial = 0;
};

// NetworkManager with one wired device. (The template's DeactivateConnection
// removes an active connection only through a device.)
class RasLinkTest : public RasLinkBusTest {
protected:
    void SetUp() override
    {
        RasLinkBusTest::SetUp();
        if (HasFatalFailure())
            return;
        QString error;
        ASSERT_TRUE(m_bus.StartMock(QStringLiteral("networkmanager"), kNm, &error)) << Str(error);
        Call(kMockObj, kMockIface, QStringLiteral("AddEthernetDevice"),
             {QStringLiteral("eth0"), QStringLiteral("eth0"), 100});
    }
};

// Without a usable NetworkManager every answer is no, and quickly.
void ExpectEveryAnswerNo(CRasLink& link)
{
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(link.IsAvailable());
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.HangUp());
    EXPECT_LT(timer.elapsed(), 1000);
}

TEST(RasLinkNoBus, EveryAnswerIsNo)
{
    const QString name = QStringLiteral("zorv-test-nobus");
    {
        QDBusConnection conn = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/zorv-test-bus"), name);
        ASSERT_FALSE(conn.isConnected());
        CRasLink link(conn);
        ExpectEveryAnswerNo(link);
    }
    QDBusConnection::disconnectFromBus(name);
}

TEST_F(RasLinkBusTest, WithoutNetworkManagerEveryAnswerIsNo)
{
    CRasLink link(m_bus.Connection());
    ExpectEveryAnswerNo(link);
}

TEST_F(RasLinkTest, OnlyDialUpTypesCount)
{
    CRasLink link(m_bus.Connection());
    EXPECT_TRUE(link.IsAvailable());
    EXPECT_FALSE(link.IsConnected());

    const struct {
        const char* type;
        bool dialUp;
    } cases[] = {
        {"gsm", true},   {"cdma", true},  {"pppoe", true}, {"bluetooth", true},
        {"802-3-ethernet", false}, {"802-11-wireless", false}, {"vpn", false}, {"wireguard", false},
    };
    for (const auto& c : cases) {
        const QString active = AddActive(QString::fromLatin1(c.type), ACTIVATED);
        EXPECT_EQ(link.IsConnected(), c.dialUp) << c.type;
        Remove(active);
    }
    EXPECT_TRUE(ActivePaths().isEmpty());
}

TEST_F(RasLinkTest, OnlyAnActivatedConnectionIsConnected)
{
    CRasLink link(m_bus.Connection());
    const QString modem = AddActive(QStringLiteral("gsm"), ACTIVATING);
    EXPECT_FALSE(link.IsConnected());
    SetState(modem, ACTIVATED);
    EXPECT_TRUE(link.IsConnected());
    SetState(modem, DEACTIVATING);
    EXPECT_FALSE(link.IsConnected());

    // An entry that has ended is not a second dial-up connection.
    SetState(modem, DEACTIVATED);
    EXPECT_FALSE(link.IsConnected());
    AddActive(QStringLiteral("pppoe"), ACTIVATED);
    EXPECT_TRUE(link.IsConnected());
}

TEST_F(RasLinkTest, HangUpEndsTheModemAndLeavesTheWiredConnection)
{
    CRasLink link(m_bus.Connection());
    const QString wired = AddActive(QStringLiteral("802-3-ethernet"), ACTIVATED);
    AddActive(QStringLiteral("gsm"), ACTIVATED);
    EXPECT_TRUE(link.IsConnected());

    EXPECT_TRUE(link.HangUp(5s));
    EXPECT_EQ(ActivePaths(), QStringList{wired});
    EXPECT_FALSE(link.IsConnected());
    EXPECT_EQ(DeactivateCalls(), 1);

    // Nothing left to hang up: nothing is asked of NetworkManager.
    EXPECT_FALSE(link.HangUp(5s));
    EXPECT_EQ(DeactivateCalls(), 1);
}

TEST_F(RasLinkTest, TwoDialUpConnectionsAreNoConnection)
{
    CRasLink link(m_bus.Connection());
    AddActive(QStringLiteral("gsm"), ACTIVATED);
    AddActive(QStringLiteral("pppoe"), ACTIVATED);
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.HangUp(5s));
    EXPECT_EQ(ActivePaths().size(), 2);
    EXPECT_EQ(DeactivateCalls(), 0);
}

TEST_F(RasLinkTest, HangUpWaitsUntilTheConnectionIsGone)
{
    // As NetworkManager does: the call returns at once, the connection
    // passes through "deactivating" and disappears a little later.
    ScriptDeactivate(QStringLiteral(
        "from gi.repository import GLib\n"
        "objects[args[0]].Set('%1', 'State', dbus.UInt32(%2))\n"
        "GLib.timeout_add(400, lambda p=args[0], nm=self: nm.RemoveActiveConnection('%3', p) or False)\n")
                         .arg(kActiveIface).arg(DEACTIVATING).arg(kEth0));
    CRasLink link(m_bus.Connection());
    // A connection still being set up is hung up as well.
    AddActive(QStringLiteral("gsm"), ACTIVATING);

    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(link.HangUp(10s));
    EXPECT_GE(timer.elapsed(), 350);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(ActivePaths().isEmpty());
}

TEST_F(RasLinkTest, HangUpGivesUpWhenTheConnectionStays)
{
    ScriptDeactivate(QString());
    CRasLink link(m_bus.Connection());
    const QString modem = AddActive(QStringLiteral("gsm"), ACTIVATED);

    // NetworkManager accepts but the connection stays: the wait runs out.
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(link.HangUp(300ms));
    EXPECT_GE(timer.elapsed(), 250);
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_EQ(DeactivateCalls(), 1);
    EXPECT_EQ(ActivePaths(), QStringList{modem});
    EXPECT_TRUE(link.IsConnected());

    // NetworkManager refuses: no point in waiting at all.
    ScriptDeactivate(QStringLiteral(
        "raise dbus.exceptions.DBusException('not allowed', "
        "name='org.freedesktop.NetworkManager.PermissionDenied')"));
    timer.restart();
    EXPECT_FALSE(link.HangUp(30s));
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_EQ(DeactivateCalls(), 2);
    EXPECT_TRUE(link.IsConnected());
}

TEST_F(RasLinkTest, UnresponsiveNetworkManagerIsNoConnection)
{
    CRasLink link(m_bus.Connection(), 300ms);
    AddActive(QStringLiteral("gsm"), ACTIVATED);
    ASSERT_TRUE(link.IsConnected());

    // The name stays owned, but nothing answers any more.
    ASSERT_EQ(::kill(static_cast<pid_t>(m_bus.MockPid()), SIGSTOP), 0);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.HangUp(30s));
    EXPECT_LT(timer.elapsed(), 2000);
    ::kill(static_cast<pid_t>(m_bus.MockPid()), SIGCONT);
}

TEST_F(RasLinkTest, AnswersOnSeveralThreadsAtOnce)
{
    CRasLink link(m_bus.Connection());
    AddActive(QStringLiteral("cdma"), ACTIVATED);

    std::atomic<int> yes{0};
    auto ask = [&] {
        for (int i = 0; i < 20; ++i)
            yes += link.IsConnected() ? 1 : 0;
    };
    std::thread worker(ask);
    ask();
    worker.join();
    EXPECT_EQ(yes.load(), 40);
}

TEST_F(RasLinkTest, DefaultIsTheSystemBus)
{
    // Qt connects to the system bus once per process and keeps that
    // connection, so only the first run in a process can point it here.
    static bool s_ran = false;
    if (std::exchange(s_ran, true))
        GTEST_SKIP() << "the system bus was connected by an earlier run in this process";
    AddActive(QStringLiteral("gsm"), ACTIVATED);
    const QByteArray old = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    const bool hadOld = qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.Address().toLocal8Bit());
    {
        CRasLink link;
        EXPECT_TRUE(link.IsConnected());
    }
    if (hadOld)
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", old);
    else
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

} // namespace

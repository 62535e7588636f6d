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

#include <utility>

using namespace std::chrono_literals;
using zorv::CRasLink;
using zorv::test::CPrivateBus;

namespace {

const QString kNm = QStringLiteral("org.freedesktop.NetworkManager");
const QString kNmPath = QStringLiteral("/org/freedesktop/NetworkManager");
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
        const QDBusMessage added = Call(kNmPath + QStringLiteral("/Settings"), kNm + QStringLiteral(".Settings"),
                                        QStringLiteral("AddConnection"), {QVariant::fromValue(settings)});
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

TEST_F(RasLinkBusTest, WithoutNetworkManagerEveryAnswerIsNoAndQuickly)
{
    CRasLink link(m_bus.Connection());
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(link.IsAvailable());
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.HangUp());
    EXPECT_LT(timer.elapsed(), 1000);
}

TEST_F(RasLinkTest, OneActivatedDialUpConnectionIsConnected)
{
    CRasLink link(m_bus.Connection());
    EXPECT_TRUE(link.IsAvailable());
    EXPECT_FALSE(link.IsConnected());

    const std::pair<const char*, bool> types[] = {
        {"gsm", true},   {"cdma", true},  {"pppoe", true}, {"bluetooth", true},
        {"802-3-ethernet", false}, {"802-11-wireless", false}, {"vpn", false}, {"wireguard", false},
    };
    for (const auto& [type, dialUp] : types) {
        const QString active = AddActive(QString::fromLatin1(type), ACTIVATED);
        EXPECT_EQ(link.IsConnected(), dialUp) << type;
        // An entry that has ended is not a second dial-up connection.
        SetState(active, DEACTIVATED);
    }
    EXPECT_FALSE(link.IsConnected());

    // Still being set up, or being torn down, is not connected.
    const QString modem = AddActive(QStringLiteral("gsm"), ACTIVATING);
    EXPECT_FALSE(link.IsConnected());
    SetState(modem, ACTIVATED);
    EXPECT_TRUE(link.IsConnected());
    SetState(modem, DEACTIVATING);
    EXPECT_FALSE(link.IsConnected());

    // Two dial-up connections at once are no connection, and nothing to hang up.
    SetState(modem, ACTIVATED);
    AddActive(QStringLiteral("pppoe"), ACTIVATED);
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.HangUp(5s));
    EXPECT_EQ(DeactivateCalls(), 0);
}

TEST_F(RasLinkTest, HangUpWaitsUntilTheModemIsGoneOrGivesUp)
{
    CRasLink link(m_bus.Connection());
    const QString wired = AddActive(QStringLiteral("802-3-ethernet"), ACTIVATED);
    // A connection still being set up is hung up as well.
    const QString modem = AddActive(QStringLiteral("gsm"), ACTIVATING);

    const struct {
        QString deactivate; // Python code of NetworkManager's DeactivateConnection
        std::chrono::milliseconds wait;
        bool gone;
        int minMs, maxMs;
    } steps[] = {
        // NetworkManager accepts but the connection stays: the wait runs out.
        {QString(), 300ms, false, 250, 3000},
        // NetworkManager refuses: no point in waiting at all.
        {QStringLiteral("raise dbus.exceptions.DBusException('not allowed', "
                        "name='org.freedesktop.NetworkManager.PermissionDenied')"),
         30s, false, 0, 3000},
        // As NetworkManager does: the call returns at once, the connection
        // passes through "deactivating" and disappears a little later.
        {QStringLiteral("from gi.repository import GLib\n"
                        "objects[args[0]].Set('%1', 'State', dbus.UInt32(%2))\n"
                        "GLib.timeout_add(400, lambda p=args[0], nm=self: "
                        "nm.RemoveActiveConnection('%3', p) or False)\n")
             .arg(kActiveIface).arg(DEACTIVATING).arg(kEth0),
         10s, true, 350, 5000},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        ScriptDeactivate(steps[i].deactivate);
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(link.HangUp(steps[i].wait), steps[i].gone) << i;
        EXPECT_GE(timer.elapsed(), steps[i].minMs) << i;
        EXPECT_LT(timer.elapsed(), steps[i].maxMs) << i;
        EXPECT_EQ(DeactivateCalls(), i + 1);
        // The wired connection is never touched.
        EXPECT_EQ(ActivePaths(), steps[i].gone ? QStringList({wired}) : QStringList({wired, modem})) << i;
    }

    // Nothing left to hang up: nothing is asked of NetworkManager.
    EXPECT_FALSE(link.HangUp(5s));
    EXPECT_EQ(DeactivateCalls(), std::size(steps));
}

} // namespace

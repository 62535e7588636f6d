// CRasLink against a mocked NetworkManager (python3-dbusmock's template) on
// a private bus.
#include "desktop/raslink.h"
#include "support/dbusmock.h"
#include "support/tempsettings.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QRegularExpression>
#include <QTimer>
#include <QUuid>

#include <gtest/gtest.h>

#include <optional>
#include <utility>

using namespace std::chrono_literals;
using zorv::CRasLink;
using zorv::test::CPrivateBus;
using zorv::test::RunUntil;

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

TEST_F(RasLinkBusTest, WithoutNetworkManagerEveryAnswerIsNo)
{
    CRasLink link(m_bus.Connection());
    ASSERT_TRUE(RunUntil([&] { return link.IsKnown(); }));
    EXPECT_FALSE(link.IsAvailable());
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.HangUp());
}

// The link's picture follows NetworkManager's signals: every wait below ends
// on a change that only a signal can bring.
TEST_F(RasLinkTest, OneActivatedDialUpConnectionIsConnected)
{
    CRasLink link(m_bus.Connection());
    int changes = 0;
    QObject::connect(&link, &CRasLink::Changed, [&] { ++changes; });
    ASSERT_TRUE(RunUntil([&] { return link.IsKnown(); }));
    EXPECT_TRUE(link.IsAvailable());
    EXPECT_FALSE(link.IsConnected());

    const std::pair<const char*, bool> types[] = {
        {"gsm", true},   {"cdma", true},  {"pppoe", true}, {"bluetooth", true},
        {"802-3-ethernet", false}, {"802-11-wireless", false}, {"vpn", false}, {"wireguard", false},
    };
    for (const auto& [type, dialUp] : types) {
        const int before = changes;
        const QString active = AddActive(QString::fromLatin1(type), ACTIVATED);
        ASSERT_TRUE(RunUntil([&] { return link.KnownConnections() == 1; })) << type;
        EXPECT_EQ(link.IsConnected(), dialUp) << type;
        // An entry that has ended is not a second dial-up connection.
        SetState(active, DEACTIVATED);
        ASSERT_TRUE(RunUntil([&] { return link.KnownConnections() == 0; })) << type;
        EXPECT_FALSE(link.IsConnected());
        EXPECT_EQ(changes - before, dialUp ? 2 : 0) << type;
    }

    // Still being set up, or being torn down, is not connected.
    const QString modem = AddActive(QStringLiteral("gsm"), ACTIVATING);
    ASSERT_TRUE(RunUntil([&] { return link.KnownConnections() == 1; }));
    EXPECT_FALSE(link.IsConnected());
    SetState(modem, ACTIVATED);
    EXPECT_TRUE(RunUntil([&] { return link.IsConnected(); }));
    SetState(modem, DEACTIVATING);
    EXPECT_TRUE(RunUntil([&] { return !link.IsConnected(); }));

    // Two dial-up connections at once are no connection, and nothing to hang up.
    SetState(modem, ACTIVATED);
    EXPECT_TRUE(RunUntil([&] { return link.IsConnected(); }));
    AddActive(QStringLiteral("pppoe"), ACTIVATED);
    ASSERT_TRUE(RunUntil([&] { return link.KnownConnections() == 2; }));
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.HangUp(5s));
    EXPECT_EQ(DeactivateCalls(), 0);
}

// NetworkManager busy for longer than the test: every call to it waits, and
// none of them holds up the thread that asked.
TEST_F(RasLinkTest, ANetworkManagerThatDoesNotAnswerBlocksNothing)
{
    Call(kNmPath, kMockIface, QStringLiteral("AddMethod"),
         {kNm, QStringLiteral("Hang"), QString(), QString(), QStringLiteral("time.sleep(120)")});
    m_bus.Connection().asyncCall(QDBusMessage::createMethodCall(kNm, kNmPath, kNm, QStringLiteral("Hang")));
    CRasLink link(m_bus.Connection(), 600s);
    // The bus itself says that NetworkManager is there.
    ASSERT_TRUE(RunUntil([&] { return link.IsAvailable(); }));
    bool turned = false;
    QTimer::singleShot(0, [&] { turned = true; });
    ASSERT_TRUE(RunUntil([&] { return turned; }));
    EXPECT_GT(link.PendingCalls(), 0) << "its questions are still out";
    EXPECT_FALSE(link.IsKnown());
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.HangUp());
}

TEST_F(RasLinkTest, HangUpEndsWhenTheModemIsGoneOrGivesUp)
{
    CRasLink link(m_bus.Connection());
    std::optional<bool> result;
    QObject::connect(&link, &CRasLink::HangUpFinished, [&](bool gone) { result = gone; });
    const QString wired = AddActive(QStringLiteral("802-3-ethernet"), ACTIVATED);
    // A connection still being set up is hung up as well.
    const QString modem = AddActive(QStringLiteral("gsm"), ACTIVATING);
    ASSERT_TRUE(RunUntil([&] { return link.KnownConnections() == 2; }));

    const struct {
        QString deactivate; // Python code of NetworkManager's DeactivateConnection
        std::chrono::milliseconds wait;
        bool gone;
    } steps[] = {
        // NetworkManager accepts but the connection stays: the wait runs out.
        {QString(), 300ms, false},
        // NetworkManager refuses: the answer comes at once, long before the
        // wait would run out (RunUntil gives up after 10 s).
        {QStringLiteral("raise dbus.exceptions.DBusException('not allowed', "
                        "name='org.freedesktop.NetworkManager.PermissionDenied')"),
         600s, false},
        // As NetworkManager does: the call returns at once, the connection
        // passes through "deactivating" and disappears a little later.
        {QStringLiteral("from gi.repository import GLib\n"
                        "objects[args[0]].Set('%1', 'State', dbus.UInt32(%2))\n"
                        "GLib.timeout_add(400, lambda p=args[0], nm=self: "
                        "nm.RemoveActiveConnection('%3', p) or False)\n")
             .arg(kActiveIface).arg(DEACTIVATING).arg(kEth0),
         600s, true},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        ScriptDeactivate(steps[i].deactivate);
        result.reset();
        ASSERT_TRUE(link.HangUp(steps[i].wait)) << i;
        EXPECT_FALSE(link.HangUp(steps[i].wait)) << "one at a time";
        ASSERT_TRUE(RunUntil([&] { return result.has_value(); })) << i;
        EXPECT_EQ(*result, steps[i].gone) << i;
        EXPECT_EQ(DeactivateCalls(), i + 1);
        // The wired connection is never touched.
        EXPECT_EQ(ActivePaths(), steps[i].gone ? QStringList({wired}) : QStringList({wired, modem})) << i;
    }

    // Nothing left to hang up: nothing is asked of NetworkManager.
    ASSERT_TRUE(RunUntil([&] { return link.KnownConnections() == 1; }));
    EXPECT_FALSE(link.HangUp(5s));
    EXPECT_EQ(DeactivateCalls(), std::size(steps));
}

} // namespace

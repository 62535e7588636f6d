#include "engine/raslink.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QList>
#include <QThread>
#include <QVariantMap>

#include <algorithm>
#include <climits>
#include <optional>

namespace zorv {

namespace {

const QString kNmService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kNmPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kNmInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// NMActiveConnectionState
constexpr uint kStateActivated = 2;
constexpr uint kStateDeactivated = 4;

// Pause between two looks at a connection that is being hung up.
constexpr std::chrono::milliseconds kHangUpPollInterval{50};

bool IsDialUpType(const QString& type)
{
    return type == QLatin1String("gsm") || type == QLatin1String("cdma")
        || type == QLatin1String("pppoe") || type == QLatin1String("bluetooth");
}

// The error says that no answer came (as opposed to an answer that is an
// error: unknown object, refused, ...).
bool IsNoAnswer(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ErrorMessage)
        return false;
    switch (QDBusError(reply).type()) {
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
    case QDBusError::Disconnected:
        return true;
    default:
        return false;
    }
}

// A blocking call that never starts the service and gives up at `deadline`.
QDBusMessage Call(const QDBusConnection& bus, QDBusMessage msg, const QDeadlineTimer& deadline)
{
    const qint64 left = deadline.remainingTime();
    if (left == 0)
        return msg.createErrorReply(QDBusError::Timeout, QStringLiteral("no time left"));
    if (!bus.isConnected())
        return msg.createErrorReply(QDBusError::Disconnected, QStringLiteral("not connected"));
    msg.setAutoStartService(false);
    const int timeout = left < 0 ? -1 : int(std::clamp<qint64>(left, 1, INT_MAX));
    return bus.call(msg, QDBus::Block, timeout);
}

QDBusMessage GetProperty(const QDBusConnection& bus, const QString& path, const QString& iface,
                         const QString& name, const QDeadlineTimer& deadline)
{
    QDBusMessage msg = QDBusMessage::createMethodCall(kNmService, path, kPropertiesInterface,
                                                      QStringLiteral("Get"));
    msg << iface << name;
    return Call(bus, msg, deadline);
}

QDBusMessage GetAllProperties(const QDBusConnection& bus, const QString& path,
                              const QString& iface, const QDeadlineTimer& deadline)
{
    QDBusMessage msg = QDBusMessage::createMethodCall(kNmService, path, kPropertiesInterface,
                                                      QStringLiteral("GetAll"));
    msg << iface;
    return Call(bus, msg, deadline);
}

// NetworkManager's list of active connections; nothing when it cannot be had.
std::optional<QList<QDBusObjectPath>> ActiveConnections(const QDBusConnection& bus,
                                                        const QDeadlineTimer& deadline)
{
    const QDBusMessage reply = GetProperty(bus, kNmPath, kNmInterface,
                                           QStringLiteral("ActiveConnections"), deadline);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    if (value.userType() == qMetaTypeId<QDBusArgument>()) {
        const QDBusArgument arg = value.value<QDBusArgument>();
        if (arg.currentSignature() != QLatin1String("ao"))
            return std::nullopt;
    } else if (!value.canConvert<QList<QDBusObjectPath>>()) {
        return std::nullopt;
    }
    return qdbus_cast<QList<QDBusObjectPath>>(value);
}

// Type and state of one active connection.
struct ActiveInfo {
    QString type;
    uint state = 0;
};

enum class Lookup { Found, Gone, NoAnswer };

Lookup ActiveConnectionInfo(const QDBusConnection& bus, const QString& path,
                            const QDeadlineTimer& deadline, ActiveInfo* info)
{
    const QDBusMessage reply = GetAllProperties(bus, path, kActiveInterface, deadline);
    if (IsNoAnswer(reply))
        return Lookup::NoAnswer;
    // Any other error: the object went away between the list and this call.
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return Lookup::Gone;
    const QVariantMap props = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
    info->type = props.value(QStringLiteral("Type")).toString();
    info->state = props.value(QStringLiteral("State")).toUInt();
    return info->state == kStateDeactivated ? Lookup::Gone : Lookup::Found;
}

struct DialUp {
    QString path;
    uint state = 0;
};

// The one dial-up connection; nothing when there is none, when there are
// several, or when NetworkManager cannot be asked.
std::optional<DialUp> FindConnection(const QDBusConnection& bus, const QDeadlineTimer& deadline)
{
    const auto list = ActiveConnections(bus, deadline);
    if (!list)
        return std::nullopt;
    std::optional<DialUp> found;
    for (const QDBusObjectPath& path : *list) {
        ActiveInfo info;
        switch (ActiveConnectionInfo(bus, path.path(), deadline, &info)) {
        case Lookup::NoAnswer:
            return std::nullopt;
        case Lookup::Gone:
            continue;
        case Lookup::Found:
            break;
        }
        if (!IsDialUpType(info.type))
            continue;
        if (found)
            return std::nullopt;
        found = DialUp{path.path(), info.state};
    }
    return found;
}

// Whether the active connection at `path` is still there.
Lookup StillActive(const QDBusConnection& bus, const QString& path, const QDeadlineTimer& deadline)
{
    const auto list = ActiveConnections(bus, deadline);
    if (!list)
        return Lookup::NoAnswer;
    if (!list->contains(QDBusObjectPath(path)))
        return Lookup::Gone;
    ActiveInfo info;
    return ActiveConnectionInfo(bus, path, deadline, &info);
}

} // namespace

CRasLink::CRasLink() : CRasLink(QDBusConnection::systemBus())
{
}

CRasLink::CRasLink(const QDBusConnection& bus, std::chrono::milliseconds queryTimeout)
    : m_bus(bus), m_queryTimeout(queryTimeout)
{
}

CRasLink::~CRasLink() = default;

bool CRasLink::IsAvailable() const
{
    QDBusMessage msg = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    msg << kNmService;
    const QDBusMessage reply = Call(m_bus, msg, QDeadlineTimer(m_queryTimeout));
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
        && reply.arguments().constFirst().toBool();
}

bool CRasLink::IsConnected() const
{
    const auto conn = FindConnection(m_bus, QDeadlineTimer(m_queryTimeout));
    return conn && conn->state == kStateActivated;
}

bool CRasLink::HangUp(std::chrono::milliseconds wait)
{
    const auto conn = FindConnection(m_bus, QDeadlineTimer(m_queryTimeout));
    if (!conn)
        return false;

    const QDeadlineTimer until(wait);
    QDBusMessage msg = QDBusMessage::createMethodCall(kNmService, kNmPath, kNmInterface,
                                                      QStringLiteral("DeactivateConnection"));
    msg << QVariant::fromValue(QDBusObjectPath(conn->path));
    const QDBusMessage reply = Call(m_bus, msg, until);
    // An explicit refusal (not allowed, not active, ...) means that waiting
    // is pointless: look once more whether it went away all the same. No
    // answer at all may still be a hang-up in progress, so keep looking.
    const bool refused = reply.type() == QDBusMessage::ErrorMessage && !IsNoAnswer(reply);

    for (;;) {
        const QDeadlineTimer poll(std::min(m_queryTimeout, std::max(
            std::chrono::milliseconds(until.remainingTime()), kHangUpPollInterval)));
        if (StillActive(m_bus, conn->path, poll) == Lookup::Gone)
            return true;
        if (refused || until.hasExpired())
            return false;
        const auto pause = std::min(kHangUpPollInterval,
                                    std::chrono::milliseconds(until.remainingTime()));
        QThread::msleep(static_cast<unsigned long>(std::max<qint64>(pause.count(), 1)));
    }
}

} // namespace zorv

#include "desktop/raslink.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QList>
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
const QString kActiveConnections = QStringLiteral("ActiveConnections");

// NMActiveConnectionState
constexpr uint kStateActivated = 2;
constexpr uint kStateDeactivated = 4;

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

// A list of object paths ("ao"), as a property value or a signal's map
// entry carries it; nothing when the value is something else.
std::optional<QStringList> PathList(QVariant value)
{
    if (value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    QList<QDBusObjectPath> paths;
    if (value.userType() == qMetaTypeId<QDBusArgument>()) {
        const QDBusArgument arg = value.value<QDBusArgument>();
        if (arg.currentSignature() != QLatin1String("ao"))
            return std::nullopt;
        paths = qdbus_cast<QList<QDBusObjectPath>>(arg);
    } else if (value.canConvert<QList<QDBusObjectPath>>()) {
        paths = value.value<QList<QDBusObjectPath>>();
    } else {
        return std::nullopt;
    }
    QStringList out;
    for (const QDBusObjectPath& p : paths)
        out << p.path();
    return out;
}

} // namespace

CRasLink::CRasLink(QObject* parent) : CRasLink(QDBusConnection::systemBus(), kDefaultQueryTimeout, parent)
{
}

CRasLink::CRasLink(const QDBusConnection& bus, std::chrono::milliseconds queryTimeout, QObject* parent)
    : QObject(parent), m_bus(bus), m_queryTimeout(queryTimeout)
{
    m_hangUpTimer.setSingleShot(true);
    connect(&m_hangUpTimer, &QTimer::timeout, this, [this] { FinishHangUp(false); });
    if (!m_bus.isConnected()) {
        m_bKnown.store(true);
        return;
    }
    auto* watcher = new QDBusServiceWatcher(kNmService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &CRasLink::OnOwnerChanged);
    // From NetworkManager on any object: its list of active connections
    // (on the manager), each active connection's state.
    m_bus.connect(kNmService, QString(), kPropertiesInterface, QStringLiteral("PropertiesChanged"), this,
                  SLOT(OnPropertiesChanged(QDBusMessage)));
    m_bus.connect(kNmService, QString(), kActiveInterface, QStringLiteral("StateChanged"), this,
                  SLOT(OnActiveStateChanged(QDBusMessage)));
    QueryOwner();
    QueryActive();
}

CRasLink::~CRasLink() = default;

int CRasLink::KnownConnections() const
{
    return static_cast<int>(std::count_if(m_entries.cbegin(), m_entries.cend(), [](const CEntry& e) {
        return e.known && e.state != kStateDeactivated;
    }));
}

void CRasLink::Send(QDBusMessage msg, Reply onReply)
{
    msg.setAutoStartService(false);
    const int timeout = static_cast<int>(std::clamp<qint64>(m_queryTimeout.count(), 1, INT_MAX));
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(msg, timeout), this);
    ++m_nPending;
    const unsigned generation = m_generation;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation, onReply = std::move(onReply)](QDBusPendingCallWatcher* w) {
                --m_nPending;
                const QDBusMessage reply = w->reply();
                w->deleteLater();
                // An answer from before NetworkManager changed owner
                // describes connections that are gone.
                if (generation == m_generation && onReply)
                    onReply(reply);
                Update();
            });
}

void CRasLink::QueryOwner()
{
    QDBusMessage msg = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    msg << kNmService;
    Send(msg, [this](const QDBusMessage& reply) {
        m_bOwnerAnswered = true;
        m_bAvailable.store(reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                           && reply.arguments().constFirst().toBool());
    });
}

void CRasLink::QueryActive(std::function<void()> then)
{
    QDBusMessage msg = QDBusMessage::createMethodCall(kNmService, kNmPath, kPropertiesInterface,
                                                      QStringLiteral("Get"));
    msg << kNmInterface << kActiveConnections;
    // An answer may be handed over after a signal that NetworkManager sent
    // later: once a signal has brought the list, the signals are the newer
    // word (NetworkManager signals every change), and the answer is dropped.
    const unsigned signalsSeen = m_nListSignals;
    Send(msg, [this, signalsSeen, then = std::move(then)](const QDBusMessage& reply) {
        m_bListAnswered = true;
        if (signalsSeen == m_nListSignals && reply.type() == QDBusMessage::ReplyMessage
            && !reply.arguments().isEmpty()) {
            if (const auto paths = PathList(reply.arguments().constFirst()))
                ApplyActiveList(*paths);
        }
        if (then)
            then();
    });
}

void CRasLink::QueryEntry(const QString& path)
{
    QDBusMessage msg = QDBusMessage::createMethodCall(kNmService, path, kPropertiesInterface,
                                                      QStringLiteral("GetAll"));
    msg << kActiveInterface;
    const auto asked = m_entries.constFind(path);
    const unsigned signalsSeen = asked == m_entries.cend() ? 0 : asked->stateSignals;
    Send(msg, [this, path, signalsSeen](const QDBusMessage& reply) {
        const auto it = m_entries.find(path);
        if (it == m_entries.end())
            return; // left the list meanwhile
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            // The state from a signal that came since the question is the
            // newer word (as for the list).
            const QVariantMap props = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
            it->type = props.value(QStringLiteral("Type")).toString();
            if (it->stateSignals == signalsSeen)
                it->state = props.value(QStringLiteral("State")).toUInt();
            it->known = true;
            it->asked = false;
        } else if (!IsNoAnswer(reply)) {
            // The object went away between the list and this call.
            m_entries.erase(it);
        } else {
            it->asked = false; // unanswered: not counted, not waited for
        }
    });
}

void CRasLink::ApplyActiveList(const QStringList& paths)
{
    for (auto it = m_entries.begin(); it != m_entries.end();)
        it = paths.contains(it.key()) ? std::next(it) : m_entries.erase(it);
    for (const QString& path : paths) {
        if (m_entries.contains(path))
            continue;
        m_entries.insert(path, CEntry{});
        QueryEntry(path);
    }
}

void CRasLink::SetEntryState(const QString& path, uint state)
{
    const auto it = m_entries.find(path);
    if (it != m_entries.end()) {
        it->state = state;
        ++it->stateSignals;
    }
}

void CRasLink::OnPropertiesChanged(const QDBusMessage& msg)
{
    const QList<QVariant> args = msg.arguments();
    if (args.size() < 2)
        return;
    const QString iface = args.at(0).toString();
    const QVariantMap changed = qdbus_cast<QVariantMap>(args.at(1));
    if (msg.path() == kNmPath && iface == kNmInterface) {
        if (changed.contains(kActiveConnections)) {
            ++m_nListSignals;
            if (const auto paths = PathList(changed.value(kActiveConnections)))
                ApplyActiveList(*paths);
        } else if (args.size() > 2 && args.at(2).toStringList().contains(kActiveConnections)) {
            QueryActive(); // changed without its value
        }
    } else if (iface == kActiveInterface && changed.contains(QStringLiteral("State"))) {
        SetEntryState(msg.path(), changed.value(QStringLiteral("State")).toUInt());
    }
    Update();
}

void CRasLink::OnActiveStateChanged(const QDBusMessage& msg)
{
    if (msg.arguments().isEmpty())
        return;
    SetEntryState(msg.path(), msg.arguments().constFirst().toUInt());
    Update();
}

void CRasLink::OnOwnerChanged(const QString& /*name*/, const QString& /*oldOwner*/, const QString& newOwner)
{
    // NetworkManager came, went or was restarted: what was known is void.
    ++m_generation;
    m_entries.clear();
    m_bOwnerAnswered = true;
    m_bAvailable.store(!newOwner.isEmpty());
    m_bListAnswered = newOwner.isEmpty();
    if (!newOwner.isEmpty())
        QueryActive();
    Update();
}

void CRasLink::Update()
{
    int dialUps = 0;
    uint state = 0;
    bool asking = false;
    for (const CEntry& e : std::as_const(m_entries)) {
        asking = asking || e.asked;
        if (!e.known || e.state == kStateDeactivated || !IsDialUpType(e.type))
            continue;
        ++dialUps;
        state = e.state;
    }
    const bool available = m_bAvailable.load();
    const bool connected = available && dialUps == 1 && state == kStateActivated;
    const bool known = m_bKnown.load() || (m_bOwnerAnswered && (!available || (m_bListAnswered && !asking)));
    const bool changed = connected != m_bConnected.exchange(connected) || known != m_bKnown.exchange(known)
        || available != m_bReported;
    m_bReported = available;

    if (!m_hangUpPath.isEmpty() && available && m_bListAnswered) {
        const auto it = m_entries.constFind(m_hangUpPath);
        if (it == m_entries.cend() || it->state == kStateDeactivated)
            FinishHangUp(true);
    }
    if (changed)
        emit Changed();
}

bool CRasLink::HangUp(std::chrono::milliseconds wait)
{
    if (!m_hangUpPath.isEmpty())
        return false;
    QString path;
    int dialUps = 0;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (it->known && it->state != kStateDeactivated && IsDialUpType(it->type)) {
            ++dialUps;
            path = it.key();
        }
    }
    if (dialUps != 1)
        return false;

    m_hangUpPath = path;
    m_hangUpTimer.start(wait);
    QDBusMessage msg = QDBusMessage::createMethodCall(kNmService, kNmPath, kNmInterface,
                                                      QStringLiteral("DeactivateConnection"));
    msg << QVariant::fromValue(QDBusObjectPath(path));
    Send(msg, [this, path](const QDBusMessage& reply) {
        // An explicit refusal (not allowed, not active, ...) means that
        // waiting is pointless: look once more whether it went away all the
        // same. No answer at all may still be a hang-up in progress: the
        // signals tell, or the wait runs out.
        if (m_hangUpPath != path || reply.type() != QDBusMessage::ErrorMessage || IsNoAnswer(reply))
            return;
        QueryActive([this, path] {
            if (m_hangUpPath != path)
                return;
            const auto it = m_entries.constFind(path);
            FinishHangUp(it == m_entries.cend() || it->state == kStateDeactivated);
        });
    });
    return true;
}

void CRasLink::FinishHangUp(bool gone)
{
    m_hangUpTimer.stop();
    m_hangUpPath.clear();
    emit HangUpFinished(gone);
}

} // namespace zorv

#include "desktop/notify.h"

#include "model/item.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace zorv {

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

void CDoneWatch::OnFinished(std::uint64_t item, int state, bool retried)
{
    if (state == STATE_FETCHED || (state == STATE_FAILED && !retried))
        m_results[item] = state;
}

bool CDoneWatch::Tick(int pending, int activeFetches, int& fetched, int& failed)
{
    if (pending != 0 || activeFetches != 0 || m_results.empty())
        return false;
    fetched = failed = 0;
    for (const auto& [item, state] : m_results)
        ++(state == STATE_FETCHED ? fetched : failed);
    m_results.clear();
    return true;
}

CDesktopNotifier::CDesktopNotifier(QObject* parent) : QObject(parent), m_bus(QDBusConnection::sessionBus())
{
    Connect();
}

void CDesktopNotifier::SetConnection(const QDBusConnection& bus)
{
    m_bus.disconnect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                     SLOT(OnActionInvoked(uint, QString)));
    m_bus = bus;
    m_ids.clear();
    m_early.clear();
    Connect();
}

void CDesktopNotifier::Connect()
{
    // Any sender: the service's well-known name may change owner.
    if (m_bus.isConnected())
        m_bus.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                      SLOT(OnActionInvoked(uint, QString)));
}

bool CDesktopNotifier::Notify(const QString& summary, const QString& body)
{
    const QString service = QLatin1String(kService);
    if (!m_bus.isConnected() || !m_bus.interface() || !m_bus.interface()->isServiceRegistered(service))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(service, kPath, kInterface, QStringLiteral("Notify"));
    // The "default" action is the click on the notification itself.
    call << QStringLiteral("zorv") << uint(0) << QStringLiteral("zorv") << summary << body
         << QStringList{QStringLiteral("default"), QStringLiteral("表示")} << QVariantMap() << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isValid()) {
            m_ids.insert(reply.value());
            // A click may be told before the answer that names the id.
            if (m_early.remove(reply.value()))
                emit Clicked();
        }
        w->deleteLater();
    });
    return true;
}

void CDesktopNotifier::OnActionInvoked(uint id, const QString& action)
{
    if (action != QLatin1String("default"))
        return;
    if (m_ids.contains(id))
        emit Clicked();
    else
        m_early.insert(id);
}

} // namespace zorv

#pragma once
// Telling the user that the list is done: CDoneWatch counts the results of a
// run of the queue and says when the queue has run empty; CDesktopNotifier
// shows a desktop notification (org.freedesktop.Notifications over D-Bus) and
// reports a click on it. Without a notification service nothing is shown.
#include <QDBusConnection>
#include <QObject>
#include <QSet>

#include <cstdint>
#include <unordered_map>

namespace zorv {

class CDoneWatch {
public:
    // A final result handled for an item (by its serial number): fetched (1)
    // or failed (2); a failure that is tried again is not counted. An item
    // that ends more than once (failed, then reset and fetched) counts once,
    // by its last result.
    void OnFinished(std::uint64_t item, int state, bool retried);
    // A timer tick. True, with the number of items fetched and failed since
    // the last report, when results were counted and nothing is queued or
    // running any more; the counts start again from 0.
    bool Tick(int pending, int activeFetches, int& fetched, int& failed);

private:
    std::unordered_map<std::uint64_t, int> m_results; // item serial → last result
};

class CDesktopNotifier : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kService = "org.freedesktop.Notifications";

    // On the session bus.
    explicit CDesktopNotifier(QObject* parent = nullptr);
    // Another bus (tests run a private one).
    void SetConnection(const QDBusConnection& bus);

    // Sends the notification without waiting for the answer. False when no
    // notification service is on the bus.
    bool Notify(const QString& summary, const QString& body);

signals:
    // The user clicked one of this program's notifications.
    void Clicked();

private slots:
    void OnActionInvoked(uint id, const QString& action);

private:
    void Connect();
    QDBusConnection m_bus;
    QSet<uint> m_ids;   // notifications sent, by the id the service gave them
    QSet<uint> m_early; // clicks on ids not known yet (their answer still on its way)
};

} // namespace zorv

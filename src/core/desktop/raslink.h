#pragma once
// CRasLink: the dial-up link. Tells whether a dial-up connection is up and
// ends it on request; used by the auto-start of fetching (CheckAutoStart),
// by the main frame's hang-up decision and auto-disconnect command, and by
// the hang-up dialog. One instance lives in the application object.
//
// The connections are NetworkManager's, over D-Bus (the system bus unless
// another connection is given). An active connection of type gsm, cdma,
// pppoe or bluetooth is a dial-up connection; every other type (ethernet,
// wifi, vpn, ...) is ignored.
//
// "The" dial-up connection exists only when exactly one dial-up connection
// is active, in whatever state (still activating, activated, deactivating).
// With two or more at once there is no connection to speak of: IsConnected
// answers no and HangUp does nothing. Entries already deactivated do not
// count.
//
// Nothing waits for NetworkManager. The link keeps its own picture of the
// active connections: one query when it starts (and whenever NetworkManager
// appears on the bus), then NetworkManager's signals keep it current (the
// list of active connections and each one's state, from PropertiesChanged
// and StateChanged); a new entry's type is asked once. Every call goes out
// asynchronously with a timeout and never starts NetworkManager through bus
// activation. The questions answer from the picture at once; Changed tells
// when an answer changed. Failures are never reported to the user: without
// a bus, without NetworkManager on it, or while NetworkManager does not
// answer, the answers are simply no.
//
// Threads. The object lives on a thread with an event loop (the UI thread)
// and is driven by it; IsAvailable, IsConnected and IsKnown may be read from
// any thread.
#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>

class QDBusMessage;
class QDBusPendingCallWatcher;

namespace zorv {

class CRasLink : public QObject {
    Q_OBJECT
public:
    // How long one D-Bus call may take before it counts as unanswered.
    static constexpr std::chrono::milliseconds kDefaultQueryTimeout{5000};
    // How long a hang-up waits for the connection to disappear.
    static constexpr std::chrono::milliseconds kDefaultHangUpWait{30000};

    // NetworkManager on the system bus.
    explicit CRasLink(QObject* parent = nullptr);
    // NetworkManager on `bus` (tests pass a private bus). A bus that is not
    // connected makes the link unavailable.
    explicit CRasLink(const QDBusConnection& bus,
                      std::chrono::milliseconds queryTimeout = kDefaultQueryTimeout,
                      QObject* parent = nullptr);
    ~CRasLink() override;

    // NetworkManager is on the bus (it owns its name). The main frame
    // enables its auto-disconnect command by this.
    bool IsAvailable() const { return m_bAvailable.load(); }
    // The dial-up connection exists and is fully activated. A connection
    // still being set up, or being torn down, is not connected.
    bool IsConnected() const { return m_bConnected.load(); }
    // The first answers have come: whether NetworkManager is there, and if
    // so its active connections with their types (or the calls gave up).
    bool IsKnown() const { return m_bKnown.load(); }
    // Active connections whose type and state are known and that have not
    // ended (what the picture holds).
    int KnownConnections() const;
    // Calls sent and not yet answered.
    int PendingCalls() const { return m_nPending; }

    // Starts ending the dial-up connection (even one still activating).
    // False when there is none (nothing is done) or a hang-up is already
    // under way. Otherwise HangUpFinished tells the outcome later: true when
    // NetworkManager no longer lists the connection (or lists it ended);
    // false when it refused and the connection is still there, or when the
    // connection was still there after `wait`.
    bool HangUp(std::chrono::milliseconds wait = kDefaultHangUpWait);

signals:
    // IsAvailable, IsConnected or IsKnown changed.
    void Changed();
    void HangUpFinished(bool gone);

private slots:
    void OnPropertiesChanged(const QDBusMessage& msg);
    void OnActiveStateChanged(const QDBusMessage& msg);
    void OnOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

private:
    struct CEntry {
        QString type;      // empty until known
        uint state = 0;    // NMActiveConnectionState
        bool known = false; // type and state have been answered
        bool asked = true;  // its question is out (no answer yet)
        unsigned stateSignals = 0; // state signals received for it
    };
    using Reply = std::function<void(const QDBusMessage& reply)>;

    // Sends `msg` without waiting; `onReply` runs with the answer (or the
    // error) unless NetworkManager changed owner meanwhile.
    void Send(QDBusMessage msg, Reply onReply);
    void QueryOwner();
    void QueryActive(std::function<void()> then = {});
    void QueryEntry(const QString& path);
    // NetworkManager's list of active connections: entries that left are
    // dropped, new ones asked about.
    void ApplyActiveList(const QStringList& paths);
    void SetEntryState(const QString& path, uint state);
    // Recomputes the answers from the picture; tells changes; ends a
    // hang-up whose connection is gone.
    void Update();
    void FinishHangUp(bool gone);

    QDBusConnection m_bus;
    std::chrono::milliseconds m_queryTimeout;
    QHash<QString, CEntry> m_entries; // active connections by object path
    unsigned m_generation = 0;        // bumped when NetworkManager changes owner
    unsigned m_nListSignals = 0;      // signals that brought the list of active connections
    int m_nPending = 0;
    bool m_bOwnerAnswered = false;
    bool m_bListAnswered = false;
    std::atomic<bool> m_bAvailable{false};
    std::atomic<bool> m_bConnected{false};
    std::atomic<bool> m_bKnown{false};
    bool m_bReported = false; // availability as Changed last told it

    QString m_hangUpPath; // the connection being hung up; empty when none
    QTimer m_hangUpTimer;
};

} // namespace zorv

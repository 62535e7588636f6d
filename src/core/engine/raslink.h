#pragma once
// CRasLink: the dial-up link. Tells whether a dial-up connection is up and
// ends it on request; used by the auto-start of fetching (CheckAutoStart),
// by the main frame's hang-up decision and auto-disconnect command, and by
// the hang-up dialog. One instance lives in the application object.
//
// The connections are NetworkManager's, asked over D-Bus (the system bus
// unless another connection is given). An active connection of type gsm,
// cdma, pppoe or bluetooth is a dial-up connection; every other type
// (ethernet, wifi, vpn, ...) is ignored.
//
// "The" dial-up connection exists only when exactly one dial-up connection
// is active, in whatever state (still activating, activated, deactivating).
// With two or more at once there is no connection to speak of: IsConnected
// answers no and HangUp does nothing. Entries already deactivated do not
// count.
//
// Failures are never reported to the user: without a bus, without
// NetworkManager on it, or when NetworkManager does not answer, every answer
// is simply no. No call starts NetworkManager through bus activation, and
// each question gives up after the query timeout, so a hung service cannot
// freeze the UI thread for long.
//
// Threads. The object keeps no state that changes after construction; every
// question asks afresh. All members may be called on any thread, also
// concurrently (blocking D-Bus calls, no event loop needed).
#include <QDBusConnection>

#include <chrono>

namespace zorv {

class CRasLink {
public:
    // How long one question (IsAvailable, IsConnected, or finding the
    // connection in HangUp) may take in all, D-Bus round trips included.
    static constexpr std::chrono::milliseconds kDefaultQueryTimeout{1000};
    // How long HangUp waits for the connection to disappear.
    static constexpr std::chrono::milliseconds kDefaultHangUpWait{30000};

    // NetworkManager on the system bus.
    CRasLink();
    // NetworkManager on `bus` (tests pass a private bus). A bus that is not
    // connected makes the link unavailable.
    explicit CRasLink(const QDBusConnection& bus,
                      std::chrono::milliseconds queryTimeout = kDefaultQueryTimeout);
    virtual ~CRasLink();
    CRasLink(const CRasLink&) = delete;
    CRasLink& operator=(const CRasLink&) = delete;

    // True when NetworkManager is running on the bus right now. The main
    // frame enables its auto-disconnect command by this. One round trip to
    // the bus daemon.
    bool IsAvailable() const;

    // True when the dial-up connection exists and is fully activated. A
    // connection still being set up, or being torn down, is not connected.
    bool IsConnected() const;

    // Ends the dial-up connection (even one still activating) and waits
    // until NetworkManager no longer lists it, at most `wait`, polling. True
    // when a connection was found and is gone; false when there was none
    // (nothing is done), when NetworkManager refused, or when the connection
    // was still there when the wait ran out. Blocks the calling thread.
    bool HangUp(std::chrono::milliseconds wait = kDefaultHangUpWait);

private:
    QDBusConnection m_bus;
    std::chrono::milliseconds m_queryTimeout;
};

} // namespace zorv

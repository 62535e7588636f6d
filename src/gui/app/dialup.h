#pragma once
// The dial-up link as the window uses it: the auto-disconnect command's
// enable state, the timer's hang-up decision, the auto-start of fetching and
// the hang-up dialog. The application gives the frame the system's link
// (CRasLink); tests give a fake one.
//
// Nothing here waits on the system: the answers are what the link last
// learnt, and a change is told through onChanged.
#include <QDBusConnection>

#include <functional>
#include <memory>

namespace zorv {

class IDialUpLink {
public:
    virtual ~IDialUpLink() = default;
    // Whether the link's service is there (the auto-disconnect command).
    virtual bool IsAvailable() const = 0;
    // Whether the dial-up connection is up. Any thread.
    virtual bool IsConnected() const = 0;
    // Whether the first answer about the link has come (until then
    // IsConnected answers no for want of knowing).
    virtual bool IsKnown() const { return true; }
    // Starts ending the dial-up connection: false when there is none to end
    // (nothing is done). The outcome comes later through onHangUpDone.
    virtual bool HangUp() = 0;

    // Told on the UI thread when IsAvailable, IsConnected or IsKnown changed.
    std::function<void()> onChanged;
    // Told on the UI thread when a hang-up has ended: the connection is gone
    // (true), or it was refused or still there when the wait ran out.
    std::function<void(bool gone)> onHangUpDone;
};

// The system's dial-up link (NetworkManager on the system bus).
std::unique_ptr<IDialUpLink> MakeSystemDialUpLink();
// The dial-up link of NetworkManager on `bus` (tests pass a private bus).
std::unique_ptr<IDialUpLink> MakeDialUpLink(const QDBusConnection& bus);

} // namespace zorv

#pragma once
// The dial-up link as the window uses it: the auto-disconnect command's
// enable state, the timer's hang-up decision and the hang-up dialog. The
// application gives the frame the system's link (CRasLink); tests give a
// fake one.
#include <memory>

namespace zorv {

class CRasLink;

class IDialUpLink {
public:
    virtual ~IDialUpLink() = default;
    virtual bool IsAvailable() const = 0;
    virtual bool IsConnected() const = 0;
    virtual bool HangUp() = 0;
};

// The system's dial-up link.
std::unique_ptr<IDialUpLink> MakeSystemDialUpLink();

} // namespace zorv

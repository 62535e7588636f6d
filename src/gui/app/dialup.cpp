#include "app/dialup.h"

#include "engine/raslink.h"

namespace zorv {

namespace {

class CRasDialUpLink final : public IDialUpLink {
public:
    bool IsAvailable() const override { return m_link.IsAvailable(); }
    bool IsConnected() const override { return m_link.IsConnected(); }
    bool HangUp() override { return m_link.HangUp(); }

private:
    CRasLink m_link;
};

} // namespace

std::unique_ptr<IDialUpLink> MakeSystemDialUpLink()
{
    return std::make_unique<CRasDialUpLink>();
}

} // namespace zorv

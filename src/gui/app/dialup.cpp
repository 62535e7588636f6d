#include "app/dialup.h"

#include "desktop/raslink.h"

namespace zorv {

namespace {

class CRasDialUpLink final : public IDialUpLink {
public:
    explicit CRasDialUpLink(const QDBusConnection& bus) : m_link(bus)
    {
        QObject::connect(&m_link, &CRasLink::Changed, [this] {
            if (onChanged)
                onChanged();
        });
        QObject::connect(&m_link, &CRasLink::HangUpFinished, [this](bool gone) {
            if (onHangUpDone)
                onHangUpDone(gone);
        });
    }
    bool IsAvailable() const override { return m_link.IsAvailable(); }
    bool IsConnected() const override { return m_link.IsConnected(); }
    bool IsKnown() const override { return m_link.IsKnown(); }
    bool HangUp() override { return m_link.HangUp(); }

private:
    CRasLink m_link;
};

} // namespace

std::unique_ptr<IDialUpLink> MakeSystemDialUpLink()
{
    return MakeDialUpLink(QDBusConnection::systemBus());
}

std::unique_ptr<IDialUpLink> MakeDialUpLink(const QDBusConnection& bus)
{
    return std::make_unique<CRasDialUpLink>(bus);
}

} // namespace zorv

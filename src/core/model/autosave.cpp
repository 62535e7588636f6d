#include "model/autosave.h"

#include <QTimer>

namespace zorv {

CAutoSave::CAutoSave(std::function<bool(QString*)> save, std::function<bool()> wanted,
                     std::function<void(const QString&)> failed)
    : m_save(std::move(save)), m_wanted(std::move(wanted)), m_failed(std::move(failed))
{
}

CAutoSave::~CAutoSave() = default;

bool CAutoSave::Modified()
{
    if (Pending() || !m_wanted())
        return false;
    const auto since = std::chrono::steady_clock::now() - m_lastSave;
    if (since >= m_interval)
        return SaveNow();
    if (!m_pTimer) {
        m_pTimer = std::make_unique<QTimer>();
        m_pTimer->setSingleShot(true);
        QObject::connect(m_pTimer.get(), &QTimer::timeout, [this] {
            if (m_wanted())
                SaveNow();
        });
    }
    m_pTimer->start(std::chrono::ceil<std::chrono::milliseconds>(m_interval - since));
    return false;
}

bool CAutoSave::Pending() const
{
    return m_pTimer && m_pTimer->isActive();
}

void CAutoSave::Stop()
{
    if (m_pTimer)
        m_pTimer->stop();
}

void CAutoSave::Saved()
{
    m_bFailureTold = false;
    Stop();
}

bool CAutoSave::Flush()
{
    if (!Pending())
        return true;
    m_pTimer->stop();
    return !m_wanted() || SaveNow();
}

bool CAutoSave::SaveNow()
{
    m_lastSave = std::chrono::steady_clock::now();
    QString error;
    if (m_save(&error)) {
        m_strError.clear();
        m_bFailureTold = false;
        return true;
    }
    // The list stays modified (and its title says so); a run of failures is
    // told once.
    m_strError = error;
    if (!m_bFailureTold) {
        m_bFailureTold = true;
        m_failed(error);
    }
    return false;
}

} // namespace zorv

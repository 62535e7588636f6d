#include "engine/serverlimits.h"

#include "model/item.h"

namespace zorv {

CServerLimits& CServerLimits::Global()
{
    static CServerLimits limits;
    return limits;
}

void CServerLimits::Remember(const std::string& url, bool oneFetch)
{
    const std::string key = CItem::ServerOf(url);
    if (key.empty())
        return;
    std::scoped_lock lock(m_lock);
    bool& strict = m_servers[key];
    strict = strict || oneFetch;
}

bool CServerLimits::OneConnection(const std::string& url) const
{
    const std::string key = CItem::ServerOf(url);
    std::scoped_lock lock(m_lock);
    return m_servers.contains(key);
}

bool CServerLimits::Enter(const std::string& url)
{
    const std::string key = CItem::ServerOf(url);
    std::scoped_lock lock(m_lock);
    int& running = m_running[key];
    if (running > 0) {
        const auto it = m_servers.find(key);
        if (it != m_servers.end() && it->second)
            return false;
    }
    ++running;
    return true;
}

void CServerLimits::Leave(const std::string& url)
{
    const std::string key = CItem::ServerOf(url);
    std::scoped_lock lock(m_lock);
    if (const auto it = m_running.find(key); it != m_running.end() && --it->second <= 0)
        m_running.erase(it);
}

void CServerLimits::Reset()
{
    std::scoped_lock lock(m_lock);
    m_servers.clear();
}

} // namespace zorv

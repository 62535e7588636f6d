#include "engine/serverlimits.h"

#include <curl/curl.h>

#include <cctype>
#include <memory>

namespace zorv {

std::string ServerKey(const std::string& url)
{
    std::unique_ptr<CURLU, void (*)(CURLU*)> u(curl_url(), curl_url_cleanup);
    if (!u || curl_url_set(u.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE) != CURLUE_OK)
        return {};
    const auto part = [&u](CURLUPart which, unsigned flags, std::string& out) {
        char* text = nullptr;
        if (curl_url_get(u.get(), which, &text, flags) != CURLUE_OK || !text)
            return false;
        out = text;
        curl_free(text);
        return true;
    };
    std::string scheme, host, port;
    if (!part(CURLUPART_SCHEME, 0, scheme) || !part(CURLUPART_HOST, 0, host)
        || !part(CURLUPART_PORT, CURLU_DEFAULT_PORT, port))
        return {};
    std::string key = scheme + "://" + host + ":" + port;
    for (char& c : key)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

CServerLimits& CServerLimits::Global()
{
    static CServerLimits limits;
    return limits;
}

void CServerLimits::Remember(const std::string& url, bool oneFetch)
{
    const std::string key = ServerKey(url);
    if (key.empty())
        return;
    std::scoped_lock lock(m_lock);
    bool& strict = m_servers[key];
    strict = strict || oneFetch;
}

bool CServerLimits::OneConnection(const std::string& url) const
{
    const std::string key = ServerKey(url);
    std::scoped_lock lock(m_lock);
    return m_servers.contains(key);
}

bool CServerLimits::Enter(const std::string& url)
{
    const std::string key = ServerKey(url);
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
    const std::string key = ServerKey(url);
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

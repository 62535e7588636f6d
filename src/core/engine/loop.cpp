#include "engine/loop.h"

#include "engine/requestoptions.h"

#include <vector>

namespace zorv {

CTransferLoop::CTransferLoop()
{
    CurlGlobalInit();
    m_multi = curl_multi_init();
    // Items of one HTTP/2 server share a connection; the ranges of a split
    // file ask for HTTP/1.1 and so each get one of their own.
    if (m_multi)
        curl_multi_setopt(m_multi, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
}

CTransferLoop::~CTransferLoop()
{
    if (m_multi)
        curl_multi_cleanup(m_multi);
}

bool CTransferLoop::Add(CURL* easy, CLoopClient* client)
{
    if (!m_multi)
        return false;
    curl_easy_setopt(easy, CURLOPT_PRIVATE, static_cast<void*>(client));
    return curl_multi_add_handle(m_multi, easy) == CURLM_OK;
}

void CTransferLoop::Remove(CURL* easy)
{
    if (m_multi && easy)
        curl_multi_remove_handle(m_multi, easy);
}

bool CTransferLoop::Perform()
{
    if (!m_multi)
        return false;
    int running = 0;
    const bool ok = curl_multi_perform(m_multi, &running) == CURLM_OK;
    // The ends are gathered first: a client's Done may add new handles.
    std::vector<std::pair<CURL*, CURLcode>> ended;
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_multi, &queued)) {
        if (msg->msg == CURLMSG_DONE)
            ended.emplace_back(msg->easy_handle, msg->data.result);
    }
    for (auto [easy, rc] : ended) {
        void* client = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &client);
        curl_multi_remove_handle(m_multi, easy);
        if (client)
            static_cast<CLoopClient*>(client)->Done(rc);
    }
    return ok;
}

void CTransferLoop::Wait(int ms)
{
    if (m_multi)
        curl_multi_poll(m_multi, nullptr, 0, ms, nullptr);
}

void CTransferLoop::Wakeup()
{
    if (m_multi)
        curl_multi_wakeup(m_multi);
}

void CTransferLoop::SetMaxHostConnections(long n)
{
    if (!m_multi || n == m_maxHost)
        return;
    m_maxHost = n;
    curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, n > 0 ? n : 0L);
}

} // namespace zorv

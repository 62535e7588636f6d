#pragma once
// CTransferLoop: one libcurl multi handle and the handles running in it.
// Whoever owns the loop drives it from one thread (Perform, then the
// owners' ticks, then Wait); any thread may Wakeup() a Wait. A handle's
// owner (a CLoopClient) learns of its end through Done, called from Perform
// after the handle left the multi handle. The connections stay in the
// multi handle from transfer to transfer, shared by every handle of it.
#include <curl/curl.h>

namespace zorv {

class CLoopClient {
public:
    virtual ~CLoopClient() = default;
    // The handle ended with `rc`; it is no longer in the loop.
    virtual void Done(CURLcode rc) = 0;
};

class CTransferLoop {
public:
    CTransferLoop();
    ~CTransferLoop();
    CTransferLoop(const CTransferLoop&) = delete;
    CTransferLoop& operator=(const CTransferLoop&) = delete;

    bool Ok() const { return m_multi != nullptr; }
    CURLM* Multi() const { return m_multi; }
    // Runs `easy` for `client`; false when libcurl refused it.
    bool Add(CURL* easy, CLoopClient* client);
    // Takes `easy` out before its end (a cancel); Done is not called.
    void Remove(CURL* easy);
    // Lets libcurl move every transfer on and reports the ends. False when
    // the multi handle failed (every transfer then ends with an error).
    bool Perform();
    // Waits for network activity, a Wakeup or `ms` milliseconds.
    void Wait(int ms);
    // Ends a Wait at once (any thread).
    void Wakeup();
    // Per-server connection cap (0: none) and multiplexing of HTTP/2.
    void SetMaxHostConnections(long n);

private:
    CURLM* m_multi = nullptr;
    long m_maxHost = -1;
};

} // namespace zorv

#pragma once
// CServerLimits: what this run has learned about servers that refuse extra
// connections. A server (scheme, host and port) that answered a range
// request on a second connection with 403, 429 or 503 gets one connection
// per file from then on: its files are not split. Where it answered 429 or
// 503 (too many requests, overloaded) it also gets one fetch at a time: a
// fetch of it waits, holding its transfer slot as a fetch waiting for the
// per-server cap does, until no other fetch of it runs. Other servers keep
// the settings. Servers are told apart by CItem::ServerOf. Kept for the
// life of the process; any thread.
#include <map>
#include <mutex>
#include <string>

namespace zorv {

class CServerLimits {
public:
    static CServerLimits& Global();

    // Remembers `url`'s server as taking one connection per file; with
    // `oneFetch`, also one fetch at a time.
    void Remember(const std::string& url, bool oneFetch);
    // The server of `url` takes one connection per file.
    bool OneConnection(const std::string& url) const;

    // A fetch of `url` begins: true when it may, counting it; false while
    // the server takes one fetch at a time and another one runs.
    bool Enter(const std::string& url);
    // The fetch that Enter let in has ended.
    void Leave(const std::string& url);

    // Forgets every server (a new run, for tests).
    void Reset();

private:
    mutable std::mutex m_lock;
    std::map<std::string, bool> m_servers; // server -> one fetch at a time
    std::map<std::string, int> m_running;  // fetches of a server running now
};

} // namespace zorv

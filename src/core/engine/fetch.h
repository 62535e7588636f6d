#pragma once
// FetchItem: the fetch of one item over HTTP, HTTPS or FTP with libcurl, into
// the item's local file. CFetchSession is a worker's transfer state, reused
// from item to item so that connections are reused.
#include "model/doc.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace zorv {

struct CNetSettings;

// Limits of one transfer; the defaults are the program's, tests shorten them.
struct CFetchLimits {
    std::chrono::milliseconds connectTimeout{60000};
    std::chrono::milliseconds stallTimeout{60000}; // nothing received for this long fails the item
};

class CFetchSession {
public:
    explicit CFetchSession(const CFetchLimits& limits = {});
    ~CFetchSession();
    CFetchSession(const CFetchSession&) = delete;
    CFetchSession& operator=(const CFetchSession&) = delete;

    // Drops open connections: the next fetch starts with a new transfer
    // handle (after a cancelled fetch).
    void Reset();
    const CFetchLimits& Limits() const { return m_limits; }

    struct Impl;

private:
    friend int FetchItem(CFetchSession& session, const ItemPtr& item, CZorvDoc& doc);
    CFetchLimits m_limits;
    std::unique_ptr<Impl> m_impl;
};

// Fetches the item: announces 4 (connecting), 5 (fetching, with progress in
// the note) and 7 (complete) through doc.NotifyItemState, writes the note on
// failure, and returns the result, STATE_FETCHED or STATE_FAILED. The caller
// announces the result. Cancel() on the item ends the fetch promptly.
int FetchItem(CFetchSession& session, const ItemPtr& item, CZorvDoc& doc);

// The proxy a fetch of `url` uses under the settings' ProxySetting:
// 0 leaves the choice to libcurl (the proxy environment variables); 1 goes
// direct even when those are set; 3 uses the named proxy of the URL's
// protocol (the HTTP proxy also serves https; one proxy for all when the
// HTTP and FTP entries are equal) except for the hosts in ProxyBypass.
struct CProxyChoice {
    bool system = true;  // libcurl's default behaviour; the fields below are unused
    std::string proxy;   // CURLOPT_PROXY: "host:port", or empty for none
    std::string noProxy; // CURLOPT_NOPROXY: comma-separated hosts, "*" for all
};
CProxyChoice ChooseProxy(const CNetSettings& net, std::string_view url);

} // namespace zorv

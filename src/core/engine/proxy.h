#pragma once
// Proxy choice: which proxy, if any, a request goes through under the
// settings.
#include <string>
#include <string_view>

namespace zorv {

struct CNetSettings;

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

#include "engine/requestoptions.h"

#include "engine/proxy.h"
#include "engine/trust.h"
#include "settings/options.h"

#include <mutex>

namespace zorv {

namespace {

constexpr long kMaxRedirects = 20;
constexpr const char* kProtocols = "http,https,ftp";
// A redirect leads to HTTP or HTTPS only: an FTP or any other target is
// refused (CURLE_UNSUPPORTED_PROTOCOL), never followed.
constexpr const char* kRedirectProtocols = "http,https";

// The URL as libcurl gets it: a blank (which the user may have typed or
// pasted inside a URL) is sent as %20.
std::string RequestUrl(const std::string& url)
{
    std::string out;
    out.reserve(url.size());
    for (const char c : url) {
        if (c == ' ')
            out += "%20";
        else
            out += c;
    }
    return out;
}

} // namespace

void CurlGlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void SetCommonRequestOptions(CURL* easy, const std::string& url, const std::string& referer,
                             const CNetSettings& net, const CFetchLimits& limits, char* errorBuffer)
{
    const std::string requestUrl = RequestUrl(url);
    curl_easy_setopt(easy, CURLOPT_URL, requestUrl.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, kProtocols);
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, kRedirectProtocols);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count()));
    // A tunnel's "200 Connection established" is not the server's response.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
#ifdef _WIN32
    curl_easy_setopt(easy, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));
#endif
    // libcurl sends no User-Agent unless it is given one.
    if (!net.HttpAgent.empty())
        curl_easy_setopt(easy, CURLOPT_USERAGENT, net.HttpAgent.c_str());
    // The referrer is one header line: anything after a line break is dropped.
    const std::string oneLine = referer.substr(0, referer.find_first_of("\r\n"));
    if (!oneLine.empty())
        curl_easy_setopt(easy, CURLOPT_REFERER, oneLine.c_str());
    ApplyTrust(easy, net.CaCertificates);
    const CProxyChoice proxy = ChooseProxy(net, url);
    if (!proxy.system) {
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy.proxy.c_str());
        curl_easy_setopt(easy, CURLOPT_NOPROXY, proxy.noProxy.c_str());
    }
}
} // namespace zorv

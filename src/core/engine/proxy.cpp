#include "engine/proxy.h"

#include "settings/options.h"

#include <cctype>

namespace zorv {

namespace {

std::string_view UrlScheme(std::string_view url)
{
    const auto colon = url.find(':');
    return colon == std::string_view::npos ? std::string_view{} : url.substr(0, colon);
}

// CURLOPT_NOPROXY from a bypass list as the user types it: names separated
// by blanks (or ';' / ','); "*.example.com" means the domain and its hosts;
// "<local>" means this machine.
std::string NoProxyList(const std::string& bypass)
{
    std::string out;
    size_t i = 0;
    while (i < bypass.size()) {
        const size_t end = bypass.find_first_of(" \t;,", i);
        std::string name = bypass.substr(i, end == std::string::npos ? std::string::npos : end - i);
        i = end == std::string::npos ? bypass.size() : end + 1;
        if (name.empty())
            continue;
        if (name == "<local>")
            name = "localhost,127.0.0.1,::1";
        else if (name != "*" && name.starts_with("*."))
            name.erase(0, 2);
        else if (name != "*" && name.starts_with('*'))
            name.erase(0, 1);
        if (name.empty())
            continue;
        if (!out.empty())
            out += ',';
        out += name;
    }
    return out;
}

std::string ProxyAddress(const std::string& server, const std::string& port)
{
    if (server.empty())
        return {};
    return port.empty() ? server : server + ":" + port;
}

} // namespace

CProxyChoice ChooseProxy(const CNetSettings& net, std::string_view url)
{
    CProxyChoice choice;
    switch (net.ProxySetting) {
    case PROXY_DIRECT:
        choice.system = false;
        choice.noProxy = "*";
        return choice;
    case PROXY_NAMED: {
        choice.system = false;
        std::string scheme(UrlScheme(url));
        for (char& c : scheme)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (net.ProxyFtpServer == net.ProxyHttpServer && net.ProxyFtpPort == net.ProxyHttpPort) {
            // One proxy for every protocol.
            choice.proxy = ProxyAddress(net.ProxyHttpServer, net.ProxyHttpPort);
        } else if (scheme == "ftp") {
            if (!net.ProxyFtpServer.empty() && !net.ProxyFtpPort.empty())
                choice.proxy = ProxyAddress(net.ProxyFtpServer, net.ProxyFtpPort);
        } else if (!net.ProxyHttpServer.empty() && !net.ProxyHttpPort.empty()) {
            // http and https
            choice.proxy = ProxyAddress(net.ProxyHttpServer, net.ProxyHttpPort);
        }
        choice.noProxy = choice.proxy.empty() ? "*" : NoProxyList(net.ProxyBypass);
        return choice;
    }
    default:
        return choice; // libcurl's own: the proxy environment variables
    }
}


} // namespace zorv

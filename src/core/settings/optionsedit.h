#pragma once
// Rules of the options pages that need no window: reading a typed number
// against the bounds of its setting (with the message shown when it is
// refused), and the simple proxy fields "アドレス" / "ポート" derived from and
// written into the four proxy strings of the settings record.
#include "settings/settingstable.h"

#include <optional>
#include <string>
#include <string_view>

namespace zorv {

// A number field of an options page: its name in messages and its bounds.
struct CUnsignedField {
    const char* name; // UTF-8, e.g. "接続数"
    unsigned min;
    unsigned max;
};

// The number field of the setting of that name, from the settings table: in
// the page's unit (seconds for the disconnect delays, whose bound is then
// the int of milliseconds).
constexpr CUnsignedField PageField(std::string_view setting)
{
    const CSetting& s = FindSetting(setting);
    if (!s.intField || !s.label || s.min < 0 || s.pageScale < 1)
        throw std::invalid_argument("not a number field of a page");
    const auto scale = static_cast<unsigned>(s.pageScale);
    return {s.label, (static_cast<unsigned>(s.min) + scale - 1) / scale, static_cast<unsigned>(s.max) / scale};
}

// Parses `text` as an unsigned decimal integer: digits only, blanks (spaces,
// tabs) allowed around them, no sign, nothing beyond 32 bits.
std::optional<unsigned> ParseUnsigned(std::string_view text);
// The value of `text` when it parses and lies within the field's bounds.
std::optional<unsigned> ParseField(std::string_view text, const CUnsignedField& field);
// The message for a refused value: "<name>には <min> から <max> までの整数を
// 入力してください。" (UTF-8).
std::string FieldMessage(const CUnsignedField& field);

// The four proxy strings of the record (ProxyHttpServer, ProxyHttpPort,
// ProxyFtpServer, ProxyFtpPort).
struct CProxyServers {
    std::string httpServer;
    std::string httpPort;
    std::string ftpServer;
    std::string ftpPort;
    bool operator==(const CProxyServers&) const = default;
};

// The one address and port shown on the connection page.
struct CSimpleProxy {
    std::string address;
    std::string port;
    bool operator==(const CSimpleProxy&) const = default;
};

// The common server and port when HTTP and FTP use the same ones (compared
// byte for byte), else both empty.
CSimpleProxy DeriveSimpleProxy(const CProxyServers& servers);
// With both simple fields filled, they become the server and port of HTTP
// and FTP alike; with either empty, the four strings stay as they are (an
// address typed without a port is dropped).
CProxyServers ApplySimpleProxy(const CSimpleProxy& simple, const CProxyServers& servers);
// What the details dialog shows first: the simple fields in both rows when
// both are filled, else the four strings.
CProxyServers ProxyDetailsPrefill(const CSimpleProxy& simple, const CProxyServers& servers);

} // namespace zorv

#pragma once
// Rules of the options pages that need no window: reading a typed number
// against its bounds (with the message shown when it is refused), and the
// simple proxy fields "アドレス" / "ポート" derived from and written into the
// four proxy strings of the settings record.
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

// The number fields of the options pages. Retries and the two disconnect
// delays have no bound of their own; they stop where the record's int (and,
// for the delays, the int of milliseconds) would overflow.
inline constexpr CUnsignedField kFieldConnections{"接続数", 1, 64};
inline constexpr CUnsignedField kFieldMaxRetry{"リトライ回数", 0, 2147483647u};
inline constexpr CUnsignedField kFieldMaxSegments{"1 ファイルの最大接続数", 1, 64};
inline constexpr CUnsignedField kFieldSpeedLimit{"速度制限", 0, 2147483647u};
inline constexpr CUnsignedField kFieldFnameLevel{"フォルダレベル", 0, 255};
inline constexpr CUnsignedField kFieldStartHour{"取得開始の時", 0, 23};
inline constexpr CUnsignedField kFieldStartMin{"取得開始の分", 0, 59};
inline constexpr CUnsignedField kFieldConfirmDelay{"切断確認までの秒数", 0, 2147483647u / 1000};
inline constexpr CUnsignedField kFieldCountdown{"切断までの秒数", 0, 2147483647u / 1000};

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

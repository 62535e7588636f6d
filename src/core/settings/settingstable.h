#pragma once
// The settings table: every setting of the record once, with its name (the
// record's field and the value stored in the "Settings" group), its type,
// default and bounds. The record's defaults, the store's load and save, the
// one-step copy the options sheet commits, the pages' number checks and the
// command line's bounds all read this table; a new setting is a field of
// COptions and a line here.
#include "settings/options.h"

#include <climits>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zorv {

struct CSetting {
    const char* name;
    // Exactly one of the two is set: an int setting or a string setting.
    int COptions::*intField = nullptr;
    std::string COptions::*strField = nullptr;
    int intDefault = 0;
    const char* strDefault = "";
    // The values an int setting may take; the store loads a stored value
    // outside them unchanged (whoever uses it applies its own limits), the
    // pages refuse it.
    int min = INT_MIN;
    int max = INT_MAX;
    // The field's name in the pages' messages (UTF-8), for the numbers the
    // pages check; and the unit the page shows the value in (1000: the page
    // shows seconds of a value in milliseconds).
    const char* label = nullptr;
    int pageScale = 1;
    // Stored in place of an empty string, so that "empty" survives a restart
    // where the absent value would mean the default.
    const char* emptyStoredAs = nullptr;
};

namespace settingstable {
constexpr CSetting Int(const char* name, int COptions::*field, int def, int min = INT_MIN, int max = INT_MAX,
                       const char* label = nullptr, int pageScale = 1)
{
    return {name, field, nullptr, def, "", min, max, label, pageScale, nullptr};
}
constexpr CSetting Flag(const char* name, int COptions::*field, int def)
{
    return Int(name, field, def, 0, 1);
}
constexpr CSetting Str(const char* name, std::string COptions::*field, const char* def,
                       const char* emptyStoredAs = nullptr)
{
    return {name, nullptr, field, 0, def, INT_MIN, INT_MAX, nullptr, 1, emptyStoredAs};
}
} // namespace settingstable

#define ZORV_INT(field, ...) settingstable::Int(#field, &COptions::field, __VA_ARGS__)
#define ZORV_FLAG(field, def) settingstable::Flag(#field, &COptions::field, def)
#define ZORV_STR(field, ...) settingstable::Str(#field, &COptions::field, __VA_ARGS__)

// In the order the record loads them.
inline constexpr CSetting kSettings[] = {
    ZORV_STR(HttpAgent, COptions::kDefaultAgent, COptions::kNoAgent),
    ZORV_INT(HangUpOnIdleTimer, 30000, 0, INT_MAX, "切断確認までの秒数", 1000),
    ZORV_INT(HangUpOnIdleTimer2, 30000, 0, INT_MAX, "切断までの秒数", 1000),
    ZORV_INT(Connections, 1, 1, 64, "接続数"),
    ZORV_STR(DefaultDestination, ""),
    ZORV_STR(ExecAction, "ToDo"),
    ZORV_FLAG(ExecAfterFetch, 0),
    ZORV_FLAG(AutoStartIfRasActive, 0),
    ZORV_FLAG(EnableCache, 0),
    // PROXY_SYSTEM, PROXY_DIRECT or PROXY_NAMED; another stored type is kept.
    ZORV_INT(ProxySetting, PROXY_SYSTEM),
    ZORV_STR(ProxyHttpServer, ""),
    ZORV_STR(ProxyHttpPort, ""),
    ZORV_STR(ProxyFtpServer, ""),
    ZORV_STR(ProxyFtpPort, ""),
    ZORV_STR(ProxyBypass, ""),
    ZORV_FLAG(StartAt, 0),
    ZORV_INT(StartAtHour, 0, 0, 23, "取得開始の時"),
    ZORV_INT(StartAtMin, 0, 0, 59, "取得開始の分"),
    ZORV_FLAG(AutoRemoveUrlIfSuccess, 0),
    ZORV_FLAG(AutoSave, 0),
    ZORV_INT(DefaultFnameLevel, 0, 0, 255, "フォルダレベル"),
    ZORV_INT(MaxRetry, 0, 0, INT_MAX, "リトライ回数"),
    ZORV_INT(RetryWait, 5, 0, 600, "リトライの間隔"),
    ZORV_FLAG(ResumePartial, 1),
    ZORV_FLAG(UseServerFileName, 1),
    ZORV_FLAG(NotifyWhenDone, 1),
    ZORV_FLAG(CloseToTray, 0),
    ZORV_FLAG(ToolBar, 1),
    ZORV_INT(MaxSegments, 8, 1, 64, "1 ファイルの最大接続数"),
    ZORV_INT(SpeedLimit, 0, 0, INT_MAX, "速度制限"),
    ZORV_INT(ExistingFile, 0, 0, 2),
    ZORV_INT(MaxConnectionsPerServer, 0, 0, 64, "サーバーごとの最大接続数"),
    ZORV_STR(CaCertificates, ""),
};

#undef ZORV_INT
#undef ZORV_FLAG
#undef ZORV_STR

// The setting of that name; an unknown name throws (and fails to compile
// where the lookup is a constant expression).
constexpr const CSetting& FindSetting(std::string_view name)
{
    for (const CSetting& s : kSettings)
        if (name == s.name)
            return s;
    throw std::invalid_argument("unknown setting");
}

struct CSettingBounds {
    int min;
    int max;
};

// The bounds of the int setting of that name (the command line's options
// check against them).
constexpr CSettingBounds SettingBounds(std::string_view name)
{
    const CSetting& s = FindSetting(name);
    if (!s.intField)
        throw std::invalid_argument("not an int setting");
    return {s.min, s.max};
}

} // namespace zorv

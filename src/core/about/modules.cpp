#include "about/modules.h"

#include <QtGlobal>

#include <curl/curl.h>
#include <sys/stat.h>

#include <cstdio>
#include <string_view>

#if defined(__linux__)
#include <link.h>
#endif
#if defined(__GLIBC__)
#include <gnu/libc-version.h>
#endif

namespace zorv {

std::string FormatVersion(unsigned major, unsigned minor, unsigned patch, unsigned build)
{
    char text[64];
    std::snprintf(text, sizeof text, "v%u.%u.%u.%u", major, minor, patch, build);
    return text;
}

std::string ProgramVersion()
{
    return FormatVersion(ZORV_VERSION_MAJOR, ZORV_VERSION_MINOR, ZORV_VERSION_PATCH, ZORV_BUILD_NUMBER);
}

std::string FormatAscTime(const std::tm& t)
{
    // Fixed English names: strftime's %a and %b follow the process locale.
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* day = t.tm_wday >= 0 && t.tm_wday < 7 ? kDays[t.tm_wday] : "???";
    const char* month = t.tm_mon >= 0 && t.tm_mon < 12 ? kMonths[t.tm_mon] : "???";
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d", day, month, t.tm_mday, t.tm_hour,
                  t.tm_min, t.tm_sec, t.tm_year + 1900);
    return text;
}

std::optional<std::string> FileDateText(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    const std::time_t when = st.st_mtime;
    std::tm local{};
#if defined(_WIN32)
    if (localtime_s(&local, &when) != 0)
        return std::nullopt;
#else
    if (!localtime_r(&when, &local))
        return std::nullopt;
#endif
    return FormatAscTime(local);
}

std::string FormatModuleEntry(const CModuleFacts& m)
{
    return m.name + "\t" + m.copyright + "\r\n\t" + m.version + "\t" + m.date + "\r\n";
}

std::vector<std::string> LoadedLibraryPaths()
{
    std::vector<std::string> paths;
#if defined(__linux__)
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            if (info->dlpi_name && *info->dlpi_name)
                static_cast<std::vector<std::string>*>(data)->emplace_back(info->dlpi_name);
            return 0;
        },
        &paths);
#endif
    return paths;
}

namespace {

std::string_view FileName(std::string_view path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The first loaded file named `stem` followed by "." or "-" (libcurl.so.4,
// libcurl-gnutls.so.4; but not libcurl for the stem "libc").
const std::string* FindLoaded(const std::vector<std::string>& loaded, std::string_view stem)
{
    for (const std::string& path : loaded) {
        const std::string_view name = FileName(path);
        if (name.size() > stem.size() && name.substr(0, stem.size()) == stem
            && (name[stem.size()] == '.' || name[stem.size()] == '-'))
            return &path;
    }
    return nullptr;
}

std::string LibcVersion()
{
#if defined(__GLIBC__)
    return gnu_get_libc_version();
#else
    return {};
#endif
}

} // namespace

std::vector<CModuleFacts> ModuleFacts(const std::vector<std::string>& loaded)
{
    struct Library {
        std::string_view stem;
        const char* copyright;
        std::string (*version)();
    };
    // Qt Widgets refuses to run with a Qt Core of another version, so Qt
    // Core's run-time version is Widgets' as well.
    static const Library kLibraries[] = {
        {"libQt6Core", "Copyright (C) The Qt Company Ltd.", [] { return std::string(qVersion()); }},
        {"libQt6Widgets", "Copyright (C) The Qt Company Ltd.", [] { return std::string(qVersion()); }},
        {"libcurl", "Copyright (C) Daniel Stenberg and contributors",
         [] { return std::string(curl_version_info(CURLVERSION_NOW)->version); }},
        {"libc", "Copyright (C) Free Software Foundation, Inc.", LibcVersion},
    };
    std::vector<CModuleFacts> modules;
    for (const Library& library : kLibraries) {
        const std::string* path = FindLoaded(loaded, library.stem);
        if (!path)
            continue;
        modules.push_back({std::string(FileName(*path)), library.copyright, library.version(),
                           FileDateText(*path).value_or(std::string())});
    }
    return modules;
}

std::string ModuleList(const std::vector<std::string>& loaded)
{
    std::string list;
    for (const CModuleFacts& module : ModuleFacts(loaded))
        list += FormatModuleEntry(module);
    return list;
}

} // namespace zorv

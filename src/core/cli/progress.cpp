#include "cli/progress.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace zorv {

std::string FormatBytes(double bytes)
{
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int u = 0;
    while (bytes >= 1024 && u < 4) {
        bytes /= 1024;
        ++u;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
    return buf;
}

bool ParseProgressNote(const std::string& note, std::uint64_t& done, std::uint64_t& total)
{
    unsigned long long d = 0, t = 0;
    int consumed = 0;
    // The numbers may be followed by one remark in parentheses ("(400 バイトから再開)").
    const auto ends = [&note](int at) {
        const std::string_view rest = std::string_view(note).substr(static_cast<size_t>(at));
        return rest.empty() || (rest.starts_with(" (") && rest.ends_with(')'));
    };
    if (std::sscanf(note.c_str(), "%llu/%llu%n", &d, &t, &consumed) == 2 && ends(consumed)) {
        done = d;
        total = t;
        return true;
    }
    if (std::sscanf(note.c_str(), "%llu%n", &d, &consumed) == 1 && ends(consumed)) {
        done = d;
        total = 0;
        return true;
    }
    return false;
}

std::string FormatProgressRow(const CProgressRow& row, int width)
{
    constexpr int kBar = 20;
    std::string bar(kBar, '.');
    std::string percent = "   ?";
    if (row.total > 0) {
        const double f = std::min(1.0, double(row.done) / double(row.total));
        bar.replace(0, static_cast<size_t>(f * kBar), static_cast<size_t>(f * kBar), '#');
        char buf[8];
        std::snprintf(buf, sizeof buf, "%3d%%", int(f * 100));
        percent = buf;
    }
    std::string line = "[" + bar + "] " + percent + "  " + FormatBytes(double(row.done));
    if (row.total > 0)
        line += " / " + FormatBytes(double(row.total));
    line += "  " + FormatBytes(row.bytesPerSecond) + "/s  " + row.name;
    if (width > 0 && static_cast<int>(line.size()) > width) {
        size_t cut = static_cast<size_t>(width);
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut; // never split a UTF-8 sequence
        line.resize(cut);
    }
    return line;
}

} // namespace zorv

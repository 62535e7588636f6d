#include "cli/progress.h"

#include "model/item.h"
#include "model/progresstext.h"
#include "model/text.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace zorv {

CProgressRow ProgressRowOf(const CItem& item)
{
    CProgressRow row;
    row.name = EscapeText(item.m_strFileName.empty() ? MaskUrlPassword(item.m_strUrl) : item.m_strFileName);
    const CItem::CProgress progress = item.Progress();
    row.done = progress.received;
    row.total = progress.total;
    row.bytesPerSecond = progress.bytesPerSecond;
    return row;
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
    std::string line = "[" + bar + "] " + percent + "  " + FormatSizeOfTotal(row.done, row.total) + "  "
                       + FormatSize(row.bytesPerSecond) + "/s  " + row.name;
    if (width > 0 && static_cast<int>(line.size()) > width) {
        size_t cut = static_cast<size_t>(width);
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut; // never split a UTF-8 sequence
        line.resize(cut);
    }
    return line;
}

} // namespace zorv

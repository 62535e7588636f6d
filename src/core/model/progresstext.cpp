#include "model/progresstext.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zorv {

std::string FormatSize(std::uint64_t bytes)
{
    static const char* const units[] = {"KB", "MB", "GB", "TB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes) / 1024;
    int u = 0;
    // One decimal: 1023.95 would print as "1024.0", so it moves up a unit.
    while (value >= 1023.95 && u < 3) {
        value /= 1024;
        ++u;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[u]);
    return text;
}

std::string FormatSizeOfTotal(std::uint64_t done, std::uint64_t total)
{
    return total == 0 ? FormatSize(done) : FormatSize(done) + " / " + FormatSize(total);
}

std::string FormatDuration(double seconds)
{
    const double whole = std::ceil(std::max(0.0, seconds));
    if (whole >= 100.0 * 3600)
        return "100時間以上";
    const auto s = static_cast<long long>(whole);
    char text[32];
    if (s < 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

std::string RetryWaitText(std::chrono::milliseconds left)
{
    return "再試行まで " + FormatDuration(static_cast<double>(left.count()) / 1000.0);
}

std::string WaitingNote(const std::string& failureNote, std::chrono::milliseconds left)
{
    std::string text = RetryWaitText(left);
    if (!failureNote.empty())
        text += "（" + failureNote + "）";
    return text;
}

std::string FormatProgressText(std::uint64_t done, std::uint64_t total, double bytesPerSecond)
{
    const double rate = bytesPerSecond > 0 ? bytesPerSecond : 0;
    const std::string speed = FormatSize(static_cast<std::uint64_t>(rate)) + "/s";
    if (total == 0)
        return FormatSize(done) + "  " + speed;
    const std::uint64_t percent = done >= total ? 100 : done * 100 / total;
    std::string text = std::to_string(percent) + "%  " + FormatSizeOfTotal(done, total) + "  " + speed;
    if (rate > 0 && done < total)
        text += "  残り " + FormatDuration(static_cast<double>(total - done) / rate);
    return text;
}

void CRateSmoother::Sample(std::uint64_t key, std::uint64_t bytes, std::uint64_t nowMs)
{
    std::deque<CSample>& samples = m_items[key];
    if (!samples.empty() && (bytes < samples.back().bytes || nowMs < samples.back().ms))
        samples.clear();
    if (!samples.empty() && samples.back().ms == nowMs)
        samples.back().bytes = bytes;
    else
        samples.push_back({nowMs, bytes});
    // The oldest sample kept is the newest one at least a window old, so the
    // rate spans the whole window once that much history exists.
    while (samples.size() > 2 && samples[1].ms + m_windowMs <= nowMs)
        samples.pop_front();
}

double CRateSmoother::Rate(std::uint64_t key) const
{
    const auto it = m_items.find(key);
    if (it == m_items.end() || it->second.size() < 2)
        return 0;
    const CSample& first = it->second.front();
    const CSample& last = it->second.back();
    return static_cast<double>(last.bytes - first.bytes) * 1000.0 / static_cast<double>(last.ms - first.ms);
}

void CRateSmoother::Prune(std::uint64_t nowMs)
{
    for (auto it = m_items.begin(); it != m_items.end();) {
        if (it->second.empty() || it->second.back().ms + 2 * m_windowMs < nowMs)
            it = m_items.erase(it);
        else
            ++it;
    }
}

} // namespace zorv

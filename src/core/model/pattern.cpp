// Numbered URL patterns (see the header).
#include "model/pattern.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>

namespace zorv {

namespace {

// Widths beyond this are not patterns: a number padded to thousands of
// digits is a typing error, and would make huge URLs.
constexpr int kMaxWidth = 255;

struct Pattern {
    size_t first = 0;  // position of the opening '*'
    size_t second = 0; // position of the closing '*'
    long long start = 0;
    long long end = 0;
    int width = 0;
    char type = 0;
};

// Reads a decimal integer the way "%d" does (leading blanks, a sign), into
// the int range; false when no digit is there.
bool ReadInt(const std::string& s, size_t& i, long long& value)
{
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i])))
        return false;
    long long v = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        if (v <= INT_MAX)
            v = v * 10 + (s[i] - '0');
        ++i;
    }
    v = negative ? -v : v;
    value = std::clamp<long long>(v, INT_MIN, INT_MAX);
    return true;
}

// The first pair of stars, when it forms a usable pattern.
bool FindPattern(const std::string& url, Pattern& p)
{
    p.first = url.find('*');
    if (p.first == std::string::npos)
        return false;
    p.second = url.find('*', p.first + 1);
    if (p.second == std::string::npos)
        return false;
    const std::string body = url.substr(p.first + 1, p.second - p.first - 1);
    size_t i = 0;
    long long width = 0;
    if (!ReadInt(body, i, p.start) || i >= body.size() || body[i++] != '.')
        return false;
    if (!ReadInt(body, i, p.end) || i >= body.size() || body[i++] != '.')
        return false;
    if (!ReadInt(body, i, width) || i >= body.size())
        return false;
    p.type = body[i];
    p.width = static_cast<int>(width);
    return p.start < p.end && width > 0 && width <= kMaxWidth
        && (p.type == 'd' || p.type == 'x' || p.type == 'X');
}

std::string FormatNumber(long long value, int width, char type)
{
    char buf[kMaxWidth + 32];
    const int n = static_cast<int>(value);
    if (type == 'd')
        std::snprintf(buf, sizeof buf, "%.*d", width, n);
    else if (type == 'x')
        std::snprintf(buf, sizeof buf, "%.*x", width, static_cast<unsigned>(n));
    else
        std::snprintf(buf, sizeof buf, "%.*X", width, static_cast<unsigned>(n));
    return buf;
}

} // namespace

int ExpandUrlPattern(int index, std::string& out, const std::string& url)
{
    out = url;
    Pattern p;
    if (!FindPattern(url, p))
        return index == -1 ? 0 : -1;
    const long long n = static_cast<long long>(index) + 1;
    if (p.end - p.start < n)
        return -1;
    out = url.substr(0, p.first) + FormatNumber(p.start + n, p.width, p.type) + url.substr(p.second + 1);
    return static_cast<int>(n);
}

std::uint64_t CountExpandedUrls(const std::string& url)
{
    std::uint64_t count = 1;
    std::string rest = url;
    Pattern p;
    // Every member of a run leaves the same text after it, so the runs multiply.
    while (FindPattern(rest, p)) {
        const auto run = static_cast<std::uint64_t>(p.end - p.start + 1);
        count = count > UINT64_MAX / run ? UINT64_MAX : count * run;
        rest = rest.substr(0, p.first) + FormatNumber(p.start, p.width, p.type) + rest.substr(p.second + 1);
    }
    return count;
}

namespace {

bool ExpandInto(const std::string& url, const std::function<bool(const std::string&)>& add)
{
    std::string expanded, scratch;
    for (int k = ExpandUrlPattern(-1, expanded, url); k != -1;
         k = ExpandUrlPattern(k, expanded, url)) {
        if (ExpandUrlPattern(0, scratch, expanded) == 1) {
            if (!ExpandInto(expanded, add))
                return false;
        } else if (!add(expanded)) {
            return false;
        }
    }
    return true;
}

} // namespace

void ExpandAllUrls(const std::string& url, const std::function<bool(const std::string&)>& add)
{
    ExpandInto(url, add);
}

} // namespace zorv

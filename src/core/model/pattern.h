#pragma once
// Numbered URL patterns: "*start.end.width type*" stands for the numbers
// start..end, written with at least `width` digits in decimal (d) or
// hexadecimal (x, X), for example img*1.12.2d*.jpg → img01.jpg … img12.jpg.
#include <cstdint>
#include <functional>
#include <string>

namespace zorv {

// One step of the expansion of the first pattern of `url`: writes member
// index + 1 to `out` (index -1: the first member, or `url` itself when it has
// no pattern) and returns index + 1; -1 when there is no such member.
int ExpandUrlPattern(int index, std::string& out, const std::string& url);
// Number of URLs a text expands to (every pattern, every combination),
// saturating at UINT64_MAX.
std::uint64_t CountExpandedUrls(const std::string& url);
// Calls `add` for every URL the text expands to, first pattern varying
// slowest; stops early when `add` returns false.
void ExpandAllUrls(const std::string& url, const std::function<bool(const std::string&)>& add);

} // namespace zorv

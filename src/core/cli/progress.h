#pragma once
// The terminal display of zorv --fetch: one line per running item (bar,
// bytes, speed) and a total line, redrawn in place.
#include <cstdint>
#include <string>
#include <vector>

namespace zorv {

struct CProgressRow {
    std::string name;
    std::uint64_t done = 0;
    std::uint64_t total = 0; // 0: unknown
    double bytesPerSecond = 0;
};

// "1.5 MiB" style text.
std::string FormatBytes(double bytes);
// Reads "done/total" or "done" progress notes; false for other notes.
bool ParseProgressNote(const std::string& note, std::uint64_t& done, std::uint64_t& total);
// One line of the live display, at most `width` columns.
std::string FormatProgressRow(const CProgressRow& row, int width);

} // namespace zorv

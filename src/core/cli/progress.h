#pragma once
// The terminal display of zorv --fetch: one line per running item (bar,
// bytes, speed) and a total line, redrawn in place.
#include <cstdint>
#include <string>

namespace zorv {

class CItem;

struct CProgressRow {
    std::string name;
    std::uint64_t done = 0;
    std::uint64_t total = 0; // 0: unknown
    std::uint64_t bytesPerSecond = 0;
};

// The row of a running item: its name (file name, else the URL with the
// password hidden; control characters escaped) and its typed progress.
CProgressRow ProgressRowOf(const CItem& item);
// Reads the note a finished transfer leaves ("done/total" or "done", maybe
// followed by one remark in parentheses); false for other notes.
bool ParseProgressNote(const std::string& note, std::uint64_t& done, std::uint64_t& total);
// One line of the live display, at most `width` columns.
std::string FormatProgressRow(const CProgressRow& row, int width);

} // namespace zorv

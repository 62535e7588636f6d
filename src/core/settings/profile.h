#pragma once
// Binary values beside the settings record in the settings store, and the
// two records kept that way: the main window's placement (section
// "Settings", entry "WindowPlacement", 44 bytes) and the list font (section
// "ListView", entry "Font", 60 bytes). Both keep the byte layout of the
// records they were first stored as, little-endian, so a store moves between
// builds unchanged.
#include <QByteArray>
#include <QRect>
#include <QString>

#include <optional>
#include <string>

namespace zorv {

// Stores `data` as the binary value `entry` of `section`.
void WriteBinaryProfile(const QString& section, const QString& entry, const QByteArray& data);
// The binary value `entry` of `section` when it exists, is binary and holds
// exactly `size` bytes; nothing otherwise (the caller keeps its default).
std::optional<QByteArray> GetBinaryProfile(const QString& section, const QString& entry, int size);

// ---- window placement (44 bytes) ----------------------------------------
enum : int { SW_SHOWNORMAL = 1, SW_SHOWMINIMIZED = 2, SW_SHOWMAXIMIZED = 3 };
struct CWindowPlacement {
    int showCmd = SW_SHOWNORMAL;
    QRect normal; // the window's geometry in its normal state
};
inline constexpr int kWindowPlacementSize = 44;
QByteArray PlacementToBytes(const CWindowPlacement& placement);
std::optional<CWindowPlacement> PlacementFromBytes(const QByteArray& bytes);
// A stored placement brought into the free area of a screen (`available`,
// without panels), which may be smaller than when it was stored (another
// screen, a larger scale): a side longer than the area's shrinks to it, and
// the rectangle moves the shortest way that puts it wholly inside.
QRect FitIntoArea(const QRect& normal, const QRect& available);

// ---- list font (60 bytes) -------------------------------------------------
// Height (negative: character height in pixels), weight 100-900, italic,
// underline, strike-out and the face name (at most 31 bytes of UTF-8; a
// longer name is cut at a character boundary).
struct CLogFont {
    int height = 0;
    int weight = 0;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    std::string faceName;
};
inline constexpr int kLogFontSize = 60;
QByteArray LogFontToBytes(const CLogFont& font);
std::optional<CLogFont> LogFontFromBytes(const QByteArray& bytes);

} // namespace zorv

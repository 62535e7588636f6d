#include "settings/profile.h"

#include "settings/store.h"

#include <QSettings>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace zorv {

namespace {

void PutInt(QByteArray& b, int offset, qint32 v)
{
    qToLittleEndian<qint32>(v, b.data() + offset);
}

qint32 GetInt(const QByteArray& b, int offset)
{
    return qFromLittleEndian<qint32>(b.constData() + offset);
}

// LOGFONT layout: height, width, escapement, orientation, weight (4 bytes
// each), italic, underline, strike-out, charset, out precision, clip
// precision, quality, pitch and family (1 byte each), face name (32 bytes).
constexpr int kLfHeight = 0;
constexpr int kLfWeight = 16;
constexpr int kLfItalic = 20;
constexpr int kLfUnderline = 21;
constexpr int kLfStrikeOut = 22;
constexpr int kLfCharSet = 23;
constexpr int kLfFaceName = 28;
constexpr int kLfFaceSize = 32;
constexpr unsigned char kDefaultCharset = 1;

} // namespace

void WriteBinaryProfile(const QString& section, const QString& entry, const QByteArray& data)
{
    auto store = OpenSettingsStore();
    store->beginGroup(section);
    store->setValue(entry, data);
}

std::optional<QByteArray> GetBinaryProfile(const QString& section, const QString& entry, int size)
{
    auto store = OpenSettingsStore();
    store->beginGroup(section);
    const QVariant value = store->value(entry);
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    QByteArray bytes = value.toByteArray();
    if (bytes.size() != size)
        return std::nullopt;
    return bytes;
}

QByteArray PlacementToBytes(const CWindowPlacement& p)
{
    // length, flags, show command, minimized position, maximized position,
    // normal rectangle (left, top, right, bottom).
    QByteArray b(kWindowPlacementSize, '\0');
    PutInt(b, 0, kWindowPlacementSize);
    PutInt(b, 4, 0);
    PutInt(b, 8, p.showCmd);
    PutInt(b, 12, -1);
    PutInt(b, 16, -1);
    PutInt(b, 20, -1);
    PutInt(b, 24, -1);
    PutInt(b, 28, p.normal.left());
    PutInt(b, 32, p.normal.top());
    PutInt(b, 36, p.normal.left() + p.normal.width());
    PutInt(b, 40, p.normal.top() + p.normal.height());
    return b;
}

std::optional<CWindowPlacement> PlacementFromBytes(const QByteArray& b)
{
    if (b.size() != kWindowPlacementSize)
        return std::nullopt;
    CWindowPlacement p;
    p.showCmd = GetInt(b, 8);
    const int left = GetInt(b, 28), top = GetInt(b, 32), right = GetInt(b, 36), bottom = GetInt(b, 40);
    if (right <= left || bottom <= top)
        return std::nullopt;
    p.normal = QRect(left, top, right - left, bottom - top);
    return p;
}

QRect FitIntoArea(const QRect& normal, const QRect& available)
{
    if (!available.isValid())
        return normal;
    QRect r(normal.topLeft(), normal.size().boundedTo(available.size()));
    r.moveLeft(std::clamp(r.left(), available.left(), available.right() + 1 - r.width()));
    r.moveTop(std::clamp(r.top(), available.top(), available.bottom() + 1 - r.height()));
    return r;
}

QByteArray LogFontToBytes(const CLogFont& font)
{
    QByteArray b(kLogFontSize, '\0');
    PutInt(b, kLfHeight, font.height);
    PutInt(b, kLfWeight, font.weight);
    b[kLfItalic] = font.italic ? 1 : 0;
    b[kLfUnderline] = font.underline ? 1 : 0;
    b[kLfStrikeOut] = font.strikeOut ? 1 : 0;
    b[kLfCharSet] = static_cast<char>(kDefaultCharset);
    const std::string& face = font.faceName;
    // Cut at a character boundary so the name stays valid UTF-8.
    size_t n = std::min<size_t>(face.size(), kLfFaceSize - 1);
    while (n > 0 && n < face.size() && (static_cast<unsigned char>(face[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(b.data() + kLfFaceName, face.data(), n);
    return b;
}

std::optional<CLogFont> LogFontFromBytes(const QByteArray& b)
{
    if (b.size() != kLogFontSize)
        return std::nullopt;
    const char* face = b.constData() + kLfFaceName;
    CLogFont font;
    font.faceName.assign(face, strnlen(face, kLfFaceSize));
    font.height = GetInt(b, kLfHeight);
    font.weight = GetInt(b, kLfWeight);
    font.italic = b[kLfItalic] != 0;
    font.underline = b[kLfUnderline] != 0;
    font.strikeOut = b[kLfStrikeOut] != 0;
    return font;
}

} // namespace zorv

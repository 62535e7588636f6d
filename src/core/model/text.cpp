#include "model/text.h"

#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zorv {

bool IsValidUtf8(std::string_view s)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int n;
        unsigned cp;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07u;
        } else {
            return false;
        }
        if (end - p <= n)
            return false;
        for (int i = 1; i <= n; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3Fu);
        }
        // Overlong forms, surrogates and values past U+10FFFF.
        if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF
            || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += n + 1;
    }
    return true;
}

std::string DecodeLegacyText(std::string_view bytes)
{
    if (IsValidUtf8(bytes))
        return std::string(bytes);
    QStringDecoder decoder("windows-31j");
    if (!decoder.isValid())
        decoder = QStringDecoder("Shift_JIS");
    if (!decoder.isValid())
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())).toStdString();
    const QString text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return text.toStdString();
}

QString FileErrorText(int err, const QString& fallback)
{
    const char* text = nullptr;
    switch (err) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        text = "ディスクがいっぱいです";
        break;
    case EFBIG:
        text = "ファイルが大きすぎます";
        break;
    case EACCES:
    case EPERM:
        text = "アクセスが拒否されました";
        break;
    case ENOENT:
        text = "ファイルまたはフォルダがありません";
        break;
    case EROFS:
        text = "読み取り専用のファイルシステムです";
        break;
    case EISDIR:
        text = "同じ名前のフォルダがあります";
        break;
    case EIO:
        text = "入出力エラーが発生しました";
        break;
    default:
        return fallback;
    }
    // The system's own words for a number of this table (static texts: safe
    // on any thread).
    return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(text), QString::fromLocal8Bit(std::strerror(err)));
}

} // namespace zorv

namespace zorv {

namespace {

void AppendHex(std::string& out, const char* prefix, unsigned value, int digits)
{
    static const char kHex[] = "0123456789abcdef";
    out += prefix;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += kHex[(value >> shift) & 0xF];
}

bool IsWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

} // namespace

std::string EscapeText(std::string_view text, Escape how)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (how == Escape::Field) {
            const char* named = c == '\t' ? "\\t" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\\' ? "\\\\" : nullptr;
            if (named) {
                out += named;
                continue;
            }
        }
        if (c < 0x20 || c == 0x7F) {
            AppendHex(out, "\\x", c, 2);
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80
                   && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // A C1 control (U+0080–U+009F): some terminals act on it.
            AppendHex(out, "\\u00", static_cast<unsigned char>(text[++i]), 2);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::optional<std::pair<size_t, size_t>> UrlUserInfo(std::string_view url)
{
    const size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return std::nullopt;
    const size_t start = scheme + 3;
    const size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const size_t at = url.substr(start, end - start).rfind('@');
    if (at == std::string_view::npos)
        return std::nullopt;
    return std::pair{start, start + at};
}

std::string MaskUrlPassword(std::string_view url)
{
    const auto user = UrlUserInfo(url);
    if (!user)
        return std::string(url);
    const auto [start, at] = *user;
    const size_t colon = url.substr(0, at).find(':', start);
    if (colon == std::string_view::npos)
        return std::string(url);
    std::string out(url.substr(0, colon + 1));
    out += "***";
    out += url.substr(at);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::string_view TrimWhiteSpace(std::string_view text)
{
    while (!text.empty() && IsWhiteSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsWhiteSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace zorv

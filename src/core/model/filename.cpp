#include "model/filename.h"

#include "model/text.h"

#include <cstdint>

namespace zorv {

namespace {

// An extension longer than this is not one ("a.very-long-description...").
constexpr std::size_t kMaxExtension = 16;

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// %XX escapes decoded; a '%' without two hex digits stays as it is.
std::string PercentDecode(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            const int hi = HexValue(s[i + 1]);
            const int lo = HexValue(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

// The length of the UTF-8 sequence at s[i] and its code point, or 0 when the
// bytes there are not a valid sequence (overlong forms and surrogates count
// as invalid).
std::size_t Utf8Sequence(std::string_view s, std::size_t i, std::uint32_t& cp)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t n;
    std::uint32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        n = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

bool IsControl(std::uint32_t cp)
{
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

// Valid UTF-8 with no separator and no control character.
bool IsCleanName(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        std::uint32_t cp = 0;
        const std::size_t n = Utf8Sequence(s, i, cp);
        if (n == 0 || IsControl(cp) || cp == '/' || cp == '\\')
            return false;
        i += n;
    }
    return true;
}

std::string Latin1ToUtf8(std::string_view s)
{
    std::string out;
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}


bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}


// The value of an RFC 5987 extended parameter: charset'language'%XX...
// Empty for a charset other than UTF-8 and ISO-8859-1.
std::string ExtendedValue(std::string_view v)
{
    const std::size_t q1 = v.find('\'');
    if (q1 == std::string_view::npos)
        return {};
    const std::size_t q2 = v.find('\'', q1 + 1);
    if (q2 == std::string_view::npos)
        return {};
    const std::string_view charset = TrimWhiteSpace(v.substr(0, q1));
    const std::string decoded = PercentDecode(v.substr(q2 + 1));
    if (EqualsNoCase(charset, "utf-8"))
        return IsValidUtf8(decoded) ? decoded : std::string();
    if (EqualsNoCase(charset, "iso-8859-1"))
        return Latin1ToUtf8(decoded);
    return {};
}

} // namespace

std::string FileNameFromUrlSegment(std::string_view segment)
{
    std::string name(segment);
    if (segment.find('%') != std::string_view::npos) {
        std::string decoded = PercentDecode(segment);
        if (IsCleanName(decoded))
            name = std::move(decoded);
    }
    if (name == "." || name == "..")
        return "_";
    return CutFileName(std::move(name));
}

std::string_view UrlPathPart(std::string_view url)
{
    return url.substr(0, url.find_first_of("?#"));
}

std::string UrlFileName(std::string_view url)
{
    const std::string_view path = UrlPathPart(url);
    const std::string_view last = path.substr(path.rfind('/') + 1);
    return last.empty() ? std::string("index.html") : FileNameFromUrlSegment(last);
}

bool IsUrlFileName(std::string_view url, std::string_view name)
{
    if (name.empty())
        return false;
    // Older versions named the file after the text behind the URL's last
    // "/", query and all.
    const std::string_view whole = url.substr(url.rfind('/') + 1);
    if (!whole.empty() && (name == whole || name == FileNameFromUrlSegment(whole)))
        return true;
    const std::string_view path = UrlPathPart(url);
    const std::size_t slash = path.rfind('/');
    const std::string_view last = path.substr(slash + 1);
    if (name == UrlFileName(url) || name == last)
        return true;
    if (!last.empty() || slash == std::string_view::npos || slash == 0)
        return false;
    // A URL ending in "/" named after its last directory.
    const std::string_view rest = path.substr(0, slash);
    const std::string_view dir = rest.substr(rest.rfind('/') + 1);
    return !dir.empty() && (name == dir || name == FileNameFromUrlSegment(dir));
}

std::string ContentDispositionFileName(std::string_view value)
{
    std::string plain, extended;
    // The disposition type comes first; the parameters follow, each after a ';'.
    std::size_t i = value.find(';');
    while (i != std::string_view::npos && i < value.size()) {
        ++i; // the ';'
        const std::size_t eq = value.find_first_of("=;", i);
        if (eq == std::string_view::npos || value[eq] == ';') {
            i = eq;
            continue;
        }
        std::string name(TrimWhiteSpace(value.substr(i, eq - i)));
        for (char& c : name)
            c = Lower(c);
        std::size_t j = eq + 1;
        while (j < value.size() && IsBlank(value[j]))
            ++j;
        std::string v;
        if (j < value.size() && value[j] == '"') {
            // A quoted string: a backslash takes the next character as it is.
            for (++j; j < value.size() && value[j] != '"'; ++j) {
                if (value[j] == '\\' && j + 1 < value.size())
                    ++j;
                v += value[j];
            }
            i = value.find(';', j);
        } else {
            const std::size_t end = value.find(';', j);
            v = std::string(TrimWhiteSpace(value.substr(j, end == std::string_view::npos ? std::string_view::npos : end - j)));
            i = end;
        }
        if (name == "filename*" && extended.empty())
            extended = ExtendedValue(v);
        else if (name == "filename" && plain.empty())
            plain = IsValidUtf8(v) ? v : Latin1ToUtf8(v);
    }
    return extended.empty() ? plain : extended;
}

std::string SafeFileName(std::string_view name)
{
    const std::size_t sep = name.find_last_of("/\\");
    if (sep != std::string_view::npos)
        name.remove_prefix(sep + 1);
    std::string out;
    for (std::size_t i = 0; i < name.size();) {
        std::uint32_t cp = 0;
        const std::size_t n = Utf8Sequence(name, i, cp);
        if (n == 0) {
            out += '_';
            ++i;
            continue;
        }
        if (!IsControl(cp))
            out.append(name.substr(i, n));
        i += n;
    }
    const std::string_view trimmed = TrimWhiteSpace(out);
    if (trimmed == "." || trimmed == "..")
        return "_";
    std::string_view bare = trimmed;
    while (!bare.empty() && (bare.front() == '.' || IsBlank(bare.front())))
        bare.remove_prefix(1);
    return CutFileName(std::string(bare));
}

std::string_view FileExtension(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot > kMaxExtension)
        return {};
    return name.substr(dot);
}

std::string CutFileName(std::string name, std::size_t limit)
{
    if (name.size() <= limit)
        return name;
    std::string ext(FileExtension(name));
    if (ext.size() >= limit)
        ext.clear();
    std::size_t keep = limit - ext.size();
    // Never cut inside a character: back off over (at most three)
    // continuation bytes.
    for (int k = 0; k < 3 && keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80; ++k)
        --keep;
    name.resize(keep);
    return name + ext;
}

std::string NumberedFileName(std::string_view name, unsigned n)
{
    const std::string_view ext = FileExtension(name);
    const std::string suffix = " (" + std::to_string(n) + ")" + std::string(ext);
    const std::string base(name.substr(0, name.size() - ext.size()));
    return CutFileName(base, kMaxFileNameBytes - suffix.size()) + suffix;
}

} // namespace zorv

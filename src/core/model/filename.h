#pragma once
// Local file names made from text that comes from outside: the last segment
// of a URL and the file name a server sends in Content-Disposition. Pure
// functions; every result is a bare name that stays inside its folder.
#include <cstddef>
#include <string>
#include <string_view>

namespace zorv {

// The longest name (in bytes) made here: the file system's 255 less room for
// the suffixes a fetch appends while it runs (".part" and ".part.meta"), so
// those names fit as well.
inline constexpr std::size_t kMaxFileNameBytes = 255 - 10;

// The file name for a URL's last segment: %XX escapes decoded when the result
// is valid UTF-8 without a separator or a control character (otherwise the
// segment as it is), "." and ".." as "_", and cut to kMaxFileNameBytes.
std::string FileNameFromUrlSegment(std::string_view segment);

// The part of `url` that names a file: everything before the query ("?")
// or the fragment ("#"). Local names and folders come from this part only.
std::string_view UrlPathPart(std::string_view url);

// The name the level-0 derivation gives `url`: FileNameFromUrlSegment of the
// last segment of UrlPathPart, "index.html" when that ends in "/".
std::string UrlFileName(std::string_view url);

// True when `name` is what the program derived from `url` rather than a name
// the user typed: the level-0 name, the raw last segment, the last directory
// (a URL ending in "/" at a higher level), or what older versions derived
// from the whole URL, query included (kept as stored in their lists).
bool IsUrlFileName(std::string_view url, std::string_view name);

// `name` with " (n)" before its extension (the text from the last dot, when
// short and not the whole name): "f1 (2).bin". The part before the
// extension is cut (on a character boundary) so that the result stays
// within kMaxFileNameBytes.
std::string NumberedFileName(std::string_view name, unsigned n);

// The file name of a Content-Disposition header value as sent (UTF-8):
// filename*=UTF-8''... (or ISO-8859-1) before filename=, quoted or not.
// Empty when there is none. Not yet safe to use: see SafeFileName.
std::string ContentDispositionFileName(std::string_view value);

// `name` reduced to a bare name: only the part after the last "/" or "\",
// control characters dropped, leading dots removed, "." and ".." as "_",
// invalid UTF-8 replaced by "_", cut to kMaxFileNameBytes. Empty when
// nothing usable is left.
std::string SafeFileName(std::string_view name);

// The extension of `name`: the text from its last ".", when that is short
// (16 bytes at most) and not the whole name; empty otherwise.
std::string_view FileExtension(std::string_view name);

// `name` cut to at most `limit` bytes on a character boundary, keeping its
// extension (FileExtension) at the end.
std::string CutFileName(std::string name, std::size_t limit = kMaxFileNameBytes);

} // namespace zorv

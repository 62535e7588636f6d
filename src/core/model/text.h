#pragma once
// Text coming from files that may predate UTF-8: list files and import files
// written on Japanese Windows hold code page 932 text.
#include <QString>

#include <string>
#include <string_view>

namespace zorv {

bool IsValidUtf8(std::string_view bytes);
// `bytes` unchanged when it is valid UTF-8, else converted from code page 932.
std::string DecodeLegacyText(std::string_view bytes);

// A Japanese text for the common causes of a failed file operation (disk
// full, permission denied, no such file, ...), with the system's own text in
// parentheses; `fallback` (the system's text) for the others.
QString FileErrorText(int err, const QString& fallback);

} // namespace zorv

#pragma once
// Text coming from files that may predate UTF-8: list files and import files
// written on Japanese Windows hold code page 932 text.
#include <string>
#include <string_view>

namespace zorv {

bool IsValidUtf8(std::string_view bytes);
// `bytes` unchanged when it is valid UTF-8, else converted from code page 932.
std::string DecodeLegacyText(std::string_view bytes);

} // namespace zorv

#pragma once
// The platform's path separator: an item's local file is its destination
// folder, this separator and its file name.

namespace zorv {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

} // namespace zorv

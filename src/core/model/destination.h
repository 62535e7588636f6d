#pragma once
// Destination folders on disk: creating a folder with its missing parents.
// (CItem::CheckDestination, the question before creating, is in item.h.)
#include <string>

namespace zorv {

// True when `path` names a folder (a link to a folder counts).
bool IsDirectory(const std::string& path);

// Creates the folder `path` and every missing folder above it, the outermost
// first. True only when this call created `path` itself: an existing folder,
// an empty text, a file in the way, a path longer than the platform allows
// or any other refusal gives false. Folders above that were created stay.
bool CreateDirectoryTree(const std::string& path);

} // namespace zorv

#pragma once
// Import of other programs' URL lists: the reader is chosen by the file
// name's extension, and every URL read is added as if it had been typed in.
#include "model/doc.h"

#include <string>

namespace zorv {

struct CImportResult {
    bool ok = false; // the whole file was read and every URL added
    int added = 0;   // items added (kept even when the import failed later)
};

// UI thread only. Adds the URLs of the list file `path` to `doc`.
CImportResult ImportFile(CZorvDoc& doc, const std::string& path);

} // namespace zorv

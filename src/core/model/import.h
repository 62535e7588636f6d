#pragma once
// Import of the list files of other programs. Three line formats, chosen by
// the file name's extension:
//   - plain text (any extension but the two below): one URL per line;
//   - ".grx": records of a "URL: " and a "File: " line (either order), the
//     latter naming the destination folder;
//   - ".wrg": "Url=", "StoreIn=", "SaveAs=" and "RefererStr=" lines.
// Every URL found is added with CZorvDoc::AddUrl (queued, level -1, the
// file name derived from the URL). A reader stops at the first URL that is
// refused or the first line it cannot make sense of; the items added before
// stay.
//
// Lines end with LF or CR LF; a last line without a line end counts; empty
// lines are skipped; a UTF-8 byte order mark at the start of the file is
// dropped. A line that is not valid UTF-8 is read as code page 932. A line
// that holds a NUL byte or is longer than kMaxImportLine bytes marks the file
// as damaged: the import stops there. A relative folder named by the file
// ("File: ../rel", "StoreIn=rel") is taken from the imported file's folder.
// A "SaveAs=" value adds one folder level: a value that is not one folder
// name (a separator, "." or "..", so an absolute path or a climb out of
// the StoreIn folder) is refused with a note on that line, and the import
// goes on without it.
#include "model/doc.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zorv {

inline constexpr std::size_t kMaxImportLine = 1 << 20;

// Reads the list file `path` of another program by its extension (the text
// after the last "." of the whole path, case-insensitive: "grx", "wrg",
// anything else plain text; no "." at all fails) and adds every URL with
// AddUrl (level -1, the file's destination or the default), queued. True when
// the whole file was read; false on an unreadable file, a refused URL or a
// bad .grx line — the items added before that stay. Never throws. Does not
// mark the list modified.
// A line the import went past without doing what it asked.
struct CImportNote {
    int line = 0;
    std::string text; // in English, for the command line
};
struct CImportResult {
    bool ok = false;
    int added = 0;
    std::vector<CImportNote> notes;
};
CImportResult ImportFile(CZorvDoc& doc, const std::string& path);

// What stopped an import.
struct CImportFailure {
    int line = 0;      // the line (from 1) that stopped it; 0: the file itself
    std::string cause; // in English, for the command line
};

enum class ImportFormat { Text, Grx, Wrg };
// The format of `path` by its extension; false when the path has no ".".
bool ImportFormatOf(std::string_view path, ImportFormat* format);

// ImportFile with the destination of records that name no folder (the
// lines of a plain text file; empty: DefaultItemDestination) and the reason
// of a failure in *failure.
CImportResult ImportFile(CZorvDoc& doc, const std::string& path, const std::string& defaultDestination,
                         CImportFailure* failure);

// The reader of `format` over the bytes of a file already in memory, as if
// read from a file in `folder` (empty: the current folder).
CImportResult ImportBytes(CZorvDoc& doc, ImportFormat format, std::string_view bytes,
                          const std::string& defaultDestination = {}, CImportFailure* failure = nullptr,
                          const std::string& folder = {});

} // namespace zorv

#pragma once
// Changes that one zorv asks of a list: the same operation whether the list
// is changed in this process (`zorv --add` on a list nobody holds) or handed
// to the zorv that holds it (see model/listowner.h), where it travels as JSON.
#include "model/adder.h"
#include "model/doc.h"
#include "model/import.h"

#include <QJsonObject>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zorv {

// Adding URLs from the command line or another zorv.
struct CAddRequest {
    std::vector<std::string> urls; // as given: numbered patterns expand
    std::string referer;
    std::string destination;       // absolute; never empty
    std::string fileName;          // empty: from each URL
    int level = -1;                // < 0: DefaultFnameLevel
    bool confirmLarge = false;     // runs above kMaxUnconfirmedRun are wanted

    QJsonObject ToJson() const;
    static CAddRequest FromJson(const QJsonObject& json);
};

// Adds the URLs of the request under the rules of kAddCommand: queued; a URL
// whose local file is another item's (already listed or added before it) is
// not added; the destination folders of the items added are made; a run
// above kMaxUnconfirmedRun only with confirmLarge.
CAddReport AddUrls(CZorvDoc& doc, const CAddRequest& request);

// Links handed over one at a time (from a web browser): each URL is taken as
// it is, no numbered pattern expands, and each has its own referrer and file
// name. Added under the rules of kAddLinks.
struct CLink {
    std::string url;
    std::string referer;
    std::string fileName; // empty: from the URL
};

struct CLinksRequest {
    std::vector<CLink> links;
    std::string destination; // empty: the holder's default destination
    bool raise = false;      // the holder's window comes to the front

    QJsonObject ToJson() const;
    static CLinksRequest FromJson(const QJsonObject& json);
};

// Adds the links under the rules of kAddLinks (as AddUrls adds URLs, each
// taken as it is).
CAddReport AddLinks(CZorvDoc& doc, const CLinksRequest& request);

// Text captured from the clipboard, pasted into the list or dropped on the
// window: every line (LF or CR LF) that is a valid URL is added as AddLinks
// adds a link (default destination and folder level, queued; a URL whose
// local file another item has is left out and reported as a clash); other
// lines are skipped and not reported.
CAddReport AddUrlLines(CZorvDoc& doc, const std::vector<std::string>& lines);

// Importing list files of other programs, as the import command does
// (model/import.h).
struct CImportRequest {
    std::vector<std::string> files; // absolute paths
    std::string destination;        // absolute; for records that name no folder

    QJsonObject ToJson() const;
    static CImportRequest FromJson(const QJsonObject& json);
};

struct CImportReport {
    struct File {
        std::string path;
        bool ok = false;
        int added = 0;
        int line = 0;      // the line that stopped a failed import; 0: the file itself
        std::string cause; // why it failed
        std::vector<CImportNote> notes; // lines gone past without doing what they asked
    };
    std::vector<File> files;
    std::vector<std::string> folders; // as in CAddReport

    int Added() const;
    bool Complete() const;
    QJsonObject ToJson() const;
    static CImportReport FromJson(const QJsonObject& json);
};

// Imports the files in order (a failed file keeps what it added, and the
// next file is still read). Creates the destination folders of the items
// added. Marks the list modified once when anything was added.
CImportReport ImportFiles(CZorvDoc& doc, const CImportRequest& request);

// Reset or removal of items by row (the indexes `zorv --list` prints), as
// the Reset and Delete commands do: items being fetched are left alone.
struct CItemsRequest {
    bool remove = false;   // false: reset
    std::vector<int> rows; // a reset of no rows resets every failed item

    QJsonObject ToJson() const;
    static CItemsRequest FromJson(const QJsonObject& json);
};

struct CItemsReport {
    int changed = 0;
    std::vector<int> busy;    // rows left alone: being fetched
    std::vector<int> missing; // rows not in the list: then nothing changed
    int count = 0;            // rows in the list

    QJsonObject ToJson() const;
    static CItemsReport FromJson(const QJsonObject& json);
};

// Resets or removes the rows of the request; when any row is not in the
// list nothing changes. Marks the list modified when anything changed.
CItemsReport ChangeItems(CZorvDoc& doc, const CItemsRequest& request);

// Answers a request handed to the holder of `doc`: {"command": "add" |
// "links" | "import" | "reset" | "remove" | "edit" (model/editrequest.h), ...}
// → {"ok": true, "report": {...}}; anything else, or an edit refused →
// {"ok": false, "error": ...}.
QJsonObject AnswerListRequest(CZorvDoc& doc, const QJsonObject& request);

} // namespace zorv

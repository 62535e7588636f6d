#pragma once
// Changes that one zorv asks of a list: the same operation whether the list
// is changed in this process (`zorv --add` on a list nobody holds) or handed
// to the zorv that holds it (see model/listowner.h), where it travels as JSON.
#include "model/doc.h"

#include <QJsonObject>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zorv {

// A pattern that expands into more URLs than this needs confirming ...
inline constexpr std::uint64_t kMaxUnconfirmedRun = 100000;
// ... and beyond this no list fits in memory: refused.
inline constexpr std::uint64_t kMaxRun = 20000000;

// Adding URLs as the new-URL command does.
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

struct CAddReport {
    int added = 0;
    std::vector<std::pair<std::string, std::uint64_t>> tooLarge; // pattern, number of URLs
    std::vector<std::string> refused;                              // not http, https or ftp
    // A URL not added, and the URL of the item that already has its local file.
    std::vector<std::pair<std::string, std::string>> clashes;
    std::vector<std::string> folders; // "folder: cause" for folders that could not be made
    // Entries left out of the lists above when sent as JSON.
    std::uint64_t omitted = 0;

    bool Complete() const { return tooLarge.empty() && refused.empty() && clashes.empty() && folders.empty(); }
    QJsonObject ToJson() const;
    static CAddReport FromJson(const QJsonObject& json);
};

// Adds the URLs of the request to the list and queues them; a URL whose local
// file is another item's (already listed or added before it) is not added.
// Creates the destination folders of the items added. Marks the list
// modified once when anything was added.
CAddReport AddUrls(CZorvDoc& doc, const CAddRequest& request);

// Answers a request handed to the holder of `doc`: {"command": "add", ...}
// → {"ok": true, "report": {...}}; anything else → {"ok": false, "error": ...}.
QJsonObject AnswerListRequest(CZorvDoc& doc, const QJsonObject& request);

} // namespace zorv

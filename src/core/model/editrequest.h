#pragma once
// Editing one item by its row (the index `zorv --list` prints), from the
// command line or another zorv: the same operation whether the list is
// changed in this process or handed to the zorv that holds it (see
// model/listrequest.h), where it travels as JSON ({"command": "edit", ...}).
#include "model/doc.h"

#include <QJsonObject>

#include <optional>
#include <string>
#include <vector>

namespace zorv {

// Only the fields given change. The file name stays unless one is given: a
// new URL does not rename the item, so that its partial file goes on.
struct CEditRequest {
    int row = -1;
    std::optional<std::string> url;
    std::optional<std::string> destination; // absolute
    std::optional<std::string> fileName;
    std::optional<std::string> referer;

    QJsonObject ToJson() const;
    static CEditRequest FromJson(const QJsonObject& json);
};

struct CEditReport {
    std::string refused;              // why nothing changed; empty when edited (as JSON: the refusal)
    bool busy = false;                // the item is being fetched: the new values apply from its next fetch
    std::vector<std::string> folders; // "folder: cause" for a new destination that could not be made

    QJsonObject ToJson() const;
    static CEditReport FromJson(const QJsonObject& json);
};

// Edits the row as the edit command does (EditItem): URL, destination,
// file name and referrer as given, the rest of the item as it was. Refused,
// with nothing changed, for a row outside the list, a URL that adding would
// refuse, an empty or relative destination, an empty file name, and a
// destination or file name that gives the item another item's local file.
// A new destination folder is made, as adding makes it.
CEditReport EditRow(CZorvDoc& doc, const CEditRequest& request);

} // namespace zorv

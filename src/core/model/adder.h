#pragma once
// Adding URLs to a list: one operation behind the new-URL command, `zorv
// --add`, the requests handed to the list's owner, links from a web browser
// and captured text. The callers differ only in the rules they pass in
// CAddOptions.
#include "model/doc.h"

#include <QJsonObject>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zorv {

// A pattern that expands into more URLs than this needs confirming in the
// window (a question before the URL edit dialog closes) ...
inline constexpr std::uint64_t kConfirmNewRun = 10000;
// ... and on the command line (--yes) ...
inline constexpr std::uint64_t kMaxUnconfirmedRun = 100000;
// ... and beyond this no list fits in memory: refused.
inline constexpr std::uint64_t kMaxRun = 20000000;

// What happens to a URL whose local file is that of an item listed or added
// before it.
enum class ClashRule {
    // Added all the same: the window's destination check deals with such
    // items afterwards, asking the user.
    Keep,
    // Not added, and reported. URLs that differ only in their query
    // ("get.cgi?id=1", "?id=2") derive one file name: rather than being
    // refused, each further one takes the first free "name (1).ext", ...
    // A name the user gave stays a clash, and so does the same URL again.
    Refuse,
};

struct CAddOptions {
    bool expand = true;                      // numbered patterns expand; else "*" is a character
    ClashRule clashes = ClashRule::Refuse;
    std::uint64_t confirmAbove = kMaxUnconfirmedRun; // a larger run needs largeConfirmed
    bool largeConfirmed = false;             // the user said yes (runs above kMaxRun never fit)
    bool makeFolders = true;                 // makes the destination folders of the items added
    bool reportRefused = true;               // names the URLs that are not http, https or ftp
};

// The rules of the new-URL command: patterns expand; clashes and missing
// folders are left to the destination check that follows; a run above
// kConfirmNewRun is asked about by the dialog (CheckNewUrl) before anything
// is added, and the command then passes largeConfirmed.
inline constexpr CAddOptions kNewUrlCommand{.expand = true, .clashes = ClashRule::Keep,
                                            .confirmAbove = kConfirmNewRun, .largeConfirmed = false,
                                            .makeFolders = false, .reportRefused = true};
// The rules of `zorv --add` and the requests handed to the list's owner.
inline constexpr CAddOptions kAddCommand{};
// The rules of links and captured text: each URL as it is.
inline constexpr CAddOptions kAddLinks{.expand = false};

// One URL (or pattern) to add.
struct CNewUrl {
    std::string url;
    std::string referer;
    std::string fileName; // empty: from the URL
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
    // The JSON form lives with the requests (model/listrequest.cpp).
    QJsonObject ToJson() const;
    static CAddReport FromJson(const QJsonObject& json);
};

// Adds the URLs at the end of the list, in order, as one batch (one insertion
// notice), queues them and marks the list modified once when anything was
// added. `level` < 0: DefaultFnameLevel.
CAddReport AddNewUrls(CZorvDoc& doc, const std::vector<CNewUrl>& urls, const std::string& destination,
                      int level, const CAddOptions& options);

// The item that adding `url` makes (only its first line, trimmed), not added;
// null when the URL is refused. `level` < 0: DefaultFnameLevel.
ItemPtr NewItem(const std::string& url, const std::string& referer, const std::string& destination,
                const std::string& fileName, int level);

// Makes the destination folders of the items, each once (mirrored URL folders
// included): without them every such item would fail. Appends "folder:
// cause" to `failed` for each that cannot be made.
void MakeItemFolders(const std::vector<const CItem*>& items, std::vector<std::string>& failed);

// A typed URL (numbered patterns allowed) judged before anything is added, so
// that the dialog can ask about a large run while the URL can still be fixed.
enum class NewUrlCheck {
    Ok,
    Blank,    // nothing but white space
    NotHttp,  // not an http, https or ftp URL (checked on the first URL of a run)
    Large,    // more than options.confirmAbove URLs: wanted only when confirmed
    TooLarge, // more than kMaxRun URLs: refused
};
struct CNewUrlVerdict {
    NewUrlCheck check = NewUrlCheck::Ok;
    std::uint64_t count = 0; // URLs the text expands to
};
CNewUrlVerdict CheckNewUrl(const std::string& url, const CAddOptions& options);

} // namespace zorv

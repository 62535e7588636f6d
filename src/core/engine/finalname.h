#pragma once
// The name a fetch's file ends up under. A fetch claims the local file it
// writes, so that two fetches never write one file; a name a server chose,
// or the name of a finished download whose file is taken by something that
// is not the item's own earlier download, becomes the first free
// "name (1).ext", "name (2).ext", ...; and the complete partial file is
// moved onto its name without replacing anything the item does not own,
// with its origin recorded in the file's extended attributes.
#include "model/doc.h"

#include <optional>
#include <string>
#include <string_view>

namespace zorv {

// Holds the key (CItem::LocalFileKey) of a local file that a fetch of this
// process writes, for as long as it lives; a second claim of the same key
// is refused (Claimed() false).
class CLocalFileClaim {
public:
    explicit CLocalFileClaim(std::string key);
    ~CLocalFileClaim();
    CLocalFileClaim(const CLocalFileClaim&) = delete;
    CLocalFileClaim& operator=(const CLocalFileClaim&) = delete;
    bool Claimed() const { return m_claimed; }

private:
    std::string m_key;
    bool m_claimed = false;
};

// What a finished download does when its name is taken by a file that is
// not the item's own earlier download (the ExistingFile setting).
enum ExistingFileAction : int {
    EXISTING_RENAME = 0,  // keep both: the download takes the first free numbered name
    EXISTING_REPLACE = 1, // the download replaces the file
    EXISTING_SKIP = 2,    // the download is dropped and the item fails
};

// `url` as a file's origin: without the user name and password of its
// authority ("http://user:pw@host/x" → "http://host/x").
std::string OriginUrl(std::string_view url);

// Records `url` (and `referrer`, when not empty) as the origin of the open
// file `fd` in the extended attributes user.xdg.origin.url and
// user.xdg.referrer.url, through OriginUrl. A file system without extended
// attributes (or one that refuses them) leaves the file without: not an
// error.
void WriteOriginAttributes(int fd, const std::string& url, const std::string& referrer);

// True when the file at `path` is a download of `url`: its
// user.xdg.origin.url is OriginUrl(url). False for a file without the
// attribute, a symbolic link, and where there are no extended attributes.
bool IsDownloadOf(const std::string& path, const std::string& url);

// True when something is at `path` that is not a download of `url`
// (IsDownloadOf): what a finished download of `url` must not replace unasked.
bool IsOtherFile(const std::string& path, const std::string& url);

// True when a fetch may write `path`: nothing exists at it, at its partial
// file or at that one's sidecar (not even a link), and it is neither the
// list file of `doc` nor a file (local, partial or sidecar) of an item of
// `doc` other than `self`. Any thread.
bool IsFreeLocalPath(const CZorvDoc& doc, const CItem* self, const std::string& path);

// Claims, in `folder`, the first of `name` (when `plainFirst`), then
// NumberedFileName(name, 1), (2), ... that is free (IsFreeLocalPath) and not
// claimed by another fetch. The claim goes to `claim`; the result is the
// name chosen, empty when none of the first thousands was free.
std::string ClaimFreeName(const CZorvDoc& doc, const CItem* self, const std::string& folder,
                          const std::string& name, bool plainFirst, std::optional<CLocalFileClaim>& claim);

// Moving a complete partial file onto its local file.
struct CFinishRequest {
    std::string partPath;
    std::string localPath;
    std::string destination; // the local file's folder
    std::string fileName;    // the local file's name
    std::string url;         // the item's URL, whose earlier download may be replaced
    std::string referrer;
    int existing = EXISTING_RENAME; // for a file that is not the item's own
    bool serverName = false; // the name came from the server: it never replaces anything
    int fd = -1;             // the partial file, open; -1: opened here (without following a link)
};
struct CFinishResult {
    bool placed = false;     // the file is at `path`
    bool discard = false;    // skipped: the partial file (and sidecar) should go
    std::string path;        // where the file is now
    std::string fileName;    // its name when another than the one asked for; else empty
    std::string note;        // why it was renamed or not placed; empty otherwise
};
// Records the origin on the partial file, then moves it onto the local file
// when nothing is there (never replacing a file that appeared meanwhile).
// A file already there is replaced when it is a download of the same URL
// (IsDownloadOf), or when `existing` says so (never for a server's name nor
// the list file); otherwise the file goes to the first free numbered name
// (EXISTING_RENAME) or is not placed (EXISTING_SKIP). Any thread.
CFinishResult PlaceFinishedFile(const CZorvDoc& doc, const CItem* self, const CFinishRequest& request);

// The note of a download that would replace a file not its own under
// EXISTING_SKIP: "<path> が既にあるためスキップしました".
std::string SkippedNote(const std::string& path);

} // namespace zorv

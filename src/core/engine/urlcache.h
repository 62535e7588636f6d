#pragma once
// CUrlCache: the per-user URL cache. When EnableCache is on, a fetch registers
// the file it downloaded here: one entry per URL, made of a copy of the file
// and an index record (the URL, the raw response headers, Last-Modified, and
// whether the copy is complete (normal) or partial (sparse)).
//
// Layout: <folder>/<key>.json is the index record and <key>[.ext] the copy,
// where <key> is the SHA-1 of the URL in hex. A newer entry for the same URL
// replaces the older one. Several workers (and several processes) may store
// at the same time: each entry is guarded by a lock file, and the copy and
// the record are each written to a temporary file and renamed into place.
#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace zorv {

// What a fetch knows about the file it registers.
struct CUrlCacheRecord {
    std::string url;
    std::string headers;      // raw response headers, CR-LF separated (empty for FTP)
    std::string lastModified; // the Last-Modified header as sent; empty when none
    std::int64_t lastModifiedTime = 0; // the same in seconds since 1970, 0 when none
    std::uint64_t expectedSize = 0;    // the announced length
    bool sparse = false;               // fewer bytes than announced
};

struct CUrlCacheEntry : CUrlCacheRecord {
    QString filePath;       // the cached copy
    std::uint64_t size = 0; // bytes in the copy
    std::string extension;  // the URL's text after its last '.'
    std::int64_t storedTime = 0; // seconds since 1970
};

class CUrlCache {
public:
    // QStandardPaths::CacheLocation + "/urlcache", unless an override is set.
    static QString DefaultFolder();
    // Makes DefaultFolder() answer `folder` (tests); empty restores the default.
    static void SetFolderOverride(const QString& folder);

    explicit CUrlCache(QString folder = DefaultFolder());
    const QString& Folder() const { return m_folder; }

    // Copies `file` into the cache as the entry for rec.url, replacing an
    // earlier entry. False, with the cause in *error when given, on failure.
    bool Store(const CUrlCacheRecord& rec, const QString& file, QString* error = nullptr) const;
    std::optional<CUrlCacheEntry> Lookup(const std::string& url) const;
    bool Remove(const std::string& url) const;

    // The extension recorded for a URL: the text after its last '.', or the
    // whole URL when it has none.
    static std::string UrlExtension(const std::string& url);

private:
    QString Key(const std::string& url) const;
    QString m_folder;
};

} // namespace zorv

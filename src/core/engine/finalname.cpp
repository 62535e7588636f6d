#include "engine/finalname.h"

#include "model/filename.h"
#include "model/paths.h"
#include "model/text.h"

#include <QString>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace zorv {

namespace {

// Numbered names tried before a fetch gives up looking for a free one.
constexpr unsigned kMaxNumber = 9999;

constexpr const char* kOriginAttribute = "user.xdg.origin.url";
constexpr const char* kReferrerAttribute = "user.xdg.referrer.url";

std::mutex& ClaimLock()
{
    static std::mutex lock;
    return lock;
}

std::set<std::string>& ClaimedFiles()
{
    static std::set<std::string> files;
    return files;
}

std::filesystem::path FsPath(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// True when anything (a file, a folder, a link, even a dangling one) is at `path`.
bool Exists(const std::string& path)
{
    // A path that cannot be looked at (no permission) counts as taken.
    std::error_code ec;
    return std::filesystem::symlink_status(FsPath(path), ec).type() != std::filesystem::file_type::not_found;
}

// The files a fetch of `key` writes are `key`, its partial file and the
// partial file's sidecar: true when `other` is one of them.
bool AmongFilesOf(std::string_view other, std::string_view key)
{
    if (!other.starts_with(key))
        return false;
    static const std::string part = PartialPath({});
    static const std::string record = part + ".meta";
    const std::string_view rest = other.substr(key.size());
    return rest.empty() || rest == part || rest == record;
}

bool FilesOverlap(std::string_view a, std::string_view b)
{
    return AmongFilesOf(a, b) || AmongFilesOf(b, a);
}

// Moves `from` onto `to` unless something is at `to` already (EEXIST then).
// Returns 0 or the error number.
int RenameNoReplace(const std::string& from, const std::string& to)
{
#ifdef _WIN32
    // Look, then move (MoveFileExW without MOVEFILE_REPLACE_EXISTING would
    // close the small window left here).
    std::error_code ec;
    if (Exists(to))
        return EEXIST;
    std::filesystem::rename(FsPath(from), FsPath(to), ec);
    return ec ? ec.value() : 0;
#else
#ifdef __linux__
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
#endif
    // A file system without renameat2's flag: a hard link cannot replace
    // anything either.
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return 0;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP)
        return errno;
    // Nor hard links (FAT): look, then move.
    if (Exists(to))
        return EEXIST;
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
#endif
}

int Replace(const std::string& from, const std::string& to)
{
    std::error_code ec;
    std::filesystem::rename(FsPath(from), FsPath(to), ec);
    return ec ? ec.value() : 0;
}

std::string CannotMove(const std::string& from, const std::string& to, int err)
{
    return QStringLiteral("%1 を %2 に置き換えられません: %3")
        .arg(QString::fromStdString(from), QString::fromStdString(to),
             FileErrorText(err, QString::fromStdString(std::generic_category().message(err))))
        .toStdString();
}

std::string RenamedNote(const std::string& taken, const std::string& name)
{
    return QStringLiteral("%1 は既にあるため %2 に保存しました")
        .arg(QString::fromStdString(taken), QString::fromStdString(name))
        .toStdString();
}

std::string LocalFilePath(const std::string& folder, const std::string& name)
{
    std::string path = folder;
    path += kPathSeparator;
    path += name;
    return path;
}

} // namespace

CLocalFileClaim::CLocalFileClaim(std::string key) : m_key(std::move(key))
{
    std::scoped_lock lock(ClaimLock());
    m_claimed = ClaimedFiles().insert(m_key).second;
}

CLocalFileClaim::~CLocalFileClaim()
{
    if (!m_claimed)
        return;
    std::scoped_lock lock(ClaimLock());
    ClaimedFiles().erase(m_key);
}

std::string OriginUrl(std::string_view url)
{
    const auto user = UrlUserInfo(url);
    if (!user)
        return std::string(url);
    std::string out(url.substr(0, user->first));
    out += url.substr(user->second + 1);
    return out;
}

void WriteOriginAttributes(int fd, const std::string& url, const std::string& referrer)
{
#ifdef __linux__
    // Refused attributes (ENOTSUP, a value too long for the file system)
    // only cost the recognition of this file as the item's own.
    const std::string origin = OriginUrl(url);
    (void)fsetxattr(fd, kOriginAttribute, origin.data(), origin.size(), 0);
    if (!referrer.empty()) {
        const std::string from = OriginUrl(referrer);
        (void)fsetxattr(fd, kReferrerAttribute, from.data(), from.size(), 0);
    }
#else
    (void)fd, (void)url, (void)referrer;
#endif
}

bool IsDownloadOf(const std::string& path, const std::string& url)
{
#ifdef __linux__
    const std::string origin = OriginUrl(url);
    // One byte more than expected tells a longer value apart.
    std::string value(origin.size() + 1, '\0');
    const ssize_t n = lgetxattr(path.c_str(), kOriginAttribute, value.data(), value.size());
    return n >= 0 && static_cast<size_t>(n) == origin.size() && value.compare(0, origin.size(), origin) == 0;
#else
    (void)path, (void)url;
    return false;
#endif
}

bool IsOtherFile(const std::string& path, const std::string& url)
{
    return Exists(path) && !IsDownloadOf(path, url);
}

bool IsFreeLocalPath(const CZorvDoc& doc, const CItem* self, const std::string& path)
{
    const std::string part = PartialPath(path);
    if (Exists(path) || Exists(part) || Exists(part + ".meta"))
        return false;
    const std::string key = CItem::LocalFileKey(path);
    if (const std::string list = doc.ListFileKey(); !list.empty() && FilesOverlap(key, list))
        return false;
    return !doc.AnyItem([&](const CItem& item) {
        if (&item == self)
            return false;
        std::string itemPath;
        {
            const auto lock = item.Lock();
            itemPath = item.LocalPath();
        }
        return FilesOverlap(key, CItem::LocalFileKey(itemPath));
    });
}

std::string ClaimFreeName(const CZorvDoc& doc, const CItem* self, const std::string& folder,
                          const std::string& name, bool plainFirst, std::optional<CLocalFileClaim>& claim)
{
    for (unsigned n = plainFirst ? 0 : 1; n <= kMaxNumber; ++n) {
        std::string candidate = n == 0 ? name : NumberedFileName(name, n);
        const std::string path = LocalFilePath(folder, candidate);
        if (!IsFreeLocalPath(doc, self, path))
            continue;
        claim.emplace(CItem::LocalFileKey(path));
        if (claim->Claimed())
            return candidate;
        claim.reset();
    }
    return {};
}

std::string SkippedNote(const std::string& path)
{
    return QStringLiteral("%1 が既にあるためスキップしました").arg(QString::fromStdString(path)).toStdString();
}

CFinishResult PlaceFinishedFile(const CZorvDoc& doc, const CItem* self, const CFinishRequest& request)
{
    CFinishResult result;
#ifndef _WIN32
    if (request.fd >= 0) {
        WriteOriginAttributes(request.fd, request.url, request.referrer);
    } else if (const int fd = open(request.partPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC); fd >= 0) {
        WriteOriginAttributes(fd, request.url, request.referrer);
        close(fd);
    }
#endif
    int err = RenameNoReplace(request.partPath, request.localPath);
    if (err == 0) {
        result.placed = true;
        result.path = request.localPath;
        return result;
    }
    if (err != EEXIST) {
        result.note = CannotMove(request.partPath, request.localPath, err);
        return result;
    }

    // Something is there: the item's own earlier download is replaced, and
    // whatever else by the setting (but never the list, nor for a server's name).
    const bool listFile = CItem::LocalFileKey(request.localPath) == doc.ListFileKey();
    const bool mayReplace = request.existing == EXISTING_REPLACE && !request.serverName && !listFile;
    if (mayReplace || IsDownloadOf(request.localPath, request.url)) {
        err = Replace(request.partPath, request.localPath);
        result.placed = err == 0;
        result.path = request.localPath;
        if (err)
            result.note = CannotMove(request.partPath, request.localPath, err);
        return result;
    }
    if (request.existing == EXISTING_SKIP) {
        result.discard = true;
        result.note = SkippedNote(request.localPath);
        return result;
    }

    // Keep both: the first free numbered name that nothing takes meanwhile.
    std::string path = request.localPath;
    for (unsigned attempt = 0; attempt < kMaxNumber && err == EEXIST; ++attempt) {
        // (A file that appears between the look and the move: look again.)
        std::optional<CLocalFileClaim> claim;
        result.fileName = ClaimFreeName(doc, self, request.destination, request.fileName, false, claim);
        if (result.fileName.empty())
            break;
        path = LocalFilePath(request.destination, result.fileName);
        err = RenameNoReplace(request.partPath, path);
    }
    if (err) {
        result.fileName.clear();
        result.note = CannotMove(request.partPath, path, err);
        return result;
    }
    result.placed = true;
    result.path = path;
    result.note = RenamedNote(request.localPath, result.fileName);
    return result;
}

} // namespace zorv

#include "model/item.h"

#include "model/archive.h"
#include "model/filename.h"
#include "model/paths.h"
#include "model/progresstext.h"
#include "model/text.h"
#include "settings/options.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zorv {

namespace {

std::atomic<std::uint64_t> g_nextSerial{1};

std::mutex g_fallbackLock;
std::string g_fallbackDestination; // empty: the current folder
std::string g_currentFolder;       // looked up once: every list item is made with it

const std::array<std::string, kStateCount> kStateNames = {
    "未取得", "取得完了", "取得失敗", "不正なURL",
    "接続中", "取得中", "取得準備中", "アプリケーション起動中",
};

// A URL segment that would climb out of (or stay on) its folder.
std::string SafeSegment(std::string seg)
{
    if (seg == "." || seg == "..")
        return "_";
    return seg;
}

} // namespace

const std::string& StateName(int state)
{
    static const std::string empty;
    if (state < 0 || state >= kStateCount)
        return empty;
    return kStateNames[static_cast<size_t>(state)];
}

void SetFallbackDestination(std::string folder)
{
    std::scoped_lock lock(g_fallbackLock);
    g_fallbackDestination = std::move(folder);
}

std::string DefaultItemDestination()
{
    std::string dest = Options().DefaultDestination;
    if (!dest.empty())
        return dest;
    std::scoped_lock lock(g_fallbackLock);
    if (!g_fallbackDestination.empty())
        return g_fallbackDestination;
    if (g_currentFolder.empty())
        g_currentFolder = QDir::toNativeSeparators(QDir::currentPath()).toStdString();
    return g_currentFolder;
}

CItem::CItem()
    : m_strDestination(DefaultItemDestination()), m_nSerial(g_nextSerial.fetch_add(1))
{
}

CItem::CItem(std::string url, std::string referer, std::string destination, std::string fileName,
             int level)
    : m_strReferer(std::move(referer)),
      m_strDestination(std::move(destination)),
      m_strFileName(std::move(fileName)),
      m_strUrl(std::move(url)),
      m_nSerial(g_nextSerial.fetch_add(1))
{
    if (m_strDestination.empty())
        m_strDestination = DefaultItemDestination();
    if (level < 0)
        level = Options().DefaultFnameLevel;
    if (m_strFileName.empty())
        MakeLocalName(level);
}

std::string CItem::ServerOf(std::string_view url)
{
    const size_t colon = url.find("://");
    if (colon == std::string_view::npos)
        return {};
    std::string_view authority = url.substr(colon + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority = authority.substr(at + 1);
    std::string key = std::string(url.substr(0, colon)) + "://" + std::string(authority);
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const size_t close = authority.rfind(']');
    const bool hasPort = authority.find(':', close == std::string_view::npos ? 0 : close) != std::string_view::npos;
    if (!hasPort) {
        const std::string_view scheme = url.substr(0, colon);
        key += EqualsNoCase(scheme, "https") ? ":443" : EqualsNoCase(scheme, "ftp") ? ":21" : ":80";
    }
    return key;
}

bool CItem::IsValidUrl(std::string_view url)
{
    // A blank is sent as %20; any other control character has no place in a
    // URL (a line break would even end the request line).
    for (const char c : url) {
        if (static_cast<unsigned char>(c) < ' ' || c == '\x7f')
            return false;
    }
    const size_t colon = url.find("://");
    if (colon == std::string_view::npos)
        return false;
    const std::string_view scheme = url.substr(0, colon);
    if (!EqualsNoCase(scheme, "http") && !EqualsNoCase(scheme, "https") && !EqualsNoCase(scheme, "ftp"))
        return false;
    std::string_view authority = url.substr(colon + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority = authority.substr(at + 1);
    std::string_view host = authority;
    if (!host.empty() && host.front() == '[') { // IPv6 literal
        const size_t close = host.find(']');
        if (close == std::string_view::npos)
            return false;
        const std::string_view after = host.substr(close + 1);
        host = host.substr(0, close + 1);
        authority = after;
    } else {
        const size_t portSep = host.find(':');
        authority = portSep == std::string_view::npos ? std::string_view() : host.substr(portSep);
        host = host.substr(0, portSep);
    }
    if (host.empty() || host == "[]")
        return false;
    for (const char c : host) {
        if (static_cast<unsigned char>(c) <= ' ')
            return false;
    }
    if (!authority.empty()) { // ":port"
        if (authority.front() != ':')
            return false;
        const std::string_view port = authority.substr(1);
        if (port.size() > 5)
            return false;
        unsigned value = 0;
        for (const char c : port) {
            if (c < '0' || c > '9')
                return false;
            value = value * 10 + unsigned(c - '0');
        }
        if (value > 65535)
            return false;
    }
    return true;
}

void CItem::MakeLocalName(int level)
{
    std::string_view rest = UrlPathPart(m_strUrl);
    std::string sub;
    m_strFileName.clear();
    // Level -1 mirrors nothing and derives no name; levels below -1 act as 0.
    const int rounds = level == -1 ? 0 : (level < -1 ? 1 : level + 1);
    for (int i = 0; i < rounds; ++i) {
        const size_t slash = rest.rfind('/');
        if (slash == std::string_view::npos)
            break;
        const std::string_view seg = rest.substr(slash + 1);
        if (m_strFileName.empty())
            m_strFileName = seg.empty() ? std::string() : FileNameFromUrlSegment(seg);
        else
            sub = kPathSeparator + SafeSegment(std::string(seg)) + sub;
        rest = rest.substr(0, slash);
    }
    // A URL that ends in "/" names a folder's page.
    if (rounds > 0 && m_strFileName.empty())
        m_strFileName = "index.html";
    m_strDestination += sub;
}

bool CItem::FillFileName()
{
    if (m_strFileName.empty())
        MakeLocalName(Options().DefaultFnameLevel);
    return true;
}

std::string CItem::GetColumnText(int column) const
{
    switch (column) {
    case COL_URL:
        return m_strUrl;
    case COL_STATE:
        if (IsPaused() && GetState() == STATE_NOT_FETCHED)
            return kPausedStateName;
        if (const auto left = RetryWaitLeft(); left.count() > 0)
            return RetryWaitText(left);
        return StateName(GetState());
    case COL_NOTE:
        if (const auto left = RetryWaitLeft(); left.count() > 0)
            return WaitingNote(GetNote(), left);
        return GetNote();
    case COL_DESTINATION:
        return m_strDestination;
    case COL_FILENAME:
        return m_strFileName;
    case COL_REFERER:
        return m_strReferer;
    default:
        return {};
    }
}

std::chrono::milliseconds CItem::RetryWaitLeft(RetryClock::time_point now) const
{
    const std::int64_t at = m_nRetryAt.load();
    if (at == 0)
        return {};
    const auto nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    return std::chrono::milliseconds(std::max<std::int64_t>(at - nowMs, 0));
}

std::optional<std::chrono::milliseconds> CItem::TakeServerRetryAfter()
{
    const std::int64_t wait = m_nServerRetryAfter.exchange(-1);
    if (wait < 0)
        return std::nullopt;
    return std::chrono::milliseconds(wait);
}

void CItem::SetProgress(const CProgress& progress)
{
    m_nReceived.store(progress.received, std::memory_order_relaxed);
    m_nTotal.store(progress.total, std::memory_order_relaxed);
    m_nResumedFrom.store(progress.resumedFrom, std::memory_order_relaxed);
    m_nSpeed.store(progress.bytesPerSecond, std::memory_order_relaxed);
}

CItem::CProgress CItem::Progress() const
{
    return {m_nReceived.load(std::memory_order_relaxed), m_nTotal.load(std::memory_order_relaxed),
            m_nResumedFrom.load(std::memory_order_relaxed), m_nSpeed.load(std::memory_order_relaxed)};
}

void CItem::SetNote(std::string note)
{
    std::scoped_lock lock(m_lock);
    m_strNote.swap(note);
}

std::string CItem::GetNote() const
{
    std::scoped_lock lock(m_lock);
    return m_strNote;
}

void CItem::SetHandle(CTransferHandle* handle)
{
    std::scoped_lock lock(m_lock);
    m_hTransfer = handle;
}

void CItem::Cancel()
{
    m_bCancelled.store(true); // sequentially consistent: see ClearCancel
    std::scoped_lock lock(m_lock);
    if (m_hTransfer) {
        m_hTransfer->Abort();
        m_hTransfer = nullptr;
    }
}

void CItem::StopForPause()
{
    m_bPauseStop.store(true);
    Cancel();
}

void CItem::ClearCancel()
{
    m_bPauseStop.store(false);
    m_bCancelled.store(false);
    // Read after the clearing: a pause that came after this read sets its
    // cancel after the clearing too, so no pause is lost either way.
    if (IsPaused()) {
        m_bPauseStop.store(true);
        m_bCancelled.store(true);
    }
}

std::string PartialPath(const std::string& localPath)
{
    return localPath + ".part";
}

void CItem::OfferFileName(std::string from, std::string to)
{
    std::scoped_lock lock(m_lock);
    if (!m_offeredName.second.empty() && m_offeredName.second == from)
        m_offeredName.second = std::move(to);
    else
        m_offeredName = {std::move(from), std::move(to)};
}

bool CItem::ApplyOfferedFileName()
{
    std::scoped_lock lock(m_lock);
    auto [from, to] = std::move(m_offeredName);
    m_offeredName = {};
    if (to.empty() || m_strFileName != from || from == to)
        return false;
    m_strFileName = std::move(to);
    return true;
}

std::string CItem::LocalPath() const
{
    std::string path = m_strDestination;
    path += kPathSeparator;
    path += m_strFileName;
    return path;
}

std::string CItem::LocalFileKey(const std::string& localPath)
{
#ifndef _WIN32
    // Most paths are absolute and clean already (destinations are made
    // absolute where items are made): no need to go through QString.
    const std::string_view p = localPath;
    if (p.starts_with('/') && p.find("//") == p.npos && p.find("/./") == p.npos && p.find("/../") == p.npos
        && !p.ends_with("/.") && !p.ends_with("/.."))
        return localPath;
#endif
    QString path = QDir::cleanPath(QFileInfo(QString::fromStdString(localPath)).absoluteFilePath());
#ifdef _WIN32
    path = path.toCaseFolded();
#endif
    return path.toStdString();
}

CFetchParams CItem::FetchParams() const
{
    std::scoped_lock lock(m_lock);
    return CFetchParams{m_strUrl, m_strReferer, m_strDestination, m_strFileName, LocalPath()};
}

namespace {

std::string CannotCreate(const QString& path, const QString& cause)
{
    return QStringLiteral("%1 を作成できません: %2").arg(path, cause).toStdString();
}

} // namespace

std::string CItem::LocalPathProblem() const
{
    const CFetchParams params = FetchParams();
    const QString path = QString::fromStdString(params.localPath);
    // Never a path built from an empty destination ("/name"); the message
    // names the file alone.
    if (params.destination.empty())
        return CannotCreate(QString::fromStdString(params.fileName), QStringLiteral("保存先フォルダが指定されていません"));
    if (params.fileName.empty())
        return CannotCreate(path, QStringLiteral("ファイル名がありません"));
    return {};
}

std::unique_ptr<QFile> CItem::OpenLocalFile() const
{
    if (std::string problem = LocalPathProblem(); !problem.empty())
        throw CFileException(problem);
    return OpenLocalFile(FetchParams().localPath, 0);
}

bool IsSameFileAt(const std::string& path, const CFileIdentity& id)
{
#ifdef _WIN32
    Q_UNUSED(path);
    Q_UNUSED(id);
    return true;
#else
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_dev) == id.device
           && static_cast<std::uint64_t>(st.st_ino) == id.inode;
#endif
}

namespace {

#ifndef _WIN32
// The problem of a file that exists (`st` from lstat or fstat), empty when
// it is a regular file of this user.
std::string FileStatProblem(const std::string& path, const struct stat& st)
{
    const QString name = QString::fromStdString(path);
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("%1 はシンボリックリンクなので使えません（リンク先には書き込みません）").arg(name).toStdString();
    if (S_ISDIR(st.st_mode))
        return CannotCreate(name, QStringLiteral("同じ名前のフォルダがあります"));
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("%1 は通常のファイルではないので使えません").arg(name).toStdString();
    if (st.st_uid != ::geteuid())
        return QStringLiteral("%1 は他のユーザーのファイルなので使えません").arg(name).toStdString();
    return {};
}
#endif

} // namespace

std::string UnusableFileProblem(const std::string& path)
{
#ifdef _WIN32
    Q_UNUSED(path);
    return {};
#else
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return {};
    return FileStatProblem(path, st);
#endif
}

std::unique_ptr<QFile> CItem::OpenLocalFile(const std::string& localPath, std::uint64_t keep, bool cut,
                                            CFileIdentity* identity)
{
    const QString path = QString::fromStdString(localPath);
    auto fail = [&](const QString& cause) { throw CFileException(CannotCreate(path, cause)); };
    auto file = std::make_unique<QFile>(path);
#ifdef _WIN32
    Q_UNUSED(cut);
    Q_UNUSED(identity);
    if (keep == 0 && file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return file;
    if (keep != 0 && file->open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        const auto size = static_cast<qint64>(keep);
        if (file->size() >= size && (!cut || file->resize(size)) && file->seek(size))
            return file;
        fail(file->size() < size ? QStringLiteral("途中までのファイルが短くなりました") : file->errorString());
    }
    int err = 0;
#else
    // Never through a link, never another user's file: a new file is made
    // with O_EXCL after the old one (checked first) is gone; an existing one
    // is checked on the descriptor that will be written.
    if (std::string problem = UnusableFileProblem(localPath); !problem.empty())
        throw CFileException(problem);
    int fd = -1;
    if (keep == 0) {
        if (::unlink(localPath.c_str()) != 0 && errno != ENOENT)
            fail(FileErrorText(errno, QString::fromLocal8Bit(std::strerror(errno))));
        fd = ::open(localPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    } else {
        fd = ::open(localPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    }
    const int err = errno;
    if (fd >= 0) {
        struct stat st {};
        std::string problem;
        if (::fstat(fd, &st) != 0)
            problem = CannotCreate(path, FileErrorText(errno, QString::fromLocal8Bit(std::strerror(errno))));
        else
            problem = FileStatProblem(localPath, st);
        const auto size = static_cast<off_t>(keep);
        if (problem.empty() && keep != 0) {
            // A second name could be anywhere: writing would change a file
            // outside the destination.
            if (st.st_nlink != 1)
                problem = QStringLiteral("%1 には別の名前（ハードリンク）もあるので使えません").arg(path).toStdString();
            else if (st.st_size < size)
                problem = CannotCreate(path, QStringLiteral("途中までのファイルが短くなりました"));
            else if ((cut && ::ftruncate(fd, size) != 0) || ::lseek(fd, size, SEEK_SET) != size)
                problem = CannotCreate(path, FileErrorText(errno, QString::fromLocal8Bit(std::strerror(errno))));
        }
        if (problem.empty() && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0
            && file->open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
            if (identity)
                *identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
            return file;
        }
        ::close(fd);
        if (problem.empty())
            problem = CannotCreate(path, file->errorString());
        throw CFileException(problem);
    }
    if (err == ELOOP)
        throw CFileException(UnusableFileProblem(localPath).empty()
                                 ? CannotCreate(path, QStringLiteral("シンボリックリンクです"))
                                 : UnusableFileProblem(localPath));
    if (keep != 0 && err == ENOENT)
        fail(QStringLiteral("途中までのファイルがなくなりました"));
#endif
    // Name the likely cause rather than the system's bare error text.
    const QFileInfo info(path);
    if (info.isDir())
        fail(QStringLiteral("同じ名前のフォルダがあります"));
    const QFileInfo folder(info.path());
    if (!folder.isDir())
        fail(QStringLiteral("フォルダ %1 がありません").arg(info.path()));
    if (!folder.isWritable() || (info.exists() && !info.isWritable()))
        fail(QStringLiteral("書き込みの権限がありません"));
    fail(err ? FileErrorText(err, QString::fromLocal8Bit(std::strerror(err))) : file->errorString());
    return nullptr;
}

void CItem::Serialize(CArchiveWriter& ar) const
{
    SerializeWithState(ar, GetState());
}

void CItem::SerializeWithState(CArchiveWriter& ar, int state) const
{
    ar.WriteString(m_strUrl);
    ar.WriteI32(state);
    ar.WriteString(m_strReferer);
    ar.WriteString(m_strDestination);
    ar.WriteString(m_strFileName);
}

void CItem::Serialize(CArchiveReader& ar, int schema)
{
    if (schema != 2 && schema != 3)
        return;
    m_strUrl = ar.ReadString();
    int state = ar.ReadI32();
    // A loaded item is never in progress (no worker holds it), and a state
    // no version of the program writes means nothing: both load as failed.
    if (state < 0 || state > STATE_INVALID_URL)
        state = STATE_FAILED;
    SetState(state);
    m_strReferer = ar.ReadString();
    m_strDestination = ar.ReadString();
    if (schema == 3)
        m_strFileName = ar.ReadString();
}

} // namespace zorv

#include "engine/partfile.h"

#include "engine/recordsync.h"
#include "model/item.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zorv {

namespace {

constexpr std::string_view kMagic = "zorv-part 1";
// More ranges than this is not a map a transfer leaves.
constexpr std::size_t kMaxRanges = 4096;

std::int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool OneLine(std::string_view text)
{
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) < ' ' || c == '\x7f'; });
}

template <typename T>
bool Number(std::string_view text, T& out)
{
    if (text.empty() || text.size() > 20)
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

} // namespace

void CRangeMap::Add(std::uint64_t begin, std::uint64_t end)
{
    if (begin >= end)
        return;
    auto it = std::lower_bound(m_ranges.begin(), m_ranges.end(), Range{begin, begin},
                               [](const Range& a, const Range& b) { return a.second < b.first; });
    // `it`: the first range that ends at or after `begin`.
    while (it != m_ranges.end() && it->first <= end) {
        begin = std::min(begin, it->first);
        end = std::max(end, it->second);
        it = m_ranges.erase(it);
    }
    m_ranges.insert(it, {begin, end});
}

void CRangeMap::Add(const CRangeMap& other)
{
    for (const auto& [b, e] : other.m_ranges)
        Add(b, e);
}

std::uint64_t CRangeMap::Bytes() const
{
    std::uint64_t n = 0;
    for (const auto& [b, e] : m_ranges)
        n += e - b;
    return n;
}

std::uint64_t CRangeMap::PrefixEnd() const
{
    return !m_ranges.empty() && m_ranges.front().first == 0 ? m_ranges.front().second : 0;
}

std::uint64_t CRangeMap::End() const
{
    return m_ranges.empty() ? 0 : m_ranges.back().second;
}

std::vector<CRangeMap::Range> CRangeMap::Holes(std::uint64_t length) const
{
    std::vector<Range> holes;
    std::uint64_t at = 0;
    for (const auto& [b, e] : m_ranges) {
        if (b >= length)
            break;
        if (b > at)
            holes.push_back({at, b});
        at = e;
    }
    if (at < length)
        holes.push_back({at, length});
    return holes;
}

std::string FormatPartRecord(const CPartRecord& r)
{
    std::string s(kMagic);
    s += "\nurl " + r.url;
    s += "\nvalidator " + r.validator;
    s += "\nftp-size " + std::to_string(r.ftpSize);
    s += "\nftp-time " + std::to_string(r.ftpTime);
    s += "\nlength " + std::to_string(r.length);
    for (const auto& [b, e] : r.done.Ranges())
        s += "\ndone " + std::to_string(b) + " " + std::to_string(e);
    s += "\nend\n";
    return s;
}

std::optional<CPartRecord> ParsePartRecord(std::string_view text)
{
    if (text.size() > kMaxPartRecord || !text.ends_with("\nend\n"))
        return std::nullopt;
    text.remove_suffix(5);
    CPartRecord r;
    bool url = false, validator = false, size = false, time = false, length = false;
    std::size_t ranges = 0;
    std::uint64_t lastEnd = 0;
    bool first = true;
    while (!text.empty() || first) {
        const std::size_t nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (first) {
            if (line != kMagic)
                return std::nullopt;
            first = false;
            continue;
        }
        const std::size_t sp = line.find(' ');
        if (sp == std::string_view::npos || !OneLine(line))
            return std::nullopt;
        const std::string_view key = line.substr(0, sp);
        const std::string_view value = line.substr(sp + 1);
        if (key == "url" && !url) {
            r.url.assign(value);
            url = !value.empty();
        } else if (key == "validator" && !validator) {
            r.validator.assign(value);
            validator = true;
        } else if (key == "ftp-size" && !size) {
            size = Number(value, r.ftpSize) && r.ftpSize >= -1;
        } else if (key == "ftp-time" && !time) {
            time = Number(value, r.ftpTime) && r.ftpTime >= -1;
        } else if (key == "length" && !length) {
            length = Number(value, r.length);
        } else if (key == "done" && length) {
            const std::size_t mid = value.find(' ');
            std::uint64_t b = 0, e = 0;
            if (mid == std::string_view::npos || !Number(value.substr(0, mid), b) || !Number(value.substr(mid + 1), e))
                return std::nullopt;
            // In order, apart, not empty, and inside the file when its length is known.
            if (b >= e || (ranges && b <= lastEnd) || (r.length && e > r.length) || ++ranges > kMaxRanges)
                return std::nullopt;
            lastEnd = e;
            r.done.Add(b, e);
        } else {
            return std::nullopt;
        }
        if (!url && key != "url")
            return std::nullopt; // the URL comes first
    }
    if (!(url && validator && size && time && length))
        return std::nullopt;
    return r;
}

std::string PartRecordPath(const std::string& partPath)
{
    return partPath + ".meta";
}

std::optional<CPartRecord> ReadPartRecord(const std::string& partPath, std::string* problem, bool* absent)
{
    if (absent)
        *absent = false;
    const std::string path = PartRecordPath(partPath);
    if (std::string p = UnusableFileProblem(path); !p.empty()) {
        if (problem)
            *problem = std::move(p);
        return std::nullopt;
    }
    std::string text;
#ifdef _WIN32
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    text = f.read(kMaxPartRecord + 1).toStdString();
#else
    // Not through a link (one may appear after the check), not blocking on
    // a pipe put in its place.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT && absent)
            *absent = true;
        if (errno == ELOOP && problem)
            *problem = UnusableFileProblem(path);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return std::nullopt;
    }
    text.resize(kMaxPartRecord + 1);
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(got);
#endif
    return ParsePartRecord(text);
}

bool StagePartRecord(const std::string& partPath, const CPartRecord& record)
{
    const std::string text = FormatPartRecord(record);
    const std::string tmp = PartRecordPath(partPath) + ".tmp";
#ifdef _WIN32
    QFile f(QString::fromStdString(tmp));
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && f.write(text.data(), static_cast<qint64>(text.size())) == qint64(text.size()) && f.flush();
#else
    // A stale temporary file (or anything planted there) goes first; the
    // new one is this process's own.
    if (::unlink(tmp.c_str()) != 0 && errno != ENOENT)
        return false;
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    bool ok = true;
    for (std::size_t at = 0; ok && at < text.size();) {
        const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        at += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok)
        ::unlink(tmp.c_str());
    return ok;
#endif
}

bool CommitPartRecord(const std::string& partPath, bool keep)
{
    const std::string path = PartRecordPath(partPath);
    const std::string tmp = path + ".tmp";
    // The rename replaces a link at the record's path, never its target.
    if (keep && QFile::exists(QString::fromStdString(tmp))) {
#ifdef _WIN32
        QFile::remove(QString::fromStdString(path));
        if (QFile::rename(QString::fromStdString(tmp), QString::fromStdString(path)))
            return true;
#else
        if (::rename(tmp.c_str(), path.c_str()) == 0)
            return true;
#endif
    }
    QFile::remove(QString::fromStdString(tmp));
    return false;
}

bool WritePartRecord(const std::string& partPath, const CPartRecord& record)
{
    return StagePartRecord(partPath, record) && CommitPartRecord(partPath, true);
}

std::shared_ptr<const std::atomic<bool>> RemovePartRecord(const std::string& partPath)
{
    // A record update still on its way to the disk is dropped with it.
    return CRecordSyncer::Instance().Invalidate(partPath, [&partPath] {
        const std::string path = PartRecordPath(partPath);
        QFile::remove(QString::fromStdString(path));
        QFile::remove(QString::fromStdString(path + ".tmp"));
    });
}

std::string ResponseValidator(const std::string& etag, const std::string& lastModified)
{
    if (!etag.empty() && !etag.starts_with("W/"))
        return etag;
    return lastModified;
}

CPartJournal::CPartJournal(std::string partPath, CPartRecord base, int fd)
    : m_partPath(std::move(partPath)), m_base(std::move(base)),
#ifdef _WIN32
      m_fd(fd),
#else
      // Its own descriptor: the record may be synced after the transfer closed its file.
      m_fd(fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1),
#endif
      m_last(NowMs() - (kJournalInterval - kFirstJournal).count())
{
}

CPartJournal::~CPartJournal()
{
#ifndef _WIN32
    if (m_fd >= 0)
        ::close(m_fd);
#endif
}

bool CPartJournal::Due() const
{
    return !m_pending.load() && NowMs() - m_last.load(std::memory_order_relaxed) >= m_gap.load(std::memory_order_relaxed);
}

std::shared_ptr<const std::atomic<bool>> CPartJournal::Update(const std::function<CRangeMap()>& done, bool force)
{
    if (!force && !Due())
        return nullptr;
    CPartRecord record = m_base;
    record.done = done();
    if (record.done.Empty() && !force)
        return nullptr; // nothing to keep yet
    m_pending.store(true);
    m_queued.store(true);
    return CRecordSyncer::Instance().Queue(shared_from_this(), std::move(record));
}

void CPartJournal::Sync(const CPartRecord& record, const std::function<bool(bool)>& commit)
{
    const std::int64_t start = NowMs();
#ifdef _WIN32
    const bool synced = true;
#else
    const bool synced = m_fd >= 0 && ::fdatasync(m_fd) == 0;
#endif
    // Without the data on disk, the old record (if any) still tells the truth.
    commit(synced && StagePartRecord(m_partPath, record));
    const std::int64_t end = NowMs();
    m_gap.store(std::max<std::int64_t>(kJournalInterval.count(), kSyncShare * (end - start)), std::memory_order_relaxed);
    m_last.store(end, std::memory_order_relaxed);
    m_pending.store(false);
}

} // namespace zorv

#include "engine/segments.h"

#include "engine/ratelimit.h"
#include "engine/response.h"
#include "engine/serverlimits.h"
#include "model/text.h"
#include "settings/options.h"

#include <QString>

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zorv {

namespace {

// Split points fall on this grain, so that writes stay aligned to pages.
constexpr std::uint64_t kSplitGrain = 64 * 1024;
// Fetches in a row that fail without bringing a byte fail the file.
constexpr int kMaxBarrenFailures = 3;

// Writes all of `n` bytes at `offset`; false with errno set on failure.
bool WriteAt(int fd, const char* data, std::size_t n, std::uint64_t offset)
{
    while (n > 0) {
#ifdef _WIN32
        // No positional write: a lseek + write pair under a process-wide lock.
        static std::mutex lock;
        std::scoped_lock guard(lock);
        if (_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0)
            return false;
        const int w = _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(n, 1 << 30)));
#else
        const ssize_t w = ::pwrite(fd, data, n, static_cast<off_t>(offset));
#endif
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (w == 0) {
            errno = EIO;
            return false;
        }
        data += w;
        n -= static_cast<std::size_t>(w);
        offset += static_cast<std::uint64_t>(w);
    }
    return true;
}

} // namespace

bool ParseContentRange(std::string_view value, std::uint64_t& first, std::uint64_t& total)
{
    value = TrimWhiteSpace(value);
    if (value.size() < 6 || !EqualsNoCase(value.substr(0, 6), "bytes "))
        return false;
    value.remove_prefix(6);
    // Digits only (no sign, no blank), nothing past 64 bits, then `stop`.
    auto number = [&](std::uint64_t& out, char stop) {
        const char* begin = value.data();
        const auto [end, ec] = std::from_chars(begin, begin + value.size(), out);
        const auto i = static_cast<std::size_t>(end - begin);
        if (ec != std::errc() || (stop && (i >= value.size() || value[i] != stop)))
            return false;
        value.remove_prefix(std::min(value.size(), i + (stop ? 1 : 0)));
        return true;
    };
    std::uint64_t last = 0;
    if (!number(first, '-') || !number(last, '/') || last < first)
        return false;
    if (value == "*") { // the whole length not known
        total = 0;
        return true;
    }
    // Nothing may follow the length, and the range lies inside it.
    return number(total, 0) && value.empty() && last < total;
}

std::string HeaderValue(const std::string& headers, std::string_view name)
{
    std::string value;
    std::size_t start = 0;
    while (start < headers.size()) {
        std::size_t end = headers.find('\n', start);
        if (end == std::string::npos)
            end = headers.size();
        const std::string_view line(headers.data() + start, end - start);
        const auto colon = line.find(':');
        if (colon != std::string_view::npos && EqualsNoCase(TrimWhiteSpace(line.substr(0, colon)), name))
            value.assign(TrimWhiteSpace(line.substr(colon + 1)));
        start = end + 1;
    }
    return value;
}

CSegmentedTransfer::CSegmentedTransfer(ItemPtr item, std::string url, std::string referer, std::string validator,
                                       std::string fileName, int fd, CRangeMap done, std::uint64_t bodyStart,
                                       std::uint64_t length, int maxSegments)
    : m_item(std::move(item)), m_url(std::move(url)), m_referer(std::move(referer)),
      m_validator(std::move(validator)), m_fileName(std::move(fileName)), m_fd(fd), m_done(std::move(done)),
      m_length(length), m_maxSegments(std::max(maxSegments, 1))
{
    // The owner's hole first (it is segment 0), then the others in order,
    // waiting for whoever is free.
    const auto holes = m_done.Holes(length);
    for (const auto& [b, e] : holes) {
        if (b <= bodyStart && bodyStart < e)
            m_ranges.push_back({bodyStart, bodyStart, bodyStart, bodyStart, e, true, length});
    }
    if (m_ranges.empty()) // the owner receives nothing of its own
        m_ranges.push_back({bodyStart, bodyStart, bodyStart, bodyStart, bodyStart, true, length});
    for (const auto& [b, e] : holes) {
        if (!(b <= bodyStart && bodyStart < e))
            m_ranges.push_back({b, b, b, b, e, false, e});
    }
    for (const Range& r : m_ranges)
        m_missing += r.end - r.start;
}

CSegmentedTransfer::WriteResult CSegmentedTransfer::Write(int seg, const char* data, std::size_t n, std::size_t& used)
{
    used = 0;
    std::uint64_t offset = 0;
    std::size_t k = 0;
    std::shared_ptr<CPartJournal> journal;
    {
        std::scoped_lock lock(m_lock);
        journal = m_journal;
        Range& r = m_ranges[static_cast<std::size_t>(seg)];
        if (m_stopped)
            return WriteResult::End;
        // The range may have shrunk since the fetch began: another worker
        // took its tail.
        k = static_cast<std::size_t>(std::min<std::uint64_t>(n, r.end - r.pos));
        offset = r.pos;
        r.pos += k; // booked: no split lands before it
    }
    errno = 0;
    if (k > 0 && WriteAt(m_fd, data, k, offset)) {
        {
            std::scoped_lock lock(m_lock);
            m_ranges[static_cast<std::size_t>(seg)].done = offset + k;
        }
        if (journal && journal->Due())
            journal->Update([this] { return DoneMap(); }, false);
    } else if (k > 0) {
        const int err = errno;
        std::scoped_lock lock(m_lock);
        m_ranges[static_cast<std::size_t>(seg)].pos = offset;
        if (m_writeError.empty())
            m_writeError = QStringLiteral("%1 に書き込めません: %2")
                               .arg(QString::fromStdString(m_fileName),
                                    FileErrorText(err, QString::fromLocal8Bit(std::strerror(err))))
                               .toStdString();
        return WriteResult::Failed;
    }
    std::scoped_lock lock(m_lock);
    m_received += k;
    used = k;
    const Range& r = m_ranges[static_cast<std::size_t>(seg)];
    return k < n || r.pos == r.end ? WriteResult::End : WriteResult::Written;
}

std::uint64_t CSegmentedTransfer::Position(int seg) const
{
    std::scoped_lock lock(m_lock);
    return m_ranges[static_cast<std::size_t>(seg)].pos;
}

std::uint64_t CSegmentedTransfer::End(int seg) const
{
    std::scoped_lock lock(m_lock);
    return m_ranges[static_cast<std::size_t>(seg)].end;
}

int CSegmentedTransfer::Take(bool split)
{
    std::scoped_lock lock(m_lock);
    if (m_stopped || m_barrenFailures >= kMaxBarrenFailures || !m_writeError.empty())
        return -1;
    const int running = CountRunning();
    // Over one connection, a range waits until nothing else runs.
    if (m_oneConnection && running > 0)
        return -1;
    for (std::size_t i = 0; i < m_ranges.size(); ++i) {
        Range& r = m_ranges[i];
        if (!r.running && r.pos < r.end) {
            r.running = true;
            r.begin = r.pos;
            r.reach = r.end;
            return static_cast<int>(i);
        }
    }
    if (!split || running >= m_maxSegments || m_oneConnection)
        return -1;
    Range* largest = nullptr;
    for (Range& r : m_ranges) {
        if (r.running && (!largest || r.end - r.pos > largest->end - largest->pos))
            largest = &r;
    }
    if (!largest || largest->end - largest->pos < 2 * kMinSegment)
        return -1;
    std::uint64_t mid = largest->pos + (largest->end - largest->pos) / 2;
    mid -= mid % kSplitGrain;
    const std::uint64_t end = largest->end;
    largest->end = mid;
    m_ranges.push_back({mid, mid, mid, mid, end, true, end});
    return static_cast<int>(m_ranges.size() - 1);
}

std::uint64_t CSegmentedTransfer::Offer() const
{
    std::scoped_lock lock(m_lock);
    if (m_stopped || m_barrenFailures >= kMaxBarrenFailures || !m_writeError.empty())
        return 0;
    const int running = CountRunning();
    if (m_oneConnection && running > 0)
        return 0;
    std::uint64_t largest = 0;
    for (const Range& r : m_ranges) {
        if (!r.running && r.pos < r.end)
            return r.end - r.pos;
        if (r.running)
            largest = std::max(largest, r.end - r.pos);
    }
    return running < m_maxSegments && !m_oneConnection && largest >= 2 * kMinSegment ? largest / 2 : 0;
}

int CSegmentedTransfer::CountRunning() const
{
    return static_cast<int>(std::count_if(m_ranges.begin(), m_ranges.end(), [](const Range& r) { return r.running; }));
}

void CSegmentedTransfer::Release(int seg, bool failed, int error, std::string detail)
{
    std::scoped_lock lock(m_lock);
    Range& r = m_ranges[static_cast<std::size_t>(seg)];
    r.running = false;
    const bool progress = r.pos > r.begin;
    if (progress)
        m_barrenFailures = 0;
    if (failed) {
        if (!progress)
            ++m_barrenFailures;
        if (error == CURLE_RANGE_ERROR)
            m_rangesRefused = true;
        m_lastError = error;
        m_lastDetail = std::move(detail);
    }
    if (m_oneConnection)
        Absorb();
}

void CSegmentedTransfer::ReleaseRefused(int seg, unsigned status, std::string detail)
{
    bool extra = false;
    {
        std::scoped_lock lock(m_lock);
        extra = CountRunning() > 1; // another range has a connection
        if (extra) {
            m_ranges[static_cast<std::size_t>(seg)].running = false;
            m_oneConnection = true;
            Absorb();
        }
    }
    if (!extra) {
        Release(seg, true, CURLE_RANGE_ERROR, std::move(detail));
        return;
    }
    // Later files of the server are not split; after 429 or 503 (too many
    // requests, overloaded) it gets one fetch at a time too. The item's own
    // address is remembered with the one that answered (after redirects).
    const bool oneFetch = status != 403;
    CServerLimits& limits = CServerLimits::Global();
    limits.Remember(m_url, oneFetch);
    limits.Remember(m_item->FetchParams().url, oneFetch);
}

void CSegmentedTransfer::Absorb()
{
    for (bool again = true; again;) {
        again = false;
        for (Range& r : m_ranges) {
            if (!r.running || r.pos >= r.end)
                continue;
            for (Range& next : m_ranges) {
                if (!next.running && next.pos < next.end && next.pos == r.end && next.end <= r.reach) {
                    r.end = next.end;
                    next.end = next.pos;
                    again = true;
                }
            }
        }
    }
}

bool CSegmentedTransfer::Complete() const
{
    std::scoped_lock lock(m_lock);
    return m_received == m_missing;
}

bool CSegmentedTransfer::Failed() const
{
    std::scoped_lock lock(m_lock);
    return m_barrenFailures >= kMaxBarrenFailures || !m_writeError.empty();
}

void CSegmentedTransfer::Stop()
{
    std::scoped_lock lock(m_lock);
    m_stopped = true;
}

bool CSegmentedTransfer::Stopped() const
{
    std::scoped_lock lock(m_lock);
    return m_stopped;
}

std::uint64_t CSegmentedTransfer::Received() const
{
    std::scoped_lock lock(m_lock);
    return m_received;
}

void CSegmentedTransfer::SetJournal(std::shared_ptr<CPartJournal> journal)
{
    std::scoped_lock lock(m_lock);
    m_journal = std::move(journal);
}

void CSegmentedTransfer::UpdateJournal()
{
    std::shared_ptr<CPartJournal> journal;
    {
        std::scoped_lock lock(m_lock);
        journal = m_journal;
    }
    if (journal && journal->Due())
        journal->Update([this] { return DoneMap(); }, false);
}

CRangeMap CSegmentedTransfer::DoneMap() const
{
    std::scoped_lock lock(m_lock);
    CRangeMap map = m_done;
    for (const Range& r : m_ranges)
        map.Add(r.start, r.done);
    return map;
}

void CSegmentedTransfer::MarkChanged()
{
    std::scoped_lock lock(m_lock);
    m_fileChanged = true;
    m_stopped = true;
}

bool CSegmentedTransfer::FileChanged() const
{
    std::scoped_lock lock(m_lock);
    return m_fileChanged;
}

int CSegmentedTransfer::RunningRanges() const
{
    std::scoped_lock lock(m_lock);
    return CountRunning();
}

bool CSegmentedTransfer::OneConnection() const
{
    std::scoped_lock lock(m_lock);
    return m_oneConnection;
}

bool CSegmentedTransfer::RangesRefused() const
{
    std::scoped_lock lock(m_lock);
    return m_rangesRefused;
}

int CSegmentedTransfer::LastError() const
{
    std::scoped_lock lock(m_lock);
    return m_lastError;
}

std::string CSegmentedTransfer::LastDetail() const
{
    std::scoped_lock lock(m_lock);
    return m_lastDetail;
}

std::string CSegmentedTransfer::WriteError() const
{
    std::scoped_lock lock(m_lock);
    return m_writeError;
}


std::shared_ptr<CSegmentedTransfer> CSegmentBoard::Offer(const ItemPtr& item, CURL* easy, const std::string& headers,
                                                         unsigned status, int fd, const std::string& fileName,
                                                         const CRangeMap& done, std::uint64_t bodyStart,
                                                         std::uint64_t length, const std::string& referer,
                                                         const std::string& validator, int maxSegments)
{
    if (maxSegments < 2 || m_workers.load() < 2 || fd < 0 || (status != 200 && status != 206) || length <= bodyStart
        || validator.empty())
        return nullptr;
    if (done.Holes(length).size() < 2 && length - std::max(bodyStart, done.End()) < 2 * kMinSegment)
        return nullptr;
    std::string acceptRanges = HeaderValue(headers, "accept-ranges");
    for (char& c : acceptRanges)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (status != 206 && acceptRanges.find("bytes") == std::string::npos)
        return nullptr;
    // Compressed bodies have no byte ranges of the file.
    if (!HeaderValue(headers, "content-encoding").empty())
        return nullptr;
    const char* effective = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK || !effective)
        return nullptr;
    const std::string url = effective;
    if (!url.starts_with("http://") && !url.starts_with("https://"))
        return nullptr;
    std::shared_ptr<CSegmentedTransfer> transfer;
    {
        std::scoped_lock lock(m_lock);
        if (m_noRanges.contains(url) || CServerLimits::Global().OneConnection(url))
            return nullptr;
        transfer = std::make_shared<CSegmentedTransfer>(item, url, referer, validator, fileName, fd, done,
                                                        bodyStart, length, maxSegments);
        m_transfers.push_back(transfer);
    }
    if (m_wake)
        m_wake();
    return transfer;
}

void CSegmentBoard::Withdraw(const std::shared_ptr<CSegmentedTransfer>& transfer)
{
    std::scoped_lock lock(m_lock);
    std::erase(m_transfers, transfer);
    if (transfer->RangesRefused())
        m_noRanges.insert(transfer->Url());
}

std::pair<std::shared_ptr<CSegmentedTransfer>, int> CSegmentBoard::TakeRange()
{
    std::scoped_lock lock(m_lock);
    std::shared_ptr<CSegmentedTransfer> transfer;
    std::uint64_t best = 0;
    for (const auto& t : m_transfers) {
        if (const std::uint64_t offer = t->Offer(); offer > best) {
            best = offer;
            transfer = t;
        }
    }
    if (!transfer)
        return {nullptr, -1};
    const int seg = transfer->Take(true);
    return {seg < 0 ? nullptr : transfer, seg};
}

} // namespace zorv

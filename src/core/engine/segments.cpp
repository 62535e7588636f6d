#include "engine/segments.h"

#include "engine/ratelimit.h"
#include "engine/response.h"
#include "model/text.h"
#include "settings/options.h"

#include <QString>

#include <algorithm>
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


// Writes gathered for one range are at least this big (smaller blocks are
// gathered first) ...
constexpr std::size_t kDirectWrite = 64 * 1024;
// ... and at most this big.
constexpr std::size_t kRangeBuffer = 1024 * 1024;

// The state of one range fetch, shared with libcurl's callbacks.
struct CRangeFetch {
    CRangeFetch(CSegmentedTransfer& t, int s, std::uint64_t first, CURL* e)
        : transfer(t), seg(s), requested(first), easy(e), writer(t, s)
    {
    }

    CSegmentedTransfer& transfer;
    int seg;
    std::uint64_t requested; // first byte asked for
    CURL* easy;
    CRangeWriter writer;

    CResponse response; // contentRange, etag and lastModified are looked at
    bool checked = false;
    std::string refusal;    // why the response was not the range asked for
    bool yield = false;     // the range is to be handed back
    bool yielded = false;
    bool paused = false;    // receiving waits for the speed limit

    bool Stopping() const { return transfer.Stopped() || transfer.Item()->IsCancelled(); }
};

size_t RangeHeader(char* buffer, size_t size, size_t nitems, void* userdata)
{
    auto& f = *static_cast<CRangeFetch*>(userdata);
    const size_t n = size * nitems;
    f.response.Take(std::string_view(buffer, n), false);
    return n;
}

size_t RangeWrite(char* ptr, size_t size, size_t nmemb, void* userdata)
{
    auto& f = *static_cast<CRangeFetch*>(userdata);
    const size_t n = size * nmemb;
    if (!f.checked) {
        // Only the range asked for, of the same file, is written.
        long status = 0;
        curl_easy_getinfo(f.easy, CURLINFO_RESPONSE_CODE, &status);
        std::uint64_t first = 0;
        std::uint64_t total = 0;
        if (status != 206)
            f.refusal = "範囲の要求に HTTP Status " + std::to_string(status) + " が返されました";
        else if (!ParseContentRange(f.response.contentRange, first, total) || first != f.requested
                 || total != f.transfer.Length())
            f.refusal = "範囲の要求に別の範囲が返されました (" + f.response.contentRange + ")";
        if (!f.refusal.empty())
            return 0;
        // A server that ignores If-Range sends a changed file's bytes as
        // if they belonged to the old one.
        if (ResponseValidator(f.response.etag, f.response.lastModified) != f.transfer.Validator()) {
            f.transfer.MarkChanged();
            return 0;
        }
        f.checked = true;
    }
    // Over the speed limit the range pauses until its turn (CRangeJob::Tick).
    if (CRateLimiter& limiter = CRateLimiter::Global(); limiter.Limited()) {
        if (!limiter.Ready()) {
            f.paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        limiter.Book(n);
    }
    // Past the range's end the rest belongs to another range.
    return f.writer.Add(ptr, n) ? n : 0;
}

int RangeProgress(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto& f = *static_cast<CRangeFetch*>(userdata);
    // A server that sends in bursts leaves gaps: what arrived goes to the
    // file, and the record names it, meanwhile.
    f.writer.FlushIfHeld();
    f.transfer.UpdateJournal();
    if (f.Stopping())
        return 1;
    if (f.yield) {
        f.yielded = true;
        return 1;
    }
    return 0;
}

} // namespace

bool ParseContentRange(std::string_view value, std::uint64_t& first, std::uint64_t& total)
{
    value = TrimWhiteSpace(value);
    if (value.size() < 6 || !EqualsNoCase(value.substr(0, 6), "bytes "))
        return false;
    value.remove_prefix(6);
    auto number = [&](std::uint64_t& out, char stop) {
        out = 0;
        std::size_t i = 0;
        for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
            out = out * 10 + static_cast<std::uint64_t>(value[i] - '0');
        if (i == 0 || (stop && (i >= value.size() || value[i] != stop)))
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
    return number(total, 0);
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
            m_ranges.push_back({bodyStart, bodyStart, bodyStart, bodyStart, e, true});
    }
    if (m_ranges.empty()) // the owner receives nothing of its own
        m_ranges.push_back({bodyStart, bodyStart, bodyStart, bodyStart, bodyStart, true});
    for (const auto& [b, e] : holes) {
        if (!(b <= bodyStart && bodyStart < e))
            m_ranges.push_back({b, b, b, b, e, false});
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
        m_changed.notify_all();
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
    int running = 0;
    for (std::size_t i = 0; i < m_ranges.size(); ++i) {
        Range& r = m_ranges[i];
        if (r.running) {
            ++running;
            continue;
        }
        if (r.pos < r.end) {
            r.running = true;
            r.begin = r.pos;
            return static_cast<int>(i);
        }
    }
    if (!split || running >= m_maxSegments)
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
    m_ranges.push_back({mid, mid, mid, mid, end, true});
    return static_cast<int>(m_ranges.size() - 1);
}

std::uint64_t CSegmentedTransfer::Offer() const
{
    std::scoped_lock lock(m_lock);
    if (m_stopped || m_barrenFailures >= kMaxBarrenFailures || !m_writeError.empty())
        return 0;
    std::uint64_t largest = 0;
    int running = 0;
    for (const Range& r : m_ranges) {
        if (!r.running && r.pos < r.end)
            return r.end - r.pos;
        if (r.running) {
            ++running;
            largest = std::max(largest, r.end - r.pos);
        }
    }
    return running < m_maxSegments && largest >= 2 * kMinSegment ? largest / 2 : 0;
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
    m_changed.notify_all();
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
    m_changed.notify_all();
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
    m_changed.notify_all();
}

bool CSegmentedTransfer::FileChanged() const
{
    std::scoped_lock lock(m_lock);
    return m_fileChanged;
}

int CSegmentedTransfer::RunningRanges() const
{
    std::scoped_lock lock(m_lock);
    return static_cast<int>(std::count_if(m_ranges.begin(), m_ranges.end(), [](const Range& r) { return r.running; }));
}

void CSegmentedTransfer::WaitChange(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_lock);
    m_changed.wait_for(lock, timeout);
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

struct CRangeJob::State : CRangeFetch {
    using CRangeFetch::CRangeFetch;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> headers{nullptr, curl_slist_free_all};
};

CRangeJob::CRangeJob(CTransferLoop& loop, std::shared_ptr<CSegmentedTransfer> transfer, int seg,
                     const CFetchLimits& limits)
    : m_loop(loop), m_transfer(std::move(transfer)), m_seg(seg), m_limits(limits)
{
}

CRangeJob::~CRangeJob()
{
    if (m_running)
        m_loop.Remove(m_easy);
    if (m_easy)
        curl_easy_cleanup(m_easy);
}

void CRangeJob::Start()
{
    CSegmentedTransfer& transfer = *m_transfer;
    const std::uint64_t first = transfer.Position(m_seg);
    const std::uint64_t last = transfer.End(m_seg) - 1;
    m_easy = curl_easy_init();
    if (!m_easy) {
        m_finished = true;
        transfer.Release(m_seg, true, CURLE_OUT_OF_MEMORY, {});
        return;
    }
    m_state = std::make_unique<State>(transfer, m_seg, first, m_easy);
    State& f = *m_state;
    CURL* easy = m_easy;
    SetCommonRequestOptions(easy, transfer.Url(), transfer.Referer(), Options().NetSnapshot(), m_limits, f.errorBuffer);
    // A range travels on a connection of its own: HTTP/2 would put every
    // range of the file on one connection, which is no split at all.
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    const std::string range = std::to_string(first) + "-" + std::to_string(last);
    curl_easy_setopt(easy, CURLOPT_RANGE, range.c_str());
    if (!transfer.Validator().empty()) {
        // A changed file answers 200 with all of it, which is refused.
        const std::string ifRange = "If-Range: " + transfer.Validator();
        f.headers.reset(curl_slist_append(nullptr, ifRange.c_str()));
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, f.headers.get());
    }
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, RangeHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, static_cast<CRangeFetch*>(&f));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, RangeWrite);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<CRangeFetch*>(&f));
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, RangeProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, static_cast<CRangeFetch*>(&f));
    // Nothing received for the stall time ends the fetch of the range.
    const long stallSeconds = std::max<long>(1, static_cast<long>((m_limits.stallTimeout.count() + 999) / 1000));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    if (!m_loop.Add(easy, this)) {
        Finish(CURLE_FAILED_INIT);
        return;
    }
    m_running = true;
}

void CRangeJob::Tick(bool yield)
{
    if (!m_running)
        return;
    State& f = *m_state;
    f.yield = yield;
    if (f.paused && CRateLimiter::Global().Ready()) {
        f.paused = false;
        curl_easy_pause(m_easy, CURLPAUSE_CONT);
    }
    if (RangeProgress(static_cast<CRangeFetch*>(&f), 0, 0, 0, 0) != 0) {
        m_loop.Remove(m_easy);
        m_running = false;
        Finish(CURLE_ABORTED_BY_CALLBACK);
    }
}

void CRangeJob::Done(CURLcode rc)
{
    m_running = false;
    Finish(rc);
}

void CRangeJob::Finish(CURLcode rc)
{
    State& f = *m_state;
    CSegmentedTransfer& transfer = *m_transfer;
    f.writer.Flush();
    m_finished = true;
    const bool done = transfer.Position(m_seg) >= transfer.End(m_seg);
    if (f.writer.ReachedEnd() || done || f.yielded || f.Stopping() || f.writer.Failed()) {
        transfer.Release(m_seg, false);
        return;
    }
    if (!f.refusal.empty()) {
        transfer.Release(m_seg, true, CURLE_RANGE_ERROR, f.refusal);
        return;
    }
    if (rc == CURLE_OK) {
        transfer.Release(m_seg, true, CURLE_PARTIAL_FILE, {});
        return;
    }
    transfer.Release(m_seg, true, rc, f.errorBuffer);
}

bool CRangeWriter::Put(const char* data, std::size_t n)
{
    std::size_t used = 0;
    switch (m_transfer.Write(m_seg, data, n, used)) {
    case CSegmentedTransfer::WriteResult::Written:
        return true;
    case CSegmentedTransfer::WriteResult::End:
        m_end = true;
        return false;
    case CSegmentedTransfer::WriteResult::Failed:
        m_failed = true;
        return false;
    }
    return false;
}

bool CRangeWriter::Flush()
{
    if (m_buffer.empty())
        return !m_end && !m_failed;
    const bool ok = !m_end && !m_failed && Put(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
    return ok;
}

void CRangeWriter::FlushIfHeld()
{
    if (!m_buffer.empty() && std::chrono::steady_clock::now() - m_firstBuffered >= kMaxBufferHold)
        Flush();
}

bool CRangeWriter::Add(const char* data, std::size_t n)
{
    if (m_end || m_failed)
        return false;
    if (m_buffer.empty() && n >= kDirectWrite)
        return Put(data, n);
    if (m_buffer.size() + n > kRangeBuffer && !Flush())
        return false;
    if (m_buffer.capacity() < kRangeBuffer)
        m_buffer.reserve(kRangeBuffer);
    const auto now = std::chrono::steady_clock::now();
    if (m_buffer.empty())
        m_firstBuffered = now;
    m_buffer.insert(m_buffer.end(), data, data + n);
    // A slow range does not keep its bytes from the file (and its record) for long.
    return now - m_firstBuffered < kMaxBufferHold || Flush();
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
        if (m_noRanges.contains(url))
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

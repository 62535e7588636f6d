#include "engine/fetch.h"

#include "engine/finalname.h"
#include "engine/loop.h"
#include "engine/notes.h"
#include "engine/partfile.h"
#include "engine/ratelimit.h"
#include "engine/requestoptions.h"
#include "engine/response.h"
#include "engine/resume.h"
#include "engine/segments.h"
#include "engine/urlcache.h"
#include "model/filename.h"
#include "model/paths.h"
#include "model/progresstext.h"
#include "model/text.h"
#include "settings/options.h"

#include <QFile>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace zorv {

namespace {

using Clock = std::chrono::steady_clock;

// Body bytes are written in pieces of at least this size (smaller pieces are
// gathered first) ...
constexpr size_t kDirectWrite = 64 * 1024;
// ... into a buffer of this size.
constexpr size_t kWriteBuffer = 1024 * 1024;
// Progress notices of one item come at most this often.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);


// What a Cancel interrupts: wakes the transfer loop out of curl_multi_poll.
class CCurlTransfer final : public CTransferHandle {
public:
    explicit CCurlTransfer(CURLM* multi) : m_multi(multi) {}
    void Abort() noexcept override
    {
        m_aborted.store(true, std::memory_order_release);
        curl_multi_wakeup(m_multi);
    }
    bool Aborted() const { return m_aborted.load(std::memory_order_acquire); }

private:
    CURLM* m_multi;
    std::atomic<bool> m_aborted{false};
};

// The state of one fetch, shared with libcurl's callbacks.
// The files of one fetch: the local file (and its name) and the partial file
// the body goes to. A name the server sends changes them (and claims the new
// name: nameClaim is set only for a server's name).
struct CFetchTarget {
    std::string localPath;
    std::string partPath;
    std::string fileName;
    std::optional<CLocalFileClaim> nameClaim;
};

// The response being received is the state's CResponse part.
struct CFetchState : CResponse {
    CFetchState(const ItemPtr& i, CZorvDoc& d, CURL* e, const CFetchParams& p, CFetchTarget& t)
        : item(i), doc(d), easy(e), params(p), target(t)
    {
    }

    const ItemPtr& item;
    CZorvDoc& doc;
    CURL* easy;
    const CFetchParams& params;
    CFetchTarget& target;
    bool serverName = false; // a Content-Disposition name may replace the item's
    bool skipExisting = false; // ExistingFile says to drop a download whose name another file holds
    const CResume* resume = nullptr; // what the partial file holds, when the request goes on from it

    // The partial file's bytes this request asks to keep (Range, REST); 0
    // for a request from the beginning.
    std::uint64_t offset = 0;
    std::uint64_t bodyStart = 0; // where this response's body goes in the file: resumed when not 0
    bool restart = false; // the response asks for one new request from the beginning

    enum class Phase { Opening, Body, Refused };
    Phase phase = Phase::Opening;

    // Why the body was refused (the status, or the local file).
    std::string refusedNote;

    std::unique_ptr<QFile> file;
    CFileIdentity fileId;        // the partial file as opened
    CRangeMap kept;              // the partial file's bytes this response goes on from
    std::uint64_t keptBytes = 0; // their number
    std::uint64_t written = 0;   // bytes written after bodyStart (one connection)
    std::shared_ptr<CPartJournal> journal; // null: the partial file cannot be resumed
    std::vector<char> pending; // body bytes not yet written
    Clock::time_point pendingSince{};
    std::string writeError;

    std::uint64_t length = 0; // announced length, 0 when unknown
    bool overrun = false;     // the body went on past `length`
    std::uint64_t total = 0;  // body bytes received
    std::uint64_t notified = 0;
    Clock::time_point lastNotice{};
    Clock::time_point lastReceive{};
    bool received = false; // anything at all came from the server
    bool paused = false;   // receiving waits for the speed limit

    // Segmented transfer: the board to offer ranges on, and the transfer
    // once registered (the body is then written through it).
    CSegmentBoard* board = nullptr;
    int maxSegments = 1;
    std::shared_ptr<CSegmentedTransfer> segments;
    std::unique_ptr<CRangeWriter> rangeWriter;
    // A transfer of the holes of a partial file that the pool does not
    // split: its board is this fetch's own.
    CSegmentBoard ownBoard{{}};
    CSegmentBoard* segmentBoard = nullptr;

    bool BeginBody();
    // A segmented transfer's bytes so far: the partial file's and every range's.
    void SyncSegmentTotal() { total = keptBytes + segments->Received(); }
    // The bytes of the partial file that are written.
    CRangeMap DoneMap() const
    {
        if (segments)
            return segments->DoneMap();
        CRangeMap map = kept;
        map.Add(bodyStart, bodyStart + written);
        return map;
    }
    // While the body arrives, also when nothing does (a server that sends in
    // bursts): gathered bytes that waited long go to the file, and the
    // record is brought up to date when due.
    void Tick()
    {
        if (phase != Phase::Body)
            return;
        if (rangeWriter) {
            rangeWriter->FlushIfHeld();
            segments->UpdateJournal();
            return;
        }
        if (!pending.empty() && Clock::now() - pendingSince >= kMaxBufferHold && writeError.empty())
            Flush();
        if (journal && journal->Due())
            journal->Update([this] { return DoneMap(); }, false);
    }
    // After a write of one connection: the record is brought up to date when due.
    void Wrote(std::size_t n)
    {
        written += n;
        if (journal && journal->Due())
            journal->Update([this] { return DoneMap(); }, false);
    }
    size_t WriteRange(const char* data, size_t n);
    bool Write(const char* data, size_t n);
    bool WriteOut(const char* data, size_t n);
    bool Flush();
    void Progress(bool force);
    void PublishProgress(Clock::time_point now);
    // The smoothed speed (bytes per second) and where its last measurement began.
    double speed = 0;
    Clock::time_point speedSince{};
    std::uint64_t speedBase = 0;
    // "total/length", with the resume remark.
    std::string Note() const
    {
        std::string text = ProgressText(total, length);
        if (keptBytes)
            text += " " + ResumedText(keptBytes);
        return text;
    }

private:
    bool Refuse(std::string note)
    {
        refusedNote = std::move(note);
        phase = Phase::Refused;
        return false;
    }
    void TakeServerName();
};

// A Content-Disposition name replaces the item's name derived from the URL:
// the body goes to the new name, and the item is offered it (the UI thread
// changes the list). A server's name never replaces anything: when a file,
// another item of the list, the list file or another fetch has it, the
// first free "name (n).ext" is taken instead.
void CFetchState::TakeServerName()
{
    if (!serverName || contentDisposition.empty())
        return;
    const std::string name = SafeFileName(ContentDispositionFileName(contentDisposition));
    if (name.empty() || name == params.fileName)
        return;
    const std::string chosen = ClaimFreeName(doc, item.get(), params.destination, name, true, target.nameClaim);
    if (chosen.empty())
        return;
    target.localPath = params.destination;
    target.localPath += kPathSeparator;
    target.localPath += chosen;
    target.partPath = PartialPath(target.localPath);
    target.fileName = chosen;
    serverName = false;
    item->OfferFileName(params.fileName, chosen);
}

// The final response's header block is complete, or body data arrived: judge
// the status, then create the local file.
bool CFetchState::BeginBody()
{
    const std::string status = StatusText();
    // The bytes of the partial file this body follows: the rest the server
    // sends over HTTP (206 for the range asked, of the same file) or FTP
    // (libcurl gave REST, and the file has the size and date it had). A 200
    // is the whole file again, so the partial file starts over.
    std::uint64_t keep = 0;
    std::uint64_t full = 0;
    std::uint64_t first = 0;
    curl_off_t len = -1;
    if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &len) != CURLE_OK)
        len = -1;
    std::int64_t ftpSize = -1;
    std::int64_t ftpTime = -1;
    if (!http) {
        curl_off_t t = -1;
        ftpTime = curl_easy_getinfo(easy, CURLINFO_FILETIME_T, &t) == CURLE_OK && t >= 0 ? t : -1;
        ftpSize = len >= 0 ? static_cast<std::int64_t>(offset) + len : -1;
    }
    if (http && offset) {
        const std::uint64_t recorded = resume->record.length;
        const bool rangeAsked = ParseContentRange(contentRange, first, full) && first == offset
                                && (!recorded || full == recorded);
        // A 206 of another file (a server that ignores If-Range) is not
        // pieced onto the old one.
        const bool sameFile = ResponseValidator(etag, lastModified) == resume->record.validator;
        if (statusCode == 416 || (statusCode == 206 && (!rangeAsked || !sameFile))) {
            restart = true;
            return Refuse(status);
        }
        if (statusCode == 206)
            keep = offset;
    } else if (offset) {
        if (ftpSize != resume->record.ftpSize || ftpTime != resume->record.ftpTime) {
            restart = true;
            return Refuse("サーバー上のファイルが変わりました");
        }
        keep = offset;
    }
    if (http && statusCode != 200 && !keep)
        return Refuse(status);
    if (len > 0)
        length = keep + static_cast<std::uint64_t>(len);
    if (keep && full)
        length = full;
    if (!keep && http)
        TakeServerName();
    // A body that would be dropped at its end is not fetched.
    if (skipExisting && !target.nameClaim && IsOtherFile(target.localPath, params.url))
        return Refuse(SkippedNote(target.localPath));
    const std::string validator = http ? ResponseValidator(etag, lastModified) : std::string();
    if (keep)
        kept = resume->record.done;
    else
        RemovePartRecord(target.partPath); // it describes bytes about to be replaced
    keptBytes = kept.Bytes();
    // Only a gapless start is cut to where the rest goes on; a map with
    // holes keeps the whole file.
    const bool prefix = kept.Ranges().size() == 1 && kept.PrefixEnd() == keep;
    try {
        file = CItem::OpenLocalFile(target.partPath, keep, prefix, &fileId);
    } catch (const CFileException& e) {
        return Refuse(e.what());
    }
    // Without a validator an HTTP file cannot be resumed: no record.
    if (!http || !validator.empty())
        journal = std::make_shared<CPartJournal>(target.partPath,
                                                 CPartRecord{params.url, validator, ftpSize, ftpTime, length, {}},
                                                 file->handle());
    bodyStart = keep;
    total = notified = keptBytes;
    phase = Phase::Body;
    segmentBoard = board;
    if (board && length)
        segments = board->Offer(item, easy, headers, statusCode, file->handle(), target.partPath, kept,
                                keep, length, params.referer, validator, maxSegments);
    if (!segments && !prefix && keep) {
        // The holes of the partial file one after the other, over this connection.
        const char* effective = nullptr;
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
        segments = std::make_shared<CSegmentedTransfer>(item, effective ? effective : params.url, params.referer,
                                                        validator, target.partPath, file->handle(),
                                                        kept, keep, length, 1);
        segmentBoard = &ownBoard;
    }
    if (segments) {
        segments->SetJournal(journal);
        rangeWriter = std::make_unique<CRangeWriter>(*segments, CSegmentedTransfer::kOwnerSegment);
    }
    item->SetNote(Note());
    lastNotice = Clock::now();
    PublishProgress(lastNotice);
    doc.NotifyItemState(item, STATE_FETCHING, 0);
    return true;
}

// The owner's bytes of a segmented transfer: written at their offset, up to
// where the next range begins.
size_t CFetchState::WriteRange(const char* data, size_t n)
{
    const bool more = rangeWriter->Add(data, n);
    SyncSegmentTotal();
    Progress(false);
    return more ? n : 0;
}

bool CFetchState::Flush()
{
    if (pending.empty())
        return true;
    const bool ok = WriteOut(pending.data(), pending.size());
    pending.clear();
    return ok;
}

// Writes to the partial file; the bytes of a write cut short count too.
bool CFetchState::WriteOut(const char* data, size_t n)
{
    errno = 0;
    const qint64 w = file->write(data, static_cast<qint64>(n));
    const int err = errno;
    if (w > 0)
        Wrote(static_cast<std::size_t>(w));
    if (w == static_cast<qint64>(n))
        return true;
    writeError = WriteFailure(target.partPath, *file, err);
    return false;
}

bool CFetchState::Write(const char* data, size_t n)
{
    if (pending.empty() && n >= kDirectWrite) {
        return WriteOut(data, n);
    }
    if (pending.size() + n > kWriteBuffer && !Flush())
        return false;
    if (pending.empty())
        pendingSince = lastReceive;
    pending.insert(pending.end(), data, data + n);
    // A slow transfer does not keep its bytes from the file (and its record) for long.
    return lastReceive - pendingSince < kMaxBufferHold || Flush();
}

// The item's typed progress, with the speed smoothed over the notices
// (a new measurement weighs 30 %).
void CFetchState::PublishProgress(Clock::time_point now)
{
    if (speedSince != Clock::time_point{} && now > speedSince) {
        const double seconds = std::chrono::duration<double>(now - speedSince).count();
        const double bytes = total > speedBase ? static_cast<double>(total - speedBase) : 0.0;
        const double sample = bytes / seconds;
        speed = speed == 0 ? sample : 0.7 * speed + 0.3 * sample;
    }
    speedSince = now;
    speedBase = total;
    item->SetProgress({total, length, keptBytes, static_cast<std::uint64_t>(speed)});
}

void CFetchState::Progress(bool force)
{
    const auto now = force ? Clock::now() : lastReceive;
    if (!force && now - lastNotice < kProgressInterval)
        return;
    lastNotice = now;
    item->SetNote(Note());
    PublishProgress(now);
    // Traffic only grows: a total that went back (a transfer that starts
    // over) counts again only past what was already counted.
    const std::uint64_t bytes = total > notified ? total - notified : 0;
    notified = std::max(notified, total);
    doc.NotifyItemState(item, STATE_FETCHING, bytes);
}

size_t HeaderCallback(char* buffer, size_t size, size_t nitems, void* userdata)
{
    auto& st = *static_cast<CFetchState*>(userdata);
    const size_t n = size * nitems;
    st.received = true;
    st.lastReceive = Clock::now();
    switch (st.Take(std::string_view(buffer, n), st.phase != CFetchState::Phase::Opening)) {
    case CResponse::Line::TooLarge:
        st.refusedNote = kHeaderTooLarge;
        st.phase = CFetchState::Phase::Refused;
        return 0;
    case CResponse::Line::Final:
        return st.BeginBody() ? n : 0;
    case CResponse::Line::Taken:
        break;
    }
    return n;
}

size_t WriteCallback(char* ptr, size_t size, size_t nmemb, void* userdata)
{
    auto& st = *static_cast<CFetchState*>(userdata);
    const size_t n = size * nmemb;
    st.received = true;
    st.lastReceive = Clock::now();
    if (st.phase == CFetchState::Phase::Opening && !st.BeginBody())
        return 0;
    if (st.phase != CFetchState::Phase::Body)
        return 0;
    // Over the speed limit the transfer pauses (the loop goes on with the
    // others) until its turn comes; libcurl hands the same bytes again then.
    if (CRateLimiter& limiter = CRateLimiter::Global(); limiter.Limited()) {
        if (!limiter.Ready()) {
            st.paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        limiter.Book(n);
    }
    if (st.segments)
        return st.WriteRange(ptr, n);
    if (st.length && st.total + n > st.length) {
        // The bytes up to the announced length are kept; the transfer ends.
        const size_t fits = st.total < st.length ? static_cast<size_t>(st.length - st.total) : 0;
        if (fits && st.Write(ptr, fits))
            st.total += fits;
        st.overrun = true;
        return 0;
    }
    if (!st.Write(ptr, n))
        return 0;
    st.total += n;
    st.Progress(false);
    return n;
}


} // namespace

namespace {

// How one request ended.
struct CTransferEnd {
    CURLcode rc = CURLE_OK;
    bool aborted = false;
    bool stalled = false;
    bool multiFailed = false;
    bool notStarted = false; // libcurl refused the transfer
};

// A request for the rest that the server answered with "not that way"
// (HTTP 416, a range other than the one asked, FTP without REST or a file
// now shorter than the partial one): the fetch asks once more, from the
// beginning.
bool MustRestart(const CFetchState& st, const CTransferEnd& end)
{
    if (!st.offset || end.aborted || end.stalled || end.multiFailed || end.notStarted)
        return false;
    if (st.restart)
        return true;
    return !st.http && st.phase == CFetchState::Phase::Opening
           && (end.rc == CURLE_BAD_DOWNLOAD_RESUME || end.rc == CURLE_FTP_COULDNT_USE_REST
               || end.rc == CURLE_RANGE_ERROR);
}

} // namespace

// One item's fetch on a transfer loop: the checks before any request, the
// request (again from the beginning when the server refuses the rest), the
// ranges of a split file and the result. Every step runs on the loop's
// thread; nothing in it waits.
class CItemFetch::Impl final : public CLoopClient {
public:
    Impl(const ItemPtr& item, CZorvDoc& doc, CTransferLoop& loop, const CFetchLimits& limits, CSegmentBoard* board)
        : item(item), doc(doc), loop(loop), limits(limits), board(board), params(item->FetchParams()),
          net(Options().NetSnapshot()), transfer(loop.Multi())
    {
    }
    ~Impl() override
    {
        ownRange.reset();
        if (running)
            loop.Remove(easy);
        if (easy)
            curl_easy_cleanup(easy);
    }

    void Start();
    void Tick();
    void Done(CURLcode rc) override
    {
        running = false;
        end.rc = rc;
        EndRequest();
    }

    ItemPtr item;
    CZorvDoc& doc;
    CTransferLoop& loop;
    const CFetchLimits limits;
    CSegmentBoard* board;
    const CFetchParams params;
    const CNetSettings net;
    CCurlTransfer transfer;
    std::optional<CLocalFileClaim> claim;
    CURL* easy = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> requestHeaders{nullptr, curl_slist_free_all};
    bool ftp = false;
    CFetchTarget target;
    CResume resume;
    bool serverName = false;
    std::optional<CFetchState> attempt;
    CTransferEnd end;
    bool rangesRefused = false;
    bool running = false; // the request is in the loop
    bool ranges = false;  // the request ended; the ranges of the file run
    std::unique_ptr<CRangeJob> ownRange; // the range this fetch runs itself
    Clock::time_point start{};
    bool connected = false;
    bool finished = false;
    int result = STATE_FAILED;
    std::shared_ptr<const std::atomic<bool>> finalRecord; // the record written at the end

private:
    void Fail(std::string note)
    {
        item->SetHandle(nullptr);
        item->SetNote(std::move(note));
        finished = true;
    }
    void StartRequest();
    void EndRequest();
    void StopRequest()
    {
        loop.Remove(easy);
        running = false;
        EndRequest();
    }
    void TickRanges();
    void EndRanges();
    void Finish();
};

void CItemFetch::Impl::Start()
{
    item->SetHandle(nullptr);
    // Nothing is written to a path built from a missing destination or name.
    if (std::string problem = item->LocalPathProblem(); !problem.empty())
        return Fail(std::move(problem));
    claim.emplace(CItem::LocalFileKey(params.localPath));
    if (!claim->Claimed()) {
        return Fail(QStringLiteral("%1 には別の項目が書き込み中です")
                        .arg(QString::fromStdString(params.localPath))
                        .toStdString());
    }
    easy = loop.Ok() ? curl_easy_init() : nullptr;
    if (!easy)
        return Fail("libcurl を初期化できません");
    item->SetHandle(&transfer);
    doc.NotifyItemState(item, STATE_CONNECTING, 0);

    // The body goes to the partial file, which is renamed onto the local
    // file once the transfer is complete: a failed or cancelled fetch leaves
    // an earlier file of that name as it was.
    ftp = StartsWithNoCase(params.url, "ftp:");
    target.localPath = params.localPath;
    target.partPath = PartialPath(params.localPath);
    target.fileName = params.fileName;
    // A link (or another user's file) in the place of the partial file or
    // its record fails the item before anything is sent or written.
    for (const std::string& path : {target.partPath, PartRecordPath(target.partPath)}) {
        if (std::string problem = UnusableFileProblem(path); !problem.empty())
            return Fail(std::move(problem));
    }
    resume = net.ResumePartial ? PlanResume(target.partPath, params.url, ftp) : CResume{};
    serverName = net.UseServerFileName && IsUrlFileName(params.url, params.fileName);
    // A download that would be dropped at its end is not even asked for
    // (unless the server may name another file).
    if (net.ExistingFile == EXISTING_SKIP && !serverName && IsOtherFile(params.localPath, params.url))
        return Fail(SkippedNote(params.localPath));
    StartRequest();
}

// Sets the options of one request of the fetch and puts it in the loop. A
// request that goes on from a partial file asks for the rest: HTTP with
// Range and If-Range (the validator), FTP with REST.
void CItemFetch::Impl::StartRequest()
{
    attempt.emplace(item, doc, easy, params, target);
    CFetchState& st = *attempt;
    st.offset = resume.offset;
    st.resume = &resume;
    st.serverName = serverName && !target.nameClaim;
    st.board = board;
    st.maxSegments = net.MaxSegments;
    st.skipExisting = net.ExistingFile == EXISTING_SKIP;
    end = {};
    errorBuffer[0] = '\0';
    requestHeaders.reset();

    curl_easy_reset(easy);
    SetCommonRequestOptions(easy, params.url, params.referer, net, limits, errorBuffer);
    // Items of one server wait for its first connection rather than open
    // their own: over HTTP/2 they then share it.
    curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, HeaderCallback);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &st);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, WriteCallback);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &st);
    // FTP: the file's date (MDTM) tells, with its size, whether a partial
    // file is still part of it.
    if (ftp)
        curl_easy_setopt(easy, CURLOPT_FILETIME, 1L);
    // Range, not CURLOPT_RESUME_FROM, over HTTP: libcurl would fail a 200
    // answer, which here means "start over".
    if (st.offset && ftp) {
        curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(st.offset));
    } else if (st.offset) {
        const std::string range = std::to_string(st.offset) + "-";
        curl_easy_setopt(easy, CURLOPT_RANGE, range.c_str());
        const std::string ifRange = "If-Range: " + st.resume->record.validator;
        requestHeaders.reset(curl_slist_append(nullptr, ifRange.c_str()));
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, requestHeaders.get());
    }
    start = Clock::now();
    st.lastReceive = start;
    connected = false;
    if (!loop.Add(easy, this)) {
        end.notStarted = true;
        EndRequest();
        return;
    }
    running = true;
}

void CItemFetch::Impl::Tick()
{
    if (finalRecord && !finished) {
        finished = finalRecord->load();
        return;
    }
    if (finished)
        return;
    if (ranges) {
        TickRanges();
        return;
    }
    if (!running)
        return;
    CFetchState& st = *attempt;
    if (transfer.Aborted() || item->IsCancelled()) {
        end.aborted = true;
        StopRequest();
        return;
    }
    // Stall detection: once connected, nothing received for the stall
    // time ends the transfer. While connecting, the connect timeout
    // applies (the stall time is added as a backstop).
    const auto now = Clock::now();
    if (st.paused) {
        // Waiting for the speed limit is no stall.
        st.lastReceive = now;
        if (CRateLimiter::Global().Ready()) {
            st.paused = false;
            curl_easy_pause(easy, CURLPAUSE_CONT);
        }
    }
    if (!connected) {
        // Until the request is sent (it may wait for a connection under the
        // per-server cap) libcurl's own connect timeout watches it.
        if (!st.received && !RequestSent(easy))
            start = now;
        curl_off_t connectUs = 0;
        if (st.received
            || (curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connectUs) == CURLE_OK && connectUs > 0)) {
            connected = true;
            st.lastReceive = std::max(st.lastReceive, start + std::chrono::microseconds(connectUs));
        }
    }
    const auto deadline = connected ? st.lastReceive + limits.stallTimeout
                                    : start + limits.connectTimeout + limits.stallTimeout;
    if (now >= deadline) {
        end.stalled = true;
        StopRequest();
        return;
    }
    st.Tick();
}

void CItemFetch::Impl::EndRequest()
{
    CFetchState& st = *attempt;
    if (MustRestart(st, end)) {
        resume = {};
        StartRequest();
        return;
    }
    if (!st.segments) {
        Finish();
        return;
    }
    // A segmented transfer ends when every range has: this fetch takes
    // ranges on offer itself meanwhile, and the end is the whole file's.
    st.rangeWriter->Flush();
    const bool ownerFailed = !st.rangeWriter->ReachedEnd() && !st.rangeWriter->Failed() && !end.aborted
                             && (end.stalled || end.multiFailed || end.rc != CURLE_OK);
    const std::string detail = end.stalled ? "" : errorBuffer;
    if (end.aborted)
        st.segments->Stop();
    st.segments->Release(CSegmentedTransfer::kOwnerSegment, ownerFailed,
                         end.stalled ? CURLE_OPERATION_TIMEDOUT : end.rc, detail);
    ranges = true;
    TickRanges();
}

void CItemFetch::Impl::TickRanges()
{
    CFetchState& st = *attempt;
    CSegmentedTransfer& t = *st.segments;
    // A cancel, or a file that cannot be completed, ends every range.
    if (item->IsCancelled() || t.Failed())
        t.Stop();
    if (ownRange) {
        ownRange->Tick(false);
        if (ownRange->Finished())
            ownRange.reset();
    }
    if (t.Stopped() || t.Complete() || t.Failed()) {
        // Nobody takes a range any more; the others still writing stop at
        // their next tick.
        if (!ownRange && t.RunningRanges() == 0) {
            EndRanges();
            return;
        }
    } else if (!ownRange) {
        if (const int seg = t.Take(true); seg >= 0) {
            ownRange = std::make_unique<CRangeJob>(loop, st.segments, seg, limits);
            ownRange->Start();
            if (ownRange->Finished())
                ownRange.reset();
        }
    }
    t.UpdateJournal();
    st.SyncSegmentTotal();
    st.lastReceive = Clock::now();
    st.Progress(false);
}

// Every byte that arrived stays in the partial file, and the record's map
// says which they are.
void CItemFetch::Impl::EndRanges()
{
    CFetchState& st = *attempt;
    st.segmentBoard->Withdraw(st.segments);
    ranges = false;
    st.SyncSegmentTotal();
    end.multiFailed = false;
    end.stalled = false;
    const CSegmentedTransfer& t = *st.segments;
    if (t.Complete()) {
        end.aborted = false;
        end.rc = CURLE_OK;
    } else {
        if (!t.WriteError().empty())
            st.writeError = t.WriteError();
        else if (item->IsCancelled())
            end.aborted = true;
        end.rc = static_cast<CURLcode>(t.LastError());
        if (end.rc == CURLE_OK)
            end.rc = CURLE_PARTIAL_FILE;
        std::snprintf(errorBuffer, CURL_ERROR_SIZE, "%s", t.LastDetail().c_str());
    }
    // A server that answered a range with the whole file (it does not
    // serve ranges after all, or the file changed) gets one new request
    // from the beginning; the board no longer splits it. A range of a
    // changed file (another validator) starts over too.
    if (!(t.Complete() || !(t.RangesRefused() || t.FileChanged()) || end.aborted || rangesRefused
          || !st.writeError.empty())) {
        rangesRefused = true;
        resume = {};
        StartRequest();
        return;
    }
    Finish();
}

// The result of the fetch, its note, and the complete file in its place.
void CItemFetch::Impl::Finish()
{
    finished = true;
    CFetchState& st = *attempt;
    if (end.notStarted) {
        Fail("libcurl の転送を開始できません");
        return;
    }
    bool aborted = end.aborted, stalled = end.stalled, multiFailed = end.multiFailed;
    CURLcode rc = end.rc;

    // A transfer that ended well without a body (an empty file) still gets
    // its status judged and its file created.
    if (!aborted && !stalled && !multiFailed && rc == CURLE_OK && st.phase == CFetchState::Phase::Opening)
        st.BeginBody();

    const std::string stallNote = "転送が停止しました（" + DurationText(limits.stallTimeout) + "間受信なし）";
    long osError = 0;
    curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError);
    int result = STATE_FAILED;
    switch (st.phase) {
    case CFetchState::Phase::Refused:
        item->SetNote(st.refusedNote);
        break;
    case CFetchState::Phase::Opening: {
        std::string note;
        if (aborted) {
            note = StoppedText(*item);
        } else if (stalled) {
            note = stallNote;
        } else if (multiFailed) {
            note = "libcurl の転送が失敗しました";
        } else if (!st.http && !st.lastResponse.empty()
                   && (st.lastResponse[0] == '4' || st.lastResponse[0] == '5')) {
            // An FTP error reply ("550 ...") says best what went wrong.
            note = st.lastResponse;
        } else if (rc == CURLE_UNSUPPORTED_PROTOCOL && st.hasLocation) {
            note = RefusedRedirectNote(easy);
        } else if (rc == CURLE_OUT_OF_MEMORY && !ftp && RequestSent(easy)) {
            // libcurl's answer to a header line over its limit (100 KB).
            note = std::string(kHeaderTooLarge) + " (libcurl error " + std::to_string(rc) + ")";
        } else {
            note = ClientErrorText(rc, osError, errorBuffer);
        }
        item->SetNote(std::move(note));
        break;
    }
    case CFetchState::Phase::Body: {
        const bool written = st.writeError.empty() && st.Flush();
        const bool complete = written && !aborted && !stalled && !multiFailed && rc == CURLE_OK
                              && (!st.length || st.total == st.length);
        // At every stop the record says what the partial file holds.
        if (!complete && st.journal)
            finalRecord = st.journal->Update([&st] { return st.DoneMap(); }, true);
        st.file->close();
        st.file.reset();
        st.Progress(true); // the final notice, always
        // Only a transfer that libcurl completed is fetched: without an
        // announced length a cut connection or a cancel would otherwise
        // look like the end of the file.
        const std::string progress = st.Note();
        if (!written)
            item->SetNote(st.writeError);
        else if (aborted)
            item->SetNote(StoppedText(*item) + " (" + FormatSizeOfTotal(st.total, st.length) + ")");
        else if (stalled)
            item->SetNote(progress + " " + stallNote);
        else if (multiFailed)
            item->SetNote(progress + " libcurl の転送が失敗しました");
        else if (st.overrun || (st.length && st.total > st.length))
            item->SetNote(progress + " " + kBodyTooLong);
        else if (rc != CURLE_OK)
            item->SetNote(progress + " " + ClientErrorText(rc, osError, errorBuffer));
        else if (st.length && st.total < st.length)
            item->SetNote(progress + " 転送が途中で切れました");
        else
            result = STATE_FETCHED;
        // The complete file takes the local file's place (replacing the
        // item's own earlier one at once; any other file by ExistingFile);
        // until then the bytes stay in the partial file.
        std::string holder = target.partPath;
        // Only the file this fetch wrote takes the name: not one that was
        // put in the partial file's place meanwhile.
        if (result == STATE_FETCHED && !IsSameFileAt(target.partPath, st.fileId)) {
            result = STATE_FAILED;
            item->SetNote(QStringLiteral("%1 が取得中に別のファイルに置き換えられたので使えません")
                              .arg(QString::fromStdString(target.partPath))
                              .toStdString());
        }
        bool discarded = false;
        if (result == STATE_FETCHED) {
            const CFinishResult placed = PlaceFinishedFile(
                doc, item.get(),
                {target.partPath, target.localPath, params.destination, target.fileName, params.url, params.referer,
                 net.ExistingFile, target.nameClaim.has_value()});
            if (!placed.placed) {
                result = STATE_FAILED;
                item->SetNote(placed.note);
                if (placed.discard) {
                    QFile::remove(QString::fromStdString(target.partPath));
                    RemovePartRecord(target.partPath);
                    discarded = true;
                }
            } else {
                RemovePartRecord(target.partPath);
                holder = placed.path;
                if (!placed.fileName.empty()) {
                    // Stored in the item as a server's name is (in place of
                    // the server's name, offered or taken already).
                    item->OfferFileName(target.fileName, placed.fileName);
                    item->SetNote(progress + " " + placed.note);
                }
            }
        }
        // An incomplete segmented file has holes: no copy of it is kept.
        if (net.EnableCache && st.length && written && !discarded && (result == STATE_FETCHED || !st.segments)) {
            CUrlCacheRecord rec;
            rec.url = params.url;
            rec.headers = st.headers;
            rec.lastModified = st.lastModified;
            if (!st.lastModified.empty()) {
                const time_t t = curl_getdate(st.lastModified.c_str(), nullptr);
                rec.lastModifiedTime = t > 0 ? static_cast<std::int64_t>(t) : 0;
            }
            rec.expectedSize = st.length;
            rec.sparse = st.total != st.length || st.overrun;
            // A failed registration only ends it.
            CUrlCache().Store(rec, QString::fromStdString(holder));
        }
        if (result == STATE_FETCHED)
            doc.NotifyItemState(item, STATE_LAUNCHING, 0);
        break;
    }
    }

    item->SetHandle(nullptr);
    this->result = result;
    // The result is posted once the record of what was kept is on disk.
    finished = !finalRecord || finalRecord->load();
}

CItemFetch::CItemFetch(const ItemPtr& item, CZorvDoc& doc, CTransferLoop& loop, const CFetchLimits& limits,
                       CSegmentBoard* board)
    : m_impl(std::make_unique<Impl>(item, doc, loop, limits, board))
{
}

CItemFetch::~CItemFetch() = default;

void CItemFetch::Start()
{
    m_impl->Start();
}

void CItemFetch::Tick()
{
    m_impl->Tick();
}

bool CItemFetch::Finished() const
{
    return m_impl->finished;
}

int CItemFetch::Result() const
{
    return m_impl->result;
}

const ItemPtr& CItemFetch::Item() const
{
    return m_impl->item;
}

struct CFetchSession::Impl {
    CTransferLoop loop; // holds the open connections between fetches
};

CFetchSession::CFetchSession(const CFetchLimits& limits)
    : m_limits(limits), m_impl(std::make_unique<Impl>())
{
}

CFetchSession::~CFetchSession() = default;

void CFetchSession::Reset()
{
    m_impl = std::make_unique<Impl>();
}

int FetchItem(CFetchSession& session, const ItemPtr& item, CZorvDoc& doc)
{
    CTransferLoop& loop = session.m_impl->loop;
    CItemFetch fetch(item, doc, loop, session.Limits(), nullptr);
    fetch.Start();
    while (!fetch.Finished()) {
        if (!loop.Perform()) {
            session.Reset();
            item->SetNote("libcurl の転送が失敗しました");
            return STATE_FAILED;
        }
        fetch.Tick();
        if (!fetch.Finished())
            loop.Wait(CRateLimiter::Global().Limited() ? 5 : kTickMs);
    }
    return fetch.Result();
}

} // namespace zorv

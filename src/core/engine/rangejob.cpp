#include "engine/segments.h"

#include "engine/ratelimit.h"
#include "engine/response.h"
#include "settings/options.h"

#include <algorithm>

namespace zorv {

namespace {

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
    unsigned refusedStatus = 0; // 403, 429 or 503: perhaps a connection too many
    bool yield = false;     // the range is to be handed back
    bool yielded = false;
    bool paused = false;    // receiving waits for the speed limit

    bool Stopping() const { return transfer.Stopped() || transfer.Item()->IsCancelled(); }
};

size_t RangeHeader(char* buffer, size_t size, size_t nitems, void* userdata)
{
    auto& f = *static_cast<CRangeFetch*>(userdata);
    const size_t n = size * nitems;
    // 403, 429 and 503 are how many servers refuse a connection beyond the
    // ones they allow. The request ends there; a Retry-After is not waited
    // for: the file goes on over the connection it has.
    if (f.response.Take(std::string_view(buffer, n), false) == CResponse::Line::Final) {
        const unsigned status = f.response.statusCode;
        if (status == 403 || status == 429 || status == 503) {
            f.refusedStatus = status;
            f.refusal = "範囲の要求に HTTP Status " + std::to_string(status) + " が返されました";
            return 0;
        }
    }
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
    if (f.refusedStatus) {
        transfer.ReleaseRefused(m_seg, f.refusedStatus, f.refusal);
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

CRangeWriter::CRangeWriter(CSegmentedTransfer& transfer, int seg)
    : m_transfer(transfer), m_seg(seg), m_writer([this](const char* data, std::size_t n) { return Put(data, n); })
{
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

} // namespace zorv

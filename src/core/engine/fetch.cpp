#include "engine/itemfetch.h"

#include "engine/notes.h"
#include "engine/ratelimit.h"
#include "engine/requestoptions.h"
#include "engine/trust.h"
#include "engine/urlcache.h"
#include "model/filename.h"
#include "model/paths.h"
#include "model/progresstext.h"
#include "model/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zorv {

void CItemFetch::Impl::Start()
{
    item->SetHandle(nullptr);
    // Nothing is written to a path built from a missing destination or name.
    if (std::string problem = item->LocalPathProblem(); !problem.empty())
        return Fail(std::move(problem));
    // Extra authorities that cannot be read fail an HTTPS item with their
    // own note (a redirect to HTTPS fails at its TLS connection instead).
    if (std::string problem = StartsWithNoCase(params.url, "https:") ? CaCertificatesProblem(net.CaCertificates) : "";
        !problem.empty())
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
    StartWhenServerFree();
}

// A server that takes one fetch at a time keeps this one waiting, its
// slot held as under the per-server cap, until the other one has ended.
void CItemFetch::Impl::StartWhenServerFree()
{
    serverWait = !CServerLimits::Global().Enter(params.url);
    if (serverWait)
        return;
    serverTurn = true;
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
    if (serverWait) {
        if (transfer.Aborted() || item->IsCancelled())
            return Fail(StoppedText(*item));
        StartWhenServerFree();
        return;
    }
    if (digestCheck) {
        TickDigest();
        return;
    }
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

#include "engine/itemfetch.h"

#include "engine/notes.h"
#include "engine/ratelimit.h"
#include "engine/requestoptions.h"
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
    if (http && statusCode != 200 && !keep) {
        // A server too busy for the request may say when to come back.
        if (statusCode == 429 || statusCode == 503) {
            if (const auto wait = ParseRetryAfter(retryAfter, std::time(nullptr)))
                item->SetServerRetryAfter(*wait);
        }
        return Refuse(status);
    }
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
    else if (!resume || !resume->noRecord)
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
    // The note of an earlier attempt (a failure text) does not stay on a
    // running row: the row shows the typed progress, and the end of the
    // transfer writes the note.
    item->SetNote({});
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


} // namespace zorv

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
    int outcome = STATE_FAILED;
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
        else {
            // The complete form, "received/total": the size of a fetched item
            // is read back from it (ParseProgressNote).
            item->SetNote(progress);
            outcome = STATE_FETCHED;
        }
        // Only the file this fetch wrote takes the name: not one that was
        // put in the partial file's place meanwhile.
        if (outcome == STATE_FETCHED && !IsSameFileAt(target.partPath, st.fileId)) {
            outcome = STATE_FAILED;
            item->SetNote(ReplacedFileNote(target.partPath));
        }
        // A file its server sent a digest for is checked first, on the
        // hashing thread; the job stays unfinished until the check ends.
        if (outcome == STATE_FETCHED) {
            if (auto expected = OfferedDigest(st.headers, st.statusCode == 200)) {
                CTransferLoop* wake = &loop;
                digestName = DigestName(expected->algorithm);
                digestCheck = std::make_unique<CDigestCheck>(target.partPath, st.fileId, std::move(*expected),
                                                             [wake] { wake->Wakeup(); });
                fetchedNote = progress;
                finished = false;
                // Nothing more comes from the server: another fetch of a
                // server that takes one at a time need not wait for the check.
                if (serverTurn) {
                    CServerLimits::Global().Leave(params.url);
                    serverTurn = false;
                }
                return;
            }
        }
        Conclude(outcome, progress, written, false);
        return;
    }
    }
    End(outcome);
}

// The end of the check of a complete file against its server's digest.
void CItemFetch::Impl::TickDigest()
{
    CFetchState& st = *attempt;
    const bool stopped = transfer.Aborted() || item->IsCancelled();
    if (stopped)
        digestCheck->Stop();
    const CDigestCheck::EState state = digestCheck->State();
    if (state == CDigestCheck::EState::Running)
        return;
    const std::string error = digestCheck->Error();
    digestCheck.reset();
    if (stopped) {
        // As any stop: the partial file stays, and its record says it is whole.
        item->SetNote(StoppedText(*item) + " (" + FormatSizeOfTotal(st.total, st.length) + ")");
        if (st.journal)
            finalRecord = st.journal->Update([&st] { return st.DoneMap(); }, true);
        Conclude(STATE_FAILED, fetchedNote, true, false);
    } else if (state == CDigestCheck::EState::Match) {
        const std::string note = fetchedNote + " " + DigestVerifiedText(digestName);
        item->SetNote(note);
        Conclude(STATE_FETCHED, note, true, false);
    } else if (state == CDigestCheck::EState::Mismatch) {
        // Bytes that are not the server's file are no start for a retry.
        item->SetNote(fetchedNote + " " + kDigestMismatch);
        QFile::remove(QString::fromStdString(target.partPath));
        RemoveRecord();
        Conclude(STATE_FAILED, fetchedNote, true, true);
    } else {
        item->SetNote(fetchedNote + " " + error);
        Conclude(STATE_FAILED, fetchedNote, true, false);
    }
}

// The complete file (`outcome` fetched) takes its name; the cache keeps a
// copy. `completeNote`: the note of the complete file.
void CItemFetch::Impl::Conclude(int outcome, const std::string& completeNote, bool written, bool discarded)
{
    CFetchState& st = *attempt;
    // The complete file takes the local file's place (replacing the
    // item's own earlier one at once; any other file by ExistingFile);
    // until then the bytes stay in the partial file.
    std::string holder = target.partPath;
    if (outcome == STATE_FETCHED) {
        const CFinishResult placed = PlaceFinishedFile(
            doc, item.get(),
            {target.partPath, target.localPath, params.destination, target.fileName, params.url, params.referer,
             net.ExistingFile, target.nameClaim.has_value()});
        if (!placed.placed) {
            outcome = STATE_FAILED;
            item->SetNote(placed.note);
            if (placed.discard) {
                QFile::remove(QString::fromStdString(target.partPath));
                RemoveRecord();
                discarded = true;
            }
        } else {
            RemoveRecord();
            holder = placed.path;
            if (!placed.fileName.empty()) {
                // Stored in the item as a server's name is (in place of
                // the server's name, offered or taken already).
                item->OfferFileName(target.fileName, placed.fileName);
                item->SetNote(completeNote + " " + placed.note);
            }
        }
    }
    // An incomplete segmented file has holes: no copy of it is kept.
    if (net.EnableCache && st.length && written && !discarded && (outcome == STATE_FETCHED || !st.segments)) {
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
    if (outcome == STATE_FETCHED)
        doc.NotifyItemState(item, STATE_LAUNCHING, 0);
    End(outcome);
}

void CItemFetch::Impl::End(int outcome)
{
    item->SetHandle(nullptr);
    result = outcome;
    // The outcome is posted once the record of what was kept is on disk.
    finished = !finalRecord || finalRecord->load();
}

} // namespace zorv

#pragma once
// The state of one item's fetch (engine/fetch.h), shared by its steps:
// CFetchState is one request's, with libcurl's header and write callbacks
// (fetchstate.cpp); CItemFetch::Impl is the whole fetch as a job of a
// transfer loop (fetch.cpp), its result and note made in fetchresult.cpp.
#include "engine/bufferedwriter.h"
#include "engine/digest.h"
#include "engine/fetch.h"
#include "engine/finalname.h"
#include "engine/loop.h"
#include "engine/notes.h"
#include "engine/partfile.h"
#include "engine/response.h"
#include "engine/resume.h"
#include "engine/segments.h"
#include "engine/serverlimits.h"
#include "settings/options.h"

#include <QFile>

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zorv {

using Clock = std::chrono::steady_clock;

// Progress notices of one item come at most this often.
inline constexpr auto kProgressInterval = std::chrono::milliseconds(100);
// ... and at least this often while nothing arrives, so that the speed falls.
inline constexpr auto kQuietProgressInterval = std::chrono::milliseconds(1000);


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
    // The writer's sink points at this state.
    CFetchState(const CFetchState&) = delete;
    CFetchState& operator=(const CFetchState&) = delete;

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
    std::string writeError;
    // The body of one connection on its way to the partial file.
    CBufferedWriter writer{[this](const char* data, std::size_t n) { return WriteOut(data, n); }};

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
        if (Clock::now() - lastNotice >= kQuietProgressInterval) {
            if (segments)
                SyncSegmentTotal();
            Progress(true);
        }
        if (rangeWriter) {
            rangeWriter->FlushIfHeld();
            segments->UpdateJournal();
            return;
        }
        writer.FlushIfHeld(Clock::now());
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
    bool Write(const char* data, size_t n) { return writer.Add(data, n, lastReceive); }
    bool WriteOut(const char* data, size_t n);
    bool Flush() { return writer.Flush(); }
    void Progress(bool force);
    void PublishProgress(Clock::time_point now);
    // The smoothed speed (bytes per second) and where its last measurement began.
    double speed = 0;
    Clock::time_point speedSince{};
    std::uint64_t speedBase = 0;
    // "total/length", with the resume remark and the one of a server that
    // refused an extra connection: the note of a transfer that ends.
    std::string Note() const
    {
        std::string text = ProgressText(total, length);
        if (keptBytes)
            text += " " + ResumedText(keptBytes);
        if (segments && segments->OneConnection())
            text += std::string(" ") + kOneConnectionRemark;
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

size_t HeaderCallback(char* buffer, size_t size, size_t nitems, void* userdata);
size_t WriteCallback(char* ptr, size_t size, size_t nmemb, void* userdata);


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
bool MustRestart(const CFetchState& st, const CTransferEnd& end);


// One item's fetch on a transfer loop: the checks before any request, the
// request (again from the beginning when the server refuses the rest), the
// ranges of a split file and the result. Every step runs on the loop's
// thread; nothing in it waits.
class CItemFetch::Impl final : public CLoopClient {
public:
    Impl(const ItemPtr& fetched, CZorvDoc& owner, CTransferLoop& on, const CFetchLimits& fetchLimits,
         CSegmentBoard* rangeBoard)
        : item(fetched), doc(owner), loop(on), limits(fetchLimits), board(rangeBoard), params(fetched->FetchParams()),
          net(Options().NetSnapshot()), transfer(loop.Multi())
    {
    }
    ~Impl() override
    {
        digestCheck.reset(); // stops the hashing thread and waits for it
        if (serverTurn)
            CServerLimits::Global().Leave(params.url);
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
    bool serverTurn = false; // counted among the running fetches of its server
    bool serverWait = false; // waits for the server's one fetch at a time
    bool ranges = false;  // the request ended; the ranges of the file run
    std::unique_ptr<CRangeJob> ownRange; // the range this fetch runs itself
    Clock::time_point start{};
    bool connected = false;
    bool finished = false;
    int result = STATE_FAILED;
    std::shared_ptr<const std::atomic<bool>> finalRecord; // the record written at the end
    // The complete file's check against its server's digest, while it runs;
    // the algorithm's name and the note of the complete file meanwhile.
    std::unique_ptr<CDigestCheck> digestCheck;
    const char* digestName = "";
    std::string fetchedNote;

private:
    void Fail(std::string note)
    {
        item->SetHandle(nullptr);
        item->SetNote(std::move(note));
        finished = true;
    }
    void StartRequest();
    // The first request, once the server lets this fetch in (engine/serverlimits.h).
    void StartWhenServerFree();
    void EndRequest();
    void StopRequest()
    {
        loop.Remove(easy);
        running = false;
        EndRequest();
    }
    void TickRanges();
    void EndRanges();
    // Removes the partial file's record, unless there is none to remove:
    // none was there when the fetch began and this fetch queued none (the
    // item's claim keeps every other fetch of the list from writing one).
    // The outcome waits for an update that was being synced to drop its
    // staged file, so that nothing of the record is left once it is posted.
    void RemoveRecord()
    {
        const bool none = resume.noRecord && attempt && (!attempt->journal || !attempt->journal->Queued());
        if (none)
            return;
        if (auto syncing = RemovePartRecord(target.partPath))
            finalRecord = std::move(syncing);
    }
    void Finish();
    void TickDigest();
    void Conclude(int outcome, const std::string& completeNote, bool written, bool discarded);
    void End(int outcome);
};


} // namespace zorv

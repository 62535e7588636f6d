#pragma once
// Segmented transfers: one large file fetched over several connections at
// once, each writing its byte range at its offset in the local file
// (segments.cpp: the ranges and the board; rangejob.cpp: the fetch of one
// range on the transfer loop).
//
// Free transfer slots only. The fetch that took the item (the owner) starts
// an ordinary open-ended request; when the server announced the length and
// range support and enough is left, the transfer is registered on the
// pool's CSegmentBoard. Every free slot of the pool takes a range at once
// (TakeRange: the second half of the largest range still being received,
// no piece under kMinSegment, at most MaxSegments ranges of one file
// running at once), so a file starts in as many ranges as there are free
// slots, and fetches it with a range request of its own (HTTP/1.1: a
// connection of its own). A writer stops where its range ends, which
// shrinks when another range is split off, so the owner's open-ended request
// ends where the next range begins. Every slot holds one transfer at a time,
// so a file never uses more connections than there are slots.
//
// A range whose fetch fails goes back to the record and is fetched again by
// whoever is free (the owner, which waits for the file, at the latest); only
// repeated failures without any progress fail the item. The item is fetched
// when every byte arrived. A server that answers a range on another
// connection with 403, 429 or 503 allows fewer connections than the file
// has: the file goes on over one connection (the running request whose
// reach covers the refused range takes it over; what is left is fetched one
// range at a time) without counting a failure, and its later files are not
// split (engine/serverlimits.h). The owner posts the item's notices, with the
// bytes of every range. A helping slot hands its range back as soon as the
// queue has an item, so that a busy queue behaves as without segments.
#include "engine/bufferedwriter.h"
#include "engine/fetch.h"
#include "engine/loop.h"
#include "engine/partfile.h"
#include "engine/requestoptions.h"
#include "model/doc.h"

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zorv {

// No range is split into pieces smaller than this.
inline constexpr std::uint64_t kMinSegment = 4 * 1024 * 1024;

// A Content-Range value, "bytes 100-199/1000": the first byte and the whole
// length (0 for "/*"); false when it does not parse.
bool ParseContentRange(std::string_view value, std::uint64_t& first, std::uint64_t& total);

// The byte ranges of one file being fetched by several workers.
class CSegmentedTransfer {
public:
    // `url`: the address that answered (after redirects); `validator`: its
    // ETag or Last-Modified, sent as If-Range (and compared with every
    // answer's) so that a changed file is not pieced together; `fd`: the
    // open local file; `done`: the bytes the file already holds. Every hole
    // of [0, length) that `done` leaves is a range to fetch; the owner
    // receives the one that begins at `bodyStart`.
    CSegmentedTransfer(ItemPtr item, std::string url, std::string referer, std::string validator,
                       std::string fileName, int fd, CRangeMap done, std::uint64_t bodyStart,
                       std::uint64_t length, int maxSegments);

    static constexpr int kOwnerSegment = 0;

    enum class WriteResult { Written, End, Failed };
    // Writes `n` bytes arriving for range `seg` at its position. End: the
    // range is complete (only the bytes up to its end were written; `used`
    // says how many); Failed: the write failed (WriteError).
    WriteResult Write(int seg, const char* data, std::size_t n, std::size_t& used);
    // The range `seg` now begins at, and its current end (exclusive).
    std::uint64_t Position(int seg) const;
    std::uint64_t End(int seg) const;

    // Takes a range to fetch: one handed back, else (with `split`) the
    // second half of the largest running range. -1 when there is none.
    int Take(bool split);
    // What Take(true) would offer: the bytes of the largest range on offer, 0 none.
    std::uint64_t Offer() const;
    // The fetch of `seg` ended; what it did not receive goes back to the
    // record. A failure counts against the file only when it brought no
    // byte; `error` and `detail` describe it (libcurl's code and text, or a
    // note of our own in `detail` with error 0).
    void Release(int seg, bool failed, int error = 0, std::string detail = {});
    // The request for `seg` was answered with 403, 429 or 503 (`status`).
    // While another range runs, that is a server refusing an extra
    // connection: the range goes back without counting as a failure, the
    // file goes on over one connection at a time (a running request whose
    // reach covers the range takes it over), and the server is remembered
    // (engine/serverlimits.h). With no other range running it is a failure
    // as any other refused range request (`detail`).
    void ReleaseRefused(int seg, unsigned status, std::string detail);
    // A server refused an extra connection: the file goes on over one.
    bool OneConnection() const;

    bool Complete() const;
    // Too many fetches failed without progress, or a write failed.
    bool Failed() const;
    void Stop(); // ends every range fetch (a cancel)
    bool Stopped() const;
    std::uint64_t Received() const; // body bytes of every range
    // The bytes of the file that are written: those it held and those
    // every range wrote.
    CRangeMap DoneMap() const;
    // The record of the partial file, brought up to date as ranges are written.
    void SetJournal(std::shared_ptr<CPartJournal> journal);
    // Brings the record up to date when that is due (any thread).
    void UpdateJournal();
    // A range came from a file other than the one being pieced together (its
    // validator differs): every range stops, and the fetch starts over.
    void MarkChanged();
    bool FileChanged() const;
    int RunningRanges() const;

    // A range request was answered with something else than that range.
    bool RangesRefused() const;
    int LastError() const;
    std::string LastDetail() const;
    std::string WriteError() const;

    const ItemPtr& Item() const { return m_item; }
    const std::string& Url() const { return m_url; }
    const std::string& Referer() const { return m_referer; }
    const std::string& Validator() const { return m_validator; }
    std::uint64_t Length() const { return m_length; }

private:
    struct Range {
        std::uint64_t start; // where the range began when it was made
        std::uint64_t begin; // where the current fetch of it started
        std::uint64_t pos;   // next byte to write (booked before the write)
        std::uint64_t done;  // [start, done) is written
        std::uint64_t end;   // exclusive
        bool running;
        std::uint64_t reach; // what its request asked for ends here (the owner's: the file's end)
    };
    // One connection at a time: running ranges take over the ranges that
    // follow them within their reach.
    void Absorb();
    int CountRunning() const;

    const ItemPtr m_item;
    const std::string m_url;
    const std::string m_referer;
    const std::string m_validator;
    const std::string m_fileName;
    const int m_fd;
    const CRangeMap m_done;
    const std::uint64_t m_length;
    std::uint64_t m_missing = 0; // bytes of every hole
    std::shared_ptr<CPartJournal> m_journal;
    const int m_maxSegments;

    mutable std::mutex m_lock;
    std::vector<Range> m_ranges;
    std::uint64_t m_received = 0;
    int m_barrenFailures = 0; // failures in a row that brought nothing
    bool m_rangesRefused = false;
    bool m_oneConnection = false; // a server refused an extra connection
    bool m_fileChanged = false;
    bool m_stopped = false;
    int m_lastError = 0;
    std::string m_lastDetail;
    std::string m_writeError;
};

// The bytes arriving for one range, gathered by a CBufferedWriter and
// written at the range's position. Bytes past the range's end, which may
// shrink meanwhile, are dropped when written.
class CRangeWriter {
public:
    CRangeWriter(CSegmentedTransfer& transfer, int seg);
    CRangeWriter(const CRangeWriter&) = delete;
    CRangeWriter& operator=(const CRangeWriter&) = delete;
    // False when the transfer should stop receiving: the range is complete
    // (ReachedEnd) or a write failed (Failed).
    bool Add(const char* data, std::size_t n) { return m_writer.Add(data, n, std::chrono::steady_clock::now()); }
    // Writes what is gathered; false as Add. Call it when the fetch ends,
    // however it ended, so that every byte received is kept.
    bool Flush() { return m_writer.Flush(); }
    // Flush, when the oldest byte gathered waited kMaxBufferHold.
    void FlushIfHeld() { m_writer.FlushIfHeld(std::chrono::steady_clock::now()); }
    bool ReachedEnd() const { return m_end; }
    bool Failed() const { return m_failed; }

private:
    bool Put(const char* data, std::size_t n);
    CSegmentedTransfer& m_transfer;
    const int m_seg;
    bool m_end = false;
    bool m_failed = false;
    CBufferedWriter m_writer; // last: its sink uses the members above
};

// The fetch of one range of a transfer on a transfer loop: a range request
// of its own (HTTP/1.1, so on a connection of its own), written at its
// offsets; the range is released when the request ends. Tick looks at a
// cancel of the item, a stop of the transfer and a hand-back.
class CRangeJob final : public CLoopClient {
public:
    CRangeJob(CTransferLoop& loop, std::shared_ptr<CSegmentedTransfer> transfer, int seg, const CFetchLimits& limits);
    ~CRangeJob() override;
    CRangeJob(const CRangeJob&) = delete;
    CRangeJob& operator=(const CRangeJob&) = delete;

    void Start();
    // `yield`: hand the rest of the range back now.
    void Tick(bool yield);
    bool Finished() const { return m_finished; }
    void Done(CURLcode rc) override;

private:
    void Finish(CURLcode rc);
    struct State;
    CTransferLoop& m_loop;
    std::shared_ptr<CSegmentedTransfer> m_transfer;
    const int m_seg;
    const CFetchLimits m_limits;
    CURL* m_easy = nullptr;
    std::unique_ptr<State> m_state;
    bool m_running = false;
    bool m_finished = false;
};

// The pool's register of segmented transfers.
class CSegmentBoard {
public:
    // `wake` wakes an idle worker (the pool's wake event).
    explicit CSegmentBoard(std::function<void()> wake) : m_wake(std::move(wake)) {}

    // The number of workers the pool is heading for: with one, nobody can
    // help, and no transfer is registered (its writes stay buffered).
    void SetWorkers(int n) { m_workers.store(n); }

    // Registers the transfer when it qualifies: more than one worker, a
    // known length, a final response 200 or 206 from an HTTP server that
    // announced range support (Accept-Ranges: bytes, or a 206) and sent a
    // validator (a strong ETag, else Last-Modified: without one a changed
    // file could not be told), at least two minimum pieces left or more
    // than one hole in `done`, more than one segment allowed, and a server
    // not known to refuse extra connections. Null when
    // it does not. The validator goes with every range request as If-Range.
    std::shared_ptr<CSegmentedTransfer> Offer(const ItemPtr& item, CURL* easy, const std::string& headers,
                                              unsigned status, int fd, const std::string& fileName,
                                              const CRangeMap& done, std::uint64_t bodyStart, std::uint64_t length,
                                              const std::string& referer, const std::string& validator,
                                              int maxSegments);
    // Forgets the transfer. When its server refused a range request, later
    // fetches of that address are not split (a retry then succeeds over one
    // connection).
    void Withdraw(const std::shared_ptr<CSegmentedTransfer>& transfer);

    // For a free transfer slot: takes a range of the transfer with the
    // largest range on offer (null, -1 when none).
    std::pair<std::shared_ptr<CSegmentedTransfer>, int> TakeRange();

private:
    std::function<void()> m_wake;
    std::atomic<int> m_workers{0};
    std::mutex m_lock;
    std::vector<std::shared_ptr<CSegmentedTransfer>> m_transfers;
    std::set<std::string> m_noRanges; // addresses whose server refused a range
};

// A header's value in a raw header block (the last one of that name), empty
// when absent.
std::string HeaderValue(const std::string& headers, std::string_view name);

} // namespace zorv

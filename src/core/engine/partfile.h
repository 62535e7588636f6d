#pragma once
// What a partial file (NAME.part) keeps about the transfer that wrote it:
// the record NAME.part.meta beside it, with the URL, the server's validator
// of the file, for FTP the file's size and date, the whole length when known,
// and the map of the byte ranges of NAME.part that are known to be on disk.
//
// A later fetch trusts only that map: it asks for exactly the bytes the map
// lacks. A record that is missing, damaged, of another version or too large
// is no map at all, and the fetch starts over; the partial file's length
// says nothing (a killed segmented transfer leaves a sparse file).
//
// The record is replaced atomically, after the data it describes: the
// partial file's data is synced (fdatasync), then NAME.part.meta.tmp is
// created (O_EXCL, never through a link), written, synced and renamed over
// NAME.part.meta. CPartJournal does that every kJournalInterval while a
// transfer runs and at every stop.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorv {

// Byte ranges [begin, end) of one file: sorted, disjoint, never empty, and
// joined where they touch.
class CRangeMap {
public:
    using Range = std::pair<std::uint64_t, std::uint64_t>;

    void Add(std::uint64_t begin, std::uint64_t end);
    void Add(const CRangeMap& other);
    const std::vector<Range>& Ranges() const { return m_ranges; }
    bool Empty() const { return m_ranges.empty(); }
    std::uint64_t Bytes() const;
    // The end of the range that starts at 0; 0 when none does.
    std::uint64_t PrefixEnd() const;
    // The end of the last range; 0 when empty.
    std::uint64_t End() const;
    // The bytes of [0, length) not in the map.
    std::vector<Range> Holes(std::uint64_t length) const;
    bool operator==(const CRangeMap&) const = default;

private:
    std::vector<Range> m_ranges;
};

struct CPartRecord {
    std::string url;          // the item's URL when written (FTP goes on only from the same URL)
    std::string validator;    // strong ETag, else Last-Modified; empty when none (HTTP: no resume)
    std::int64_t ftpSize = -1; // FTP: the file's SIZE, -1 unknown
    std::int64_t ftpTime = -1; // FTP: the file's MDTM (seconds since 1970), -1 unknown
    std::uint64_t length = 0; // the whole file, 0 unknown
    CRangeMap done;
};

// The record as text, and back. The reader is strict: anything it does not
// know, a range outside the length, or text past the limit is no record.
inline constexpr std::size_t kMaxPartRecord = 64 * 1024;
std::string FormatPartRecord(const CPartRecord& record);
std::optional<CPartRecord> ParsePartRecord(std::string_view text);

std::string PartRecordPath(const std::string& partPath);

// Reads the record of `partPath`. Without a trustworthy one: nullopt. A
// record path that is a link or not this user's regular file puts a note
// in *problem (the fetch fails rather than use or replace it). *absent (when
// given) says whether there is no record file at all.
std::optional<CPartRecord> ReadPartRecord(const std::string& partPath, std::string* problem, bool* absent = nullptr);
// Writes the record atomically (see above; the partial file's data must be
// synced first). False when it could not: only the resume is lost.
bool WritePartRecord(const std::string& partPath, const CPartRecord& record);
// Removes the record (and a staged one). Non-null while an update of it is
// still being synced: the flag turns true once that left no file behind.
std::shared_ptr<const std::atomic<bool>> RemovePartRecord(const std::string& partPath);

// The validator of a response: a strong ETag, else Last-Modified.
std::string ResponseValidator(const std::string& etag, const std::string& lastModified);

// How often the record of a running transfer is brought up to date. A kill
// loses the bytes received since the last update (they are fetched again),
// so it is short; each update costs an fdatasync of what arrived meanwhile,
// and where that takes long (a fast transfer to a slow disk) the next update
// waits kSyncShare times as long, so that syncing never takes more than a
// small share of the transfer's time.
inline constexpr auto kJournalInterval = std::chrono::milliseconds(250);
inline constexpr int kSyncShare = 5;
// The first update comes sooner: a server's first burst is often most of
// what a short run receives.
inline constexpr auto kFirstJournal = std::chrono::milliseconds(50);
// Received bytes stay in a writer's buffer at most this long, so that the
// record's updates find them in the file.
inline constexpr auto kMaxBufferHold = std::chrono::milliseconds(100);

// The record of one running transfer. Update, on the transfer loop's
// thread, takes the map and hands the sync to the record syncer
// (engine/recordsync.h): the partial file's data is synced and the record
// replaced there, never on the loop.
class CPartJournal : public std::enable_shared_from_this<CPartJournal> {
public:
    // `fd`: the open partial file, whose data is synced before each update.
    CPartJournal(std::string partPath, CPartRecord base, int fd);
    ~CPartJournal();
    CPartJournal(const CPartJournal&) = delete;
    CPartJournal& operator=(const CPartJournal&) = delete;
    // True when the last update is kJournalInterval ago (the first one:
    // kFirstJournal after the journal began) and none is on its way.
    bool Due() const;
    // Queues an update with the map `done()` returns (asked now: every byte
    // it names is written). Unless `force`, nothing happens when it is not
    // due. The flag returned (null: nothing queued) turns true once the
    // update is on disk or was dropped.
    std::shared_ptr<const std::atomic<bool>> Update(const std::function<CRangeMap()>& done, bool force);
    // Whether any update was queued (a record may be on disk).
    bool Queued() const { return m_queued.load(); }
    const std::string& PartPath() const { return m_partPath; }
    // On the syncing thread: syncs the data, stages the record and lets
    // `commit(staged)` decide whether it replaces the old one.
    void Sync(const CPartRecord& record, const std::function<bool(bool)>& commit);

private:
    const std::string m_partPath;
    const CPartRecord m_base;
    const int m_fd;
    std::atomic<bool> m_pending{false};
    std::atomic<bool> m_queued{false};
    std::atomic<std::int64_t> m_last; // steady clock, milliseconds
    std::atomic<std::int64_t> m_gap{kJournalInterval.count()}; // until the next update
};

// The two halves of WritePartRecord: the new record written and synced
// beside the old one (NAME.part.meta.tmp), then renamed over it (`keep`) or
// thrown away.
bool StagePartRecord(const std::string& partPath, const CPartRecord& record);
bool CommitPartRecord(const std::string& partPath, bool keep);

} // namespace zorv

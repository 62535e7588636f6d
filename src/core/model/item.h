#pragma once
// CItem: one entry of the URL list (URL, referrer, destination folder, file
// name, state) and the operations on one entry: the URL check, the local name
// derived from the URL, the list-file record and the sort comparators.
//
// Threads. The list (CZorvDoc) owns its items through shared pointers; a
// worker that holds an item keeps it alive even if the list drops it. The UI
// thread writes the text fields; a worker reads them through FetchParams(),
// under the item's lock, and UI code that changes a text field of an item
// that may be in progress holds Lock(). State, cancel flag and note are safe
// on any thread.
#include <QFile>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace zorv {

class CArchiveReader;
class CArchiveWriter;
class IPrompt;

// Item states (the value stored in m_nState and in the list file).
enum ItemState : int {
    STATE_NOT_FETCHED = 0,
    STATE_FETCHED = 1,
    STATE_FAILED = 2,
    STATE_INVALID_URL = 3,
    STATE_CONNECTING = 4,
    STATE_FETCHING = 5,
    STATE_PREPARING = 6,
    STATE_LAUNCHING = 7,
};
inline constexpr int kStateCount = 8;

// Column numbers shared by the display texts, the comparators and the sort
// commands.
enum Column : int {
    COL_URL = 0,
    COL_STATE = 1,
    COL_NOTE = 2,
    COL_DESTINATION = 3,
    COL_FILENAME = 4,
    COL_REFERER = 5,
};
inline constexpr int kColumnCount = 6;

// Display text of a state ("未取得", ...); empty for a value outside 0–7.
const std::string& StateName(int state);
// The state column of a paused item that waits in the queue.
inline constexpr const char* kPausedStateName = "一時停止";

// Something a Cancel must interrupt: the transfer that is running for the
// item. Abort() may be called from any thread while the transfer runs; the
// transfer layer clears the slot (SetHandle(nullptr)) before it destroys the
// object.
class CTransferHandle {
public:
    virtual ~CTransferHandle() = default;
    virtual void Abort() noexcept = 0;
};

// Raised when the local file cannot be created; what() names the file and
// the cause.
class CFileException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a fetch needs of an item, copied under the item's lock.
struct CFetchParams {
    std::string url;
    std::string referer;
    std::string destination;
    std::string fileName;
    std::string localPath;
};

// The folder an item gets when it names none and DefaultDestination is
// empty: the window sets the user's download folder at start-up; unset (the
// headless commands) it is the current folder (looked up once per run).
void SetFallbackDestination(std::string folder);
// DefaultDestination, or the fallback when that is empty.
std::string DefaultItemDestination();

// The file a fetch writes while it runs: NAME.part next to NAME. It is
// renamed onto NAME once the transfer is complete. Which of its bytes are
// good is recorded next to it (engine/partfile.h), not told by its size.
std::string PartialPath(const std::string& localPath);

// Which file a path named when it was opened: device and inode (zero on
// systems without them).
struct CFileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const CFileIdentity&) const = default;
};
// True when `path` itself (not a link's target) is still the file `id`.
bool IsSameFileAt(const std::string& path, const CFileIdentity& id);
// Why `path` must not be written to or read from as one of the fetch's own
// files: it is a symbolic link, not a regular file, or another user's file.
// Empty when it is fine to use or does not exist.
std::string UnusableFileProblem(const std::string& path);

class CItem {
public:
    // Destination = DefaultItemDestination(), every other text empty, state 0.
    CItem();
    // Destination empty → DefaultItemDestination(); level < 0 → DefaultFnameLevel;
    // file name empty → derived from the URL with the level (MakeLocalName).
    CItem(std::string url, std::string referer, std::string destination, std::string fileName,
          int level);
    CItem(const CItem&) = delete;
    CItem& operator=(const CItem&) = delete;

    // TRUE for http, https and ftp URLs with a host and no control
    // character (a blank is allowed: the fetch sends it as %20).
    static bool IsValidUrl(std::string_view url);
    // The server of a URL as one text, "scheme://host:port" in lower case
    // with the scheme's port filled in (user and password left out); empty
    // when the URL has no "://".
    static std::string ServerOf(std::string_view url);

    // File name from the last URL segment; `level` URL directories above it
    // are appended to the destination as subfolders.
    void MakeLocalName(int level);
    // Derives a missing file name with DefaultFnameLevel; always true.
    bool FillFileName();
    // Makes sure the destination folder exists (UI thread). Trailing
    // separators are removed first ("/" alone stays), setting `changed`
    // (left alone otherwise). A missing folder (a file of that name counts
    // as missing) is created only when the user agrees. Answers IDOK (it
    // exists, nothing asked), IDYES (created, or creation failed and the
    // user goes on), IDNO (not created, the user goes on) or IDCANCEL (the
    // user stops). Defined in destination.cpp.
    int CheckDestination(IPrompt& prompt, bool& changed);
    std::string GetColumnText(int column) const;

    void SetState(int state) { m_nState.store(state, std::memory_order_release); }
    int GetState() const { return m_nState.load(std::memory_order_acquire); }
    bool IsSettled() const
    {
        const int s = GetState();
        return s >= 0 && s <= 3;
    }

    void SetNote(std::string note);
    std::string GetNote() const;

    // Progress of the running transfer: bytes of the file so far (resumed
    // bytes included), the whole length (0 = unknown), the bytes the transfer
    // resumed from, and a smoothed speed in bytes per second. The transfer
    // thread writes it; any thread reads it (the fields are read one by one,
    // so a reader may see two successive updates mixed).
    struct CProgress {
        std::uint64_t received = 0;
        std::uint64_t total = 0;
        std::uint64_t resumedFrom = 0;
        std::uint64_t bytesPerSecond = 0;
    };
    void SetProgress(const CProgress& progress);
    CProgress Progress() const;

    // The transfer a Cancel must interrupt (null: none).
    void SetHandle(CTransferHandle* handle);
    // Sets the cancel flag, then interrupts the running transfer, if any.
    void Cancel();
    bool IsCancelled() const { return m_bCancelled.load(std::memory_order_acquire); }
    // Before a fetch begins: drops a cancel meant for an earlier fetch. An
    // item paused since it left the queue stays stopped for the pause.
    void ClearCancel();
    // Cancel for a pause: the transfer stops at once as with Cancel, its
    // partial data kept, and the result is handled as a pause (the item
    // goes back to its place in the queue, no failure counted).
    void StopForPause();
    bool IsStoppedForPause() const { return m_bPauseStop.load(); }
    // Paused by the user: kept in the queue but not taken until resumed
    // (CZorvDoc::SetPaused). Not stored in the list file.
    bool IsPaused() const { return m_bPaused.load(); }

    // A failed item queued again waits until its retry time before a
    // worker takes it (CZorvDoc::QueueRetry); the time lives for the run
    // only and is never stored in the list file.
    using RetryClock = std::chrono::steady_clock;
    // The time left of the wait at `now`; zero when the item does not wait.
    std::chrono::milliseconds RetryWaitLeft(RetryClock::time_point now = RetryClock::now()) const;
    // The wait a server asked for (Retry-After of a 429 or 503 answer) on the
    // item's last failed fetch. The transfer thread sets it; the UI thread
    // takes it (and so clears it) when it handles the failure.
    void SetServerRetryAfter(std::chrono::milliseconds wait) { m_nServerRetryAfter.store(wait.count()); }
    std::optional<std::chrono::milliseconds> TakeServerRetryAfter();

    // Destination, separator, file name.
    std::string LocalPath() const;
    // The local file as one text per file: the absolute, cleaned path (case
    // folded where the file system ignores case).
    static std::string LocalFileKey(const std::string& localPath);
    CFetchParams FetchParams() const;
    std::unique_lock<std::mutex> Lock() const { return std::unique_lock(m_lock); }

    // Why the local file cannot be named (no destination, no file name), as
    // OpenLocalFile words it; empty when it can.
    std::string LocalPathProblem() const;
    // Creates (or empties) the local file for writing. Throws CFileException.
    std::unique_ptr<QFile> OpenLocalFile() const;
    // Opens `localPath` for writing, never through a symbolic link and only
    // when it is a regular file of this user: created anew when `keep` is 0
    // (an earlier file of that name is removed first), otherwise opened as
    // it is with at least `keep` bytes; `cut` drops anything after them,
    // and the writing goes on after them. `identity` receives the file's
    // device and inode. Throws CFileException naming the file and the cause.
    static std::unique_ptr<QFile> OpenLocalFile(const std::string& localPath, std::uint64_t keep,
                                                bool cut = true, CFileIdentity* identity = nullptr);

    // The file name a fetch found for the item (the server's, or a free
    // one), to replace `from`. An offer of `from` still waiting is changed to
    // end at `to` (its own `from` stays). Any thread; the UI thread applies it.
    void OfferFileName(std::string from, std::string to);
    // UI thread: takes the offered name when the item still has the name it
    // replaces. True when the file name changed.
    bool ApplyOfferedFileName();

    // The list-file record: always written as schema 3; read as schema 2 or
    // 3 (any other schema reads nothing and keeps the defaults).
    static constexpr int kSchema = 3;
    void Serialize(CArchiveWriter& ar) const;
    void Serialize(CArchiveReader& ar, int schema);

    // Writes the record with `state` in place of the item's own state.
    void SerializeWithState(CArchiveWriter& ar, int state) const;

    // A number that identifies this item for the whole run, never reused.
    std::uint64_t Serial() const { return m_nSerial; }

    // Text fields (UTF-8). See the note on threads above.
    std::string m_strReferer;
    std::string m_strDestination;
    std::string m_strFileName;
    std::string m_strUrl;
    // Failed attempts since created, loaded or reset (UI thread only).
    unsigned m_nFailures = 0;

private:
    friend class CZorvDoc;
    friend class CItemNotices;

    std::atomic<int> m_nState{STATE_NOT_FETCHED};
    std::atomic<bool> m_bCancelled{false};
    std::atomic<bool> m_bPauseStop{false};    // the cancel is a pause
    std::atomic<bool> m_bPaused{false};       // written under the document lock
    std::atomic<bool> m_bUpdatePosted{false}; // a progress notice waits for the UI
    std::atomic<int> m_nNotifiedState{-1};    // the state of the last worker notice
    std::atomic<std::uint64_t> m_nReceived{0}, m_nTotal{0}, m_nResumedFrom{0}, m_nSpeed{0};
    // The end of the wait in milliseconds of RetryClock, 0 when none
    // (written under the document lock).
    std::atomic<std::int64_t> m_nRetryAt{0};
    std::atomic<std::int64_t> m_nServerRetryAfter{-1}; // milliseconds; -1: none
    mutable std::mutex m_lock; // text fields written while in progress, note, handle
    std::string m_strNote;
    CTransferHandle* m_hTransfer = nullptr;
    std::pair<std::string, std::string> m_offeredName; // from, to; under m_lock
    const std::uint64_t m_nSerial;

    // Owned by the document (UI thread / document lock).
    int m_nRow = -1;                           // row in the list, -1 when not in a list
    bool m_bQueued = false;                    // under the document lock
    std::list<std::shared_ptr<CItem>>::iterator m_queuePos{}; // valid while queued
};

} // namespace zorv

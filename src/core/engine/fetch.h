#pragma once
// FetchItem: the fetch of one item over HTTP, HTTPS or FTP with libcurl, into
// the item's local file, on the calling thread. CFetchSession is its
// transfer loop, reused from item to item so that connections are reused.
// CItemFetch is the same fetch as a job of a transfer loop that runs many
// (the pool's, engine/pool.h).
#include "engine/proxy.h"
#include "model/doc.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace zorv {

struct CNetSettings;
class CSegmentBoard;
class CTransferLoop;

// Limits of one transfer; the defaults are the program's, tests shorten them.
struct CFetchLimits {
    std::chrono::milliseconds connectTimeout{60000};
    std::chrono::milliseconds stallTimeout{60000}; // nothing received for this long fails the item
    std::chrono::milliseconds retrySecond{1000};   // a second of a server's Retry-After
};

class CFetchSession {
public:
    explicit CFetchSession(const CFetchLimits& limits = {});
    ~CFetchSession();
    CFetchSession(const CFetchSession&) = delete;
    CFetchSession& operator=(const CFetchSession&) = delete;

    // Drops open connections: the next fetch starts with a new transfer
    // handle (after a cancelled fetch).
    void Reset();
    const CFetchLimits& Limits() const { return m_limits; }

    struct Impl;

private:
    friend int FetchItem(CFetchSession& session, const ItemPtr& item, CZorvDoc& doc);
    CFetchLimits m_limits;
    std::unique_ptr<Impl> m_impl;
};

// A transfer loop's owner ticks its fetches at least this often (ms): a
// cancel, a stall and bytes waiting in a buffer are seen within it.
inline constexpr int kTickMs = 40;

// One item's fetch as a job of a transfer loop (the behaviour is
// FetchItem's, below). Start, then after every CTransferLoop::Perform
// Tick, until Finished; every call on the loop's thread, none of them
// waits. `board`: where a large file offers its ranges to free transfer
// slots (null: the file is fetched over one connection).
class CItemFetch {
public:
    CItemFetch(const ItemPtr& item, CZorvDoc& doc, CTransferLoop& loop, const CFetchLimits& limits,
               CSegmentBoard* board);
    ~CItemFetch();
    CItemFetch(const CItemFetch&) = delete;
    CItemFetch& operator=(const CItemFetch&) = delete;

    void Start();
    void Tick();
    bool Finished() const;
    // STATE_FETCHED or STATE_FAILED, once Finished.
    int Result() const;
    const ItemPtr& Item() const;

    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

// Fetches the item: announces 4 (connecting), 5 (fetching, with progress in
// the note) and 7 (complete) through doc.NotifyItemState, writes the note on
// failure, and returns the result, STATE_FETCHED or STATE_FAILED. The caller
// announces the result. Cancel() on the item ends the fetch promptly.
//
// Only a complete transfer is fetched: one that libcurl finished without an
// error and, where a length was announced, with that many bytes. A cancel,
// a stall, a cut connection (a chunked body without its last chunk, for
// example) or a failed write fails the item, whatever is already on disk.
//
// The body is written to the partial file (PartialPath) and renamed onto the
// local file only when the transfer is complete; a failed rename fails the
// item. A failed fetch leaves the partial file, and an earlier local file,
// as they are. With ResumePartial, a fetch whose partial file an earlier
// fetch left asks for the rest: HTTP with Range and If-Range (the validator
// that fetch kept; the item's URL may have changed since), FTP with REST
// (the same URL only). A 200 answer starts the file over; a 416 (or a range
// other than the one asked, of another length or validator, or FTP refusing
// the offset) makes one new request from the beginning. The note then carries
// "(N バイトから再開)", and its numbers count the whole file.
//
// A complete file whose server sent a digest (engine/digest.h) is checked
// against it on a hashing thread before it takes its name: a match adds
// "(SHA-256 確認済み)" (or SHA-512, MD5) to the note; a mismatch fails the
// item with "ダイジェストが一致しません" and discards the partial file and
// its record. A cancel during the check ends the item as any cancel does.
//
// With UseServerFileName, the file name of a Content-Disposition header
// replaces an item file name derived from the URL (not one the user typed):
// the file is written under the new name, and the item is offered it
// (CItem::OfferFileName; the UI thread applies it with the next notice).
//
// Two fetches never write one local file at once: a fetch whose local file
// another fetch of this process is writing fails at once, without any
// network access, with a note naming the file (the file keeps the other
// fetch's complete body; a retry fetches it again once that one is done).
// An item without a destination folder or a file name fails the same way.
int FetchItem(CFetchSession& session, const ItemPtr& item, CZorvDoc& doc);

// The note for a transfer that libcurl ended with `code` (`osError`: the
// system's error number libcurl saw, 0 when none): the common causes in
// Japanese with the code in parentheses ("接続を拒否されました (libcurl
// error 7)"); any other code as "libcurl error N: " and `detail` (libcurl's
// error buffer; its text for the code when empty).
std::string ClientErrorText(int code, long osError, std::string_view detail);


} // namespace zorv

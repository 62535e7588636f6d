#pragma once
// CWorkerPool: the fetch engine of a list. One transfer thread runs one
// transfer loop (engine/loop.h: a libcurl multi handle) for every transfer
// of the pool: it takes the next queued item of the document, fetches it as
// a CItemFetch job and records the result through CZorvDoc::NotifyItemState.
// Nothing on it touches a widget or waits for the disk beyond a page-cache
// write; the record of a partial file is synced on the syncing thread of
// engine/partfile.h.
//
// The "workers" are transfer slots: SetWorkerCount(n) allows n transfers at
// once. New slots take queued items at once; surplus slots leave when their
// transfer ends (a running fetch is never interrupted by it). A range of a
// split file takes a slot like an item: a slot with no queued item to take
// helps a running large transfer with one of its ranges (see
// engine/segments.h), and hands it back as soon as the queue has an item
// or the pool shrinks. A file whose length is known starts in as many
// ranges as there are free slots (up to MaxSegments) right away.
//
// Threads: the UI thread calls every public function; the transfer thread
// runs the loop; a Cancel (any thread) sets the item's flag and wakes the
// loop (curl_multi_wakeup), which ends the transfer, ranges included, at
// its next tick (kTickMs). Items of one HTTP/2 server share a connection;
// MaxConnectionsPerServer caps the connections to one host and port (one,
// and one item at a time, for a server that refused an extra connection
// with 429 or 503: engine/serverlimits.h).
#include "engine/fetch.h"
#include "engine/loop.h"
#include "engine/segments.h"
#include "model/doc.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zorv {

class CWorkerPool : public IFetchEngine {
public:
    // Installs itself as the document's engine.
    explicit CWorkerPool(CZorvDoc& doc);
    // Stops every worker, cancels their fetches and waits (bounded) for them.
    ~CWorkerPool() override;
    CWorkerPool(const CWorkerPool&) = delete;
    CWorkerPool& operator=(const CWorkerPool&) = delete;

    // Answers whether a dial-up connection is active (for the auto-start).
    void SetDialUpTest(std::function<bool()> isActive) { m_dialUpActive = std::move(isActive); }
    void SetLimits(const CFetchLimits& limits);

    void SetWorkerCount(int n);
    // "取得開始": as many workers as the setting Connections. "取得停止": none.
    void StartFetching();
    void StopFetching() { SetWorkerCount(0); }
    int LiveWorkers() const { return m_nLive.load(); }
    int ActiveFetches() const { return m_nActive.load(); }
    // The number of workers the pool is heading for.
    int TargetWorkers() const { return m_nTarget.load(); }
    // Cancels every item being fetched now.
    void CancelAllFetches();
    // "一時停止": every worker leaves and every running fetch stops at once
    // for a pause (CItem::StopForPause), its item going back to its place in
    // the queue with its partial data kept; also a fetch a worker takes
    // before it leaves. StartFetching (any SetWorkerCount above 0) goes on.
    void PauseAll();
    // Waits until no worker is alive; false on timeout.
    bool WaitUntilStopped(std::chrono::milliseconds timeout);
    // Stops for good: every worker leaves at once (idle ones do not wait out
    // their wake-up interval), running fetches are cancelled, and the threads
    // are joined. The pool cannot be started again.
    void Shutdown();
    // Workers holding an item (taken from the queue, result not yet posted).
    int HoldingWorkers() const { return m_nHolding.load(); }
    // The items being fetched now, in the order they were taken.
    std::vector<ItemPtr> ActiveItems() const;

    // IFetchEngine
    void Wake() override;
    void CheckAutoStart() override;
    void StopWorkers() override { SetWorkerCount(0); }
    void ReleaseItems() override;

private:
    struct Loop;
    void LoopThreadProc();
    // The loop thread's work between two waits.
    void Schedule(Loop& loop);
    void Reap(Loop& loop);
    void Settle(const ItemPtr& item, int result);
    void UpdateLive();

    CZorvDoc& m_doc;
    std::function<bool()> m_dialUpActive;

    std::atomic<int> m_nLive{0};
    std::atomic<int> m_nActive{0};
    std::atomic<int> m_nTarget{0};
    std::atomic<int> m_nBusy{0}; // slots with a transfer: items and helping ranges
    std::atomic<int> m_nHolding{0};

    // The worker lock: the active items, the pause, the limits, the live count.
    mutable std::mutex m_workerLock;
    std::condition_variable m_activeChanged; // an active item was released / a slot left
    std::vector<ItemPtr> m_active;
    bool m_bPausing = false; // PauseAll until transfers are wanted again
    bool m_bShutdown = false;
    CFetchLimits m_limits;

    CSegmentBoard m_board{[this] { Wake(); }};

    CTransferLoop m_transferLoop; // driven by the transfer thread only; Wakeup from any
    std::thread m_thread;
};

// Opens a fetched file as the settings say: nothing unless ExecAfterFetch is
// on; verb "open" opens it with the desktop's default application, any other
// verb runs the program of that name from PATH with the file as its only
// argument (never through a shell). A failed launch is ignored.
void LaunchFile(const std::string& path);
// How the verb "open" opens a file; the window installs the desktop's
// handler. Without one, "open" does nothing.
void SetOpenFileHandler(std::function<void(const std::string& path)> handler);

} // namespace zorv

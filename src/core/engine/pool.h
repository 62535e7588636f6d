#pragma once
// CWorkerPool: the fetch workers. Each worker is a thread that takes the next
// queued item of the document, fetches it (FetchItem) and records the result
// through CZorvDoc::NotifyItemState. Workers never touch a widget.
//
// SetWorkerCount brings the pool to n workers: new threads start at once;
// surplus workers leave when they next ask for work (a running fetch is never
// interrupted by it). Idle workers wait on the wake event for at most 1000 ms.
//
// A worker with no queued item to take helps a running large transfer with
// one of its ranges (see engine/segments.h), and hands the range back as
// soon as the queue has an item or the pool shrinks.
#include "engine/fetch.h"
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
    int TargetWorkers() const { return m_nLive.load() - m_nQuitRequests.load(); }
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
    void FetchThreadProc();
    // The next queued item; while there is none, helps segmented transfers
    // with `helpEasy` in `helpMulti`.
    ItemPtr GetNextItem(CURL* helpEasy, CURLM* helpMulti, const CFetchLimits& limits);
    void ReleaseHeld(const ItemPtr& item);
    bool TakeQuitRequest();

    CZorvDoc& m_doc;
    std::function<bool()> m_dialUpActive;

    std::atomic<int> m_nLive{0};
    std::atomic<int> m_nActive{0};
    std::atomic<int> m_nQuitRequests{0};
    std::atomic<int> m_nHolding{0};

    // The wake event: auto-reset, wakes one waiting worker.
    std::mutex m_wakeLock;
    std::condition_variable m_wakeCond;
    bool m_bWakeSignalled = false;
    bool m_bShutdown = false; // the pool is being destroyed: every idle worker wakes

    // The worker lock: the active items, the quit requests being raised.
    mutable std::mutex m_workerLock;
    std::condition_variable m_activeChanged; // an active item was released / a worker left
    std::vector<ItemPtr> m_active;
    bool m_bPausing = false; // PauseAll until workers are wanted again
    CFetchLimits m_limits;

    CSegmentBoard m_board{[this] { Wake(); }};

    // Worker threads; joined when they have left (and all of them on destruction).
    struct Worker;
    std::vector<std::unique_ptr<Worker>> m_workers;
    void ReapWorkers();
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

#pragma once
// CZorvDoc: the URL list. It owns the items in list order (row order = list
// order = saved order), keeps the pending queue the fetch workers take their
// work from, reads and writes the list file, and keeps the modified flag and
// the title. Adding URLs is model/adder.h, numbered patterns model/pattern.h,
// the automatic save model/autosave.h, the workers' notices model/notices.h.
//
// Threads. Everything here runs on the UI thread except PopPending (workers),
// the pending count read of GetItemCount, AnyItem and ListFileKey. The
// document lock guards the pending queue, changes of the list's order and
// membership (which AnyItem reads) and the list file's key; it is never held
// while calling out.
#include "model/autosave.h"
#include "model/item.h"
#include "model/notices.h"

#include <QString>

class QObject;

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zorv {

// Told about every change of the list, in the shape a Qt item model needs.
// Begin/End calls come in pairs; rows are list positions.
class IDocObserver {
public:
    virtual ~IDocObserver() = default;
    virtual void OnBeginInsert(int /*first*/, int /*last*/) {}
    virtual void OnEndInsert() {}
    virtual void OnBeginRemove(int /*first*/, int /*last*/) {}
    virtual void OnEndRemove() {}
    // The order of rows changes (move, sort). oldToNew[i] is the new row of
    // the item that was at row i.
    virtual void OnBeginReorder() {}
    virtual void OnEndReorder(const std::vector<int>& /*oldToNew*/) {}
    virtual void OnBeginReset() {}
    virtual void OnEndReset() {}
    // A row's texts changed (state, note, fields).
    virtual void OnItemChanged(int /*row*/) {}
    virtual void OnTitleChanged() {}
    // An automatic save failed; `error` names the file and the cause. Told
    // once for a run of failures (a later successful save re-arms it); the
    // list stays modified meanwhile.
    virtual void OnAutoSaveFailed(const QString& /*error*/) {}
};

// The fetch engine as the document sees it. Installed by the run that fetches
// (window or headless fetch); without one, queueing only queues.
class IFetchEngine {
public:
    virtual ~IFetchEngine() = default;
    // Wakes one idle worker (the wake event).
    virtual void Wake() = 0;
    // Called after an item entered the pending queue.
    virtual void CheckAutoStart() = 0;
    // Asks every worker to leave (worker count 0).
    virtual void StopWorkers() = 0;
    // Cancels every running fetch and waits, bounded, until no worker holds
    // an item of this document.
    virtual void ReleaseItems() = 0;
};

using ItemPtr = std::shared_ptr<CItem>;

class CZorvDoc {
public:
    CZorvDoc();
    ~CZorvDoc();
    CZorvDoc(const CZorvDoc&) = delete;
    CZorvDoc& operator=(const CZorvDoc&) = delete;

    void AddObserver(IDocObserver* observer);
    void RemoveObserver(IDocObserver* observer);
    void SetEngine(IFetchEngine* engine) { m_pEngine = engine; }
    IFetchEngine* Engine() const { return m_pEngine; }

    // ---- the list -------------------------------------------------------
    int GetCount() const { return static_cast<int>(m_items.size()); }
    CItem* GetItem(int row) const { return m_items[static_cast<size_t>(row)].get(); }
    ItemPtr GetItemPtr(int row) const { return m_items[static_cast<size_t>(row)]; }
    // Row of an item of this list, -1 when it is not (or no longer) in it.
    int RowOf(const CItem* item) const;
    // Appends a row for the item; false (nothing inserted) when it cannot.
    bool AppendItem(ItemPtr item);
    // Appends many items at once (one insertion notice); queues those in
    // state 0 when `queue` is set.
    void AppendItems(std::vector<ItemPtr> items, bool queue);
    // Removes the given rows (any order, duplicates ignored): each item is
    // taken out of the pending queue first.
    void RemoveItems(std::vector<int> rows);
    // Removes every row (and empties the pending queue).
    void RemoveAllItems();
    // Puts the rows in a new order: newOrder[k] is the old row that goes to
    // row k (a permutation). The pending queue is put in the new list order.
    void Reorder(const std::vector<int>& newOrder);
    // Tells the observers that a row's texts changed.
    void UpdateItem(const CItem* item);
    // Any thread: calls `test` for the items of the list, under the document
    // lock, until it answers true; true when it did. `test` reads the items
    // (through their own lock) and must not call the document.
    bool AnyItem(const std::function<bool(const CItem&)>& test) const;

    // ---- adding and the pending queue -----------------------------------
    // Validates the first line of `url`, creates the item, appends and
    // queues it. Null when the URL is refused. Does not mark the list modified.
    CItem* AddUrl(const std::string& url, const std::string& referer,
                  const std::string& destination, const std::string& fileName, int level);
    void QueuePending(CItem* item);
    // QueuePending for many items, in the given order, under one lock: the
    // workers are woken once per item, the automatic start checked once.
    void QueuePendingItems(const std::vector<CItem*>& items);
    // Worker side: the first queued item that is neither paused nor waiting
    // for its retry time, or null. Waits that have passed end first.
    ItemPtr PopPending();
    // Queues a failed item at the tail, to be taken once `at` has passed;
    // meanwhile it counts as queued (commands, pauses and the counts treat
    // it as any queued item). Leaving the queue ends its wait.
    void QueueRetry(CItem* item, CItem::RetryClock::time_point at);
    // Every queued item of `server` (CItem::ServerOf) waits at least until
    // `at` (a server that asked for a pause).
    void DelayServer(const std::string& server, CItem::RetryClock::time_point at);
    // Worker side: queued items that may be taken now (not paused, not
    // waiting; no lock), and the earliest end of a wait among the queued
    // items (nothing when none waits).
    int ReadyCount() const { return m_nReady.load(); }
    std::optional<CItem::RetryClock::time_point> NextRetry() const;
    // Queued items waiting for their retry time.
    int WaitingCount() const;
    // Pauses or resumes an item of the list. A paused item keeps its place
    // in the queue (or gets it back when its stopped fetch ends) and is not
    // taken until resumed; resuming wakes the workers.
    void SetPaused(CItem* item, bool paused);
    // Queues the item at its list position: before the first queued item
    // below it, else at the tail.
    void QueueInPlace(CItem* item);
    bool RemovePending(CItem* item);
    // Queues `item` in front of queued `before` (null: at the tail; `before`
    // not queued: at the head). True, and nothing done, when before == item.
    bool InsertPending(CItem* before, CItem* item);
    // pendingOnly: number of queued items, paused ones not counted (waiting
    // ones are: no lock); else number of rows.
    int GetItemCount(bool pendingOnly) const;
    bool IsQueued(const CItem* item) const;
    // The queued items, head first (a copy; for tests and diagnostics).
    std::vector<CItem*> PendingItems() const;

    // ---- worker notices (any thread) ------------------------------------
    // Posted and coalesced by CItemNotices (model/notices.h); these are the
    // names the engine calls it by.
    void SetEventReceiver(QObject* receiver) { m_notices.SetReceiver(receiver); }
    void NotifyItemState(const ItemPtr& item, int state, std::uint64_t bytes) { m_notices.Post(item, state, bytes); }
    static void UpdateHandled(CItem* item) { CItemNotices::UpdateHandled(item); }
    void ModifiedNoticeHandled() { m_notices.ModifiedNoticeHandled(); }
    std::uint64_t TakeTraffic() { return m_notices.TakeTraffic(); }

    // ---- the list file --------------------------------------------------
    // New list: empty, no path, not modified.
    bool OnNewDocument();
    // Loads `path`. On failure the list is left empty (a new list) and
    // *error names the file and the cause.
    bool OnOpenDocument(const QString& path, QString* error);
    // Saves atomically to `path` (a failed save leaves the old file whole);
    // on success the document takes the path and is not modified.
    bool OnSaveDocument(const QString& path, QString* error);
    // Saves the list to `path` the same way, as a copy: the document keeps
    // its path and its modified flag.
    bool SaveCopy(const QString& path, QString* error) const;
    // Stops the workers, empties the list without saving.
    void OnCloseDocument();
    // Empties the list and the queue (no worker holds an item afterwards).
    void DeleteContents();

    // The whole file image of the list / the list from a file image.
    QByteArray SaveToBytes() const;
    // Replaces the list with the file image (nothing changed on failure).
    bool LoadFromBytes(const QByteArray& bytes, QString* cause);

    const QString& GetPathName() const { return m_strPathName; }
    void SetPathName(const QString& path);
    // Any thread: CItem::LocalFileKey of the list file; empty while the list
    // has none.
    std::string ListFileKey() const;

    // ---- modified flag and title ----------------------------------------
    // With AutoSave on and a path known, marking modified saves the list
    // (see CAutoSave).
    void SetModifiedFlag(bool modified = true);
    CAutoSave& AutoSave() { return m_autoSave; }
    // The state an item being fetched is saved with: failed (the default),
    // or not fetched for a run whose list must stay fetchable after a kill.
    void SetInProgressSaveState(int state) { m_inProgressSaveState = state; }
    bool IsModified() const { return m_bModified.load(); }
    // A list is being read in place of this one (its old items are still shown).
    bool IsLoading() const { return m_bLoading; }
    // The list's name (file name, or "無題"), with " *" while modified.
    QString GetTitle() const;

private:
    // Sets m_strPathName and the list file's key.
    void StorePathName(const QString& path);
    void Renumber(int from);
    void QueueLocked(const ItemPtr& item);
    void QueueBeforeLocked(const ItemPtr& item, std::list<ItemPtr>::iterator pos);
    void UnqueueLocked(CItem* item);
    void StorePendingCountLocked();
    // A queued item the workers may not take: paused or waiting.
    static bool Blocked(const CItem* item) { return item->IsPaused() || item->m_nRetryAt.load() != 0; }
    // Sets (0: clears) the end of an item's wait, keeping the counts.
    void SetRetryAtLocked(CItem* item, std::int64_t at);
    void ReleaseDueRetriesLocked();
    // Empties the pending queue (the items stay in the list).
    void ClearQueueLocked();
    void NotifyTitle();
    bool AutoSaveEnabled() const;

    template <typename F>
    void ForEachObserver(F&& f)
    {
        for (IDocObserver* o : m_observers)
            f(*o);
    }

    // Appends the items of a list just read, with its queue built already
    // (the items' queue positions point into `queue`).
    void AppendLoaded(std::vector<ItemPtr> items, std::list<ItemPtr> queue);
    // Frees the items of a list that was emptied. A long list takes tens of
    // milliseconds to free: that happens on a thread of its own, joined by
    // the next such list or the document's end, not on the UI thread.
    void DisposeItems(std::vector<ItemPtr> items);

    std::vector<ItemPtr> m_items;
    std::thread m_disposer;
    std::vector<IDocObserver*> m_observers;
    IFetchEngine* m_pEngine = nullptr;

    mutable std::mutex m_lock; // the document lock: see "Threads" above
    std::string m_listFileKey; // under the document lock
    std::list<ItemPtr> m_pending;
    std::atomic<int> m_nPending{0}; // queued and not paused
    std::atomic<int> m_nReady{0};   // queued, not paused and not waiting
    size_t m_nPausedQueued = 0;     // under the document lock
    size_t m_nBlockedQueued = 0;    // paused or waiting; under the document lock
    std::vector<CItem*> m_waiting;  // queued items with a wait; under the document lock

    QString m_strPathName;
    std::atomic<bool> m_bModified{false};
    CItemNotices m_notices{m_bModified};
    bool m_bLoading = false; // no automatic save while a list is being replaced
    int m_inProgressSaveState = STATE_FAILED;
    CAutoSave m_autoSave;
};

} // namespace zorv

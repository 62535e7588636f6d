#include "model/doc.h"

#include "model/adder.h"
#include "model/archive.h"
#include "model/text.h"
#include "settings/options.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace zorv {

CZorvDoc::CZorvDoc()
    : m_autoSave([this](QString* error) { return OnSaveDocument(m_strPathName, error); },
                 [this] { return m_bModified.load() && AutoSaveEnabled(); },
                 [this](const QString& error) { ForEachObserver([&](IDocObserver& o) { o.OnAutoSaveFailed(error); }); })
{
}

CZorvDoc::~CZorvDoc()
{
    if (m_pEngine) {
        m_pEngine->StopWorkers();
        m_pEngine->ReleaseItems();
    }
    if (m_disposer.joinable())
        m_disposer.join();
}

void CZorvDoc::DisposeItems(std::vector<ItemPtr> items)
{
    constexpr size_t kLongList = 10000;
    if (items.size() < kLongList)
        return; // freed here, at once
    if (m_disposer.joinable())
        m_disposer.join();
    m_disposer = std::thread([old = std::move(items)]() mutable { old.clear(); });
}

void CZorvDoc::AddObserver(IDocObserver* observer)
{
    m_observers.push_back(observer);
}

void CZorvDoc::RemoveObserver(IDocObserver* observer)
{
    std::erase(m_observers, observer);
}

// ---- the list ---------------------------------------------------------------

int CZorvDoc::RowOf(const CItem* item) const
{
    if (!item)
        return -1;
    const int row = item->m_nRow;
    if (row < 0 || row >= GetCount() || m_items[static_cast<size_t>(row)].get() != item)
        return -1;
    return row;
}

void CZorvDoc::Renumber(int from)
{
    for (size_t i = static_cast<size_t>(from); i < m_items.size(); ++i)
        m_items[i]->m_nRow = static_cast<int>(i);
}

bool CZorvDoc::AppendItem(ItemPtr item)
{
    if (!item || item->m_nRow >= 0 || m_items.size() >= static_cast<size_t>(INT32_MAX))
        return false;
    const int row = GetCount();
    ForEachObserver([&](IDocObserver& o) { o.OnBeginInsert(row, row); });
    item->m_nRow = row;
    {
        std::scoped_lock lock(m_lock);
        m_items.push_back(std::move(item));
    }
    ForEachObserver([](IDocObserver& o) { o.OnEndInsert(); });
    return true;
}

void CZorvDoc::AppendItems(std::vector<ItemPtr> items, bool queue)
{
    if (items.empty())
        return;
    const int first = GetCount();
    ForEachObserver([&](IDocObserver& o) {
        o.OnBeginInsert(first, first + static_cast<int>(items.size()) - 1);
    });
    {
        std::scoped_lock lock(m_lock);
        m_items.reserve(m_items.size() + items.size());
        for (auto& item : items) {
            item->m_nRow = GetCount();
            m_items.push_back(std::move(item));
        }
    }
    ForEachObserver([](IDocObserver& o) { o.OnEndInsert(); });
    if (!queue)
        return;
    bool queued = false;
    {
        std::scoped_lock lock(m_lock);
        for (size_t i = static_cast<size_t>(first); i < m_items.size(); ++i) {
            if (m_items[i]->GetState() == STATE_NOT_FETCHED) {
                QueueLocked(m_items[i]);
                queued = true;
            }
        }
    }
    if (queued && m_pEngine) {
        m_pEngine->Wake();
        m_pEngine->CheckAutoStart();
    }
}

void CZorvDoc::AppendLoaded(std::vector<ItemPtr> items, std::list<ItemPtr> queue)
{
    AppendItems(std::move(items), false);
    if (queue.empty())
        return;
    {
        // Splicing keeps the nodes, so the items' queue positions stay valid.
        std::scoped_lock lock(m_lock);
        m_pending.splice(m_pending.end(), queue);
        StorePendingCountLocked();
    }
    if (m_pEngine) {
        m_pEngine->Wake();
        m_pEngine->CheckAutoStart();
    }
}

void CZorvDoc::RemoveItems(std::vector<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::erase_if(rows, [&](int r) { return r < 0 || r >= GetCount(); });
    if (rows.empty())
        return;
    for (int r : rows) {
        RemovePending(GetItem(r));
        GetItem(r)->m_nRow = -1;
    }
    // Contiguous runs, removed from the bottom up so the rows above stay put.
    std::vector<std::pair<int, int>> runs;
    for (int r : rows) {
        if (!runs.empty() && runs.back().second + 1 == r)
            runs.back().second = r;
        else
            runs.emplace_back(r, r);
    }
    constexpr size_t kMaxRunsNotified = 64;
    if (runs.size() > kMaxRunsNotified) {
        ForEachObserver([](IDocObserver& o) { o.OnBeginReset(); });
        {
            std::scoped_lock lock(m_lock);
            std::erase_if(m_items, [](const ItemPtr& p) { return p->m_nRow < 0; });
        }
        Renumber(rows.front());
        ForEachObserver([](IDocObserver& o) { o.OnEndReset(); });
        return;
    }
    for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
        // (not a structured binding: clang before 16 cannot capture one)
        const int first = it->first;
        const int last = it->second;
        ForEachObserver([&](IDocObserver& o) { o.OnBeginRemove(first, last); });
        {
            std::scoped_lock lock(m_lock);
            m_items.erase(m_items.begin() + first, m_items.begin() + last + 1);
        }
        Renumber(first);
        ForEachObserver([](IDocObserver& o) { o.OnEndRemove(); });
    }
}

void CZorvDoc::RemoveAllItems()
{
    ForEachObserver([](IDocObserver& o) { o.OnBeginReset(); });
    {
        std::scoped_lock lock(m_lock);
        ClearQueueLocked();
    }
    for (const auto& p : m_items)
        p->m_nRow = -1;
    std::vector<ItemPtr> old;
    {
        std::scoped_lock lock(m_lock);
        old.swap(m_items);
    }
    ForEachObserver([](IDocObserver& o) { o.OnEndReset(); });
    m_notices.ModifiedNoticeHandled();
    DisposeItems(std::move(old));
}

void CZorvDoc::Reorder(const std::vector<int>& newOrder)
{
    if (newOrder.size() != m_items.size())
        return;
    std::vector<int> oldToNew(m_items.size(), -1);
    for (size_t k = 0; k < newOrder.size(); ++k) {
        const int old = newOrder[k];
        if (old < 0 || old >= GetCount() || oldToNew[static_cast<size_t>(old)] != -1)
            return; // not a permutation
        oldToNew[static_cast<size_t>(old)] = static_cast<int>(k);
    }
    ForEachObserver([](IDocObserver& o) { o.OnBeginReorder(); });
    std::vector<ItemPtr> items;
    items.reserve(m_items.size());
    {
        std::scoped_lock lock(m_lock);
        for (const int old : newOrder)
            items.push_back(std::move(m_items[static_cast<size_t>(old)]));
        m_items.swap(items);
    }
    Renumber(0);
    {
        // The queue keeps list order: its nodes are relinked in list order
        // (no allocation; the items' queue positions stay valid).
        std::scoped_lock lock(m_lock);
        for (const auto& p : m_items) {
            if (p->m_bQueued)
                m_pending.splice(m_pending.end(), m_pending, p->m_queuePos);
        }
    }
    ForEachObserver([&](IDocObserver& o) { o.OnEndReorder(oldToNew); });
}

void CZorvDoc::UpdateItem(const CItem* item)
{
    const int row = RowOf(item);
    if (row >= 0)
        ForEachObserver([&](IDocObserver& o) { o.OnItemChanged(row); });
}

// ---- adding and the pending queue ---------------------------------------------

CItem* CZorvDoc::AddUrl(const std::string& url, const std::string& referer,
                        const std::string& destination, const std::string& fileName, int level)
{
    ItemPtr item = NewItem(url, referer, destination, fileName, level);
    if (!item)
        return nullptr;
    CItem* raw = item.get();
    if (!AppendItem(item))
        return nullptr;
    {
        std::scoped_lock lock(m_lock);
        QueueLocked(item);
    }
    if (m_pEngine) {
        m_pEngine->Wake();
        m_pEngine->CheckAutoStart();
    }
    return raw;
}

void CZorvDoc::QueueLocked(const ItemPtr& item)
{
    QueueBeforeLocked(item, m_pending.end());
}

void CZorvDoc::QueueBeforeLocked(const ItemPtr& item, std::list<ItemPtr>::iterator pos)
{
    if (item->m_bQueued)
        UnqueueLocked(item.get());
    item->m_queuePos = m_pending.insert(pos, item);
    item->m_bQueued = true;
    if (item->IsPaused())
        ++m_nPausedQueued;
    if (Blocked(item.get()))
        ++m_nBlockedQueued;
    if (item->m_nRetryAt.load() != 0)
        m_waiting.push_back(item.get());
    StorePendingCountLocked();
}

void CZorvDoc::UnqueueLocked(CItem* item)
{
    m_pending.erase(item->m_queuePos);
    item->m_queuePos = {};
    item->m_bQueued = false;
    if (item->IsPaused())
        --m_nPausedQueued;
    if (Blocked(item))
        --m_nBlockedQueued;
    if (item->m_nRetryAt.load() != 0)
        std::erase(m_waiting, item);
    StorePendingCountLocked();
}

void CZorvDoc::ClearQueueLocked()
{
    for (const auto& p : m_pending) {
        p->m_bQueued = false;
        p->m_queuePos = {};
        p->m_nRetryAt.store(0);
    }
    m_pending.clear();
    m_waiting.clear();
    m_nPausedQueued = 0;
    m_nBlockedQueued = 0;
    m_nPending.store(0);
    m_nReady.store(0);
}

void CZorvDoc::StorePendingCountLocked()
{
    m_nPending.store(static_cast<int>(m_pending.size() - m_nPausedQueued));
    m_nReady.store(static_cast<int>(m_pending.size() - m_nBlockedQueued));
}

namespace {

std::int64_t RetryMs(CItem::RetryClock::time_point t)
{
    // 0 means "no wait": a time at the clock's epoch still waits a little.
    return std::max<std::int64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count(), 1);
}

} // namespace

void CZorvDoc::SetRetryAtLocked(CItem* item, std::int64_t at)
{
    const bool wasBlocked = Blocked(item);
    const bool wasWaiting = item->m_nRetryAt.exchange(at) != 0;
    if (!item->m_bQueued)
        return;
    if (wasWaiting != (at != 0)) {
        if (at != 0)
            m_waiting.push_back(item);
        else
            std::erase(m_waiting, item);
    }
    if (wasBlocked != Blocked(item))
        wasBlocked ? --m_nBlockedQueued : ++m_nBlockedQueued;
    StorePendingCountLocked();
}

void CZorvDoc::ReleaseDueRetriesLocked()
{
    if (m_waiting.empty())
        return;
    const std::int64_t now = RetryMs(CItem::RetryClock::now());
    std::vector<CItem*> due;
    for (CItem* item : m_waiting) {
        if (item->m_nRetryAt.load() <= now)
            due.push_back(item);
    }
    for (CItem* item : due)
        SetRetryAtLocked(item, 0);
}

void CZorvDoc::QueueRetry(CItem* item, CItem::RetryClock::time_point at)
{
    const int row = RowOf(item);
    if (row < 0)
        return;
    {
        std::scoped_lock lock(m_lock);
        const ItemPtr& p = m_items[static_cast<size_t>(row)];
        if (p->m_bQueued)
            UnqueueLocked(p.get());
        p->m_nRetryAt.store(RetryMs(at));
        QueueLocked(p);
    }
    if (m_pEngine) {
        m_pEngine->Wake();
        m_pEngine->CheckAutoStart();
    }
}

void CZorvDoc::DelayServer(const std::string& server, CItem::RetryClock::time_point at)
{
    if (server.empty())
        return;
    const std::int64_t until = RetryMs(at);
    {
        std::scoped_lock lock(m_lock);
        for (const ItemPtr& p : m_pending) {
            if (p->m_nRetryAt.load() < until && CItem::ServerOf(p->FetchParams().url) == server)
                SetRetryAtLocked(p.get(), until);
        }
    }
    if (m_pEngine)
        m_pEngine->Wake();
}

std::optional<CItem::RetryClock::time_point> CZorvDoc::NextRetry() const
{
    std::scoped_lock lock(m_lock);
    if (m_waiting.empty())
        return std::nullopt;
    std::int64_t first = INT64_MAX;
    for (const CItem* item : m_waiting)
        first = std::min(first, item->m_nRetryAt.load());
    return CItem::RetryClock::time_point(std::chrono::milliseconds(first));
}

int CZorvDoc::WaitingCount() const
{
    std::scoped_lock lock(m_lock);
    return static_cast<int>(m_waiting.size());
}

void CZorvDoc::QueuePending(CItem* item)
{
    const int row = RowOf(item);
    if (row < 0)
        return;
    {
        std::scoped_lock lock(m_lock);
        QueueLocked(m_items[static_cast<size_t>(row)]);
    }
    if (m_pEngine) {
        m_pEngine->Wake();
        m_pEngine->CheckAutoStart();
    }
}

void CZorvDoc::QueuePendingItems(const std::vector<CItem*>& items)
{
    int queued = 0;
    {
        std::scoped_lock lock(m_lock);
        for (CItem* item : items) {
            const int row = RowOf(item);
            if (row < 0)
                continue;
            QueueLocked(m_items[static_cast<size_t>(row)]);
            ++queued;
        }
    }
    if (queued == 0 || !m_pEngine)
        return;
    for (int i = 0; i < queued; ++i)
        m_pEngine->Wake();
    m_pEngine->CheckAutoStart();
}

ItemPtr CZorvDoc::PopPending()
{
    std::scoped_lock lock(m_lock);
    ReleaseDueRetriesLocked();
    if (m_nReady.load() == 0)
        return nullptr;
    auto it = std::find_if(m_pending.begin(), m_pending.end(), [](const ItemPtr& p) { return !Blocked(p.get()); });
    if (it == m_pending.end())
        return nullptr;
    ItemPtr item = *it;
    UnqueueLocked(item.get());
    // Leaves the queue as "preparing": a command that checks the item after
    // failing to unqueue it sees it in progress and leaves it alone.
    item->SetState(STATE_PREPARING);
    return item;
}

void CZorvDoc::SetPaused(CItem* item, bool paused)
{
    if (RowOf(item) < 0)
        return;
    bool queued = false;
    {
        std::scoped_lock lock(m_lock);
        const bool wasBlocked = Blocked(item);
        if (item->m_bPaused.exchange(paused) == paused)
            return;
        queued = item->m_bQueued;
        if (queued) {
            paused ? ++m_nPausedQueued : --m_nPausedQueued;
            if (wasBlocked != Blocked(item))
                wasBlocked ? --m_nBlockedQueued : ++m_nBlockedQueued;
            StorePendingCountLocked();
        }
    }
    if (!paused && queued && m_pEngine) {
        m_pEngine->Wake();
        m_pEngine->CheckAutoStart();
    }
    UpdateItem(item);
}

void CZorvDoc::QueueInPlace(CItem* item)
{
    const int row = RowOf(item);
    if (row < 0)
        return;
    {
        std::scoped_lock lock(m_lock);
        auto pos = m_pending.end();
        for (size_t r = static_cast<size_t>(row) + 1; r < m_items.size(); ++r) {
            if (m_items[r]->m_bQueued) {
                pos = m_items[r]->m_queuePos;
                break;
            }
        }
        QueueBeforeLocked(m_items[static_cast<size_t>(row)], pos);
    }
    if (m_pEngine) {
        m_pEngine->Wake();
        m_pEngine->CheckAutoStart();
    }
}

bool CZorvDoc::RemovePending(CItem* item)
{
    std::scoped_lock lock(m_lock);
    if (!item || !item->m_bQueued)
        return false;
    UnqueueLocked(item);
    // Out of the queue, the item no longer waits for a retry.
    item->m_nRetryAt.store(0);
    return true;
}

bool CZorvDoc::InsertPending(CItem* before, CItem* item)
{
    if (before == item)
        return true;
    const int row = RowOf(item);
    if (row < 0)
        return false;
    {
        std::scoped_lock lock(m_lock);
        const ItemPtr& p = m_items[static_cast<size_t>(row)];
        if (p->m_bQueued)
            UnqueueLocked(p.get());
        if (!before)
            QueueBeforeLocked(p, m_pending.end());
        else if (before->m_bQueued)
            QueueBeforeLocked(p, before->m_queuePos);
        else
            QueueBeforeLocked(p, m_pending.begin());
    }
    if (m_pEngine)
        m_pEngine->CheckAutoStart();
    return false;
}

int CZorvDoc::GetItemCount(bool pendingOnly) const
{
    return pendingOnly ? m_nPending.load() : GetCount();
}

bool CZorvDoc::IsQueued(const CItem* item) const
{
    std::scoped_lock lock(m_lock);
    return item->m_bQueued;
}

std::vector<CItem*> CZorvDoc::PendingItems() const
{
    std::scoped_lock lock(m_lock);
    std::vector<CItem*> out;
    out.reserve(m_pending.size());
    for (const auto& p : m_pending)
        out.push_back(p.get());
    return out;
}

// ---- modified flag and title -------------------------------------------------------

void CZorvDoc::SetPathName(const QString& path)
{
    StorePathName(path);
    NotifyTitle();
}

void CZorvDoc::StorePathName(const QString& path)
{
    m_strPathName = path;
    std::string key = path.isEmpty() ? std::string() : CItem::LocalFileKey(path.toStdString());
    std::scoped_lock lock(m_lock);
    m_listFileKey.swap(key);
}

std::string CZorvDoc::ListFileKey() const
{
    std::scoped_lock lock(m_lock);
    return m_listFileKey;
}

bool CZorvDoc::AnyItem(const std::function<bool(const CItem&)>& test) const
{
    std::scoped_lock lock(m_lock);
    for (const ItemPtr& item : m_items) {
        if (test(*item))
            return true;
    }
    return false;
}

void CZorvDoc::NotifyTitle()
{
    ForEachObserver([](IDocObserver& o) { o.OnTitleChanged(); });
}

QString CZorvDoc::GetTitle() const
{
    QString title = m_strPathName.isEmpty() ? QStringLiteral("無題") : QFileInfo(m_strPathName).fileName();
    if (IsModified())
        title += QStringLiteral(" *");
    return title;
}

bool CZorvDoc::AutoSaveEnabled() const
{
    return Options().AutoSave && !m_strPathName.isEmpty() && !m_bLoading;
}

void CZorvDoc::SetModifiedFlag(bool modified)
{
    const bool old = m_bModified.load();
    if (!modified) {
        m_autoSave.Stop();
        m_bModified.store(false);
        if (old)
            NotifyTitle();
        return;
    }
    m_bModified.store(true);
    // Saved before the title is told: a list that saves at once never shows
    // the mark.
    if (m_autoSave.Modified())
        return;
    if (!old)
        NotifyTitle();
}

} // namespace zorv

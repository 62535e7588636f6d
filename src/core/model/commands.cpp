#include "model/commands.h"

#include "engine/pool.h"
#include "settings/options.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <string_view>

namespace zorv {

namespace {

// The selection as sorted, unique rows inside the list.
std::vector<int> CleanRows(const CZorvDoc& doc, std::vector<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    const int count = doc.GetCount();
    std::erase_if(rows, [count](int r) { return r < 0 || r >= count; });
    return rows;
}

// One flag per row: selected.
std::vector<char> SelectionMask(int count, const std::vector<int>& rows)
{
    std::vector<char> mask(static_cast<size_t>(count), 0);
    for (const int r : rows)
        mask[static_cast<size_t>(r)] = 1;
    return mask;
}

// The rows, after a reorder with newOrder, of the items that were at `rows`.
std::vector<int> MapRows(const std::vector<int>& newOrder, const std::vector<char>& mask)
{
    std::vector<int> out;
    for (size_t k = 0; k < newOrder.size(); ++k) {
        if (mask[static_cast<size_t>(newOrder[k])])
            out.push_back(static_cast<int>(k));
    }
    return out;
}

bool IsIdentity(const std::vector<int>& order)
{
    for (size_t k = 0; k < order.size(); ++k) {
        if (order[k] != static_cast<int>(k))
            return false;
    }
    return true;
}

// The rows still in the list, as a Fenwick tree of 0/1 counts: the k-th
// remaining row and the removal of a row in O(log n).
class CRowSet {
public:
    explicit CRowSet(int n) : m_tree(static_cast<size_t>(n) + 1, 0), m_n(n)
    {
        for (int i = 1; i <= n; ++i) {
            m_tree[static_cast<size_t>(i)] += 1;
            const int parent = i + (i & -i);
            if (parent <= n)
                m_tree[static_cast<size_t>(parent)] += m_tree[static_cast<size_t>(i)];
        }
        m_top = 1;
        while (m_top * 2 <= n)
            m_top *= 2;
    }

    void Remove(int row)
    {
        for (int i = row + 1; i <= m_n; i += i & -i)
            m_tree[static_cast<size_t>(i)] -= 1;
    }

    // The row with k remaining rows before it (k is 0-based and in range).
    int Kth(int k) const
    {
        int pos = 0;
        int rest = k + 1;
        for (int step = m_top; step > 0; step /= 2) {
            const int next = pos + step;
            if (next <= m_n && m_tree[static_cast<size_t>(next)] < rest) {
                pos = next;
                rest -= m_tree[static_cast<size_t>(next)];
            }
        }
        return pos; // 1-based pos + 1 is the row; as 0-based that is pos
    }

private:
    std::vector<int> m_tree;
    int m_n;
    int m_top = 1;
};

// Applies a new row order: the queue follows it (CZorvDoc::Reorder), the list
// is marked modified when the order changed.
void ApplyOrder(CZorvDoc& doc, const std::vector<int>& newOrder, bool markModified)
{
    doc.Reorder(newOrder);
    if (markModified)
        doc.SetModifiedFlag(true);
}

} // namespace

// ---- delete, reset, cancel ---------------------------------------------------

CCommandResult DeleteItems(CZorvDoc& doc, const std::vector<int>& rows)
{
    const std::vector<int> sel = CleanRows(doc, rows);
    CCommandResult result;
    std::vector<int> removed;
    std::vector<int> kept;
    for (const int r : sel) {
        CItem* item = doc.GetItem(r);
        // An item that a worker holds is not queued and not settled.
        if (doc.RemovePending(item) || item->IsSettled())
            removed.push_back(r);
        else
            kept.push_back(r);
    }
    if (removed.empty()) {
        result.selection = std::move(kept);
        return result;
    }
    // Rows of the kept items once the removed rows above them are gone.
    size_t above = 0;
    for (const int r : kept) {
        while (above < removed.size() && removed[above] < r)
            ++above;
        result.selection.push_back(r - static_cast<int>(above));
    }
    result.nChanged = static_cast<int>(removed.size());
    doc.RemoveItems(std::move(removed));
    doc.SetModifiedFlag(true);
    return result;
}

CCommandResult ResetItems(CZorvDoc& doc, const std::vector<int>& rows)
{
    const std::vector<int> sel = CleanRows(doc, rows);
    const int count = doc.GetCount();
    std::vector<char> reset(static_cast<size_t>(count), 0);
    std::vector<char> keptSelected(static_cast<size_t>(count), 0);
    std::vector<CItem*> items;
    for (const int r : sel) {
        CItem* item = doc.GetItem(r);
        if (doc.RemovePending(item) || item->IsSettled()) {
            reset[static_cast<size_t>(r)] = 1;
            items.push_back(item);
        } else {
            keptSelected[static_cast<size_t>(r)] = 1;
        }
    }
    CCommandResult result;
    if (items.empty()) {
        result.selection = sel; // nothing moved
        return result;
    }
    // Not queued now, so no worker can take them while they change.
    for (CItem* item : items) {
        item->SetNote({});
        item->SetState(STATE_NOT_FETCHED);
        item->m_nFailures = 0;
    }
    // The other rows keep their order; the reset rows follow, in theirs.
    std::vector<int> newOrder;
    newOrder.reserve(static_cast<size_t>(count));
    for (int r = 0; r < count; ++r) {
        if (!reset[static_cast<size_t>(r)])
            newOrder.push_back(r);
    }
    for (const int r : sel) {
        if (reset[static_cast<size_t>(r)])
            newOrder.push_back(r);
    }
    // Always reorder, even when the rows stay where they are: the reorder
    // notice also repaints the changed state and note texts.
    doc.Reorder(newOrder);
    doc.QueuePendingItems(items);
    doc.SetModifiedFlag(true);
    result.nChanged = static_cast<int>(items.size());
    result.selection = MapRows(newOrder, keptSelected);
    return result;
}

int CancelItems(CZorvDoc& doc, const std::vector<int>& rows)
{
    const std::vector<int> sel = CleanRows(doc, rows);
    for (const int r : sel)
        doc.GetItem(r)->Cancel();
    return static_cast<int>(sel.size());
}

// ---- moves ---------------------------------------------------------------------
//
// The moves are defined row by row: moving item x from row r to index t
// deletes row r and inserts x at t, and only settled items move.
//
// To the top (bottom): the selected rows are walked from the top; each
// settled one goes to the end of the block already moved to the top (to the
// bottom of the list). So the settled selected rows end up first (last), in
// their order, followed (preceded) by all the others in theirs.
//
// By m < row count towards the bottom: for j from the row count down to 0
// (row count = a virtual unselected row past the end), when row j is not
// selected and row j − m is selected, row j − m's item moves to j. Towards the
// top, for j from 0 up, with row j + m. Every row above (below) j is final
// after step j, and the rows not yet final are the original rows minus those
// already moved, in their original order. So the result is built from one end
// while a CRowSet answers "the k-th row not yet placed".

namespace {

std::vector<int> OrderToEnd(const std::vector<char>& selected, const std::vector<char>& settled,
                            bool toBottom)
{
    const int count = static_cast<int>(selected.size());
    std::vector<int> moved;
    std::vector<int> rest;
    for (int r = 0; r < count; ++r) {
        if (selected[static_cast<size_t>(r)] && settled[static_cast<size_t>(r)])
            moved.push_back(r);
        else
            rest.push_back(r);
    }
    std::vector<int>& first = toBottom ? rest : moved;
    const std::vector<int>& second = toBottom ? moved : rest;
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

std::vector<int> OrderDown(const std::vector<char>& selected, const std::vector<char>& settled,
                           int m)
{
    const int count = static_cast<int>(selected.size());
    auto movable = [&](int r) {
        return selected[static_cast<size_t>(r)] && settled[static_cast<size_t>(r)];
    };
    CRowSet left(count);
    int remaining = count;
    std::vector<int> order(static_cast<size_t>(count));
    int pos = count - 1;
    // Step j = row count: the virtual row there is never selected; a moved
    // item is appended.
    if (m <= count) {
        const int y = left.Kth(remaining - m);
        if (movable(y)) {
            order[static_cast<size_t>(pos--)] = y;
            left.Remove(y);
            --remaining;
        }
    }
    while (remaining > 0) {
        const int j = remaining - 1;
        const int x = left.Kth(j);
        if (!selected[static_cast<size_t>(x)] && j - m >= 0) {
            const int y = left.Kth(j - m);
            if (movable(y)) {
                order[static_cast<size_t>(pos--)] = y;
                left.Remove(y);
                --remaining;
                continue; // x is now row j − 1 and is looked at again
            }
        }
        order[static_cast<size_t>(pos--)] = x;
        left.Remove(x);
        --remaining;
    }
    return order;
}

std::vector<int> OrderUp(const std::vector<char>& selected, const std::vector<char>& settled, int m)
{
    const int count = static_cast<int>(selected.size());
    CRowSet left(count);
    int remaining = count;
    std::vector<int> order(static_cast<size_t>(count));
    int pos = 0;
    while (remaining > 0) {
        const int x = left.Kth(0);
        if (!selected[static_cast<size_t>(x)] && m < remaining) {
            const int y = left.Kth(m);
            if (selected[static_cast<size_t>(y)] && settled[static_cast<size_t>(y)]) {
                order[static_cast<size_t>(pos++)] = y;
                left.Remove(y);
                --remaining;
                continue;
            }
        }
        order[static_cast<size_t>(pos++)] = x;
        left.Remove(x);
        --remaining;
    }
    return order;
}

} // namespace

CCommandResult MoveSelection(CZorvDoc& doc, const std::vector<int>& rows, int n)
{
    const std::vector<int> sel = CleanRows(doc, rows);
    CCommandResult result;
    result.selection = sel;
    const int count = doc.GetCount();
    if (n == 0 || sel.empty())
        return result;
    const bool down = n > 0;
    // |n| as a 64-bit value: -INT_MIN does not fit an int.
    const long long m = n < 0 ? -static_cast<long long>(n) : n;

    const std::vector<char> selected = SelectionMask(count, sel);
    // One look at each state, so the whole move sees one consistent picture
    // while workers change states.
    std::vector<char> settled(static_cast<size_t>(count), 0);
    for (const int r : sel)
        settled[static_cast<size_t>(r)] = doc.GetItem(r)->IsSettled() ? 1 : 0;

    std::vector<int> newOrder;
    if (m >= count)
        newOrder = OrderToEnd(selected, settled, down);
    else if (down)
        newOrder = OrderDown(selected, settled, static_cast<int>(m));
    else
        newOrder = OrderUp(selected, settled, static_cast<int>(m));

    if (IsIdentity(newOrder))
        return result;
    for (size_t k = 0; k < newOrder.size(); ++k) {
        if (newOrder[k] != static_cast<int>(k) && selected[static_cast<size_t>(newOrder[k])])
            ++result.nChanged;
    }
    ApplyOrder(doc, newOrder, true);
    result.selection = MapRows(newOrder, selected);
    return result;
}

CCommandResult MoveToTop(CZorvDoc& doc, const std::vector<int>& rows)
{
    return MoveSelection(doc, rows, -doc.GetCount());
}

CCommandResult MoveUp(CZorvDoc& doc, const std::vector<int>& rows)
{
    return MoveSelection(doc, rows, -1);
}

CCommandResult MoveDown(CZorvDoc& doc, const std::vector<int>& rows)
{
    return MoveSelection(doc, rows, 1);
}

CCommandResult MoveToBottom(CZorvDoc& doc, const std::vector<int>& rows)
{
    return MoveSelection(doc, rows, doc.GetCount());
}

CItem* FindNextUnfetched(const CZorvDoc& doc, int row)
{
    for (int r = std::max(row, 0); r < doc.GetCount(); ++r) {
        CItem* item = doc.GetItem(r);
        if (item->GetState() == STATE_NOT_FETCHED)
            return item;
    }
    return nullptr;
}

int CWheelAccumulator::Add(int delta)
{
    // Saturate instead of overflowing on absurd deltas.
    const long long sum = static_cast<long long>(m_nWheelDelta) + delta;
    const long long clamped = std::clamp<long long>(sum, INT32_MIN / 2, INT32_MAX / 2);
    if (clamped > -120 && clamped < 120) {
        m_nWheelDelta = static_cast<int>(clamped);
        return 0;
    }
    const int total = static_cast<int>(clamped);
    m_nWheelDelta = total % 120; // keeps the sign of the sum
    return total / -120;
}

// ---- sorting -------------------------------------------------------------------

namespace {

std::vector<int> SortedOrder(const CZorvDoc& doc, int key, bool descending)
{
    const int count = doc.GetCount();
    std::vector<int> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);

    // The keys are read once: a comparison must see the same value every
    // time, even while a worker changes an item's state or note.
    auto sortBy = [&](const auto& keys) {
        if (descending) {
            std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
                return keys[static_cast<size_t>(b)] < keys[static_cast<size_t>(a)];
            });
        } else {
            std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
                return keys[static_cast<size_t>(a)] < keys[static_cast<size_t>(b)];
            });
        }
    };
    if (key == COL_STATE) {
        std::vector<int> keys(static_cast<size_t>(count));
        for (int r = 0; r < count; ++r)
            keys[static_cast<size_t>(r)] = doc.GetItem(r)->GetState();
        sortBy(keys);
    } else if (key == COL_NOTE) {
        std::vector<std::string> keys(static_cast<size_t>(count));
        for (int r = 0; r < count; ++r)
            keys[static_cast<size_t>(r)] = doc.GetItem(r)->GetNote();
        sortBy(keys);
    } else {
        // The text fields belong to the UI thread: views need no copy.
        std::vector<std::string_view> keys(static_cast<size_t>(count));
        for (int r = 0; r < count; ++r) {
            const CItem* item = doc.GetItem(r);
            const std::string& text = key == COL_URL           ? item->m_strUrl
                                      : key == COL_DESTINATION ? item->m_strDestination
                                      : key == COL_FILENAME    ? item->m_strFileName
                                                               : item->m_strReferer;
            keys[static_cast<size_t>(r)] = text; // compares byte-wise, as CompareItems
        }
        sortBy(keys);
    }
    return order;
}

} // namespace

CCommandResult SortByKey(CZorvDoc& doc, CSortState& state, int key, const std::vector<int>& rows,
                         unsigned seed)
{
    bool descending = false;
    if (key == state.m_nSortKey) {
        descending = !state.m_bSortReverse;
        state.m_bSortReverse = !state.m_bSortReverse;
    } else {
        state.m_bSortReverse = false;
    }
    state.m_nSortKey = key;

    const std::vector<int> sel = CleanRows(doc, rows);
    std::vector<int> newOrder;
    if (key >= 0 && key < kColumnCount) {
        newOrder = SortedOrder(doc, key, descending);
    } else {
        // A random order: a uniform shuffle (a comparison that answers at
        // random is no valid ordering for a sort).
        if (seed == 0) {
            seed = static_cast<unsigned>(
                std::chrono::steady_clock::now().time_since_epoch().count() ^
                std::chrono::system_clock::now().time_since_epoch().count());
        }
        newOrder.resize(static_cast<size_t>(doc.GetCount()));
        std::iota(newOrder.begin(), newOrder.end(), 0);
        std::mt19937 generator(seed);
        std::shuffle(newOrder.begin(), newOrder.end(), generator);
    }
    CCommandResult result;
    for (size_t k = 0; k < newOrder.size(); ++k) {
        if (newOrder[k] != static_cast<int>(k))
            ++result.nChanged;
    }
    ApplyOrder(doc, newOrder, true);
    result.selection = MapRows(newOrder, SelectionMask(doc.GetCount(), sel));
    return result;
}

// ---- start and stop --------------------------------------------------------------

void StartFetching(CWorkerPool& pool)
{
    pool.SetWorkerCount(Options().Connections);
}

void StopFetching(CWorkerPool& pool)
{
    pool.SetWorkerCount(0);
}

} // namespace zorv

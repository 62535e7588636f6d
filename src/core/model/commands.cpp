#include "model/commands.h"

#include "model/text.h"
#include "settings/options.h"

#include <algorithm>
#include <functional>
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
        doc.SetPaused(item, false);
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

bool Pausable(const CItem& item)
{
    const int s = item.GetState();
    return !item.IsPaused() && (s == STATE_NOT_FETCHED || s == STATE_CONNECTING || s == STATE_FETCHING
                                || s == STATE_PREPARING);
}

int PauseItems(CZorvDoc& doc, const std::vector<int>& rows)
{
    int paused = 0;
    for (const int r : CleanRows(doc, rows)) {
        CItem* item = doc.GetItem(r);
        if (!Pausable(*item))
            continue;
        doc.SetPaused(item, true);
        if (!doc.IsQueued(item) && item->GetState() != STATE_NOT_FETCHED)
            item->StopForPause();
        ++paused;
    }
    return paused;
}

int ResumeItems(CZorvDoc& doc, const std::vector<int>& rows)
{
    int resumed = 0;
    for (const int r : CleanRows(doc, rows)) {
        CItem* item = doc.GetItem(r);
        if (!item->IsPaused())
            continue;
        doc.SetPaused(item, false);
        // A paused item whose stopped fetch has not reported yet gets its
        // place back then; any other one not fetched waits in the queue.
        if (item->GetState() == STATE_NOT_FETCHED && !doc.IsQueued(item))
            doc.QueueInPlace(item);
        ++resumed;
    }
    return resumed;
}

// ---- moves ---------------------------------------------------------------------
//
// Moving item x from row r to index t deletes row r and inserts x at t; only
// settled items move.
//
// To the top (bottom): the selected rows are walked from the top; each
// settled one goes to the end of the block already moved to the top (to the
// bottom of the list). So the settled selected rows end up first (last), in
// their order, followed (preceded) by all the others in theirs. Selected rows
// in progress stay where they are and are passed.
//
// By one row up: for j from 0 down the list, when row j is not selected and
// row j + 1 is selected and settled, that item moves to j. So every run of
// settled selected rows right below an unselected row moves up by one, and
// the unselected row goes below the run. A run right below the top, or below
// a selected row in progress, stays. (Down is the mirror image.)
//
// By m rows: m moves by one row. Picture the settled selected rows as
// particles, the selected rows in progress as walls and the top as a wall:
// a particle goes up one row per step unless it is packed against its wall
// together with the particles above it. So the k-th particle below a wall at
// row w ends at max(r − m, w + 1 + k); walls stay; the unselected rows fill
// the remaining rows in their order. One pass, whatever m is.

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

std::vector<int> OrderByRows(const std::vector<char>& selected, const std::vector<char>& settled,
                             int m, bool down)
{
    const int count = static_cast<int>(selected.size());
    std::vector<int> order(static_cast<size_t>(count), -1);
    std::vector<int> holes; // unselected rows, walked from the wall side
    // Walk from the end the rows move towards; `step` leads away from it.
    const int begin = down ? count - 1 : 0;
    const int step = down ? -1 : 1;
    int wall = down ? count : -1;
    int packed = 0; // particles since the wall
    for (int r = begin; r >= 0 && r < count; r += step) {
        const size_t i = static_cast<size_t>(r);
        if (!selected[i]) {
            holes.push_back(r);
        } else if (!settled[i]) {
            order[i] = r;
            wall = r;
            packed = 0;
        } else {
            const int limit = wall + step * (1 + packed);
            const int target = down ? std::min(r + m, limit) : std::max(r - m, limit);
            order[static_cast<size_t>(target)] = r;
            ++packed;
        }
    }
    size_t next = 0;
    for (int k = begin; k >= 0 && k < count; k += step) {
        if (order[static_cast<size_t>(k)] < 0)
            order[static_cast<size_t>(k)] = holes[next++];
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

    const std::vector<int> newOrder = m >= count
                                          ? OrderToEnd(selected, settled, down)
                                          : OrderByRows(selected, settled, static_cast<int>(m), down);

    if (IsIdentity(newOrder))
        return result;
    for (size_t k = 0; k < newOrder.size(); ++k) {
        if (newOrder[k] != static_cast<int>(k) && selected[static_cast<size_t>(newOrder[k])])
            ++result.nChanged;
    }
    doc.Reorder(newOrder); // the pending queue follows the rows
    doc.SetModifiedFlag(true);
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

// Sorts the rows by texts, byte-wise (as unsigned bytes, the way
// std::string_view compares), and stably. Texts of a column share long
// prefixes ("http://host/dir/..."), so the texts are never compared as
// wholes: the rows are sorted by 8 bytes of their texts at a time, as one
// big-endian number (zero-padded), starting after the prefix common to all
// rows; each run of rows with equal numbers is then sorted by the next 8
// bytes, and so on. Every comparison is one of two integers, and each text
// is read once per 8 bytes that its run still shares.
std::vector<int> SortedByText(const std::vector<std::string_view>& keys, bool descending)
{
    const size_t count = keys.size();
    size_t common = count ? keys[0].size() : 0;
    for (size_t r = 1; r < count && common > 0; ++r) {
        const std::string_view k = keys[r];
        size_t i = 0;
        const size_t end = std::min(common, k.size());
        while (i < end && k[i] == keys[0][i])
            ++i;
        common = i;
    }
    struct Entry {
        std::uint64_t head;
        int row;
    };
    std::vector<Entry> entries(count);
    for (size_t r = 0; r < count; ++r)
        entries[r].row = static_cast<int>(r);
    const auto before = [descending](std::uint64_t a, std::uint64_t b) { return descending ? b < a : a < b; };
    // Sorts [first, last): rows whose texts agree on every byte before `at`
    // (a shorter text read as padded with zero bytes).
    std::function<void(Entry*, Entry*, size_t)> sortRange = [&](Entry* first, Entry* last, size_t at) {
        size_t longest = 0;
        for (Entry* e = first; e != last; ++e)
            longest = std::max(longest, keys[static_cast<size_t>(e->row)].size());
        if (longest <= at) {
            // The texts differ in length only (trailing zero bytes): the
            // shorter comes first.
            for (Entry* e = first; e != last; ++e)
                e->head = keys[static_cast<size_t>(e->row)].size();
        } else {
            for (Entry* e = first; e != last; ++e) {
                const std::string_view k = keys[static_cast<size_t>(e->row)];
                std::uint64_t head = 0;
                for (size_t i = 0; i < 8; ++i)
                    head = (head << 8) | (at + i < k.size() ? static_cast<unsigned char>(k[at + i]) : 0u);
                e->head = head;
            }
        }
        std::stable_sort(first, last, [&](const Entry& a, const Entry& b) { return before(a.head, b.head); });
        if (longest <= at)
            return;
        for (Entry* run = first; run != last;) {
            Entry* end = run + 1;
            while (end != last && end->head == run->head)
                ++end;
            if (end - run > 1)
                sortRange(run, end, at + 8);
            run = end;
        }
    };
    if (count > 1)
        sortRange(entries.data(), entries.data() + count, common);
    std::vector<int> order(count);
    for (size_t k = 0; k < count; ++k)
        order[k] = entries[k].row;
    return order;
}

std::vector<int> SortedOrder(const CZorvDoc& doc, int key, bool descending)
{
    const int count = doc.GetCount();
    // The keys are read once: a comparison must see the same value every
    // time, even while a worker changes an item's state or note.
    if (key == COL_STATE) {
        struct Entry {
            int state;
            int row;
        };
        std::vector<Entry> entries(static_cast<size_t>(count));
        for (int r = 0; r < count; ++r)
            entries[static_cast<size_t>(r)] = {doc.GetItem(r)->GetState(), r};
        std::stable_sort(entries.begin(), entries.end(), [descending](const Entry& a, const Entry& b) {
            return descending ? b.state < a.state : a.state < b.state;
        });
        std::vector<int> order(static_cast<size_t>(count));
        for (size_t k = 0; k < order.size(); ++k)
            order[k] = entries[k].row;
        return order;
    }
    std::vector<std::string_view> keys(static_cast<size_t>(count));
    std::vector<std::string> notes;
    if (key == COL_NOTE) {
        notes.resize(static_cast<size_t>(count));
        for (int r = 0; r < count; ++r) {
            notes[static_cast<size_t>(r)] = doc.GetItem(r)->GetNote();
            keys[static_cast<size_t>(r)] = notes[static_cast<size_t>(r)];
        }
    } else {
        // The other text fields belong to the UI thread: views need no copy.
        for (int r = 0; r < count; ++r) {
            const CItem* item = doc.GetItem(r);
            keys[static_cast<size_t>(r)] = key == COL_URL           ? item->m_strUrl
                                           : key == COL_DESTINATION ? item->m_strDestination
                                           : key == COL_FILENAME    ? item->m_strFileName
                                                                    : item->m_strReferer;
        }
    }
    return SortedByText(keys, descending);
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
    doc.Reorder(newOrder); // the pending queue follows the rows
    doc.SetModifiedFlag(true);
    result.selection = MapRows(newOrder, SelectionMask(doc.GetCount(), sel));
    return result;
}

// ---- adding and editing --------------------------------------------------------

bool EditItem(CZorvDoc& doc, int row, const CUrlFields& values)
{
    if (row < 0 || row >= doc.GetCount())
        return false;
    CItem* item = doc.GetItem(row);
    {
        const auto lock = item->Lock();
        item->m_strUrl = values.url;
        item->m_strDestination = values.destination;
        item->m_strReferer = values.referer;
        if (!values.fileName.empty())
            item->m_strFileName = values.fileName;
        else
            item->MakeLocalName(values.level);
    }
    doc.UpdateItem(item);
    doc.SetModifiedFlag(true);
    return true;
}

int EditItems(CZorvDoc& doc, const std::vector<int>& rows, const CUrlFields& values)
{
    const std::vector<int> clean = CleanRows(doc, rows);
    for (const int row : clean) {
        CItem* item = doc.GetItem(row);
        {
            const auto lock = item->Lock();
            if (!values.destination.empty())
                item->m_strDestination = values.destination;
            if (!values.referer.empty())
                item->m_strReferer = values.referer;
            if (!values.fileName.empty())
                item->m_strFileName = values.fileName;
        }
        doc.UpdateItem(item);
    }
    if (!clean.empty())
        doc.SetModifiedFlag(true);
    return static_cast<int>(clean.size());
}

} // namespace zorv

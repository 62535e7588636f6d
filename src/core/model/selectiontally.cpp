#include "model/selectiontally.h"

#include "model/commands.h"

#include <algorithm>
#include <utility>

namespace zorv {

CSelectionTally::CSelectionTally(CZorvDoc& doc) : m_doc(doc), m_rows(static_cast<size_t>(doc.GetCount()), 0)
{
    m_doc.AddObserver(this);
}

CSelectionTally::~CSelectionTally()
{
    m_doc.RemoveObserver(this);
}

std::uint8_t CSelectionTally::Classify(int row) const
{
    const CItem& item = *m_doc.GetItem(row);
    return static_cast<std::uint8_t>(kSelected | (Pausable(item) ? kPausable : 0) | (item.IsPaused() ? kPaused : 0)
                                     | (item.GetState() == STATE_FETCHED ? kFetched : 0));
}

void CSelectionTally::Count(std::uint8_t flags, int sign)
{
    if (flags & kSelected)
        m_nCount += sign;
    if (flags & kPausable)
        m_nPausable += sign;
    if (flags & kPaused)
        m_nPaused += sign;
}

void CSelectionTally::Changed()
{
    if (m_changed)
        m_changed();
}

void CSelectionTally::Select(int first, int last)
{
    Mark(first, last, true);
}

void CSelectionTally::Deselect(int first, int last)
{
    Mark(first, last, false);
}

void CSelectionTally::Mark(int first, int last, bool select)
{
    if (m_nChanging != 0)
        return;
    first = std::max(first, 0);
    last = std::min(last, static_cast<int>(m_rows.size()) - 1);
    bool changed = false;
    for (int r = first; r <= last; ++r) {
        std::uint8_t& flags = m_rows[static_cast<size_t>(r)];
        if (((flags & kSelected) != 0) == select)
            continue;
        if (select) {
            flags = Classify(r);
            Count(flags, +1);
        } else {
            Count(flags, -1);
            flags = 0;
        }
        changed = true;
    }
    if (changed)
        Changed();
}

bool CSelectionTally::Reclassify(size_t row)
{
    std::uint8_t& flags = m_rows[row];
    if (!(flags & kSelected))
        return false;
    const std::uint8_t now = Classify(static_cast<int>(row));
    if (now == flags)
        return false;
    Count(flags, -1);
    Count(now, +1);
    flags = now;
    return true;
}

void CSelectionTally::OnBeginInsert(int first, int last)
{
    ++m_nChanging;
    const auto at = static_cast<size_t>(std::clamp(first, 0, static_cast<int>(m_rows.size())));
    m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(at), static_cast<size_t>(last - first + 1), 0);
}

void CSelectionTally::OnBeginRemove(int first, int last)
{
    ++m_nChanging;
    first = std::max(first, 0);
    last = std::min(last, static_cast<int>(m_rows.size()) - 1);
    if (first > last)
        return;
    bool changed = false;
    for (int r = first; r <= last; ++r) {
        if (m_rows[static_cast<size_t>(r)] & kSelected) {
            Count(m_rows[static_cast<size_t>(r)], -1);
            changed = true;
        }
    }
    m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
    // Told once the document has finished the removal.
    m_bRemoved = m_bRemoved || changed;
}

void CSelectionTally::OnEndRemove()
{
    --m_nChanging;
    if (std::exchange(m_bRemoved, false))
        Changed();
}

void CSelectionTally::OnEndReorder(const std::vector<int>& oldToNew)
{
    --m_nChanging;
    if (m_nCount == 0 || oldToNew.size() != m_rows.size())
        return;
    std::vector<std::uint8_t> moved(m_rows.size(), 0);
    for (size_t i = 0; i < oldToNew.size(); ++i)
        moved[static_cast<size_t>(oldToNew[i])] = m_rows[i];
    m_rows.swap(moved);
    bool changed = false;
    for (size_t r = 0; r < m_rows.size(); ++r)
        changed = Reclassify(r) || changed;
    if (changed)
        Changed();
}

void CSelectionTally::OnEndReset()
{
    --m_nChanging;
    // A reset list has no selection (the view's selection is cleared too).
    m_rows.assign(static_cast<size_t>(m_doc.GetCount()), 0);
    if (m_nCount == 0)
        return;
    m_nCount = m_nPausable = m_nPaused = 0;
    Changed();
}

void CSelectionTally::OnItemChanged(int row)
{
    if (row >= 0 && static_cast<size_t>(row) < m_rows.size() && Reclassify(static_cast<size_t>(row)))
        Changed();
}

} // namespace zorv

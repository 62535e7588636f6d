#include "model/selectiontally.h"

#include "model/commands.h"

#include <algorithm>

namespace zorv {

CSelectionTally::CSelectionTally(CZorvDoc& doc) : m_doc(doc)
{
    m_doc.AddObserver(this);
}

CSelectionTally::~CSelectionTally()
{
    m_doc.RemoveObserver(this);
}

std::uint8_t CSelectionTally::Classify(const CItem& item)
{
    return static_cast<std::uint8_t>((Pausable(item) ? kPausable : 0) | (item.IsPaused() ? kPaused : 0));
}

void CSelectionTally::Count(std::uint8_t flags, int sign)
{
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
    first = std::max(first, 0);
    last = std::min(last, m_doc.GetCount() - 1);
    bool changed = false;
    for (int r = first; r <= last; ++r) {
        const CItem* item = m_doc.GetItem(r);
        const std::uint8_t flags = Classify(*item);
        if (m_selected.try_emplace(item, flags).second) {
            Count(flags, +1);
            changed = true;
        }
    }
    if (changed)
        Changed();
}

void CSelectionTally::Deselect(int first, int last)
{
    first = std::max(first, 0);
    last = std::min(last, m_doc.GetCount() - 1);
    bool changed = false;
    for (int r = first; r <= last; ++r) {
        const auto it = m_selected.find(m_doc.GetItem(r));
        if (it == m_selected.end())
            continue;
        Count(it->second, -1);
        m_selected.erase(it);
        changed = true;
    }
    if (changed)
        Changed();
}

bool CSelectionTally::Reclassify()
{
    bool changed = false;
    for (auto& [item, flags] : m_selected) {
        const std::uint8_t now = Classify(*item);
        if (now == flags)
            continue;
        Count(flags, -1);
        Count(now, +1);
        flags = now;
        changed = true;
    }
    return changed;
}

void CSelectionTally::OnBeginRemove(int first, int last)
{
    Deselect(first, last);
}

void CSelectionTally::OnEndReorder(const std::vector<int>& /*oldToNew*/)
{
    // The same items stay selected; a reorder also stands for changes made
    // without a notice of their own (a reset of the selected rows).
    if (!m_selected.empty() && Reclassify())
        Changed();
}

void CSelectionTally::OnEndReset()
{
    // A reset list has no selection (the view's selection is cleared too).
    if (m_selected.empty())
        return;
    m_selected.clear();
    m_nPausable = m_nPaused = 0;
    Changed();
}

void CSelectionTally::OnItemChanged(int row)
{
    if (row < 0 || row >= m_doc.GetCount())
        return;
    const auto it = m_selected.find(m_doc.GetItem(row));
    if (it == m_selected.end())
        return;
    const std::uint8_t now = Classify(*it->first);
    if (now == it->second)
        return;
    Count(it->second, -1);
    Count(now, +1);
    it->second = now;
    Changed();
}

} // namespace zorv

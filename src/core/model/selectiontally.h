#pragma once
// CSelectionTally: what the enable rules of the item commands need to know
// about the selected rows, kept up to date as the selection and the items
// change, so that no rule walks the selection: how many rows are selected,
// how many of them can be paused, how many are paused.
//
// The owner reports the selection's changes (Select, Deselect) as the view
// tells them; the tally follows the items itself as an observer of the
// document: a changed item is looked at again, a removed one leaves, a
// reordered list (which may come with changed states) is looked at again, a
// reset list has nothing selected. Work is proportional to the rows that
// changed, never to the list. Runs on the UI thread.
#include "model/doc.h"

#include <cstdint>
#include <functional>
#include <unordered_map>

namespace zorv {

class CSelectionTally : public IDocObserver {
public:
    explicit CSelectionTally(CZorvDoc& doc);
    ~CSelectionTally() override;
    CSelectionTally(const CSelectionTally&) = delete;
    CSelectionTally& operator=(const CSelectionTally&) = delete;

    // Rows first..last (clipped to the list) became selected / unselected.
    // Rows already in that state are left as they are.
    void Select(int first, int last);
    void Deselect(int first, int last);

    int Count() const { return static_cast<int>(m_selected.size()); }
    // Selected items that the pause command would pause (Pausable).
    int PausableCount() const { return m_nPausable; }
    // Selected items that are paused.
    int PausedCount() const { return m_nPaused; }

    // Called after any of the counts changed.
    void SetChangedHandler(std::function<void()> handler) { m_changed = std::move(handler); }

private:
    enum : std::uint8_t { kPausable = 1, kPaused = 2 };
    static std::uint8_t Classify(const CItem& item);
    void Count(std::uint8_t flags, int sign);
    // Looks at every selected item again; true when a count changed.
    bool Reclassify();
    void Changed();

    // IDocObserver
    void OnBeginRemove(int first, int last) override;
    void OnEndReorder(const std::vector<int>& oldToNew) override;
    void OnEndReset() override;
    void OnItemChanged(int row) override;

    CZorvDoc& m_doc;
    // The selected items (an item leaves the map before it leaves the list)
    // and what they were when last looked at.
    std::unordered_map<const CItem*, std::uint8_t> m_selected;
    int m_nPausable = 0;
    int m_nPaused = 0;
    std::function<void()> m_changed;
};

} // namespace zorv

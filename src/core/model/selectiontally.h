#pragma once
// CSelectionTally: what the enable rules of the item commands need to know
// about the selected rows, kept up to date as the selection and the items
// change, so that no rule walks the selection: how many rows are selected,
// how many of them can be paused, how many are paused.
//
// The owner reports the selection's changes (Select, Deselect) as the view
// tells them; the tally follows the list itself as an observer of the
// document, one byte per row: rows inserted are not selected, rows removed
// leave, a reordered list moves the bytes along (and is looked at again: a
// reorder also stands for changes made without a notice of their own), a
// reset list has nothing selected, a changed item is looked at again. While
// the document is in the middle of such a change, selection reports are
// ignored (a view deselects removed rows itself; the tally has already
// counted them out). Work is proportional to the rows that changed, except
// for a reorder, which costs what the document's own reorder costs. Runs on
// the UI thread.
#include "model/doc.h"

#include <cstdint>
#include <functional>
#include <vector>

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

    int Count() const { return m_nCount; }
    // Selected items that the pause command would pause (Pausable).
    int PausableCount() const { return m_nPausable; }
    // Selected items that are paused.
    int PausedCount() const { return m_nPaused; }

    // Called after any of the counts changed, or a selected item became or
    // stopped being fetched.
    void SetChangedHandler(std::function<void()> handler) { m_changed = std::move(handler); }

private:
    // kFetched is not counted: its change is told (the rules of a single
    // selected row read the row itself).
    enum : std::uint8_t { kSelected = 1, kPausable = 2, kPaused = 4, kFetched = 8 };
    std::uint8_t Classify(int row) const;
    void Count(std::uint8_t flags, int sign);
    // Looks at selected row `row` again; true when a count changed.
    bool Reclassify(size_t row);
    void Changed();
    // Selects (or deselects) rows first to last that are not already so.
    void Mark(int first, int last, bool select);

    // IDocObserver
    void OnBeginInsert(int first, int last) override;
    void OnEndInsert() override { --m_nChanging; }
    void OnBeginRemove(int first, int last) override;
    void OnEndRemove() override;
    void OnBeginReorder() override { ++m_nChanging; }
    void OnEndReorder(const std::vector<int>& oldToNew) override;
    void OnBeginReset() override { ++m_nChanging; }
    void OnEndReset() override;
    void OnItemChanged(int row) override;

    CZorvDoc& m_doc;
    std::vector<std::uint8_t> m_rows; // per row of the list: the flags above
    int m_nCount = 0;
    int m_nPausable = 0;
    int m_nPaused = 0;
    int m_nChanging = 0; // inside a structural change of the document
    bool m_bRemoved = false; // selected rows were removed: told at the end
    std::function<void()> m_changed;
};

} // namespace zorv

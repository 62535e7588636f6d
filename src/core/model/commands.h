#pragma once
// The item commands on the list: delete, reset, cancel, move, sort, start and
// stop fetching, and the rules that enable them. The view maps its selection,
// menus, keys, header clicks and the Ctrl+wheel onto these functions; they
// keep the rows, the pending queue and the modified flag in step.
//
// UI thread only (like every change of the list). Fetch workers may run
// meanwhile: items in progress (states 4–7) are never deleted, reset or moved.
//
// A selection is a list of rows of the document. Order and duplicates do not
// matter; rows outside the list are ignored. The commands that change rows
// return the rows that are selected afterwards, ascending, so the view can
// select them again: the selected items that kept their place in the
// selection, at their new rows (moved rows stay selected; reset rows are
// not selected any more; deleted rows are gone).
//
// Each command changes the list with one batch operation of the document
// (RemoveItems or Reorder, one observer notice) and marks the list modified
// at most once, so a command on 100,000 rows costs one pass, one notice and
// at most one automatic save.
#include "model/doc.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zorv {


struct CCommandResult {
    // Number of items deleted, reset or moved.
    int nChanged = 0;
    // Rows selected after the command, ascending.
    std::vector<int> selection;
};

// ---- delete, reset, cancel ---------------------------------------------------

// Deletes the selected items that are queued or settled (states 0–3); an
// item in progress keeps its row and stays selected. Marks the list modified
// when anything was deleted.
CCommandResult DeleteItems(CZorvDoc& doc, const std::vector<int>& rows);

// Resets the selected items that are queued or settled: each moves to the
// bottom of the list (the reset rows in their former order, not selected),
// gets state 0 (not fetched), an empty note and a failure count of 0, and
// joins the tail of the pending queue (the workers are woken). Items in
// progress are left alone and stay selected. Marks the list modified when
// anything was reset.
CCommandResult ResetItems(CZorvDoc& doc, const std::vector<int>& rows);

// Cancels the fetch of every selected item (CItem::Cancel). Nothing else
// changes here: the worker that holds an item reports the outcome. Returns
// the number of items cancelled.
int CancelItems(CZorvDoc& doc, const std::vector<int>& rows);

// Pauses the selected items that are queued or being fetched: each keeps its
// place and is not taken until resumed; a running fetch stops at once, its
// partial data kept (CItem::StopForPause). Returns the number paused.
int PauseItems(CZorvDoc& doc, const std::vector<int>& rows);
// Resumes the selected paused items (the workers take them again in their
// place). Returns the number resumed.
int ResumeItems(CZorvDoc& doc, const std::vector<int>& rows);
// Queued (state 0) or being fetched, not yet launching its file, and not
// paused: what the pause command acts on.
bool Pausable(const CItem& item);
// Pause is enabled while a selected item can be paused, resume while a
// selected item is paused (CSelectionTally keeps both counts).

// ---- moves ---------------------------------------------------------------------

// Moves the selected settled rows by n: n < 0 towards the top, n > 0 towards
// the bottom. |n| >= the row count means to the very top or bottom: the
// settled selected rows go there in their order, passing everything else,
// selected rows in progress included. Otherwise a move by one row takes each
// run of settled selected rows one row past its unselected neighbour; a run
// at the end of the list or next to a selected row in progress stays. A move
// by |n| rows is |n| moves by one row (so two wheel notches in one event do
// what two single notches do). Rows in progress never move. n = 0 does
// nothing. The pending queue keeps list order. Marks the list modified when
// the order changed.
CCommandResult MoveSelection(CZorvDoc& doc, const std::vector<int>& rows, int n);

// The four move commands of the Edit menu.
CCommandResult MoveToTop(CZorvDoc& doc, const std::vector<int>& rows);    // Ctrl+Home
CCommandResult MoveUp(CZorvDoc& doc, const std::vector<int>& rows);       // Ctrl+Up
CCommandResult MoveDown(CZorvDoc& doc, const std::vector<int>& rows);     // Ctrl+Down
CCommandResult MoveToBottom(CZorvDoc& doc, const std::vector<int>& rows); // Ctrl+End

// The item of the first row at index >= row whose state is 0 (not fetched),
// or null.
CItem* FindNextUnfetched(const CZorvDoc& doc, int row);

// Ctrl+wheel: gathers wheel deltas (120 per notch, positive when the wheel
// turns away from the user) and turns whole notches into moves. One notch
// away from the user moves the selection one row up, one notch towards the
// user one row down. A partial notch is kept for the next delta. The view
// owns one for its lifetime.
class CWheelAccumulator {
public:
    // Adds a delta; returns the MoveSelection argument for the whole notches
    // gathered (negative: up), or 0 while less than a notch has gathered
    // (then the wheel event is consumed and nothing scrolls).
    int Add(int delta);
    // The part of a notch not yet turned into a move.
    int Pending() const { return m_nWheelDelta; }
    void Reset() { m_nWheelDelta = 0; }

private:
    int m_nWheelDelta = 0;
};

// ---- sorting -------------------------------------------------------------------

// The keys of the sort menu. The header click sorts by the clicked column
// number (COL_URL … COL_REFERER). Note that "Referer順" of the menu sorts by
// the file name column; only the header click sorts by the Referer column.
enum SortMenuKey : int {
    SORT_MENU_URL = COL_URL,            // "URL順"
    SORT_MENU_STATE = COL_STATE,        // "状態順"
    SORT_MENU_LOCALPATH = COL_DESTINATION, // "ローカルパス順"
    SORT_MENU_REFERER = COL_FILENAME,   // "Referer順"
    SORT_RANDOM = -1,                   // "ランダム"
};

// The last sort of a view: key and direction. Lives as long as the view; not
// reset by a new or opened list, not saved.
struct CSortState {
    int m_nSortKey = -1;
    bool m_bSortReverse = false; // the last sort was descending
};

// Sorts the list by a column (0–5: texts compared byte-wise as unsigned
// bytes, the state numerically). The first sort by a key is
// ascending, the same key again descending, again ascending; another key
// starts ascending. Rows that compare equal keep their order. Any other key
// (SORT_RANDOM) shuffles the rows; `seed` 0 seeds from the clock. The pending
// queue follows the new row order; the list is marked modified. The result's
// selection is the new rows of the selected items in `rows`.
CCommandResult SortByKey(CZorvDoc& doc, CSortState& state, int key,
                         const std::vector<int>& rows = {}, unsigned seed = 0);

// ---- adding and editing --------------------------------------------------------

// The five values of the URL edit dialog.
struct CUrlFields {
    std::string url;
    std::string referer;
    std::string destination;
    std::string fileName;
    int level = 0; // folder level for a derived file name
};

// Edit of one item: URL, destination and referrer take the values; a
// non-empty file name replaces the item's, an empty one is derived from the
// URL with values.level (mirrored URL folders appended to the destination).
// The fields are written under the item's lock, so a worker never reads them
// half-changed; an item being fetched keeps its transfer and uses the new
// values at its next fetch. State, note, failure count and place in the queue
// stay. Marks the list modified and redraws the row. False for a row outside
// the list.
bool EditItem(CZorvDoc& doc, int row, const CUrlFields& values);
// Edit of several items: each non-empty field of destination, referrer and
// file name replaces the item's; URL and level are not used. Marks the list
// modified and redraws the rows. Returns the number of rows edited.
int EditItems(CZorvDoc& doc, const std::vector<int>& rows, const CUrlFields& values);

// ---- enable rules ------------------------------------------------------------

// Start is enabled while no worker is alive, Stop while one is.
inline bool CanStartFetching(int liveWorkers) { return liveWorkers == 0; }
inline bool CanStopFetching(int liveWorkers) { return liveWorkers != 0; }
// Edit, Reset, Cancel fetch and Delete need at least one selected row. Every
// other item command (new, moves, select all, invert, sorts) is always
// enabled.
inline bool CanEdit(int selectedCount) { return selectedCount != 0; }
inline bool CanReset(int selectedCount) { return selectedCount != 0; }
inline bool CanCancel(int selectedCount) { return selectedCount != 0; }
inline bool CanDelete(int selectedCount) { return selectedCount != 0; }

} // namespace zorv

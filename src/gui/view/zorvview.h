#pragma once
// CZorvView: the list window. A table over the document's list (six
// columns, any number of rows selected), the selection count in the status
// bar, the context menu, the item commands mapped onto the core commands,
// the Ctrl+wheel moves and clipboard monitoring.
#include "model/commands.h"
#include "desktop/filemanager.h"
#include "model/destcheck.h"
#include "model/listrequest.h"
#include "model/selectiontally.h"

#include <QFont>
#include <QTableView>
#include <QUrl>

#include <functional>
#include <optional>
#include <vector>

namespace zorv {

class CListModel;
struct CImportNote;
class IViewHost;

class CZorvView : public QTableView {
    Q_OBJECT
public:
    CZorvView(IViewHost& host, QWidget* parent);
    ~CZorvView() override;

    CListModel& Model() const { return *m_pModel; }

    // Column widths (section "ListView", value names = column titles) and
    // the list font; joins clipboard monitoring. Runs once per view.
    void OnInitialUpdate();
    // Writes the column widths back; the frame calls it when it closes.
    void SaveColumnWidths() const;

    // Pane 0 of the status bar: "%d個中%d個選択中".
    void UpdateSelectionText();
    // Selected rows, ascending (walks the selection: for commands, not rules).
    std::vector<int> SelectedRows() const;
    // The number of selected rows (kept up to date, no walk).
    int SelectedCount() const { return m_tally.Count(); }
    // What the enable rules know of the selected rows.
    const CSelectionTally& Tally() const { return m_tally; }
    // Selects exactly `rows` (any order).
    void SelectRows(const std::vector<int>& rows);

    // ---- commands ----------------------------------------------------------
    void OnStart();
    void OnStop();
    void OnDelete();
    void OnReset();
    void OnCancel();
    void OnPause();
    void OnResume();
    void OnMove(int n);
    void OnSelectAll();
    void OnInvertSelection();
    void OnSort(int key);
    void OnSortRandom();
    void OnFont();
    void OnMonitorClipboard();
    // Ctrl+C: the selected rows' URLs to the clipboard, one per line.
    void OnCopy();
    // Ctrl+V, Shift+Insert: the URLs on the clipboard are added as a capture
    // adds them.
    void OnPaste();
    // "ファイルを開く" (and a double click on a fetched row): the one selected
    // fetched item's file with the desktop's handler.
    void OnOpenFile();
    // "保存先フォルダを開く": the one selected item's destination folder, with
    // its file selected where the file manager can do that.
    void OnOpenFolder();
    // "保存先のチェック...": every settled item gets an existing folder and a
    // file name; clashing local files are shown in groups.
    void OnCheckDestinations();
    // "設定(&O)...": the options sheet over the record of the run; a changed
    // number of connections applies to running workers on OK.
    void OnOptions();
    // "新規": the URL edit dialog in new mode; a typed pattern adds its run.
    void OnNew();
    // "編集": the URL edit dialog over the one selected item, or in
    // multi-edit mode over several.
    void OnEdit();
    // "インポート": another program's list file, chosen in a file dialog that
    // starts in the folder of the last import.
    void OnImport();
    // Text captured from the clipboard, pasted or dropped on the window:
    // every line that is a valid URL is added and queued, unless another
    // item already writes its local file (the status bar names the URLs left
    // out). Returns the number added.
    int AddUrlText(const QString& text);
    // The status-bar text for URLs left out because another item already
    // writes their file (clashes: URL, URL of that item).
    static QString SkippedText(const std::vector<std::pair<std::string, std::string>>& clashes);

    // The text an empty list shows: the ways to add URLs.
    static QString EmptyListHint();
    // What the import of `path` tells about the lines it went past.
    static QString ImportNotesText(const QString& path, const std::vector<CImportNote>& notes);

    bool IsMonitoringClipboard() const { return m_bMonitorClipboard; }
    const CSortState& SortState() const { return m_sort; }

    // Clipboard capture is suspended while a dialog of the view runs (the
    // options sheet, the URL edit dialog, the font dialog): keep one of these
    // alive around the dialog.
    class CDialogScope {
    public:
        explicit CDialogScope(CZorvView& view) : m_view(view) { ++m_view.m_nInDialog; }
        ~CDialogScope() { --m_view.m_nInDialog; }
        CDialogScope(const CDialogScope&) = delete;
        CDialogScope& operator=(const CDialogScope&) = delete;

    private:
        CZorvView& m_view;
    };
    bool InDialog() const { return m_nInDialog > 0; }

    // How the font command asks for a font: the initial font (none when no
    // valid font is saved) → the chosen font, or nothing when cancelled.
    // Default: QFontDialog.
    using FontChooser = std::function<std::optional<QFont>(const std::optional<QFont>& initial)>;
    void SetFontChooser(FontChooser chooser) { m_chooseFont = std::move(chooser); }
    // How the destination check shows a clash group (see
    // IDestClashResolver). Default: CDestCheckDialog.
    using ClashResolver = std::function<bool(std::vector<CDestEntry>& entries)>;
    void SetClashResolver(ClashResolver resolver) { m_resolveClash = std::move(resolver); }
    // How the import command asks for a file: the folder to start in and the
    // filter (Qt's form) → the chosen path, empty when cancelled. Default:
    // QFileDialog.
    using ImportChooser = std::function<QString(const QString& folder, const QString& filter)>;
    void SetImportChooser(ImportChooser chooser) { m_chooseImport = std::move(chooser); }
    // How the view reports an error (default: an error box).
    using ErrorHook = std::function<void(const QString& text)>;
    void SetErrorHook(ErrorHook hook) { m_error = std::move(hook); }
    // How a file or folder is opened with the desktop's handler; false when
    // it could not be (default: QDesktopServices::openUrl).
    using UrlOpener = std::function<bool(const QUrl& url)>;
    void SetUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }
    // The file manager that shows a file in its folder (tests give it a
    // private bus).
    CFileManagerLink& FileManager() { return m_fileManager; }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    // Shift+F10 opens the context menu at the current row.
    void keyPressEvent(QKeyEvent* event) override;
    // Home and End go to the first and the last row (Ctrl+Home and Ctrl+End
    // move the selected rows).
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    // The focus frame marks the whole current row; the cells draw none.
    void paintEvent(QPaintEvent* event) override;

private:
    void RegisterCommands();
    // The Edit menu at `globalPos`.
    void ShowContextMenu(const QPoint& globalPos);
    // The current row's rectangle across every column, in viewport
    // coordinates; empty when there is no current row.
    QRect CurrentRowRect() const;
    void ApplyResult(const CCommandResult& result);
    void ApplyFont(const QFont& font);
    // The one selected item when it can be opened: fetched (`fetched`), or
    // any with a destination; else null.
    ItemPtr OpenableItem(bool fetched) const;
    void OnClipboardChanged();
    CAddReport AddUrls(const QString& text);
    // Tells the tally what the selection model changed.
    void OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);

    IViewHost& m_host;
    CListModel* m_pModel;
    CSelectionTally m_tally; // after the model: it observes the document after it
    bool m_bSelectionChanging = false; // the tally is being told a selection change
    CSortState m_sort;
    CWheelAccumulator m_wheel;
    bool m_bMonitorClipboard = false;
    // What the copy command put on the clipboard: monitoring does not take
    // the list's own URLs back.
    QString m_strOwnCopy;
    bool m_bInitialized = false;
    int m_nInDialog = 0;
    FontChooser m_chooseFont;
    ClashResolver m_resolveClash;
    ImportChooser m_chooseImport;
    ErrorHook m_error;
    UrlOpener m_openUrl;
    CFileManagerLink m_fileManager;
};

} // namespace zorv

#include "view/zorvview.h"

#include "dialogs/optionssheet.h"
#include "dialogs/urleditdlg.h"
#include "engine/pool.h"
#include "engine/ratelimit.h"
#include "model/doc.h"
#include "model/import.h"
#include "model/listrequest.h"
#include "model/text.h"
#include "model/prompt.h"
#include "res/resource.h"
#include "res/strings.h"
#include "view/destcheckdlg.h"
#include "settings/options.h"
#include "settings/profile.h"
#include "settings/store.h"
#include "view/listmodel.h"
#include "view/progressdelegate.h"
#include "view/viewhost.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QFontDialog>
#include <QFontInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QSettings>
#include <QStyleOptionFocusRect>
#include <QWheelEvent>

namespace zorv {

namespace {

const QString kListViewSection = QStringLiteral("ListView");
const QString kFontEntry = QStringLiteral("Font");
// The folder of the last import (section "Settings").
const QString kSettingsSection = QStringLiteral("Settings");
const QString kImportFolderEntry = QStringLiteral("ImportFolder");
// Widths of a list with none stored, for typical content: the URL and the
// local path widest, the state wide enough for its mark and name, the note
// wide enough for the progress text.
constexpr int kDefaultColumnWidths[kColumnCount] = {260, 110, 320, 170, 140, 100};

std::optional<QFont> SavedFont()
{
    const auto bytes = GetBinaryProfile(kListViewSection, kFontEntry, kLogFontSize);
    const auto record = bytes ? LogFontFromBytes(*bytes) : std::nullopt;
    if (!record)
        return std::nullopt;
    QFont font;
    if (!record->faceName.empty())
        font.setFamily(QString::fromStdString(record->faceName));
    if (record->height != 0)
        font.setPixelSize(std::abs(record->height));
    if (record->weight >= 1 && record->weight <= 1000)
        font.setWeight(static_cast<QFont::Weight>(record->weight));
    font.setItalic(record->italic);
    font.setUnderline(record->underline);
    font.setStrikeOut(record->strikeOut);
    return font;
}

void SaveFont(const QFont& font)
{
    int pixels = font.pixelSize();
    if (pixels <= 0)
        pixels = QFontInfo(font).pixelSize();
    const CLogFont record{-pixels, font.weight(), font.italic(), font.underline(), font.strikeOut(),
                          font.family().toStdString()};
    WriteBinaryProfile(kListViewSection, kFontEntry, LogFontToBytes(record));
}

} // namespace

CZorvView::CZorvView(IViewHost& host, QWidget* parent)
    : QTableView(parent), m_host(host), m_pModel(new CListModel(host.Doc(), this)), m_tally(host.Doc())
{
    setModel(m_pModel);
    setItemDelegate(new CProgressDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(true);
    // The last column takes up what the others leave of the window.
    horizontalHeader()->setStretchLastSection(true);

    m_chooseFont = [this](const std::optional<QFont>& initial) -> std::optional<QFont> {
        bool ok = false;
        const QFont font = initial ? QFontDialog::getFont(&ok, *initial, this)
                                   : QFontDialog::getFont(&ok, this);
        return ok ? std::optional<QFont>(font) : std::nullopt;
    };

    m_resolveClash = [this](std::vector<CDestEntry>& entries) {
        CDestCheckDialog dialog(entries, this);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        entries = dialog.Entries();
        return true;
    };

    m_chooseImport = [this](const QString& folder, const QString& filter) {
        return QFileDialog::getOpenFileName(this, QString(), folder, filter);
    };
    m_error = [this](const QString& text) {
        QMessageBox::critical(this, res::LoadString(res::AFX_IDS_APP_TITLE), text);
    };
    m_openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    // A double click opens a fetched row's file; on other rows it does
    // nothing (editing is the Return key's).
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        const CItem* item = index.isValid() ? m_host.Doc().GetItem(index.row()) : nullptr;
        if (item && item->GetState() == STATE_FETCHED && OpenableItem(true))
            OnOpenFile();
    });

    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &CZorvView::OnSort);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &CZorvView::OnSelectionChanged);
    // The rules follow the selected items' states (a pause, a result).
    m_tally.SetChangedHandler([this] {
        if (!m_bSelectionChanging)
            m_host.UpdateCommandUI();
    });
    connect(m_pModel, &CListModel::RowsChanged, this, [this] {
        UpdateSelectionText();
        m_host.UpdateCommandUI();
    });
    RegisterCommands();
}

CZorvView::~CZorvView() = default;

void CZorvView::OnInitialUpdate()
{
    if (m_bInitialized)
        return;
    m_bInitialized = true;
    const auto saved = SavedFont();
    ApplyFont(saved ? *saved : font());
    auto store = OpenSettingsStore();
    store->beginGroup(kListViewSection);
    for (int column = 0; column < kColumnCount; ++column) {
        const QString title = res::LoadString(res::IDS_COLUMN_FIRST + column);
        bool ok = false;
        int width = store->value(title, kDefaultColumnWidths[column]).toInt(&ok);
        if (!ok || width < 0)
            width = kDefaultColumnWidths[column];
        setColumnWidth(column, width);
    }
    // Clipboard monitoring: only changes that happen while it is switched on
    // are read, so joining here never reads what is already there.
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            &CZorvView::OnClipboardChanged);
    UpdateSelectionText();
}

void CZorvView::SaveColumnWidths() const
{
    auto store = OpenSettingsStore();
    store->beginGroup(kListViewSection);
    for (int column = 0; column < kColumnCount; ++column)
        store->setValue(res::LoadString(res::IDS_COLUMN_FIRST + column), columnWidth(column));
}

void CZorvView::ApplyFont(const QFont& font)
{
    setFont(font);
    horizontalHeader()->setFont(font);
    // One fixed height for every row keeps a long list cheap to lay out.
    verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 6);
}

// ---- selection -------------------------------------------------------------------

std::vector<int> CZorvView::SelectedRows() const
{
    const int rows = m_pModel->rowCount();
    std::vector<char> selected(static_cast<size_t>(rows), 0);
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        for (int r = std::max(range.top(), 0); r <= range.bottom() && r < rows; ++r)
            selected[static_cast<size_t>(r)] = 1;
    }
    std::vector<int> out;
    for (int r = 0; r < rows; ++r) {
        if (selected[static_cast<size_t>(r)])
            out.push_back(r);
    }
    return out;
}

void CZorvView::OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    // The tally counts while it is told; one update of the rules follows.
    m_bSelectionChanging = true;
    const int lastColumn = m_pModel->columnCount() - 1;
    for (const QItemSelectionRange& range : deselected) {
        if (range.left() == 0 && range.right() == lastColumn) {
            m_tally.Deselect(range.top(), range.bottom());
            continue;
        }
        // Part of a row: it stays selected while any of its cells is.
        for (int r = range.top(); r <= range.bottom(); ++r) {
            if (!selectionModel()->rowIntersectsSelection(r, {}))
                m_tally.Deselect(r, r);
        }
    }
    for (const QItemSelectionRange& range : selected)
        m_tally.Select(range.top(), range.bottom());
    m_bSelectionChanging = false;
    UpdateSelectionText();
    m_host.UpdateCommandUI();
}

void CZorvView::SelectRows(const std::vector<int>& rows)
{
    std::vector<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    QItemSelection selection;
    const int last = m_pModel->columnCount() - 1;
    for (size_t i = 0; i < sorted.size();) {
        size_t j = i;
        while (j + 1 < sorted.size() && sorted[j + 1] == sorted[j] + 1)
            ++j;
        selection.select(m_pModel->index(sorted[i], 0), m_pModel->index(sorted[j], last));
        i = j + 1;
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void CZorvView::UpdateSelectionText()
{
    m_host.SetSelectionText(
        res::FormatCount(res::IDS_SELECTION, m_pModel->rowCount(), SelectedCount()));
}

// ---- commands ---------------------------------------------------------------------

void CZorvView::RegisterCommands()
{
    using namespace res;
    // Every rule reads kept-up counts: none walks the selection or the list.
    auto selected = [this](bool (*rule)(int)) {
        return [this, rule](QAction& a) { a.setEnabled(rule(m_tally.Count())); };
    };
    m_host.SetCommand(ID_FETCH_START, [this] { OnStart(); },
                       [this](QAction& a) { a.setEnabled(CanStartFetching(m_host.Pool().LiveWorkers())); });
    m_host.SetCommand(ID_FETCH_STOP, [this] { OnStop(); },
                       [this](QAction& a) { a.setEnabled(CanStopFetching(m_host.Pool().LiveWorkers())); });
    m_host.SetCommand(ID_EDIT_NEW, [this] { OnNew(); });
    m_host.SetCommand(ID_EDIT_EDIT, [this] { OnEdit(); }, selected(CanEdit));
    m_host.SetCommand(ID_FILE_IMPORT, [this] { OnImport(); });
    m_host.SetCommand(ID_EDIT_DELETE, [this] { OnDelete(); }, selected(CanDelete));
    m_host.SetCommand(ID_EDIT_RESET, [this] { OnReset(); }, selected(CanReset));
    m_host.SetCommand(ID_EDIT_CANCEL, [this] { OnCancel(); }, selected(CanCancel));
    m_host.SetCommand(ID_FETCH_PAUSE_ALL, [this] { m_host.Pool().PauseAll(); },
                       [this](QAction& a) { a.setEnabled(CanStopFetching(m_host.Pool().LiveWorkers())); });
    m_host.SetCommand(ID_EDIT_PAUSE, [this] { OnPause(); },
                       [this](QAction& a) { a.setEnabled(m_tally.PausableCount() != 0); });
    m_host.SetCommand(ID_EDIT_RESUME, [this] { OnResume(); },
                       [this](QAction& a) { a.setEnabled(m_tally.PausedCount() != 0); });
    m_host.SetCommand(ID_MOVE_TOP, [this] { OnMove(-m_pModel->rowCount()); });
    m_host.SetCommand(ID_MOVE_UP, [this] { OnMove(-1); });
    m_host.SetCommand(ID_MOVE_DOWN, [this] { OnMove(1); });
    m_host.SetCommand(ID_MOVE_BOTTOM, [this] { OnMove(m_pModel->rowCount()); });
    m_host.SetCommand(ID_EDIT_SELECT_ALL, [this] { OnSelectAll(); });
    m_host.SetCommand(ID_EDIT_INVERT_SELECTION, [this] { OnInvertSelection(); });
    m_host.SetCommand(ID_SORT_URL, [this] { OnSort(SORT_MENU_URL); });
    m_host.SetCommand(ID_SORT_STATE, [this] { OnSort(SORT_MENU_STATE); });
    m_host.SetCommand(ID_SORT_DESTINATION, [this] { OnSort(SORT_MENU_LOCALPATH); });
    m_host.SetCommand(ID_SORT_REFERER, [this] { OnSort(SORT_MENU_REFERER); });
    m_host.SetCommand(ID_SORT_RANDOM, [this] { OnSortRandom(); });
    m_host.SetCommand(ID_VIEW_FONT, [this] { OnFont(); });
    m_host.SetCommand(ID_CHECK_DESTINATION, [this] { OnCheckDestinations(); });
    m_host.SetCommand(ID_EDIT_OPTIONS, [this] { OnOptions(); });
    m_host.SetCommand(ID_MONITOR_CLIPBOARD, [this] { OnMonitorClipboard(); },
                       [this](QAction& a) { a.setChecked(m_bMonitorClipboard); });
    m_host.SetCommand(ID_EDIT_COPY, [this] { OnCopy(); }, selected(CanEdit));
    m_host.SetCommand(ID_EDIT_PASTE, [this] { OnPaste(); });
    m_host.SetCommand(ID_EDIT_OPEN_FILE, [this] { OnOpenFile(); },
                      [this](QAction& a) { a.setEnabled(OpenableItem(true) != nullptr); });
    m_host.SetCommand(ID_EDIT_OPEN_FOLDER, [this] { OnOpenFolder(); },
                      [this](QAction& a) { a.setEnabled(OpenableItem(false) != nullptr); });
}

void CZorvView::ApplyResult(const CCommandResult& result)
{
    SelectRows(result.selection);
    if (!result.selection.empty())
        scrollTo(m_pModel->index(result.selection.front(), 0));
    UpdateSelectionText();
}

void CZorvView::OnStart()
{
    m_host.Pool().StartFetching();
}

void CZorvView::OnStop()
{
    m_host.Pool().StopFetching();
}

void CZorvView::OnDelete()
{
    ApplyResult(DeleteItems(m_host.Doc(), SelectedRows()));
}

void CZorvView::OnReset()
{
    ApplyResult(ResetItems(m_host.Doc(), SelectedRows()));
}

void CZorvView::OnCancel()
{
    CancelItems(m_host.Doc(), SelectedRows());
}

void CZorvView::OnPause()
{
    PauseItems(m_host.Doc(), SelectedRows());
}

void CZorvView::OnResume()
{
    ResumeItems(m_host.Doc(), SelectedRows());
}

void CZorvView::OnMove(int n)
{
    const std::vector<int> rows = SelectedRows();
    if (rows.empty())
        return;
    ApplyResult(MoveSelection(m_host.Doc(), rows, n));
}

void CZorvView::OnSelectAll()
{
    selectAll();
}

void CZorvView::OnInvertSelection()
{
    const int rows = m_pModel->rowCount();
    const std::vector<int> selected = SelectedRows();
    std::vector<int> inverted;
    inverted.reserve(static_cast<size_t>(rows) - selected.size());
    size_t k = 0;
    for (int r = 0; r < rows; ++r) {
        if (k < selected.size() && selected[k] == r)
            ++k;
        else
            inverted.push_back(r);
    }
    SelectRows(inverted);
}

void CZorvView::OnSort(int key)
{
    const CCommandResult result = SortByKey(m_host.Doc(), m_sort, key, SelectedRows());
    SelectRows(result.selection);
    if (key >= 0 && key < kColumnCount)
        horizontalHeader()->setSortIndicator(key, m_sort.m_bSortReverse ? Qt::DescendingOrder
                                                                        : Qt::AscendingOrder);
    horizontalHeader()->setSortIndicatorShown(key >= 0 && key < kColumnCount);
}

void CZorvView::OnSortRandom()
{
    OnSort(SORT_RANDOM);
}

void CZorvView::OnMonitorClipboard()
{
    m_bMonitorClipboard = !m_bMonitorClipboard;
}

void CZorvView::OnCopy()
{
    QStringList urls;
    CZorvDoc& doc = m_host.Doc();
    for (const int r : SelectedRows()) {
        const CItem* item = doc.GetItem(r);
        const auto lock = item->Lock();
        urls << QString::fromStdString(item->m_strUrl);
    }
    if (urls.isEmpty())
        return;
    m_strOwnCopy = urls.join(QLatin1Char('\n'));
    QGuiApplication::clipboard()->setText(m_strOwnCopy);
}

void CZorvView::OnPaste()
{
    const CAddReport report = AddUrls(QGuiApplication::clipboard()->text(QClipboard::Clipboard));
    if (report.added == 0 && report.clashes.empty())
        m_host.ShowMessage(QStringLiteral("クリップボードに追加できる URL がありません"));
}

ItemPtr CZorvView::OpenableItem(bool fetched) const
{
    // One selected row: the first range of the selection holds it.
    if (m_tally.Count() != 1)
        return nullptr;
    const QItemSelection selection = selectionModel()->selection();
    if (selection.isEmpty() || selection.constFirst().top() >= m_host.Doc().GetCount())
        return nullptr;
    ItemPtr item = m_host.Doc().GetItemPtr(selection.constFirst().top());
    if (fetched ? item->GetState() != STATE_FETCHED : item->FetchParams().destination.empty())
        return nullptr;
    return item;
}

void CZorvView::OnOpenFile()
{
    const ItemPtr item = OpenableItem(true);
    if (!item)
        return;
    const QString path = QString::fromStdString(item->FetchParams().localPath);
    if (!QFileInfo(path).isFile())
        m_error(QStringLiteral("ファイルが見つかりません。\n\n%1").arg(QDir::toNativeSeparators(path)));
    else if (!m_openUrl(QUrl::fromLocalFile(path)))
        m_error(QStringLiteral("ファイルを開くアプリケーションがありません。\n\n%1").arg(QDir::toNativeSeparators(path)));
}

void CZorvView::OnOpenFolder()
{
    const ItemPtr item = OpenableItem(false);
    if (!item)
        return;
    const CFetchParams params = item->FetchParams();
    const QString folder = QString::fromStdString(params.destination);
    const QString path = QString::fromStdString(params.localPath);
    if (!QFileInfo(folder).isDir()) {
        m_error(QStringLiteral("保存先フォルダがありません。\n\n%1").arg(QDir::toNativeSeparators(folder)));
        return;
    }
    const auto openFolder = [this, folder] {
        if (!m_openUrl(QUrl::fromLocalFile(folder)))
            m_error(QStringLiteral("フォルダを開くアプリケーションがありません。\n\n%1").arg(QDir::toNativeSeparators(folder)));
    };
    // The file selected in its folder where it exists and a file manager
    // offers that; the folder alone otherwise.
    if (QFileInfo(path).isFile())
        m_fileManager.ShowItem(path, openFolder);
    else
        openFolder();
}

void CZorvView::OnFont()
{
    std::optional<QFont> chosen;
    {
        CDialogScope scope(*this);
        chosen = m_chooseFont(SavedFont());
    }
    if (!chosen)
        return;
    SaveFont(*chosen);
    ApplyFont(*chosen);
}

void CZorvView::OnCheckDestinations()
{
    class CResolver : public IDestClashResolver {
    public:
        explicit CResolver(const ClashResolver& f) : m_f(f) {}
        bool ResolveClash(std::vector<CDestEntry>& entries) override { return m_f(entries); }

    private:
        const ClashResolver& m_f;
    };
    const CDialogScope scope(*this);
    CResolver resolver(m_resolveClash);
    CheckDestinations(m_host.Doc(), m_host.Prompt(), resolver);
}

void CZorvView::OnOptions()
{
    const CDialogScope scope(*this);
    COptionsSheet sheet(Options(), this);
    if (sheet.DoModal() != QDialog::Accepted)
        return;
    // Stored at once, so that a crash or a kill later in the run does not
    // lose what the user confirmed.
    Options().SaveSettings();
    // Running transfers follow a changed speed limit, and running workers a
    // changed number of connections, at once.
    ApplySpeedLimit(Options().SpeedLimit);
    if (m_host.Pool().LiveWorkers() != 0)
        m_host.Pool().SetWorkerCount(Options().Connections);
}

void CZorvView::OnNew()
{
    const CDialogScope scope(*this);
    CUrlEditDialog dialog(CUrlEditDialog::MODE_NEW, this);
    if (dialog.DoModal() != QDialog::Accepted)
        return;
    const CUrlFields& v = dialog.Values();
    std::vector<CNewUrl> urls;
    for (const std::string& url : dialog.Urls())
        urls.push_back({url, v.referer, v.fileName});
    // The dialog asked about the large runs before it closed.
    CAddOptions options = kNewUrlCommand;
    options.largeConfirmed = true;
    AddNewUrls(m_host.Doc(), urls, v.destination, v.level, options);
    if (m_pModel->rowCount() > 0)
        scrollTo(m_pModel->index(m_pModel->rowCount() - 1, 0));
    OnCheckDestinations();
}

void CZorvView::OnEdit()
{
    const std::vector<int> rows = SelectedRows();
    if (rows.empty())
        return;
    const CDialogScope scope(*this);
    CZorvDoc& doc = m_host.Doc();
    // Worker results are handled while the dialog runs, and automatic
    // removal may take rows away: the edit goes to the items, wherever they
    // are afterwards.
    std::vector<ItemPtr> items;
    for (const int r : rows)
        items.push_back(doc.GetItemPtr(r));
    const auto rowsNow = [&] {
        std::vector<int> out;
        for (const ItemPtr& item : items)
            if (const int r = doc.RowOf(item.get()); r >= 0)
                out.push_back(r);
        return out;
    };
    const bool single = items.size() == 1;
    CUrlEditDialog dialog(single ? CUrlEditDialog::MODE_EDIT : CUrlEditDialog::MODE_MULTI_EDIT, this);
    if (single) {
        const CItem& item = *items.front();
        const auto lock = item.Lock();
        dialog.SetValues({item.m_strUrl, item.m_strReferer, item.m_strDestination, item.m_strFileName});
    }
    if (dialog.DoModal() != QDialog::Accepted)
        return;
    const std::vector<int> now = rowsNow();
    if (now.empty())
        return;
    if (single)
        EditItem(doc, now.front(), dialog.Values());
    else
        EditItems(doc, now, dialog.Values());
    OnCheckDestinations();
}

void CZorvView::OnImport()
{
    const CDialogScope scope(*this);
    auto store = OpenSettingsStore();
    store->beginGroup(kSettingsSection);
    const QString folder = store->value(kImportFolderEntry).toString();
    const QString path = m_chooseImport(folder, res::FileDialogFilter(res::LoadString(res::IDS_IMPORT_FILTER)));
    if (path.isEmpty())
        return;
    store->setValue(kImportFolderEntry, QFileInfo(path).absolutePath());
    store.reset();
    CZorvDoc& doc = m_host.Doc();
    const CImportResult result = ImportFile(doc, path.toStdString());
    if (!result.ok)
        m_error(res::LoadString(res::IDS_IMPORT_FAILED));
    if (!result.notes.empty())
        m_error(ImportNotesText(path, result.notes));
    doc.SetModifiedFlag(true);
    OnCheckDestinations();
}

QString CZorvView::ImportNotesText(const QString& path, const std::vector<CImportNote>& notes)
{
    // The only lines an import goes past: SaveAs= values it refused.
    QStringList lines;
    for (const CImportNote& note : notes)
        lines << QStringLiteral("%1 行目").arg(note.line);
    return QStringLiteral("%1\n\n次の行の SaveAs= は StoreIn のフォルダーの外を指すため使いませんでした"
                          "（その項目は StoreIn のフォルダーに保存します）:\n%2")
        .arg(QDir::toNativeSeparators(path), lines.join(QStringLiteral("、")));
}

QString CZorvView::EmptyListHint()
{
    return QStringLiteral("URL を追加するには\n\n"
                          "Insert キー（［編集］→［新規］）で URL を入力する\n"
                          "ブラウザーからリンクをこのウィンドウにドロップする\n"
                          "［ファイル］→［クリップボードの監視］をオンにして URL をコピーする\n"
                          "［ファイル］→［インポート］でほかのリストファイルを読み込む");
}

// ---- context menu, Ctrl+wheel -------------------------------------------------------

void CZorvView::ShowContextMenu(const QPoint& globalPos)
{
    // The Edit menu of the menu bar.
    m_host.UpdateCommandUI();
    m_host.EditMenu()->exec(globalPos);
}

QRect CZorvView::CurrentRowRect() const
{
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return {};
    const int last = m_pModel->columnCount() - 1;
    const QRect first = visualRect(m_pModel->index(current.row(), 0));
    const QRect end = visualRect(m_pModel->index(current.row(), last));
    return first.united(end);
}

void CZorvView::contextMenuEvent(QContextMenuEvent* event)
{
    // At the mouse; from the keyboard, under the current row (or at the
    // view's corner without one).
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        const QRect row = CurrentRowRect().intersected(viewport()->rect());
        at = viewport()->mapToGlobal(row.isEmpty() ? QPoint(0, 0) : row.bottomLeft());
    }
    ShowContextMenu(at);
}

void CZorvView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), QPoint(), event->modifiers());
        contextMenuEvent(&menu);
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

QModelIndex CZorvView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    const int rows = m_pModel->rowCount();
    if ((action == MoveHome || action == MoveEnd) && !(modifiers & Qt::ControlModifier) && rows > 0) {
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        return m_pModel->index(action == MoveHome ? 0 : rows - 1, column);
    }
    return QTableView::moveCursor(action, modifiers);
}

void CZorvView::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    if (m_pModel->rowCount() == 0) {
        // An empty list says how to fill it.
        QPainter painter(viewport());
        painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        const QRect area = viewport()->rect().adjusted(24, 24, -24, -24);
        painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, EmptyListHint());
        return;
    }
    if (!hasFocus())
        return;
    const QRect row = CurrentRowRect();
    if (row.isEmpty() || !row.intersects(event->rect()))
        return;
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = row;
    option.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
    const bool selected = selectionModel()->isRowSelected(currentIndex().row(), QModelIndex());
    option.backgroundColor = palette().color(selected ? QPalette::Highlight : QPalette::Base);
    QPainter painter(viewport());
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

void CZorvView::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QTableView::wheelEvent(event);
        return;
    }
    // Whole notches move the selection; a partial notch waits for the next.
    // The wheel does not scroll meanwhile: the moved rows are kept in view.
    if (const int n = m_wheel.Add(event->angleDelta().y()))
        OnMove(n);
    event->accept();
}

// ---- clipboard ------------------------------------------------------------------------

void CZorvView::OnClipboardChanged()
{
    if (!m_bMonitorClipboard || InDialog())
        return;
    if (m_host.Doc().IsLoading()) {
        // A URL copied while another list is being read belongs to that list.
        QTimer::singleShot(50, this, &CZorvView::OnClipboardChanged);
        return;
    }
    const QString text = QGuiApplication::clipboard()->text(QClipboard::Clipboard);
    if (!m_strOwnCopy.isNull() && text == m_strOwnCopy)
        return;
    m_strOwnCopy.clear();
    AddUrlText(text);
}

int CZorvView::AddUrlText(const QString& text)
{
    return AddUrls(text).added;
}

CAddReport CZorvView::AddUrls(const QString& text)
{
    std::vector<std::string> lines;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lines.push_back(line.toStdString());
    CAddReport report = AddUrlLines(m_host.Doc(), lines);
    if (!report.clashes.empty())
        m_host.ShowMessage(SkippedText(report.clashes));
    return report;
}

QString CZorvView::SkippedText(const std::vector<std::pair<std::string, std::string>>& clashes)
{
    if (clashes.empty())
        return {};
    const QString first = QString::fromStdString(EscapeText(clashes.front().first));
    if (clashes.size() == 1)
        return QStringLiteral("同じファイルに保存する項目がすでにあるため追加しませんでした: %1").arg(first);
    return QStringLiteral("同じファイルに保存する項目がすでにあるため %1 個の URL を追加しませんでした: %2 ほか")
        .arg(clashes.size())
        .arg(first);
}

} // namespace zorv

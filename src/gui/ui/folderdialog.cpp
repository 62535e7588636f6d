#include "ui/folderdialog.h"

#include "model/prompt.h"
#include "res/resource.h"

#include <QDir>
#include <QEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace zorv {

namespace {

const QString kRoot = QStringLiteral("/");

// `path` (clean, absolute) and every folder above it, the root first.
QStringList Chain(const QString& path)
{
    QStringList chain{path};
    for (QString up = QFileInfo(path).path(); up != chain.front(); up = QFileInfo(up).path())
        chain.prepend(up);
    return chain;
}

} // namespace

CFolderDialog::CFolderDialog(QWidget* parent)
    : QDialog(parent), m_pIcons(std::make_unique<QFileIconProvider>())
{
    setWindowTitle(QStringLiteral("フォルダの参照"));
    setSizeGripEnabled(true);

    m_pModel = new QFileSystemModel(this);
    m_pModel->setIconProvider(m_pIcons.get());
    m_pModel->setFilter(QDir::Dirs | QDir::NoDotAndDotDot); // no hidden folders
    m_pModel->setReadOnly(false);                           // rename in place
    m_pModel->setRootPath(kRoot);

    m_pPrompt = new QLabel(this);
    m_pPrompt->setObjectName(QString::number(res::IDC_FOLDER_PROMPT));
    m_pPrompt->setTextFormat(Qt::PlainText);
    m_pPrompt->setWordWrap(true);

    // The model's top node is "/" itself: the view keeps the invisible root.
    m_pTree = new QTreeView(this);
    m_pTree->setObjectName(QString::number(res::IDC_FOLDER_TREE));
    m_pTree->setModel(m_pModel);
    m_pTree->setHeaderHidden(true);
    for (int column = 1; column < m_pModel->columnCount(); ++column)
        m_pTree->hideColumn(column);
    m_pTree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pTree->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    m_pTree->setUniformRowHeights(true);
    m_pTree->setAnimated(false);
    m_pTree->setMinimumSize(200, 160);

    m_pNewFolder = new QPushButton(QStringLiteral("新規フォルダ"), this);
    m_pNewFolder->setObjectName(QString::number(res::IDC_FOLDER_NEW));
    m_pNewFolder->setAutoDefault(false);
    m_pOk = new QPushButton(QStringLiteral("OK"), this);
    m_pOk->setObjectName(QString::number(IDOK));
    m_pOk->setDefault(true);
    m_pCancel = new QPushButton(QStringLiteral("キャンセル"), this);
    m_pCancel->setObjectName(QString::number(IDCANCEL));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pNewFolder);
    buttons->addStretch();
    buttons->addWidget(m_pOk);
    buttons->addWidget(m_pCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pPrompt);
    layout->addWidget(m_pTree, 1);
    layout->addLayout(buttons);
    resize(360, 420);

    m_fnMessage = [this](const QString& caption, const QString& text) {
        QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, this);
        box.exec();
    };

    connect(m_pNewFolder, &QPushButton::clicked, this, &CFolderDialog::OnNewFolder);
    connect(m_pOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_pCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_pTree->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CFolderDialog::OnSelectionChanged);
    connect(m_pModel, &QFileSystemModel::directoryLoaded, this, &CFolderDialog::OnDirectoryLoaded);
    // Sorting a folder read in the background moves rows after it loaded.
    connect(m_pModel, &QAbstractItemModel::layoutChanged, this, [this] { OnDirectoryLoaded(QString()); });
    m_pTree->viewport()->installEventFilter(this);
    m_pTree->verticalScrollBar()->installEventFilter(this);
    connect(m_pModel, &QFileSystemModel::fileRenamed, this, &CFolderDialog::OnFileRenamed);
    connect(m_pModel, &QAbstractItemModel::rowsInserted, this,
            &CFolderDialog::OnRowsInserted);
}

CFolderDialog::~CFolderDialog()
{
    // Selection changes while the tree goes away are not the user's; the
    // model goes before the icon provider it uses.
    m_bClosing = true;
    delete m_pTree;
    delete m_pModel;
}

void CFolderDialog::SetPath(const QString& path)
{
    m_strPath = path;
}

void CFolderDialog::SetPrompt(const QString& prompt)
{
    m_pPrompt->setText(prompt);
}

QString CFolderDialog::GetPrompt() const
{
    return m_pPrompt->text();
}

void CFolderDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!std::exchange(m_bShown, true))
        Preselect();
}

// The root is expanded. An empty request selects the root and opens the
// user's home folder; an existing folder is selected with its ancestors
// expanded. Otherwise the folders of the request that exist are expanded and
// nothing is selected, so the path stays as requested. The model reads
// folders in the background, but asking it for a path's index builds that
// path's nodes at once (even through a hidden folder), so the selection
// happens now; the view scrolls to it again as the folders above it are read.
void CFolderDialog::Preselect()
{
    const QModelIndex root = m_pModel->index(kRoot);
    m_pTree->expand(root);
    const QString requested = m_strPath;
    if (requested.isEmpty() || requested == kRoot) {
        SelectIndex(root);
        const QString home = QDir::cleanPath(QDir::homePath());
        if (requested.isEmpty() && !QDir::isRelativePath(home))
            for (const QString& folder : Chain(home))
                m_pTree->expand(m_pModel->index(folder));
        return;
    }
    if (QDir::isRelativePath(requested))
        return; // no folder of the tree has that path
    const QString target = QDir::cleanPath(requested);
    QString existing = target;
    while (!QFileInfo(existing).isDir())
        existing = QFileInfo(existing).path();
    QStringList chain = Chain(existing);
    if (existing == target)
        chain.removeLast(); // selected, not expanded
    for (const QString& folder : chain) {
        const QModelIndex index = m_pModel->index(folder);
        if (!index.isValid())
            return;
        m_pTree->expand(index);
    }
    if (existing != target)
        return;
    const QModelIndex index = m_pModel->index(target);
    if (!index.isValid())
        return;
    SelectIndex(index);
    m_scrollAfterLoad = chain;
    m_bFollowSelection = true;
    m_pTree->scrollTo(index, QAbstractItemView::PositionAtCenter);
    QTimer::singleShot(0, this, [this] { OnDirectoryLoaded(QString()); });
}

bool CFolderDialog::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
        m_bFollowSelection = false;
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void CFolderDialog::OnDirectoryLoaded(const QString& dir)
{
    if (!m_bFollowSelection || (!dir.isEmpty() && !m_scrollAfterLoad.removeAll(dir)))
        return;
    const QModelIndexList selected = m_pTree->selectionModel()->selectedIndexes();
    if (!selected.isEmpty())
        m_pTree->scrollTo(selected.front(), QAbstractItemView::PositionAtCenter);
}

void CFolderDialog::SelectIndex(const QModelIndex& index)
{
    m_pTree->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    OnSelectionChanged(); // refreshes the path even when the selection stayed
}

// Every node is a folder of the file system, so a selection is valid when its
// folder is still there. Without a selection the path and the buttons keep
// the state of the last valid one.
void CFolderDialog::OnSelectionChanged()
{
    if (m_bClosing)
        return;
    const QModelIndexList selected = m_pTree->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return;
    const QModelIndex index = selected.front().siblingAtColumn(0);
    const bool valid = m_pModel->isDir(index);
    if (valid)
        m_strPath = m_pModel->filePath(index);
    m_pOk->setEnabled(valid);
    m_pNewFolder->setEnabled(valid);
}

void CFolderDialog::OnNewFolder()
{
    const QModelIndexList selected = m_pTree->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return;
    const QModelIndex parent = selected.front().siblingAtColumn(0);
    m_pTree->expand(parent);
    const QString caption = QStringLiteral("フォルダの作成");
    // The folder must be one that can be entered (searched), as for a change
    // of directory; the process's own current folder is left alone.
    const QFileInfo info(m_pModel->filePath(parent));
    if (!info.isDir() || !info.isExecutable()) {
        m_fnMessage(caption, QStringLiteral("フォルダの作成に失敗しました．\n"
                                            "(フォルダに移動できませんでした)"));
        return;
    }
    const QDir dir(info.absoluteFilePath());
    const QString base = QStringLiteral("新しいフォルダ");
    QString name = base;
    for (int n = 0; !dir.mkdir(name); ++n) {
        if (n > 98) {
            m_fnMessage(caption, QStringLiteral("フォルダの作成に失敗しました．"));
            return;
        }
        name = QStringLiteral("%1 (%2)").arg(base).arg(n);
    }
    // The folder is made on disk and its node taken from the model's next
    // reading of the parent (the parent is watched, and expanding it reads
    // it): a node made by hand could be dropped again by a reading that
    // started before the folder existed, closing the edit on it.
    m_strPendingEdit = dir.filePath(name);
    OnRowsInserted(parent, 0, m_pModel->rowCount(parent) - 1);
}

// Rows came into the tree under `parent`. The folder just made is edited at
// once: the selection stays on the folder it was made in (so the next new
// folder is its sibling) until a rename selects it, and making the new node
// current closes an edit still open on an earlier one (its text is kept).
// With nothing selected, the node of the path is selected when it comes (a
// renamed folder that a reading of its parent dropped and brought back).
void CFolderDialog::OnRowsInserted(const QModelIndex& parent, int first, int last)
{
    const QString dir = m_pModel->filePath(parent);
    const bool edit = !m_strPendingEdit.isEmpty() && QFileInfo(m_strPendingEdit).path() == dir;
    const bool reselect = !m_pTree->selectionModel()->hasSelection() && !m_strPath.isEmpty() &&
                          QFileInfo(m_strPath).path() == dir;
    for (int row = first; (edit || reselect) && row <= last; ++row) {
        const QModelIndex index = m_pModel->index(row, 0, parent);
        const QString path = m_pModel->filePath(index);
        if (edit && path == m_strPendingEdit) {
            m_strPendingEdit.clear();
            m_pTree->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
            m_pTree->scrollTo(index);
            m_pTree->edit(index);
            return;
        }
        if (reselect && path == m_strPath) {
            SelectIndex(index);
            return;
        }
    }
}

// A name edited in the tree has been given to the folder on disk: the node
// under its new name is selected again, which refreshes the path.
void CFolderDialog::OnFileRenamed(const QString& dir, const QString&, const QString& newName)
{
    m_strPath = QDir(dir).filePath(newName);
    const QModelIndex index = m_pModel->index(m_strPath);
    if (index.isValid())
        SelectIndex(index);
}

std::optional<QString> ChooseDestinationFolder(QWidget* parent, const QString& current)
{
    CFolderDialog dialog(parent);
    dialog.SetPath(current);
    dialog.SetPrompt(QStringLiteral("Destination Foler"));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.GetPath();
}

} // namespace zorv

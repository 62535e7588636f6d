#include "view/listmodel.h"

#include "cli/progress.h"
#include "model/progresstext.h"
#include "model/text.h"
#include "res/resource.h"
#include "res/strings.h"
#include "view/statemark.h"

#include <QBrush>
#include <QGuiApplication>

namespace zorv {

CListModel::CListModel(CZorvDoc& doc, QObject* parent) : QAbstractTableModel(parent), m_doc(doc)
{
    m_doc.AddObserver(this);
}

CListModel::~CListModel()
{
    m_doc.RemoveObserver(this);
}

int CListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_doc.GetCount();
}

int CListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_doc.GetCount())
        return {};
    const CItem* item = m_doc.GetItem(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        // Text from outside (a URL, a server's reply) may hold control
        // characters: they are shown escaped; the item keeps its text.
        return QString::fromStdString(EscapeText(item->GetColumnText(index.column())));
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    case Qt::DecorationRole:
        // The state column starts with a mark of the state.
        if (index.column() != COL_STATE)
            return {};
        return StateMarkIcon(StateMarkOf(*item), QGuiApplication::palette());
    case Qt::ForegroundRole: {
        // A failed row (and one whose URL cannot be fetched) reads in the
        // colour of its mark.
        const EStateMark mark = StateMarkOf(*item);
        if (mark != EStateMark::Failed && mark != EStateMark::Invalid)
            return {};
        return QBrush(StateMarkColor(mark, QGuiApplication::palette()));
    }
    case ProgressRole:
    case ProgressTextRole: {
        const int state = item->GetState();
        if (index.column() != COL_NOTE)
            return {};
        if (state == STATE_FETCHED) {
            // A fetched item's size, from the note its transfer left (also
            // for items fetched in an earlier run and read from the list).
            std::uint64_t done = 0, total = 0;
            if (role != ProgressTextRole || !ParseProgressNote(item->GetNote(), done, total))
                return {};
            return QString::fromStdString(FormatSize(done));
        }
        if (state != STATE_FETCHING)
            return {};
        const CItem::CProgress progress = item->Progress();
        if (role == ProgressTextRole)
            return QString::fromStdString(
                FormatProgressText(progress.received, progress.total, static_cast<double>(progress.bytesPerSecond)));
        if (progress.total == 0)
            return {};
        return std::min(1.0, static_cast<double>(progress.received) / static_cast<double>(progress.total));
    }
    default:
        return {};
    }
}

QVariant CListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return res::LoadString(res::IDS_COLUMN_FIRST + section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

void CListModel::OnBeginInsert(int first, int last)
{
    beginInsertRows({}, first, last);
}

void CListModel::OnEndInsert()
{
    endInsertRows();
    emit RowsChanged();
}

void CListModel::OnBeginRemove(int first, int last)
{
    beginRemoveRows({}, first, last);
}

void CListModel::OnEndRemove()
{
    m_shown.clear();
    endRemoveRows();
    emit RowsChanged();
}

void CListModel::OnBeginReorder()
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CListModel::OnEndReorder(const std::vector<int>& oldToNew)
{
    // Persistent indexes (the selection, the current row) follow their items.
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& i : from) {
        const auto row = static_cast<size_t>(i.row());
        to.append(row < oldToNew.size() ? index(oldToNew[row], i.column()) : QModelIndex());
    }
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    emit RowsChanged();
}

void CListModel::RefreshWaits()
{
    const bool waiting = m_doc.WaitingCount() > 0;
    if ((waiting || m_bWaitsShown) && rowCount() > 0)
        emit dataChanged(index(0, COL_STATE), index(rowCount() - 1, COL_NOTE), {Qt::DisplayRole});
    m_bWaitsShown = waiting;
}

void CListModel::OnBeginReset()
{
    beginResetModel();
}

void CListModel::OnEndReset()
{
    m_shown.clear();
    endResetModel();
    emit RowsChanged();
}

CListModel::CShownRow CListModel::ShownRow(const CItem& item)
{
    CShownRow shown;
    shown.mark = StateMarkOf(item);
    for (int c = 0; c < kColumnCount; ++c)
        shown.texts[static_cast<size_t>(c)] = std::hash<std::string>{}(item.GetColumnText(c));
    if (item.GetState() == STATE_FETCHING) {
        const CItem::CProgress p = item.Progress();
        shown.progress = {p.received, p.total, p.bytesPerSecond};
    }
    return shown;
}

void CListModel::OnItemChanged(int row)
{
    const CItem* item = m_doc.GetItem(row);
    if (!item)
        return;
    CShownRow now = ShownRow(*item);
    const auto [it, first] = m_shown.try_emplace(item->Serial(), now);
    const CShownRow before = it->second;
    it->second = now;
    // A row seen for the first time, or one that turns to or from the colour
    // of a failure, changes as a whole.
    const auto coloured = [](EStateMark m) { return m == EStateMark::Failed || m == EStateMark::Invalid; };
    if (first || (before.mark != now.mark && (coloured(before.mark) || coloured(now.mark)))) {
        emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
        return;
    }
    for (int c = 0; c < kColumnCount; ++c) {
        const auto i = static_cast<size_t>(c);
        bool changed = before.texts[i] != now.texts[i];
        if (c == COL_STATE)
            changed = changed || before.mark != now.mark;
        if (c == COL_NOTE)
            changed = changed || before.progress != now.progress;
        if (changed)
            emit dataChanged(index(row, c), index(row, c));
    }
}

void CListModel::OnTitleChanged()
{
    emit TitleChanged();
}

} // namespace zorv

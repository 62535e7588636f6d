#include "view/listmodel.h"

#include "cli/progress.h"
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
        // A fetching item's progress; a fetched one's size.
        const int state = item->GetState();
        if (index.column() != COL_NOTE || (state != STATE_FETCHING && state != STATE_FETCHED))
            return {};
        std::uint64_t done = 0, total = 0;
        if (!ParseProgressNote(item->GetNote(), done, total))
            return {};
        if (state == STATE_FETCHED)
            return role == ProgressTextRole ? QString::fromStdString(FormatSize(done)) : QVariant();
        if (role == ProgressTextRole)
            return QString::fromStdString(FormatProgressText(done, total, m_rates.Rate(item->Serial())));
        if (total == 0)
            return {};
        return std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
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

void CListModel::SampleProgress(const std::vector<ItemPtr>& running, std::uint64_t nowMs)
{
    for (const ItemPtr& item : running) {
        std::uint64_t done = 0, total = 0;
        if (ParseProgressNote(item->GetNote(), done, total))
            m_rates.Sample(item->Serial(), done, nowMs);
    }
    m_rates.Prune(nowMs);
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

void CListModel::OnBeginReset()
{
    beginResetModel();
}

void CListModel::OnEndReset()
{
    endResetModel();
    emit RowsChanged();
}

void CListModel::OnItemChanged(int row)
{
    emit dataChanged(index(row, 0), index(row, kColumnCount - 1), {Qt::DisplayRole});
}

void CListModel::OnTitleChanged()
{
    emit TitleChanged();
}

} // namespace zorv

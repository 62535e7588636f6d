#pragma once
// CListModel: the document's list as a Qt table model. Rows are list
// positions, columns the six item columns; texts come from the items when
// the view paints (nothing is copied into the model); a worker's progress
// signals only the cells it changed (usually the note cell alone).
#include "model/doc.h"
#include "view/statemark.h"

#include <QAbstractTableModel>

#include <array>
#include <unordered_map>

namespace zorv {

class CListModel : public QAbstractTableModel, public IDocObserver {
    Q_OBJECT
public:
    // Progress of a fetching item, 0.0–1.0, in the note column; absent
    // otherwise.
    static constexpr int ProgressRole = Qt::UserRole + 1;
    // What the note cell shows instead of the note: for a fetching item
    // percent, sizes, its own speed and the time left; for a fetched one its
    // size; absent otherwise.
    static constexpr int ProgressTextRole = Qt::UserRole + 2;

    explicit CListModel(CZorvDoc& doc, QObject* parent = nullptr);
    ~CListModel() override;

    CZorvDoc& Doc() const { return m_doc; }
    // The waits of items queued for a retry count down in their state and
    // note cells: called once a second, it redraws those columns while any
    // item waits (and once after the last wait ended).
    void RefreshWaits();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    void TitleChanged();
    // Rows were added, removed, re-ordered or reset.
    void RowsChanged();

private:
    // IDocObserver
    void OnBeginInsert(int first, int last) override;
    void OnEndInsert() override;
    void OnBeginRemove(int first, int last) override;
    void OnEndRemove() override;
    void OnBeginReorder() override;
    void OnEndReorder(const std::vector<int>& oldToNew) override;
    void OnBeginReset() override;
    void OnEndReset() override;
    void OnItemChanged(int row) override;
    void OnTitleChanged() override;

    // What a row showed when it was last signalled: its mark, each column's
    // text (hashed) and, while fetching, its progress. A change signals only
    // the cells whose part of this differs.
    struct CShownRow {
        EStateMark mark = EStateMark::None;
        std::array<std::size_t, kColumnCount> texts{};
        std::array<std::uint64_t, 3> progress{}; // received, total, speed
    };
    static CShownRow ShownRow(const CItem& item);

    CZorvDoc& m_doc;
    std::unordered_map<std::uint64_t, CShownRow> m_shown; // by item serial
    bool m_bWaitsShown = false;
};

} // namespace zorv

#pragma once
// CListModel: the document's list as a Qt table model. Rows are list
// positions, columns the six item columns; texts come from the items when
// the view paints (nothing is copied into the model), so a worker's progress
// costs one row's dataChanged.
#include "model/doc.h"
#include "model/progresstext.h"

#include <QAbstractTableModel>

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

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Notes the byte counts of the running items at `nowMs` (once a
    // second): their speed comes from these samples.
    void SampleProgress(const std::vector<ItemPtr>& running, std::uint64_t nowMs);

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

    CZorvDoc& m_doc;
    CRateSmoother m_rates;
};

} // namespace zorv

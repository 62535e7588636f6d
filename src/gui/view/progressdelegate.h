#pragma once
// Draws the note cell of a fetching item with a progress bar behind its
// "received/total" text.
#include <QStyledItemDelegate>

namespace zorv {

class CProgressDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

} // namespace zorv

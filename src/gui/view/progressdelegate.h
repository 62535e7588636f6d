#pragma once
// Draws the note cell of a fetching item as its progress text (percent,
// sizes, speed, time left) over a progress bar (none without a known length), and every cell without a focus frame of its own
// (the view frames the current row).
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

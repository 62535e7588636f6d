#include "view/progressdelegate.h"

#include "view/listmodel.h"

#include <QApplication>
#include <QPainter>

namespace zorv {

void CProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const
{
    // No focus frame around one cell: the view frames the whole row.
    QStyleOptionViewItem plain = option;
    plain.state &= ~QStyle::State_HasFocus;
    const QVariant text = index.data(CListModel::ProgressTextRole);
    if (!text.isValid()) {
        QStyledItemDelegate::paint(painter, plain, index);
        return;
    }
    const QVariant progress = index.data(CListModel::ProgressRole);
    QStyleOptionViewItem opt = plain;
    initStyleOption(&opt, index);
    opt.text = text.toString();
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();

    // Background (and selection highlight) first, then the bar, then the text.
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
    const QRect cell = opt.rect.adjusted(1, 2, -1, -2);
    const bool selected = opt.state & QStyle::State_Selected;
    // No bar without a known length: only the text.
    if (progress.isValid()) {
        const int filled = static_cast<int>(cell.width() * progress.toDouble());
        painter->save();
        painter->setPen(Qt::NoPen);
        painter->setBrush(selected ? QColor(255, 255, 255, 90) : QColor(80, 160, 255, 110));
        painter->drawRect(QRect(cell.left(), cell.top(), filled, cell.height()));
        painter->setPen(selected ? QColor(255, 255, 255, 160) : QColor(80, 160, 255, 180));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(cell.adjusted(0, 0, -1, -1));
        painter->restore();
    }

    // The same text margin as the plain cells.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect textRect =
        style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget).adjusted(margin, 0, -margin, 0);
    const QPalette::ColorRole role = selected ? QPalette::HighlightedText : QPalette::Text;
    const QString shown = opt.fontMetrics.elidedText(opt.text, opt.textElideMode, textRect.width());
    style->drawItemText(painter, textRect, Qt::AlignLeft | Qt::AlignVCenter, opt.palette, true, shown,
                        role);
}

} // namespace zorv

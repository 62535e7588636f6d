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
    const QVariant progress = index.data(CListModel::ProgressRole);
    if (!progress.isValid()) {
        QStyledItemDelegate::paint(painter, plain, index);
        return;
    }
    QStyleOptionViewItem opt = plain;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();

    // Background (and selection highlight) first, then the bar, then the text.
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
    const QRect cell = opt.rect.adjusted(1, 2, -1, -2);
    const int filled = static_cast<int>(cell.width() * progress.toDouble());
    const bool selected = opt.state & QStyle::State_Selected;
    painter->save();
    painter->setPen(Qt::NoPen);
    painter->setBrush(selected ? QColor(255, 255, 255, 90) : QColor(80, 160, 255, 110));
    painter->drawRect(QRect(cell.left(), cell.top(), filled, cell.height()));
    painter->setPen(selected ? QColor(255, 255, 255, 160) : QColor(80, 160, 255, 180));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(cell.adjusted(0, 0, -1, -1));
    painter->restore();

    // The same text margin as the plain cells.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect textRect =
        style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget).adjusted(margin, 0, -margin, 0);
    const QPalette::ColorRole role = selected ? QPalette::HighlightedText : QPalette::Text;
    const QString text = opt.fontMetrics.elidedText(opt.text, opt.textElideMode, textRect.width());
    style->drawItemText(painter, textRect, Qt::AlignLeft | Qt::AlignVCenter, opt.palette, true, text,
                        role);
}

} // namespace zorv

#include "view/statemark.h"

#include "model/item.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace zorv {

EStateMark StateMarkOf(const CItem& item)
{
    if (item.IsPaused() && item.GetState() == STATE_NOT_FETCHED)
        return EStateMark::Paused;
    switch (item.GetState()) {
    case STATE_NOT_FETCHED:
        return EStateMark::Waiting;
    case STATE_FETCHED:
        return EStateMark::Done;
    case STATE_FAILED:
        return EStateMark::Failed;
    case STATE_INVALID_URL:
        return EStateMark::Invalid;
    case STATE_CONNECTING:
    case STATE_FETCHING:
    case STATE_PREPARING:
    case STATE_LAUNCHING:
        return EStateMark::Active;
    default:
        return EStateMark::None;
    }
}

bool IsDarkPalette(const QPalette& palette)
{
    return palette.color(QPalette::Base).lightness() < palette.color(QPalette::Text).lightness();
}

QColor StateMarkColor(EStateMark mark, const QPalette& palette)
{
    // Light set: at least 4.5:1 against white; dark set: against #202020.
    const bool dark = IsDarkPalette(palette);
    switch (mark) {
    case EStateMark::Active:
        return dark ? QColor(0x5d, 0xad, 0xf5) : QColor(0x15, 0x65, 0xc0);
    case EStateMark::Done:
        return dark ? QColor(0x6c, 0xc9, 0x70) : QColor(0x2e, 0x7d, 0x32);
    case EStateMark::Failed:
        return dark ? QColor(0xff, 0x6b, 0x6b) : QColor(0xc6, 0x28, 0x28);
    case EStateMark::Invalid:
        return dark ? QColor(0xff, 0xa6, 0x4d) : QColor(0xb2, 0x4a, 0x00);
    case EStateMark::Paused:
        return dark ? QColor(0xe0, 0xb8, 0x4c) : QColor(0x8a, 0x62, 0x00);
    case EStateMark::Waiting:
        return palette.color(QPalette::Disabled, QPalette::Text);
    case EStateMark::None:
        break;
    }
    return palette.color(QPalette::Text);
}

namespace {

QPixmap DrawMark(EStateMark mark, const QPalette& palette, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    const QColor color = StateMarkColor(mark, palette);
    // The sign inside a filled mark: the list's own background colour.
    const QColor inner = palette.color(QPalette::Base);
    QPen sign(inner, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    // The filled disc that most marks draw their sign on.
    const auto disc = [&] {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    };
    switch (mark) {
    case EStateMark::Waiting:
        p.setPen(QPen(color, 1.5));
        p.drawEllipse(QRectF(3, 3, 10, 10));
        break;
    case EStateMark::Active: {
        disc();
        QPainterPath play;
        play.moveTo(6.3, 4.6);
        play.lineTo(11.6, 8);
        play.lineTo(6.3, 11.4);
        play.closeSubpath();
        p.setBrush(inner);
        p.drawPath(play);
        break;
    }
    case EStateMark::Done:
        disc();
        p.setPen(sign);
        p.drawPolyline(QPolygonF{{4.6, 8.2}, {7.0, 10.6}, {11.4, 5.6}});
        break;
    case EStateMark::Failed:
        disc();
        p.setPen(sign);
        p.drawLine(QPointF(5.4, 5.4), QPointF(10.6, 10.6));
        p.drawLine(QPointF(10.6, 5.4), QPointF(5.4, 10.6));
        break;
    case EStateMark::Invalid: {
        QPainterPath triangle;
        triangle.moveTo(8, 1.2);
        triangle.lineTo(15.2, 14.4);
        triangle.lineTo(0.8, 14.4);
        triangle.closeSubpath();
        p.setPen(QPen(color, 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(color);
        p.drawPath(triangle);
        p.setPen(sign);
        p.drawLine(QPointF(8, 5.6), QPointF(8, 9.4));
        p.drawPoint(QPointF(8, 12.2));
        break;
    }
    case EStateMark::Paused:
        disc();
        p.setBrush(inner);
        p.drawRect(QRectF(5.2, 4.8, 2.0, 6.4));
        p.drawRect(QRectF(8.8, 4.8, 2.0, 6.4));
        break;
    case EStateMark::None:
        break;
    }
    return pixmap;
}

} // namespace

QIcon StateMarkIcon(EStateMark mark, const QPalette& palette)
{
    if (mark == EStateMark::None)
        return {};
    // Keyed by the colours the marks are drawn from: a new palette (a theme
    // change) draws them anew.
    static QHash<QString, QIcon> cache;
    const QString key = QStringLiteral("%1 %2 %3 %4")
                            .arg(static_cast<int>(mark))
                            .arg(palette.color(QPalette::Base).rgba())
                            .arg(palette.color(QPalette::Text).rgba())
                            .arg(palette.color(QPalette::Disabled, QPalette::Text).rgba());
    auto it = cache.find(key);
    if (it == cache.end()) {
        QIcon icon;
        for (const int size : {16, 24, 32})
            icon.addPixmap(DrawMark(mark, palette, size));
        it = cache.insert(key, icon);
    }
    return *it;
}

} // namespace zorv

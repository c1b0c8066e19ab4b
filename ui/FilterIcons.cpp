#include "ui/FilterIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace palvex {

namespace {

// Each picture is the shape of its smoothing on a 16-unit square: pixel steps
// for none, a ramp, a smooth curve, a small photograph, a curve with ripples.
void DrawFilter(QPainter& painter, int index)
{
    const QColor ink(0, 0, 128);
    painter.setRenderHint(QPainter::Antialiasing, index != 0);
    painter.setPen(QPen(ink, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    QPainterPath path;
    switch (index) {
    case 0:
        painter.setPen(Qt::NoPen);
        painter.setBrush(ink);
        for (int step = 0; step < 4; ++step)
            painter.drawRect(QRectF(1 + step * 3.5, 14 - (step + 1) * 3.2, 3.5, (step + 1) * 3.2));
        return;
    case 1:
        path.moveTo(1, 14);
        path.lineTo(8, 2.5);
        path.lineTo(15, 14);
        break;
    case 2:
        path.moveTo(1, 14);
        path.cubicTo(5.5, 14, 5, 2.5, 8, 2.5);
        path.cubicTo(11, 2.5, 10.5, 14, 15, 14);
        break;
    case 3:
        painter.setPen(QPen(ink, 1));
        painter.setBrush(QColor(200, 225, 255));
        painter.drawRect(QRectF(1.5, 3.5, 13, 10));
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(40, 140, 60));
        painter.drawPolygon(QPolygonF({QPointF(2, 13), QPointF(6.5, 7), QPointF(9.5, 10.5), QPointF(11.5, 8.5),
                                       QPointF(14, 13)}));
        painter.setBrush(QColor(240, 180, 0));
        painter.drawEllipse(QPointF(11.5, 6), 1.5, 1.5);
        return;
    case 4:
        for (int i = 0; i <= 56; ++i) {
            const double x = -3.0 + 6.0 * i / 56;
            const double sinc = std::abs(x) < 1e-9 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
            const QPointF point(1 + 14 * i / 56.0, 11.5 - 9 * sinc);
            if (i == 0)
                path.moveTo(point);
            else
                path.lineTo(point);
        }
        break;
    default:
        return;
    }
    painter.drawPath(path);
}

QPixmap FilterPixmap(int index, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.scale(size / 16.0, size / 16.0);
    DrawFilter(painter, index);
    return pixmap;
}

} // namespace

QIcon FilterIcon(int index)
{
    QIcon icon;
    if (index < 0 || index > 4)
        return icon;
    for (int size : {16, 24, 32, 48})
        icon.addPixmap(FilterPixmap(index, size));
    return icon;
}

} // namespace palvex

// SPDX-License-Identifier: GPL-3.0-or-later
#include "rowstatus.h"

#include <QPainter>
#include <QPixmap>
#include <QPolygonF>

#include <cmath>

namespace {

// The sRGB channel (0..1) as linear light.
double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double relativeLuminance(const QColor &colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

QPixmap markPixmap(bool converted, const QColor &ink, int extent)
{
    QPixmap pixmap(extent, extent);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal e = extent;
    painter.setPen(QPen(ink, e * 0.14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (converted) {
        painter.drawPolyline(QPolygonF{{0.18 * e, 0.52 * e}, {0.42 * e, 0.76 * e}, {0.84 * e, 0.26 * e}});
    } else {
        painter.drawLine(QPointF(0.26 * e, 0.26 * e), QPointF(0.74 * e, 0.74 * e));
        painter.drawLine(QPointF(0.74 * e, 0.26 * e), QPointF(0.26 * e, 0.74 * e));
    }
    return pixmap;
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b)
{
    const double first = relativeLuminance(a);
    const double second = relativeLuminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

namespace {

// Black or white, whichever contrasts more with the background.
QColor readableTextOn(const QColor &background)
{
    const QColor black(Qt::black);
    const QColor white(Qt::white);
    return contrastRatio(background, black) >= contrastRatio(background, white) ? black : white;
}

} // namespace

RowLook rowLook(bool converted)
{
    RowLook look;
    look.background = converted ? QColor(Qt::darkGreen) : QColor(Qt::red);
    look.text = readableTextOn(look.background);
    // Sharp at the small icon size of any screen, up to four times scaled.
    for (int extent : {16, 24, 32, 48, 64})
        look.mark.addPixmap(markPixmap(converted, look.text, extent));
    return look;
}

#include "shell/app_icon.h"

#include <QPainter>
#include <QPixmap>

#include "display/colours.h"

QImage DrawAppIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return image;
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    painter.setPen(QPen(QColor(QRgb(kStrong)), s / 16));
    painter.setBrush(Qt::black);
    painter.drawRoundedRect(QRectF(s / 32, s / 32, s - s / 16, s - s / 16), s / 6, s / 6);

    painter.setPen(QPen(QColor(QRgb(kMiddleLine)), s < 32 ? 1.0 : s / 32));
    painter.drawLine(QPointF(s * 0.16, s / 2), QPointF(s * 0.84, s / 2));

    // Bar heights as fractions of the tile, the envelope of a struck bell.
    constexpr qreal kHeights[7] = {0.16, 0.30, 0.50, 0.66, 0.50, 0.30, 0.16};
    const qreal barWidth = s < 32 ? 1.0 : s * 0.06;
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 7; ++i) {
        const qreal x = s * (0.2 + 0.1 * i);
        const qreal h = s * kHeights[i];
        painter.setBrush(QColor(QRgb(MakeColour(19 + 5 * i, false))));
        painter.drawRect(QRectF(x - barWidth / 2, (s - h) / 2, barWidth, h));
    }
    return image;
}

QIcon MakeAppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128}) icon.addPixmap(QPixmap::fromImage(DrawAppIcon(size)));
    return icon;
}

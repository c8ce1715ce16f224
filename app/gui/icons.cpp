#include "app/gui/icons.h"

#include <QPainter>
#include <QPainterPath>

namespace zuz::gui {
namespace {

QPixmap Blank(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A dark panel with a cyan reading and the marker star: the monitor in miniature.
QPixmap AppPixmap(int size) {
    QPixmap pixmap = Blank(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    p.setPen(QPen(QColor(0, 120, 120), s / 16));
    p.setBrush(QColor(42, 42, 42));
    p.drawRoundedRect(QRectF(s / 16, s / 16, s * 14 / 16, s * 14 / 16), s / 8, s / 8);
    QPainterPath wave;
    wave.moveTo(s * 0.18, s * 0.62);
    wave.cubicTo(s * 0.35, s * 0.10, s * 0.50, s * 0.95, s * 0.82, s * 0.38);
    p.setPen(QPen(QColor(0, 190, 190), s / 10, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
    return pixmap;
}

}  // namespace

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) icon.addPixmap(AppPixmap(size));
    return icon;
}

QPixmap DisconnectedIcon(int size) {
    QPixmap pixmap = Blank(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    p.setPen(QPen(QColor(210, 30, 30), s / 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(s * 0.22, s * 0.22), QPointF(s * 0.78, s * 0.78));
    p.drawLine(QPointF(s * 0.78, s * 0.22), QPointF(s * 0.22, s * 0.78));
    return pixmap;
}

QPixmap ConnectedIcon(int size) {
    QPixmap pixmap = Blank(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    p.setPen(QPen(QColor(30, 160, 40), s / 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath tick;
    tick.moveTo(s * 0.18, s * 0.52);
    tick.lineTo(s * 0.42, s * 0.76);
    tick.lineTo(s * 0.84, s * 0.24);
    p.drawPath(tick);
    return pixmap;
}

}  // namespace zuz::gui

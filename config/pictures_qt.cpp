#include "config/pictures_qt.h"

#include <QPainter>
#include <QPen>
#include <cmath>

namespace chronavel {

QPixmap ClockPicture(int size)
{
    QPixmap pix(size, size);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    const double c = size / 2.0;
    const double r = size / 2.0 - 1.5;
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(QColor(250, 250, 240));
    p.drawEllipse(QPointF(c, c), r, r);
    p.setPen(QPen(QColor(200, 0, 0), 1.2));
    for (int h = 0; h < 12; ++h) {
        const double a = h * M_PI / 6.0;
        p.drawLine(QPointF(c + std::sin(a) * r * 0.78, c - std::cos(a) * r * 0.78),
                   QPointF(c + std::sin(a) * r * 0.92, c - std::cos(a) * r * 0.92));
    }
    p.setPen(QPen(Qt::black, 2.0, Qt::SolidLine, Qt::RoundCap));
    const double hour = (10 + 10 / 60.0) * M_PI / 6.0;
    const double minute = 10 * M_PI / 30.0;
    p.drawLine(QPointF(c, c), QPointF(c + std::sin(hour) * r * 0.5, c - std::cos(hour) * r * 0.5));
    p.drawLine(QPointF(c, c),
               QPointF(c + std::sin(minute) * r * 0.75, c - std::cos(minute) * r * 0.75));
    return pix;
}

} // namespace chronavel

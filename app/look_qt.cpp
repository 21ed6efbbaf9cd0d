#include "app/look_qt.h"

#include <QDir>
#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace chronavel {

namespace {

constexpr const char* kFallbackFamily = "DejaVu Sans";

} // namespace

int AddBundledFonts()
{
    int added = 0;
    const QDir dir(QStringLiteral(":/fonts"));
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
        if (QFontDatabase::addApplicationFont(dir.filePath(name)) >= 0)
            ++added;
    }
    return added;
}

QString FontFamilyFor(const QString& family)
{
    const QStringList families = QFontDatabase::families();
    if (families.contains(family, Qt::CaseInsensitive))
        return family;
    if (families.contains(QString::fromLatin1(kFallbackFamily), Qt::CaseInsensitive))
        return QString::fromLatin1(kFallbackFamily);
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QFont WindowFont(const QString& family, int pixel_size, bool bold)
{
    QFont f(FontFamilyFor(family));
    f.setPixelSize(pixel_size);
    f.setBold(bold);
    return f;
}

QFont WindowPointFont(const QString& family, int point_size, bool bold)
{
    QFont f(FontFamilyFor(family));
    f.setPointSize(point_size);
    f.setBold(bold);
    return f;
}

QFont DialogFont(bool underline)
{
    QFont f = WindowFont(QStringLiteral("MS Sans Serif"), 11, false);
    f.setUnderline(underline);
    return f;
}

QIcon RefreshIcon(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor green(0x2e, 0x7d, 0x32);
    const qreal m = size * 0.18;
    const QRectF r(m, m, size - 2 * m, size - 2 * m);
    p.setPen(QPen(green, size / 8.0, Qt::SolidLine, Qt::RoundCap));
    // Three quarters of a circle, and an arrow head at its open end.
    p.drawArc(r, 90 * 16, 270 * 16);
    const QPointF tip(r.center().x(), r.top());
    QPainterPath head;
    head.moveTo(tip.x() + size * 0.28, tip.y());
    head.lineTo(tip.x() - size * 0.02, tip.y() - size * 0.17);
    head.lineTo(tip.x() - size * 0.02, tip.y() + size * 0.17);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(green);
    p.drawPath(head);
    return QIcon(pm);
}

QIcon ConnectIcon(int w, int h)
{
    QPixmap pm(w, h);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal cy = h / 2.0;
    const QColor body(0x37, 0x47, 0x4f);
    const QColor pins(0x90, 0xa4, 0xae);
    // A serial plug: a cable from the left, the shell, two pins to the right.
    p.setPen(QPen(body, h / 9.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(w * 0.04, cy), QPointF(w * 0.30, cy));
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawRoundedRect(QRectF(w * 0.30, h * 0.22, w * 0.34, h * 0.56), 3, 3);
    p.setBrush(pins);
    p.drawRect(QRectF(w * 0.64, h * 0.32, w * 0.26, h * 0.10));
    p.drawRect(QRectF(w * 0.64, h * 0.58, w * 0.26, h * 0.10));
    return QIcon(pm);
}

} // namespace chronavel

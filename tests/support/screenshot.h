// What the window tests that take pictures share (Qt; only the tests of
// tests/windows include it): saving a picture where CHRONAVEL_SCREENSHOT_DIR
// says (docs/screenshots/ comes from there), and counting the pixels of a
// colour to check what a rendered window shows.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <QTest>
#include <cstdlib>

namespace chronavel::test {

// Saves the picture under its name when CHRONAVEL_SCREENSHOT_DIR is set.
inline void SaveShot(const QImage& image, const char* name)
{
    const char* dir = std::getenv("CHRONAVEL_SCREENSHOT_DIR");
    if (dir && *dir)
        QVERIFY(image.save(QString::fromUtf8(dir) + QLatin1Char('/') + QString::fromLatin1(name)));
}

// How many pixels of the rectangle have the colour (within a small margin).
inline int CountColour(const QImage& image, const QRect& r, QColor colour)
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) < 40 &&
                std::abs(c.green() - colour.green()) < 40 &&
                std::abs(c.blue() - colour.blue()) < 40)
                ++n;
        }
    return n;
}

} // namespace chronavel::test

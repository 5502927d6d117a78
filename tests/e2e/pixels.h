#ifndef PIXELS_H
#define PIXELS_H

#include <QImage>
#include <QRect>
#include <QVector>

// Pixel statistics of a window screenshot.
namespace Pixels {

constexpr QRgb background = 0xff1c1c1c; // rgb(28,28,28)
constexpr QRgb text = 0xffffffff;
constexpr QRgb alarm = 0xfff00000; // rgb(240,0,0)
constexpr QRgb border = 0xff868686; // rgb(134,134,134)

int count(const QImage &image, QRgb colour, const QRect &area = QRect());

// Horizontal bands of image rows that hold at least `minPerRow` pixels of the
// colour: one band per drawn text row of solid blocks.
struct Band
{
    int top;
    int bottom;
    int left;
    int right;
};
QVector<Band> bands(const QImage &image, QRgb colour, int minPerRow = 20);

} // namespace Pixels

#endif // PIXELS_H

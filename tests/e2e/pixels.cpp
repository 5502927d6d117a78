#include "pixels.h"

namespace Pixels {

int count(const QImage &image, QRgb colour, const QRect &area)
{
    const QRect region = area.isNull() ? image.rect() : area.intersected(image.rect());
    int matches = 0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x)
            matches += image.pixel(x, y) == colour;
    }
    return matches;
}

QVector<Band> bands(const QImage &image, QRgb colour, int minPerRow)
{
    QVector<Band> found;
    bool inBand = false;
    for (int y = 0; y < image.height(); ++y) {
        int left = image.width();
        int right = -1;
        int matches = 0;
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != colour)
                continue;
            ++matches;
            left = qMin(left, x);
            right = qMax(right, x);
        }
        const bool rowMatches = matches >= minPerRow;
        if (rowMatches && !inBand)
            found.append({ y, y, left, right });
        if (rowMatches) {
            Band &band = found.last();
            band.bottom = y;
            band.left = qMin(band.left, left);
            band.right = qMax(band.right, right);
        }
        inBand = rowMatches;
    }
    return found;
}

} // namespace Pixels

#ifndef SCREENSHOT_H
#define SCREENSHOT_H

#include "screentest.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QRect>
#include <QRgb>

namespace ScreenTest {

const QRgb background = qRgb(28, 28, 28);
const QRgb border = qRgb(134, 134, 134);
const QRgb white = qRgb(255, 255, 255);
const QRgb red = qRgb(240, 0, 0);

// A grab of the whole form, with the geometry of its widgets at that moment.
class Shot
{
public:
    explicit Shot(VelmoScreenForm &form) : form(form)
    {
        QApplication::processEvents();
        image = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    QRect rectOf(const char *name) const
    {
        const QWidget *widget = child<QWidget>(form, name);
        return QRect(widget->mapTo(&form, QPoint()), widget->size());
    }

    int count(const QRect &area, QRgb colour) const
    {
        int found = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x)
                found += image.pixel(x, y) == colour;
        }
        return found;
    }

    bool all(const QRect &area, QRgb colour) const { return count(area, colour) == area.width() * area.height(); }

    // The style sheet border is two pixels wide on every side; the layout
    // margin keeps the next two pixels inside it dark.
    bool bordered(const char *frameName) const
    {
        const QRect frame = rectOf(frameName);
        return ring(frame, border) && ring(frame.adjusted(2, 2, -2, -2), background);
    }

    bool ring(const QRect &r, QRgb colour) const
    {
        return all(QRect(r.left(), r.top(), r.width(), 2), colour)
            && all(QRect(r.left(), r.bottom() - 1, r.width(), 2), colour)
            && all(QRect(r.left(), r.top(), 2, r.height()), colour)
            && all(QRect(r.right() - 1, r.top(), 2, r.height()), colour);
    }

    // One character cell of a label, less a pixel on each side where
    // anti-aliasing of the neighbours may reach.
    QRect cell(const char *labelName, int column, int row) const
    {
        const QFontMetrics metrics(child<QLabel>(form, labelName)->font());
        const QPoint origin = rectOf(labelName).topLeft();
        const int width = metrics.horizontalAdvance(QLatin1Char('M'));
        return QRect(origin.x() + column * width, origin.y() + row * metrics.lineSpacing(),
                     width, metrics.height()).adjusted(1, 1, -1, -1);
    }

    QImage image;

private:
    VelmoScreenForm &form;
};

} // namespace ScreenTest

#endif // SCREENSHOT_H

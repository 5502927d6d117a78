#ifndef SCREENTEST_H
#define SCREENTEST_H

#include "screenfonts.h"
#include "velmoscreenform.h"

#include <QMetaObject>
#include <QString>
#include <QWidget>
#include <QtGlobal>

namespace ScreenTest {

inline QString placeholder(int rows)
{
    return (QString(20, QLatin1Char('?')) + QLatin1Char('\n')).repeated(rows).chopped(1);
}

// Drives the blink timer's slot directly so tests need not wait for it.
inline void blinkTick(VelmoScreenForm &form)
{
    if (!QMetaObject::invokeMethod(&form, "blinkTimerTimeout", Qt::DirectConnection))
        qFatal("blinkTimerTimeout cannot be invoked");
}

template <typename T>
T *child(const QWidget &form, const char *name)
{
    T *widget = form.findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("form has no %s", name);
    return widget;
}

} // namespace ScreenTest

#endif // SCREENTEST_H

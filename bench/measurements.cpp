#include "measurements.h"

#include "floodsender.h"

#include <algorithm>
#include <cmath>

// The emulator's flood screens: both screens full, Cyrillic and box drawing,
// blinking cells, the message screen shown or hidden, sometimes as an alarm.
QByteArray fullScreenLine(int index)
{
    return FloodSender::floodScreen(index).toUiLine();
}

double microseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::micro>(duration).count();
}

double percentile(QVector<double> samples, double share)
{
    if (samples.isEmpty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const int index = int(std::ceil(share * samples.size())) - 1;
    return samples.at(std::clamp(index, 0, int(samples.size()) - 1));
}

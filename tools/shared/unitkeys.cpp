#include "unitkeys.h"

namespace UnitKeys {

QStringList names()
{
    return { "0", "1", "2", "3", "4", "5", "6", "7", "8", "9",
             "RIGHT", "LEFT", "UP", "DOWN", "PUSK", "F", "M", "#", "*", "8x20" };
}

bool isKey(const QString &name)
{
    return names().contains(name);
}

} // namespace UnitKeys

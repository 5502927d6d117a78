#ifndef UNITKEYS_H
#define UNITKEYS_H

#include <QString>
#include <QStringList>

// The names of the unit's keys, as a "KBD:" line carries them.
namespace UnitKeys {

QStringList names();
bool isKey(const QString &name);

} // namespace UnitKeys

#endif // UNITKEYS_H

#include "clientmutex.h"

#include <QDebug>
#include <QString>

#include <windows.h>

void holdClientMutex()
{
    // Never closed: Windows closes the handles when the process ends, however
    // it ends, and that is the moment the installer must see.
    for (const wchar_t *name : {L"VelmoScreenClient", L"Global\\VelmoScreenClient"}) {
        if (!CreateMutexW(nullptr, FALSE, name))
            qWarning() << "Cannot create the mutex installers look for," << QString::fromWCharArray(name)
                       << "- error" << GetLastError();
    }
}

#ifndef CLIENTMUTEX_H
#define CLIENTMUTEX_H

// Windows cannot replace or delete a running program's files, so installers
// look for a named mutex that a running program holds. The client holds one
// in its session and one across sessions until it ends; the installer and the
// uninstaller (packaging/windows/VelmoScreen.nsi) ask for the client to be
// closed while either exists.
void holdClientMutex();

#endif // CLIENTMUTEX_H

#ifndef RECORDINGCONVERTER_H
#define RECORDINGCONVERTER_H

#include <QString>

// Turns a session recorded through the emulator's relay into a drive script:
// the first screens, then each key of the first client at its recorded moment
// (waits between), and after each key an expectation for each screen that
// changed, as it stood just before the next key.
namespace RecordingConverter {

bool convert(const QString &recordingFile, QString *script, QString *error);

} // namespace RecordingConverter

#endif // RECORDINGCONVERTER_H

#pragma once

#include <QByteArray>
#include <QString>

// The program's data files (sensors/, lang/): where they lie and how they are read. They
// lie beside the program, never in whatever folder it was started from (a shared one such
// as /tmp may hold files another user planted), and a name inside one of them (a
// catalogue's "configfile", a language's "file") names a file in the same folder only.
namespace DataFile {

// Larger than any real catalogue, parameter or language file by far.
constexpr qint64 MaxBytes = 1024 * 1024;

// Makes the program's own folder the current one, so that every data path (relative
// to it) is found there; returns the folder the program was started from, for the
// user's own file arguments.
QString useProgramFolder();

// A name of a file in the same folder: no folder part, not "." or "..", no control
// characters, not empty.
bool isBareName(const QString& name);

// The whole content of a regular file of at most MaxBytes; ok false (and an empty
// result) when the file is missing, not a regular file (a FIFO, a device) or larger.
// Never blocks on a FIFO and never reads more than MaxBytes + 1 bytes.
QByteArray read(const QString& path, bool* ok = nullptr);

} // namespace DataFile

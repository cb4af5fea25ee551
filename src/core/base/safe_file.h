#pragma once

#include <QByteArray>
#include <QString>

// Writing a whole file so that a failure never destroys the previous one: the
// bytes go to a temporary file in the same folder, which is renamed over the
// target once complete and flushed. A target that is not a regular file (a device
// such as /dev/full) is written directly. Failures throw TomeriaError with the
// caller's messages: createError when the file cannot be created (missing or
// read-only folder, read-only file, a folder in its place), writeError when the
// bytes cannot be written or committed (disk full).
namespace SafeFile {
void write(const QString& path, const QByteArray& data, const QString& createError,
           const QString& writeError);

// Whole-file read; false when the file cannot be opened (missing, no access, a folder).
bool read(const QString& path, QByteArray& data);

// Whether the user may write a file or folder by its permission bits. Unlike
// access(), this also honours a missing write bit for the super-user, so a file
// or folder marked read-only stays read-only for the program.
bool permitsWriting(const QString& path);
} // namespace SafeFile

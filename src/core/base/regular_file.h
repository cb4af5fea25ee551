#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Reading a whole file that must be an ordinary file on disk. A FIFO, a device or a
// socket in its place is refused before a byte is read (a FIFO is never waited on, a
// device such as /dev/zero never read without end), and a file larger than the caller
// can hold is refused from its size alone. A symbolic link is followed: reading through
// a link is allowed.
namespace RegularFile {

enum class Status {
    Read,       // `data` holds the whole file
    CannotOpen, // missing, no access, a folder
    NotRegular, // a FIFO, device or socket
    TooLarge,   // larger than the limit given
    ReadFailed, // opened, but reading failed part-way
};

Status read(const QString& path, qint64 maxSize, QByteArray& data);

// Opens the file for reads of its parts, after the same checks (Status::Read: `file` is
// open).
Status open(const QString& path, qint64 maxSize, QFile& file);

// The largest file the program reads (a catalogue, a book, an import): the editor's text
// and the document's copy of it stay well inside memory and inside its int positions.
constexpr qint64 kMaxSize = qint64(128) * 1024 * 1024;

// The message for a book or an import refused by its size.
QString tooLargeMessage(const QString& path);

// A book or an import read whole under kMaxSize; a refusal throws TomeriaError with the
// message the reader shows ("Cannot open file %s", the size message, "Failed to Load Stream").
QByteArray readBook(const QString& path);

} // namespace RegularFile

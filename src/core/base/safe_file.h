#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

// Writing a whole file so that a failure never destroys the previous one: the bytes go
// to a new temporary file of our own in the same folder (created exclusively), every
// byte is written (a short write is continued; a full disk fails it), the file is
// flushed to the disk and only then renamed over the target. On any failure the
// temporary file is removed and the target is untouched.
//
// The target's own name is never followed: a symbolic link in its place is replaced by
// a regular file, the file it points to is left alone. A target that is a device or a
// pipe (such as /dev/full) is written directly.
//
// A path inside an anchored folder (FolderAnchor) is written relative to the folder's
// descriptor, so a folder renamed meanwhile still gets it and its old path stays empty.
//
// Failures throw TomeriaError with the caller's messages: createError when the file
// cannot be created (missing or read-only folder, read-only file, a folder in its
// place), writeError when the bytes cannot be written or put in place (disk full).
namespace SafeFile {
void write(const QString& path, const QByteArray& data, const QString& createError,
           const QString& writeError);
// The same with the bytes given in parts: `produce` hands each part to the sink, and
// returns false when the sink does (the write failed) or when it cannot go on.
using Sink = std::function<bool(QByteArrayView)>;
using Producer = std::function<bool(const Sink&)>;
void write(const QString& path, const Producer& produce, const QString& createError,
           const QString& writeError);

// Whole-file read of an ordinary file (RegularFile::read); false when it cannot be
// opened (missing, no access, a folder), is no ordinary file or is over the size limit.
bool read(const QString& path, QByteArray& data);

// Whether the user may write a file or folder by its permission bits. Unlike
// access(), this also honours a missing write bit for the super-user, so a file
// or folder marked read-only stays read-only for the program.
bool permitsWriting(const QString& path);

// Removes the temporary files writes left in `folder` when the program was ended in the
// middle of one: only names of the temporary files' own form (.NAME.<random>.tmp) whose
// NAME is a file `isTarget` accepts (or the generic name of a long one), only ordinary
// files of this user, and only those last written before this process started (a write
// of this process is never touched). Returns how many were removed.
int removeStaleTemporaries(const QString& folder,
                           const std::function<bool(const QByteArray& target)>& isTarget);

// Calls `visit` with each hidden ordinary file of this user in `folder` that was last
// written before this process started: what an earlier run of the program may have left
// there. `dir` is a descriptor of the folder, `name` the entry's name in it, for the *at
// system calls.
void forEachStaleHiddenFile(const QString& folder,
                            const std::function<void(int dir, const QByteArray& name)>& visit);
} // namespace SafeFile

#pragma once

#include <QString>

namespace Xapian {
class Error;
}

// What stands in the way of writing a library's index, told by the system's own error
// numbers (never by an error's text, which the locale changes): another copy of the
// program holding the index's lock, a folder that cannot be written, a full disk. An
// engine error with none of these behind it means the index itself is damaged.
namespace IndexFolder {

enum class Problem { None, Locked, ReadOnly, Full };

// Looks at the index folder `location` (or the folder that would hold it) after the
// engine failed: whether its lock is held elsewhere (when `lockFailed`), then whether a
// file can be created and written there.
Problem diagnose(const QString& location, bool lockFailed);

// The status line's words for a problem ("" for None).
QString message(Problem problem);

// Whether an engine error says the index's files are damaged or unreadable (rather than
// missing, locked, or changed by the writer meanwhile).
bool isDamage(const Xapian::Error& error);

} // namespace IndexFolder

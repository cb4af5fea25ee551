#pragma once

// Ends the program cleanly on SIGTERM, SIGINT and SIGHUP (a session ending, Ctrl+C in a
// terminal): every running event loop, a message box's included, is left, and the
// windows are destroyed normally, so the settings store still saves its file. From the
// signal on, no dialog is shown: errors go to standard error (Dialogs::endSession).
// Whatever a worker thread is doing, the process ends at most 1.5 s after the signal.
namespace Termination {
void install();
bool requested();
} // namespace Termination

#include "ui/app/termination.h"

#include "ui/dialogs/dialogs.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};
int g_watchdogPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_requested = 0;

void onSignal(int) {
    g_requested = 1;
    Dialogs::endSession();
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    [[maybe_unused]] const ssize_t told = ::write(g_watchdogPipe[1], &byte, 1);
}

// Waits for the signal, then gives the orderly end (the settings, the reading places,
// the windows, the worker threads) this long before the process ends regardless: a
// worker thread that does not stop in time never keeps the program alive. Every file
// is written whole or not at all, so nothing is lost but what the thread was doing.
constexpr auto kGrace = std::chrono::milliseconds(1500);

void watchdog() {
    char byte = 0;
    for (;;) {
        const ssize_t n = ::read(g_watchdogPipe[0], &byte, 1);
        if (n == 1)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        return;
    }
    std::this_thread::sleep_for(kGrace);
    ::_exit(0);
}

} // namespace

namespace Termination {

void install() {
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    if (::pipe2(g_watchdogPipe, O_CLOEXEC) == 0) {
        // Non-blocking for the handler's write only.
        ::fcntl(g_watchdogPipe[1], F_SETFL, O_NONBLOCK);
        std::thread(watchdog).detach();
    }
    auto* notifier =
        new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char buffer[16];
        while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
        }
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}

bool requested() {
    return g_requested != 0;
}

} // namespace Termination

#pragma once

#include <QString>

#include <exception>
#include <utility>

// The error guard every window's handlers run in.

// The text the default error box shows for an error message: a full stop is
// appended when the message's last character sorts after ".".
QString errorBoxText(const QString& message);

// Shows an error in the default error box.
void showError(const QString& message);

// Runs an event handler's body; an error it raises is shown in the default error box
// and the handler is abandoned, its earlier steps left done.
template <class Body> void guard(Body&& body) {
    try {
        std::forward<Body>(body)();
    } catch (const std::exception& e) {
        showError(QString::fromStdString(e.what()));
    }
}

// A slot that runs a window's handler inside guard(): connect(button, &QPushButton::clicked,
// window, guarded(window, &Window::Handler)).
template <class Window> auto guarded(Window* window, void (Window::*handler)()) {
    return [window, handler] { guard([window, handler] { (window->*handler)(); }); };
}

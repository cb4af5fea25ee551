#pragma once

#include <QString>

#include <stdexcept>

// The one error type of the program. Core operations throw it with the exact
// message the user is shown; the handler guard turns it into the error box.
class TomeriaError : public std::runtime_error {
public:
    explicit TomeriaError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

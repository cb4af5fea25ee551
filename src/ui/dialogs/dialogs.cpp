#include "ui/dialogs/dialogs.h"
#include "ui/dialogs/guard.h"

#include "core/base/tomeria_error.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPushButton>
#include <QScreen>

#include <csignal>
#include <cstdio>

#include "ui/dialogs/font_dialog.h"

namespace {

std::unique_ptr<Dialogs>& current() {
    static std::unique_ptr<Dialogs> dialogs = std::make_unique<Dialogs>();
    return dialogs;
}

QString title() {
    return QStringLiteral("Tomeria");
}

volatile std::sig_atomic_t g_sessionEnding = 0;

// A message box centred on the screen rather than on its parent window.
class ScreenCentredBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event); // sizes the box
        const QWidget* parent = parentWidget();
        const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->availableGeometry();
            move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
        }
    }
};

// Button texts are set explicitly so that no translation changes them. Once the session
// ends, the text goes to standard error instead and the answer is "Cancel".
int runBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
           bool withCancel, const QString& action = QString()) {
    if (Dialogs::sessionEnding()) {
        std::fprintf(stderr, "%s: %s\n", caption.toLocal8Bit().constData(),
                     text.toLocal8Bit().constData());
        std::fflush(stderr);
        return 0;
    }
    ScreenCentredBox box(icon, caption, text, QMessageBox::NoButton, Dialogs::owner(parent));
    QPushButton* ok =
        box.addButton(action.isEmpty() ? QStringLiteral("OK") : action, QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    if (withCancel) {
        QPushButton* cancel =
            box.addButton(action.isEmpty() ? QStringLiteral("Cancel") : QStringLiteral("Отмена"),
                          QMessageBox::RejectRole);
        box.setEscapeButton(cancel);
    } else {
        box.setEscapeButton(ok);
    }
    box.exec();
    return box.clickedButton() == ok ? 1 : 0;
}

} // namespace

void Dialogs::message(QWidget* parent, const QString& text) {
    runBox(parent, QMessageBox::NoIcon, title(), text, false);
}

bool Dialogs::confirm(QWidget* parent, const QString& text, const QString& action) {
    return runBox(parent, QMessageBox::NoIcon, title(), text, true, action) == 1;
}

Dialogs::Answer Dialogs::ask(QWidget* parent, const QString& text) {
    if (sessionEnding()) {
        std::fprintf(stderr, "%s: %s\n", title().toLocal8Bit().constData(),
                     text.toLocal8Bit().constData());
        std::fflush(stderr);
        return Answer::Cancel;
    }
    // The program's own question: its buttons speak Russian, whatever the translations.
    ScreenCentredBox box(QMessageBox::Question, title(), text, QMessageBox::NoButton,
                         owner(parent));
    QPushButton* yes = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == yes)
        return Answer::Yes;
    return box.clickedButton() == no ? Answer::No : Answer::Cancel;
}

void Dialogs::error(QWidget* parent, const QString& text) {
    runBox(parent, QMessageBox::Critical, title(), text, false);
}

void Dialogs::notice(const QString& caption, const QString& text) {
    runBox(nullptr, QMessageBox::NoIcon, caption, text, false);
}

void Dialogs::beep() {
    QApplication::beep();
}

QString qtFileFilter(const QString& filter) {
    // "Name|*.a;*.b|Other|*.c" becomes Qt's "Name (*.a *.b);;Other (*.c)".
    const QStringList parts = filter.split(QLatin1Char('|'));
    if (parts.size() < 2)
        return filter;
    QStringList lines;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        lines.append(parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    return lines.join(QStringLiteral(";;"));
}

QString Dialogs::openFile(QWidget* parent, const QString& filter) {
    if (sessionEnding())
        return QString();
    return QFileDialog::getOpenFileName(owner(parent), QString(), QString(), qtFileFilter(filter));
}

QString Dialogs::saveFile(QWidget* parent, const QString& filter) {
    if (sessionEnding())
        return QString();
    return QFileDialog::getSaveFileName(owner(parent), QString(), QString(), qtFileFilter(filter));
}

QString Dialogs::chooseFolder(QWidget* parent) {
    if (sessionEnding())
        return QString();
    return QFileDialog::getExistingDirectory(owner(parent));
}

std::optional<FontChoice> Dialogs::chooseFont(QWidget* parent, const FontChoice& initial) {
    if (sessionEnding())
        return std::nullopt;
    FontDialog dialog(initial, owner(parent));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.choice();
}

std::optional<QColor> Dialogs::chooseColour(QWidget* parent, const QColor& initial) {
    if (sessionEnding())
        return std::nullopt;
    QColorDialog dialog(initial, owner(parent));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.selectedColor();
}

bool Dialogs::choosePrinter(QWidget* parent, QPrinter& printer) {
    if (sessionEnding())
        return false;
    QPrintDialog dialog(&printer, owner(parent));
    // The dialog shows its page range group whatever it is told; the range chosen there
    // is honoured by the printing, as are the copies.
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    return dialog.exec() == QDialog::Accepted;
}

void Dialogs::endSession() noexcept {
    g_sessionEnding = 1;
}

bool Dialogs::sessionEnding() {
    return g_sessionEnding != 0;
}

QWidget* Dialogs::owner(QWidget* parent) {
    // A box parented to the window kept on top is a transient of it, and the window
    // manager keeps it above that window.
    if (parent && (parent->window()->windowFlags() & Qt::WindowStaysOnTopHint))
        return parent;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && !window->isMinimized() &&
            (window->windowFlags() & Qt::WindowStaysOnTopHint) &&
            window->windowType() == Qt::Window)
            return window;
    return parent;
}

Dialogs& Dialogs::instance() {
    return *current();
}

std::unique_ptr<Dialogs> Dialogs::install(std::unique_ptr<Dialogs> dialogs) {
    std::unique_ptr<Dialogs> previous = std::move(current());
    current() = std::move(dialogs);
    return previous;
}

QString errorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void showError(const QString& message) {
    Dialogs::instance().error(QApplication::activeWindow(), errorBoxText(message));
}

#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <memory>
#include <optional>

class QPrinter;
class QWidget;

// A font with the colour its text is drawn in, as the font dialog returns it.
struct FontChoice {
    QFont font;
    QColor colour;
};

// A filter of the open dialog as pairs "Caption|*.a;*.b|Caption|*.c", the first shown
// first, in Qt's form "Caption (*.a *.b);;Caption (*.c)".
QString qtFileFilter(const QString& filter);

// Every message box and common dialog of the program goes through this one object.
// The real one shows Qt dialogs; tests install one that records what was shown and
// answers from a queue.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A dialog without icon, caption "Tomeria", one "OK" button.
    virtual void message(QWidget* parent, const QString& text);
    // The same with "OK" (default) and "Cancel" (Esc); true only for "OK". The program's
    // own questions name their action instead: `action` (default) and «Отмена» (Esc).
    virtual bool confirm(QWidget* parent, const QString& text, const QString& action = QString());
    // A question with «Да» (default), «Нет» and «Отмена» (Esc).
    enum class Answer { Yes, No, Cancel };
    virtual Answer ask(QWidget* parent, const QString& text);
    // The default error box: critical icon, caption "Tomeria", the text as given.
    virtual void error(QWidget* parent, const QString& text);
    // A box with its own caption, shown before any window exists.
    virtual void notice(const QString& caption, const QString& text);
    virtual void beep();
    // The chosen file's path, or an empty text when the user cancels.
    virtual QString openFile(QWidget* parent, const QString& filter);
    // The path chosen to save a file to, or an empty text when the user cancels.
    virtual QString saveFile(QWidget* parent, const QString& filter);
    // The chosen folder's path, or an empty text when the user cancels.
    virtual QString chooseFolder(QWidget* parent);
    virtual std::optional<FontChoice> chooseFont(QWidget* parent, const FontChoice& initial);
    virtual std::optional<QColor> chooseColour(QWidget* parent, const QColor& initial);
    // Runs the print dialog on the printer; true when the user confirms.
    virtual bool choosePrinter(QWidget* parent, QPrinter& printer);

    // The session ends (SIGTERM, SIGINT, SIGHUP): from now on no dialog is shown, a
    // message goes to standard error, a question is answered "Cancel" and a common
    // dialog is cancelled, so nothing holds up the end. Safe to call from a signal handler.
    static void endSession() noexcept;
    static bool sessionEnding();

    // The window a box meant for `parent` belongs to: the reader when it is shown (it
    // stays above other windows, so a box of any other window would open behind it),
    // else `parent`.
    static QWidget* owner(QWidget* parent);

    static Dialogs& instance();
    // Replaces the dialogs object; returns the previous one.
    static std::unique_ptr<Dialogs> install(std::unique_ptr<Dialogs> dialogs);
};

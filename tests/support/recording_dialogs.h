#pragma once

#include "ui/dialogs/dialogs.h"

#include <QList>
#include <QQueue>
#include <QString>

// Dialogs for tests: records every message shown and answers from queues, with no
// window on screen. Unanswered confirmations say "OK", unanswered file dialogs cancel.
class RecordingDialogs : public Dialogs {
public:
    struct Shown {
        QString kind; // "message", "confirm", "ask", "error", "notice", "note"
        QString text;
    };

    void message(QWidget*, const QString& text) override { shown.append({"message", text}); }
    bool confirm(QWidget*, const QString& text, const QString& = QString()) override {
        shown.append({"confirm", text});
        return confirmations.isEmpty() ? true : confirmations.dequeue();
    }
    // Unanswered questions say "No", which keeps to what happened before they were asked.
    Answer ask(QWidget*, const QString& text) override {
        shown.append({"ask", text});
        return answers.isEmpty() ? Answer::No : answers.dequeue();
    }
    void error(QWidget*, const QString& text) override { shown.append({"error", text}); }
    void notice(const QString& caption, const QString& text) override {
        shown.append({"notice", caption + QLatin1Char('|') + text});
    }
    void beep() override { ++beeps; }
    QString openFile(QWidget*, const QString& filter) override {
        lastFilter = filter;
        return files.isEmpty() ? QString() : files.dequeue();
    }
    QString saveFile(QWidget*, const QString& filter) override {
        lastFilter = filter;
        return savePaths.isEmpty() ? QString() : savePaths.dequeue();
    }
    QString chooseFolder(QWidget*) override {
        return folders.isEmpty() ? QString() : folders.dequeue();
    }
    std::optional<FontChoice> chooseFont(QWidget*, const FontChoice& initial) override {
        fontOffered = initial;
        if (fonts.isEmpty())
            return std::nullopt;
        return fonts.dequeue();
    }
    std::optional<QColor> chooseColour(QWidget*, const QColor& initial) override {
        colourOffered = initial;
        if (colours.isEmpty())
            return std::nullopt;
        return colours.dequeue();
    }
    bool choosePrinter(QWidget*, QPrinter& printer) override;

    QStringList texts(const QString& kind) const;
    void clear() {
        shown.clear();
        beeps = 0;
    }

    QList<Shown> shown;
    int beeps = 0;
    QQueue<bool> confirmations;
    QQueue<Answer> answers;
    QQueue<QString> files;
    QQueue<QString> folders;
    QQueue<QString> savePaths;
    QQueue<FontChoice> fonts;
    QQueue<QColor> colours;
    // When set, the print dialog is confirmed with output to this PDF file.
    QString pdfOutput;
    QString lastFilter;
    int printersOffered = 0;
    FontChoice fontOffered;
    QColor colourOffered;
};

// Installs a RecordingDialogs for the lifetime of the object.
class DialogsScope {
public:
    DialogsScope();
    ~DialogsScope();
    RecordingDialogs& operator*() { return *m_dialogs; }
    RecordingDialogs* operator->() { return m_dialogs; }

private:
    RecordingDialogs* m_dialogs;
    std::unique_ptr<Dialogs> m_previous;
};

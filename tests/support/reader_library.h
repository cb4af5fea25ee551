#pragma once

#include "core/library/reading_state.h"
#include "support/test_files.h"
#include "ui/reader/reader_window.h"

#include <QByteArray>
#include <QDir>
#include <QObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The base of reader tests that need a library folder of their own: books/NAME.boo and
// reading.dat beside them, and a reader window that starts as a new run would.
class ReaderLibraryTest : public QObject {
protected:
    std::unique_ptr<TMainForm> m_form;
    std::unique_ptr<ReadingState> m_state;
    std::unique_ptr<QTemporaryDir> m_library;

    // A new, empty library folder.
    void newLibrary() {
        m_library = std::make_unique<QTemporaryDir>();
        QDir().mkdir(libraryFile(QStringLiteral("books")));
    }
    QString libraryFile(const QString& name) const { return m_library->filePath(name); }
    QString libraryBook(const QString& name, const QByteArray& bytes) {
        const QString path = libraryFile(QStringLiteral("books/") + name + QStringLiteral(".boo"));
        TestFiles::write(path, bytes);
        return path;
    }
    // A new run: a new reader window with what reading.dat holds.
    TMainForm& restart() {
        m_form.reset();
        m_state = std::make_unique<ReadingState>();
        m_state->load(libraryFile(QStringLiteral("reading.dat")),
                      libraryFile(QStringLiteral("books")) + QLatin1Char('/'));
        m_form = std::make_unique<TMainForm>();
        m_form->setReadingState(m_state.get());
        return *m_form;
    }
    TMainForm& openAt(const QString& path) {
        m_form->openBook(path);
        [[maybe_unused]] const bool shown = QTest::qWaitForWindowExposed(m_form.get());
        return *m_form;
    }
    // Lines of different lengths, some long enough to wrap.
    static QByteArray longBook(int lines) {
        QByteArray text;
        for (int i = 0; i < lines; ++i)
            text +=
                "line " + QByteArray::number(i) + ' ' + QByteArray((i * 37) % 300, 'w') + "\r\n";
        return text;
    }
};

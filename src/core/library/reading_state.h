#pragma once

#include "core/text/book_layout.h"

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QString>

#include <algorithm>
#include <optional>
#include <vector>

class Library;

// What the reader remembers from one run to the next, kept in reading.dat beside
// books.dat: where each book was left (the CR LF offset of its first visible line,
// with the size its file had then) and the reader's font, text colour and background.
// The file is code page 1251 with CR LF line ends, readable by a person:
//
//   [Reader]
//   Font=Liberation Serif
//   Size=24px
//   Weight=700
//   Italic=0
//   Underline=1
//   StrikeOut=0
//   TextColour=#800000
//   Background=#ffff00
//   TextWidth=66
//   Margins=0
//   LineSpacing=1.3
//   Indent=1.5
//   ParagraphSpacing=0
//   Justify=1
//   Hyphenation=1
//   Pages=2
//   Panel=1
//   [Books]
//   ; offset, file size in bytes, book
//   10422 5242880 Война и мир
//
// A damaged or unreadable file is ignored where it cannot be understood (the defaults
// apply there) and replaced at the next save. The layout keys are written only where
// they differ from the defaults; a value out of its range is brought into it.
//
// Only the places of books whose files are in the books folder are read: a file grown
// to millions of places of books long gone costs one pass over its bytes, not memory.
class ReadingState {
public:
    static QString fileName() { return QStringLiteral("reading.dat"); }

    // Reads `path` (reading.dat of a library whose books are in `booksFolder`, ending in
    // '/'); a missing, unreadable or damaged file leaves the defaults. Places of books
    // not in the folder are dropped. Never throws.
    void load(const QString& path, const QString& booksFolder);
    const QString& path() const { return m_path; }
    // Writes the whole file with the safe write; throws writeErrorMessage.
    void save() const;
    // save() for a caller that cannot show an error: false when the file was not written.
    bool trySave() const noexcept;
    // The message of a failed write, naming the file where it stands now.
    static QString writeErrorMessage(const QString& path);
    // The file's bytes as save() writes them.
    QByteArray serialized() const;

    // The book a path stands for: the NAME of booksFolder/NAME.boo, else empty.
    QString bookName(const QString& bookPath) const;
    // The remembered offset of a book of this library, when its file still has the size
    // it had then; nothing for an unknown book or a file changed since.
    std::optional<int> position(const QString& bookPath) const;
    // Remembers where the book was left, with its file's present size.
    void remember(const QString& bookPath, int offset);
    // Forgets a book by name (deleted, or a new book under that name); false when
    // nothing was remembered for it.
    bool forget(const QString& name);
    // Follows the library's changes: a book deleted, or added under a name whose place
    // was left behind, is forgotten and the file written when it can be (a failure leaves
    // the entry on disk, where its file's size no longer matches or the next add forgets
    // it again).
    void followLibrary(Library& library);
    int bookCount() const { return int(m_books.size()); }

    // The reader's look: empty until the user chooses a font or a background colour.
    const std::optional<QFont>& font() const { return m_font; }
    const QColor& textColour() const { return m_textColour; }
    const std::optional<QColor>& background() const { return m_background; }
    void setFont(const QFont& font, const QColor& colour);
    void setBackground(const QColor& colour);
    // A text colour chosen without a font (a preset's): kept with or without one.
    void setTextColour(const QColor& colour);
    bool textColourChosen() const { return m_textColourChosen; }

    const BookLayout& layout() const { return m_layout; }
    // The reader's side panel (Panel=): 0 hidden, 1 «Содержание», 2 «Закладки».
    int panel() const { return m_panel; }
    void setPanel(int panel) { m_panel = std::clamp(panel, 0, 2); }
    void setLayout(const BookLayout& layout) { m_layout = layout.clamped(); }

private:
    struct Book {
        QString name;
        qint64 offset = 0;
        qint64 size = 0;
        QByteArray line; // the line as written, without its line end
    };
    void parse(QByteArrayView bytes);
    void setBook(const QString& name, qint64 offset, qint64 size);

    QString m_path;
    QString m_booksFolder;
    std::vector<Book> m_books;
    QHash<QString, qsizetype> m_index; // name -> index in m_books
    std::optional<QFont> m_font;
    QColor m_textColour = Qt::black;
    bool m_textColourChosen = false;
    std::optional<QColor> m_background;
    BookLayout m_layout;
    int m_panel = 0;
};

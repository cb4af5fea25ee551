#pragma once

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

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
//   [Books]
//   ; offset, file size in bytes, book
//   10422 5242880 Война и мир
//
// A damaged or unreadable file is ignored where it cannot be understood (the defaults
// apply there) and replaced at the next save.
class ReadingState {
public:
    static QString fileName() { return QStringLiteral("reading.dat"); }

    // Reads `path` (reading.dat of a library whose books are in `booksFolder`, ending in
    // '/'); a missing, unreadable or damaged file leaves the defaults. Never throws.
    void load(const QString& path, const QString& booksFolder);
    const QString& path() const { return m_path; }
    // Writes the whole file with the safe write; throws "Unable to write to %1".
    void save() const;
    // save() for a caller that cannot show an error: false when the file was not written.
    bool trySave() const noexcept;
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
    int bookCount() const { return int(m_books.size()); }

    // The reader's look: empty until the user chooses a font or a background colour.
    const std::optional<QFont>& font() const { return m_font; }
    const QColor& textColour() const { return m_textColour; }
    const std::optional<QColor>& background() const { return m_background; }
    void setFont(const QFont& font, const QColor& colour);
    void setBackground(const QColor& colour);

private:
    struct Book {
        QString name;
        qint64 offset = 0;
        qint64 size = 0;
        QByteArray line; // the line as written, without its line end
    };
    void parse(const QString& text);
    void setBook(const QString& name, qint64 offset, qint64 size);

    QString m_path;
    QString m_booksFolder;
    std::vector<Book> m_books;
    QHash<QString, qsizetype> m_index; // name -> index in m_books
    std::optional<QFont> m_font;
    QColor m_textColour = Qt::black;
    std::optional<QColor> m_background;
};

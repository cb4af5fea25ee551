#pragma once

#include "core/book/headings.h"
#include "core/book/text_change.h"
#include "core/library/book_stamp.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

class BookText;

// A marked place of a book: where it is, the name shown in the list, and the words
// that stand there (to find the place again when another program changed the book).
struct Bookmark {
    qsizetype offset = 0;
    QString name;
    QString words;
    bool operator==(const Bookmark&) const = default;
};

// A book's bookmarks, in book order, kept in books/NAME.bmk (code page 1251, readable):
//   Tomeria: закладки книги
//   Книга: 1234 байт, CRC32 89ABCDEF
//   Закладка: 120 Глава III — Анна Павловна…
//   Слова: Анна Павловна кашляла несколько дней\r\nОна…
// (a backslash, CR and LF of the words written as \\, \r and \n).
class Bookmarks {
public:
    const std::vector<Bookmark>& list() const { return m_list; }
    bool isEmpty() const { return m_list.empty(); }

    // Adds a bookmark in its place of the book order; its index.
    int add(const Bookmark& bookmark);
    void remove(int index);
    void rename(int index, const QString& name);

    // Follows an edit made in the reader.
    void apply(const TextChange& change);
    // Finds each bookmark again by its words in a text changed by another program: the
    // place nearest the old one where they stand. Those whose words are gone are
    // dropped; how many.
    int refind(const BookText& text);

    // The words standing at a place (up to a few dozen characters).
    static QString wordsAt(const BookText& text, qsizetype offset);
    // The name of a new bookmark: its chapter and its first words,
    // «Глава III — Анна Павловна…».
    static QString nameFor(const BookText& text, qsizetype offset,
                           const std::vector<Heading>& headings);
    // The same from `shown`, the text from the place on (kNameSpan characters are enough).
    static QString nameFor(QStringView shown, qsizetype offset,
                           const std::vector<Heading>& headings);
    static constexpr qsizetype kNameSpan = 400;

    QByteArray fileText(const BookStamp& stamp) const;
    // nullopt for a damaged file.
    static std::optional<Bookmarks> parse(QByteArrayView text, BookStamp* stamp);

    // The bookmarks kept for the book `text`: none when there is no file or it is
    // damaged; those of a book changed outside are found again (`dropped` counts the
    // lost ones) and the file rewritten.
    static Bookmarks load(const QString& path, const BookText& text, int* dropped = nullptr);
    // Writes the file for the book of that stamp (removes it when there are none); a
    // failure is silent, the bookmarks then last for this reading.
    void save(const QString& path, const BookStamp& stamp) const;

private:
    std::vector<Bookmark> m_list;
};

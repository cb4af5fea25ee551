#pragma once

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <optional>

class BookText;

// Which text a file kept beside a book was made for: the book's size and the CRC-32 of
// its bytes. Written as one readable line of that file: «Книга: 1234 байт, CRC32 89ABCDEF».
struct BookStamp {
    qsizetype size = 0;
    quint32 crc = 0;
    bool operator==(const BookStamp&) const = default;

    static BookStamp of(QByteArrayView bytes);
    // Of the text as the reader holds it (a code-page book's bytes as stored).
    static BookStamp of(const BookText& text);
    QString line() const;
    static std::optional<BookStamp> fromLine(QStringView line);
};

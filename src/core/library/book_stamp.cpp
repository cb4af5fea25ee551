#include "core/library/book_stamp.h"

#include "core/book/book_text.h"

#include <QRegularExpression>

#include <zlib.h>

BookStamp BookStamp::of(QByteArrayView bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    const auto* data = reinterpret_cast<const Bytef*>(bytes.data());
    qsizetype left = bytes.size();
    while (left > 0) {
        const uInt piece = uInt(std::min<qsizetype>(left, 1 << 30));
        crc = crc32(crc, data, piece);
        data += piece;
        left -= piece;
    }
    return BookStamp{bytes.size(), quint32(crc)};
}

BookStamp BookStamp::of(const BookText& text) {
    if (text.isWide())
        return of(QByteArrayView(reinterpret_cast<const char*>(text.chars()), text.length() * 2));
    return of(QByteArrayView(reinterpret_cast<const char*>(text.bytes()), text.length()));
}

QString BookStamp::line() const {
    return QStringLiteral("Книга: %1 байт, CRC32 %2")
        .arg(size)
        .arg(QString::number(crc, 16).toUpper().rightJustified(8, QLatin1Char('0')));
}

std::optional<BookStamp> BookStamp::fromLine(QStringView line) {
    static const QRegularExpression form(
        QStringLiteral("^КНИГА: (\\d{1,12}) БАЙТ, CRC32 ([0-9A-F]{8})$"));
    const QRegularExpressionMatch m = form.match(line.toString().toUpper());
    if (!m.hasMatch())
        return std::nullopt;
    return BookStamp{m.captured(1).toLongLong(), m.captured(2).toUInt(nullptr, 16)};
}

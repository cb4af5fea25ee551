#pragma once

#include <QByteArray>
#include <QList>
#include <QStringConverter>

// Small books of every format built in memory, and the hostile shapes made of them:
// deep nesting, crowded elements, streamed ZIP members that unpack to gigabytes.
namespace HostileBooks {

// An FB2 book with `body` and the title `title`.
QByteArray fb2(const QByteArray& body, const QByteArray& title = "Книга");
// `text` inside `depth` nested <x> elements.
QByteArray nested(int depth, const QByteArray& text);
// An element with `count` attributes around `text`.
QByteArray crowded(const QByteArray& element, int count, const QByteArray& text);
// An EPUB of one page with the package's `metadata`.
QByteArray epub(const QByteArray& metadata, const QByteArray& page);
// An XHTML page with `body`.
QByteArray xhtml(const QByteArray& body);
// A DOCX with `body` and the title `title` in its properties.
QByteArray docx(const QByteArray& body, const QByteArray& title = "Заглавие");
// An ODT with one note whose citation is `citation`, and the title `title`.
QByteArray odt(const QByteArray& citation, const QByteArray& title = "Заглавие");

// A ZIP member, deflated as a streaming packer writes it.
struct RawMember {
    QByteArray name;
    QByteArray packed;
    quint32 crc = 0;
    quint32 size = 0;
    quint16 flags = 0;
};
// `data` repeated `times`, deflated: the packed data flushed once and repeated too, so a
// gigabyte of zeros costs a megabyte's work.
RawMember member(const QByteArray& name, const QByteArray& data, int times = 1, quint16 flags = 0);
// Members with their sizes after the data (flag 8); the central directory at the end
// only when `directory`, with the sizes in the local headers then.
QByteArray rawZip(const QList<RawMember>& members, bool directory);

// `utf8` in UTF-16, with or without a byte-order mark.
QByteArray utf16(const QByteArray& utf8, QStringConverter::Encoding encoding, bool mark);

} // namespace HostileBooks

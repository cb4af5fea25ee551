#include "support/hostile_books.h"

#include "support/test_books.h"

#include <QStringEncoder>

#include <zlib.h>

namespace {

QByteArray le32(quint32 v) {
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = char(v >> (8 * i));
    return out;
}
QByteArray le16(quint16 v) {
    return le32(v).left(2);
}

} // namespace

namespace HostileBooks {

QByteArray fb2(const QByteArray& body, const QByteArray& title) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FictionBook "
           "xmlns=\"http://www.gribuser.ru/"
           "xml/fictionbook/2.0\"><description><title-info><book-title>" +
           title + "</book-title></title-info></description><body>" + body +
           "</body></FictionBook>";
}

QByteArray nested(int depth, const QByteArray& text) {
    return QByteArray("<x>").repeated(depth) + text + QByteArray("</x>").repeated(depth);
}

QByteArray crowded(const QByteArray& element, int count, const QByteArray& text) {
    QByteArray out = "<" + element;
    for (int i = 0; i < count; ++i)
        out += " a" + QByteArray::number(i) + "=\"1\"";
    return out + ">" + text + "</" + element + ">";
}

QByteArray epub(const QByteArray& metadata, const QByteArray& page) {
    return TestBooks::zip(
        {{QStringLiteral("mimetype"), "application/epub+zip"},
         {QStringLiteral("META-INF/container.xml"),
          "<?xml version=\"1.0\"?><container xmlns=\"urn:oasis:names:tc:opendocument:xmlns:"
          "container\"><rootfiles><rootfile full-path=\"content.opf\"/></rootfiles></container>"},
         {QStringLiteral("content.opf"),
          "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\" "
          "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><metadata>" +
              metadata +
              "</metadata><manifest><item id=\"p\" href=\"page.xhtml\" "
              "media-type=\"application/xhtml+xml\"/></manifest><spine><itemref idref=\"p\"/>"
              "</spine></package>"},
         {QStringLiteral("page.xhtml"), page}});
}

QByteArray xhtml(const QByteArray& body) {
    return "<?xml version=\"1.0\"?><html xmlns=\"http://www.w3.org/1999/xhtml\"><body>" + body +
           "</body></html>";
}

QByteArray docx(const QByteArray& body, const QByteArray& title) {
    return TestBooks::zip(
        {{QStringLiteral("word/document.xml"),
          "<?xml version=\"1.0\"?><w:document xmlns:w=\"http://schemas.openxmlformats.org/"
          "wordprocessingml/2006/main\"><w:body>" +
              body + "</w:body></w:document>"},
         {QStringLiteral("docProps/core.xml"),
          "<?xml version=\"1.0\"?><cp:coreProperties xmlns:cp=\"urn:cp\" "
          "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>" +
              title + "</dc:title></cp:coreProperties>"}});
}

QByteArray odt(const QByteArray& citation, const QByteArray& title) {
    const QByteArray ns = " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                          "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
                          "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"";
    return TestBooks::zip(
        {{QStringLiteral("mimetype"), "application/vnd.oasis.opendocument.text"},
         {QStringLiteral("content.xml"),
          "<?xml version=\"1.0\"?><office:document-content" + ns +
              "><office:body><office:text><text:p>Текст<text:note><text:note-citation>" + citation +
              "</text:note-citation><text:note-body><text:p>Сноска</text:p></text:note-body>"
              "</text:note></text:p></office:text></office:body></office:document-content>"},
         {QStringLiteral("meta.xml"), "<?xml version=\"1.0\"?><office:document-meta" + ns +
                                          "><office:meta><dc:title>" + title +
                                          "</dc:title></office:meta></office:document-meta>"}});
}

RawMember member(const QByteArray& name, const QByteArray& data, int times, quint16 flags) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(data.size()) + (1 << 16), '\0');
    auto run = [&](const QByteArray& in, int flush) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
        z.avail_in = uInt(in.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size());
        deflate(&z, flush);
        return out.left(out.size() - qsizetype(z.avail_out));
    };
    const QByteArray once = run(data, Z_FULL_FLUSH);
    const QByteArray end = run(QByteArray(), Z_FINISH);
    deflateEnd(&z);
    uLong crc = 0;
    for (int i = 0; i < times; ++i)
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size()));
    return {name, once.repeated(times) + end, quint32(crc), quint32(data.size() * times), flags};
}

QByteArray rawZip(const QList<RawMember>& members, bool directory) {
    QByteArray out;
    QByteArray central;
    for (const RawMember& m : members) {
        const quint16 flags = m.flags | (directory ? 0 : 8);
        const QByteArray common =
            le16(flags) + le16(8) + le32(0) +
            (directory ? le32(m.crc) + le32(quint32(m.packed.size())) + le32(m.size)
                       : le32(0) + le32(0) + le32(0)) +
            le16(quint16(m.name.size())) + le16(0);
        central += "PK\x01\x02" + le16(20) + le16(20) + common + le16(0) + le16(0) + le16(0) +
                   le32(0) + le32(quint32(out.size())) + m.name;
        out += "PK\x03\x04" + le16(20) + common + m.name + m.packed;
        if (!directory)
            out += "PK\x07\x08" + le32(m.crc) + le32(quint32(m.packed.size())) + le32(m.size);
    }
    if (directory)
        out += central + "PK\x05\x06" + le32(0) + le16(quint16(members.size())) +
               le16(quint16(members.size())) + le32(quint32(central.size())) +
               le32(quint32(out.size())) + le16(0);
    return out;
}

QByteArray utf16(const QByteArray& utf8, QStringConverter::Encoding encoding, bool mark) {
    QStringEncoder encoder(encoding, mark ? QStringConverter::Flag::WriteBom
                                          : QStringConverter::Flag::Default);
    return encoder(QString::fromUtf8(utf8));
}

} // namespace HostileBooks

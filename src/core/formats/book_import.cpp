#include "core/formats/book_import.h"

#include "core/base/regular_file.h"
#include "core/base/tomeria_error.h"
#include "core/formats/book_builder.h"
#include "core/formats/docx_reader.h"
#include "core/formats/epub_reader.h"
#include "core/formats/fb2_reader.h"
#include "core/formats/html_reader.h"
#include "core/formats/odt_reader.h"
#include "core/formats/xml_guard.h"
#include "core/formats/zip_archive.h"
#include "core/text/imported_text.h"

#include <QRegularExpression>

#include <algorithm>

namespace BookImport {

namespace {

// A text holds few control characters: line breaks, tabs, form feeds. More than one
// in a hundred of the first characters and it is data, not text.
bool looksLikeText(QStringView text) {
    const QStringView sample = text.first(qMin<qsizetype>(text.size(), 64 * 1024));
    qsizetype controls = 0;
    for (const QChar c : sample) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\n' && u != u'\r' && u != u'\t' && u != u'\f' && u != 0x1A) ||
            u == 0xFFFD)
            ++controls;
    }
    return controls * 100 <= sample.size();
}

ImportedBook formatted(BookBuilder& builder, const char* format) {
    ImportedBook book;
    if (!builder.hasText() && builder.title().isEmpty())
        return book;
    book.kind = ImportedBook::Kind::Formatted;
    book.format = QLatin1StringView(format);
    book.title = builder.title();
    book.author = builder.author();
    book.document = builder.finish();
    book.headings = builder.headings();
    return book;
}

ImportedBook readZip(QByteArrayView data) {
    ZipArchive archive;
    const auto status = archive.read(data, [](const QString& name) {
        return EpubReader::wanted(name) || DocxReader::wanted(name) || OdtReader::wanted(name) ||
               name.endsWith(QLatin1String(".fb2"), Qt::CaseInsensitive);
    });
    ImportedBook book;
    if (status == ZipArchive::Status::TooBig) {
        book.kind = ImportedBook::Kind::TooBig;
        return book;
    }
    if (status != ZipArchive::Status::Ok)
        return book;
    BookBuilder builder;
    if (EpubReader::isEpub(archive)) {
        if (EpubReader::read(archive, builder))
            return formatted(builder, "EPUB");
    } else if (DocxReader::isDocx(archive)) {
        if (DocxReader::read(archive, builder))
            return formatted(builder, "DOCX");
    } else if (OdtReader::isOdt(archive)) {
        if (OdtReader::read(archive, builder))
            return formatted(builder, "ODT");
    } else {
        // The first book among the members: one that is not a book is passed over.
        for (const QString& name : archive.names()) {
            if (!name.endsWith(QLatin1String(".fb2"), Qt::CaseInsensitive) ||
                !archive.contains(name))
                continue;
            BookBuilder member;
            const QByteArray data = archive.member(name);
            if (!Fb2Reader::looksLikeFb2(data) || !Fb2Reader::read(data, member))
                continue;
            book = formatted(member, "FB2.ZIP");
            if (book.kind != ImportedBook::Kind::NotABook)
                return book;
        }
    }
    return book;
}

} // namespace

QString notABookMessage() {
    return QStringLiteral("В этом файле нет книги. Можно загрузить текст (TXT), RTF, FB2, "
                          "FB2.ZIP, EPUB, DOCX, ODT или HTML");
}

QString tooBigMessage() {
    return QStringLiteral("Книга в этом архиве слишком велика, она не загружена");
}

QString filterLine() {
    return QStringLiteral("Книги (TXT, RTF, FB2, EPUB, DOCX, ODT, HTML)|*.txt;*.rtf;*.fb2;"
                          "*.fb2.zip;*.zip;*.epub;*.docx;*.odt;*.html;*.htm;*.xhtml");
}

// The bytes of UTF-16 markup as UTF-8, its XML declaration saying so; empty for
// anything else (plain text in UTF-16 stays as it is).
QByteArray utf16MarkupAsUtf8(QByteArrayView data) {
    // A mark or the zero bytes of the first characters tell UTF-16.
    const ImportedText::CodePage codePage =
        ImportedText::detect(data.first(qMin<qsizetype>(data.size(), 4096)));
    if (codePage != ImportedText::CodePage::Utf16LE && codePage != ImportedText::CodePage::Utf16BE)
        return QByteArray();
    QString text = ImportedText::decode(data, codePage);
    const QString head = text.first(qMin<qsizetype>(text.size(), 4096)).toLower();
    if (!head.contains(QLatin1String("<fictionbook")) && !head.trimmed().startsWith(u'<'))
        return QByteArray();
    static const QRegularExpression declaration(
        QStringLiteral(R"(^(\s*<\?xml[^>]*?encoding\s*=\s*)["'][^"']*["'])"));
    text.replace(declaration, QStringLiteral("\\1\"UTF-8\""));
    return text.toUtf8();
}

// Markup that is no book of ours is not shown as text either.
bool looksLikeMarkup(QByteArrayView data) {
    qsizetype i = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (i < data.size() &&
           (data[i] == ' ' || data[i] == '\n' || data[i] == '\r' || data[i] == '\t'))
        ++i;
    return data.sliced(i).startsWith("<?xml") || data.sliced(i).startsWith("<!DOCTYPE") ||
           XmlGuard::declaresEntities(data.first(qMin<qsizetype>(data.size(), 64 * 1024)));
}

ImportedBook read(QByteArrayView data) {
    if (const QByteArray utf8 = utf16MarkupAsUtf8(data); !utf8.isEmpty())
        return read(utf8);
    if (ZipArchive::looksLikeZip(data))
        return readZip(data);
    if (looksLikeRtf(data)) {
        ImportedBook book;
        if (readRtf(data, book.document)) {
            book.kind = ImportedBook::Kind::Formatted;
            book.format = QStringLiteral("RTF");
            // Paragraphs with an outline level are the headings of its contents.
            const QList<RtfParagraph>& paragraphs = book.document.paragraphs;
            for (qsizetype p = 0; p < paragraphs.size(); ++p)
                if (paragraphs[p].outlineLevel > 0)
                    book.headings.append(HeadingPlace{p, paragraphs[p].outlineLevel});
        }
        return book;
    }
    if (Fb2Reader::looksLikeFb2(data)) {
        BookBuilder builder;
        if (Fb2Reader::read(data, builder))
            return formatted(builder, "FB2");
        return ImportedBook();
    }
    if (HtmlReader::looksLikeHtml(data)) {
        BookBuilder builder;
        HtmlReader::readHtml(data, builder);
        return formatted(builder, "HTML");
    }
    ImportedBook book;
    if (looksLikeMarkup(data))
        return book;
    QString text = ImportedText::decode(data);
    if (!looksLikeText(text) ||
        std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); }))
        return book;
    book.kind = ImportedBook::Kind::PlainText;
    book.format = QStringLiteral("TXT");
    book.text = std::move(text);
    return book;
}

ImportedBook readFile(const QString& path) {
    // The editor's rules: only an ordinary file, no larger than the editor can hold.
    return read(RegularFile::readBook(path));
}

} // namespace BookImport

#pragma once

#include "core/formats/book_builder.h"
#include "core/rtf/rtf_reader.h"

#include <QByteArrayView>
#include <QString>

// A file chosen to become a book: what it is and what it holds. The kind is known from
// the content, not the name: plain text in any Cyrillic code page or UTF, RTF, FB2
// (also zipped), EPUB, DOCX, ODT, HTML. Anything else (a picture, a program, an archive
// without a book) is refused. Never throws for what a file holds; no input makes it
// run long or take much more memory than the file.
struct ImportedBook {
    enum class Kind {
        PlainText, // `text`
        Formatted, // `document`
        NotABook,  // nothing usable: a message says so
        TooBig,    // an archive that unpacks to more than can be read
    };
    Kind kind = Kind::NotABook;
    QString format; // "TXT", "FB2", "EPUB"... for messages and tests
    QString text;
    RtfDocument document;
    // The book's own title and author when its format names them (several authors
    // joined with ", "); empty otherwise.
    QString title;
    QString author;
    // The headings of a formatted book's contents, in `document`'s paragraphs.
    QList<HeadingPlace> headings;
};

namespace BookImport {

// The message shown for a file that holds no book.
QString notABookMessage();
// The message shown for an archive too big to unpack.
QString tooBigMessage();

// The open dialog's first filter line: every kind that can be imported.
QString filterLine();

ImportedBook read(QByteArrayView data);

// Reads the file; throws the editor's load errors when it cannot be read.
ImportedBook readFile(const QString& path);

} // namespace BookImport

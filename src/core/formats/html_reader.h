#pragma once

#include "core/formats/book_builder.h"

#include <QByteArrayView>

// HTML and XHTML pages. An HTML file goes through the HTML5 parser (gumbo), in the code
// page it declares or that the text shows; its <title> and author meta become the
// book's title and author. An XHTML page of an EPUB is read as XML, and through the
// HTML parser when it is not well-formed.
namespace HtmlReader {

// Reads an HTML file into the builder. False when it holds no text.
bool readHtml(QByteArrayView data, BookBuilder& builder);

// Reads one XHTML page (UTF-8 or as declared) into the builder, without its title.
void readXhtml(QByteArrayView data, BookBuilder& builder);

// Whether the data starts like an HTML page (a doctype or an <html> or <body> tag near
// the start, after any white space, comments or an XML declaration).
bool looksLikeHtml(QByteArrayView data);

} // namespace HtmlReader

#pragma once

#include "core/formats/book_builder.h"
#include "core/formats/zip_archive.h"

// Word documents (DOCX): word/document.xml paragraph by paragraph, headings known by
// their style (Title, Heading 1-9, by name or outline level, also in translated
// Word), bold and italic runs, footnotes and endnotes moved to the notes with a [n]
// mark in the text; the title and author from docProps/core.xml.
namespace DocxReader {

bool isDocx(const ZipArchive& archive);
bool wanted(const QString& member);
// False when the archive holds no readable document.
bool read(const ZipArchive& archive, BookBuilder& builder);

} // namespace DocxReader

#pragma once

#include "core/formats/book_builder.h"
#include "core/formats/zip_archive.h"

// OpenDocument text (ODT): content.xml paragraph by paragraph, headings (text:h and the
// Title, Subtitle and Heading styles), bold and italic from the automatic and named
// styles, notes moved to the notes with their citation in the text; the title and author
// from meta.xml.
namespace OdtReader {

bool isOdt(const ZipArchive& archive);
bool wanted(const QString& member);
bool read(const ZipArchive& archive, BookBuilder& builder);

} // namespace OdtReader

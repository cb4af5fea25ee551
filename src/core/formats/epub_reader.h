#pragma once

#include "core/formats/book_builder.h"
#include "core/formats/zip_archive.h"

// EPUB 2 and 3: the package document named by META-INF/container.xml gives the title
// (dc:title), the authors (dc:creator) and the spine; the spine's pages are read in
// order, the ones marked non-linear (notes, as a rule) after them as notes.
namespace EpubReader {

// Whether the archive holds an EPUB (its container file or mimetype).
bool isEpub(const ZipArchive& archive);
// The members an EPUB reader needs: everything but pictures, fonts and styles.
bool wanted(const QString& member);
// False when the archive is not a readable EPUB.
bool read(const ZipArchive& archive, BookBuilder& builder);

} // namespace EpubReader

// The whole import on any bytes: kind sniffing, code pages, every reader. A plain text
// is never refused for its code page alone, and a formatted book has a paragraph.
#include "core/formats/book_import.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ImportedBook book =
        BookImport::read(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (book.kind == ImportedBook::Kind::PlainText && book.text.trimmed().isEmpty())
        std::abort();
    return 0;
}

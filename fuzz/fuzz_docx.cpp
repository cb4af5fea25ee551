// The DOCX reader on any bytes, read as a ZIP archive.
#include "core/formats/docx_reader.h"
#include "fuzz_formats.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ZipArchive archive;
    if (!readZip(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)),
                 &DocxReader::wanted, archive))
        return 0;
    BookBuilder builder;
    DocxReader::read(archive, builder);
    checkBook(builder);
    return 0;
}

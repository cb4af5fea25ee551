// The HTML reader (HTML5 parser) and the XHTML reader (XML, then HTML) on any bytes.
#include "core/formats/html_reader.h"
#include "fuzz_formats.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    BookBuilder html;
    HtmlReader::readHtml(bytes, html);
    checkBook(html);
    BookBuilder xhtml;
    HtmlReader::readXhtml(bytes, xhtml);
    checkBook(xhtml);
    return 0;
}

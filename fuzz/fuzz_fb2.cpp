// The FB2 reader on any bytes.
#include "core/formats/fb2_reader.h"
#include "fuzz_formats.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BookBuilder builder;
    Fb2Reader::read(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)), builder);
    checkBook(builder);
    return 0;
}

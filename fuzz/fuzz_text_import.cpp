// Encoding detection and the line-break normaliser on any bytes: the in-place
// normaliser agrees with the one fed in pieces, and no line break is left as CR.
#include "core/text/text_import.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QString text = TextImport::decode(bytes);
    const qsizetype piece = size > 0 ? 1 + data[0] % 7 : 1;
    TextImport::LineBreakNormaliser normaliser(u"\n");
    QString expected;
    for (qsizetype pos = 0; pos < text.size(); pos += piece)
        normaliser.feed(QStringView(text).mid(pos, piece), expected);
    normaliser.finish(expected);
    TextImport::normaliseInPlace(text);
    if (text != expected || text.contains(QLatin1Char('\r')))
        std::abort();
    return 0;
}

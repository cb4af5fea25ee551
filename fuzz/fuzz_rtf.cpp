// The RTF reader on any bytes: it must end, and whatever it reads must fill a
// text document and write back as RTF that reads again.
#include "core/rtf/rtf_reader.h"
#include "core/rtf/rtf_writer.h"

#include <QGuiApplication>
#include <QTextDocument>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    RtfDocument rtf;
    if (!readRtf(bytes, rtf))
        return 0;
    QTextDocument document;
    fillTextDocument(rtf, document);
    RtfDocument again;
    if (!readRtf(writeRtf(document), again))
        std::abort();
    return 0;
}

#pragma once

#include "core/formats/book_builder.h"
#include "core/formats/zip_archive.h"

#include <QByteArrayView>

#include <cstdlib>

// Checks what every reader promises of any input: the book it gives has no paragraph
// break inside a paragraph and no NUL from the markup, and reading never ends badly.
inline void checkBook(BookBuilder& builder) {
    const RtfDocument document = builder.finish();
    for (const RtfParagraph& paragraph : document.paragraphs)
        for (const RtfRun& run : paragraph.runs)
            if (run.text.contains(QLatin1Char('\n')) || run.text.contains(QChar(0x2029)))
                std::abort();
}

// Reads the bytes as a ZIP, keeping what the reader wants; false when they are none.
template <typename Wanted> bool readZip(QByteArrayView data, Wanted wanted, ZipArchive& archive) {
    return archive.read(data, wanted) == ZipArchive::Status::Ok;
}

// The editor's layout on any book or import: the first byte picks plain text or RTF and
// the editor's width, the rest is the file. Loading must end; the text read back and the
// display lines must agree with the real layout.
#include "core/text/text_import.h"
#include "ui/editor/rich_text_editor.h"

#include "fuzz_input_file.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QTextBlock>
#include <QTextLayout>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Never destroyed: the application must outlive every static of Qt's own.
    static QApplication* app = new QApplication(*argc, *argv);
    Q_UNUSED(app);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const bool plain = (data[0] & 1) != 0;
    const int width = 60 + (data[0] >> 1) * 8;
    const QString path = writeFuzzInput(QStringLiteral("book"), data + 1, size - 1);
    if (path.isEmpty())
        return 0;
    RichTextEditor editor;
    editor.resize(width, 200);
    editor.setPlainTextMode(plain);
    editor.LoadFile(path);
    const QString text = editor.WholeText();

    if (plain) {
        // The text is the file's, line breaks as CR LF.
        QString expected = TextImport::decode(
            QByteArrayView(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1)));
        expected.replace(QChar(0), QChar(0x2400));
        TextImport::normaliseInPlace(expected);
        // Unicode's line and paragraph separators are line breaks too.
        expected.replace(QChar::LineSeparator, QLatin1Char('\n'));
        expected.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        expected.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        if (text != expected)
            std::abort();
    }
    // The first display lines are those of the real layout of the blocks.
    int line = 0;
    for (QTextBlock b = editor.document()->begin(); b.isValid() && line < 200; b = b.next()) {
        editor.document()->documentLayout()->blockBoundingRect(b);
        for (int i = 0; i < std::max(1, b.layout()->lineCount()) && line < 200; ++i, ++line) {
            const QTextLine l = b.layout()->lineAt(i);
            const QString real =
                l.isValid() ? b.text().mid(l.textStart(), l.textLength()) : QString();
            if (editor.DisplayLine(line) != real.left(4096))
                std::abort();
        }
    }
    return 0;
}

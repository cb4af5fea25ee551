// The editor's speed in the reader's editing mode: opening big books, display lines,
// finding text, scrolling, RTF reading, each beside a straightforward
// QTextEdit::setPlainText load of the same text. (Viewing mode: bench_book_view.)

#include "bench_support.h"
#include "core/base/cp1251.h"
#include "core/library/reading_state.h"
#include "core/rtf/rtf_reader.h"
#include "ui/bookview/book_view.h"
#include "ui/controls/status_panels.h"
#include "ui/dialogs/find_dialog.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/reader/reader_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <cstdio>

namespace {

// Code-page-1251 text of 70-character lines, `bytes` long, ending in a unique word.
QByteArray makeBook(qsizetype bytes) {
    const QString words = QStringLiteral(
        "Князь Андрей посмотрел на небо, высокое, чистое и бесконечное, и подумал о жизни ");
    QByteArray out;
    out.reserve(bytes + 100);
    qsizetype w = 0;
    while (out.size() < bytes) {
        QString line;
        while (line.size() < 68) {
            line += words[w % words.size()];
            ++w;
        }
        out += Cp1251::encode(line) + "\r\n";
    }
    out += Cp1251::encode(QStringLiteral("Конецкниги"));
    return out;
}

QByteArray makeRtf(qsizetype bytes) {
    QByteArray out =
        "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset204 Arial;}"
        "{\\f1\\froman\\fcharset204 Times New Roman;}}{\\colortbl;\\red255\\green0\\blue0;}\n";
    int i = 0;
    while (out.size() < bytes) {
        out += "\\pard\\qj\\f1\\fs24 \\'cf\\'e0\\'f0\\'e0\\'e3\\'f0\\'e0\\'f4 " +
               QByteArray::number(i++) +
               ": {\\b \\'e6\\'e8\\'f0\\'ed\\'fb\\'e9} {\\i italic words} and {\\cf1\\ul coloured "
               "underlined} plain text that goes on for a while\\u1046?\\par\n";
    }
    return out + "}";
}

void row(const char* what, double value, const char* target, double baseline = -1) {
    if (baseline >= 0)
        std::printf("%-58s %9.1f ms %8s   baseline %8.1f ms (%.1fx)\n", what, value, target,
                    baseline, baseline / value);
    else
        std::printf("%-58s %9.1f ms %8s\n", what, value, target);
}

// Opening a book as the reader does, up to the first paint.
double openInReader(TMainForm& reader, const QString& path) {
    QElapsedTimer t;
    t.start();
    reader.openBook(path);
    reader.Editor->viewport()->repaint();
    return ms(t);
}

double plainTextEditLoad(const QString& path, QTextEdit& edit) {
    QElapsedTimer t;
    t.start();
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    edit.setPlainText(Cp1251::decode(f.readAll()));
    edit.viewport()->repaint();
    return ms(t);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--peak") {
        // Child run: open one book and report the peak memory.
        TMainForm reader;
        reader.resize(1280, 1000);
        reader.ToolButton7Click(); // editing
        openInReader(reader, QString::fromLocal8Bit(argv[2]));
        QCoreApplication::processEvents();
        std::printf("%ld\n", long(statusKb("VmHWM:")));
        return 0;
    }

    QTemporaryDir dir;
    const QByteArray book5 = makeBook(5 * 1024 * 1024);
    const QByteArray book50 = makeBook(50 * 1024 * 1024);
    const QString path5 = write(dir, QStringLiteral("book5.boo"), book5);
    const QString path50 = write(dir, QStringLiteral("book50.boo"), book50);

    std::printf("\n%-58s %12s %8s\n", "reader", "measured", "target");

    TMainForm reader;
    reader.resize(1280, 1000);
    reader.ToolButton7Click(); // editing: the editor shows the book
    reader.show();
    QCoreApplication::processEvents();
    const double open5 = openInReader(reader, path5);
    QTextEdit baseline;
    baseline.resize(1280, 1000);
    baseline.show();
    const double base5 = plainTextEditLoad(path5, baseline);
    row("open 5 MB book + first paint", open5, "150", base5);

    BookView* editor = reader.Editor;
    QElapsedTimer t;
    t.start();
    const int lastLine = editor->lineOfChar(editor->textLength() - 1);
    row("lineOfChar(last character), first time", ms(t), "300");
    t.restart();
    const QString whole = editor->text(0, editor->textLength());
    const qsizetype at = whole.indexOf(QStringLiteral("Конецкниги"));
    row("WholeText + find the last word", ms(t), "50");
    Q_UNUSED(lastLine);
    Q_UNUSED(at);

    // Find as the user does it, with the caret panel updated; first time after a load.
    reader.openBook(path5);
    reader.FindDialog1->setFindText(QStringLiteral("Конецкниги"));
    t.restart();
    reader.FindDialog1Find();
    const double findFirst = ms(t);
    t.restart();
    reader.FindDialog1Find();
    const double findAgain = ms(t);
    row("find the last word + caret panel, first time", findFirst, "300");
    row("find the last word + caret panel, again", findAgain, "50");

    const double open50 = openInReader(reader, path50);
    // The rest of the book arrives from the event loop; the window stays responsive.
    QElapsedTimer arriving;
    arriving.start();
    QCoreApplication::processEvents();
    const double loaded50 = ms(arriving) + open50;
    reader.openBook(path50);
    QTextEdit baseline50;
    baseline50.resize(1280, 1000);
    baseline50.show();
    const double base50 = plainTextEditLoad(path50, baseline50);
    row("open 50 MB book + first paint", open50, "2000", base50);
    row("50 MB book wholly in the document (arriving in pieces)", loaded50, "");

    // Reopening the 50 MB book where it was left, near its end (a few pages before it, so
    // that the place can be the first line shown).
    {
        ReadingState state;
        state.load(dir.filePath(QStringLiteral("reading.dat")), dir.path() + QLatin1Char('/'));
        reader.setReadingState(&state);
        reader.openBook(path5);
        const int nearEnd = int(book50.lastIndexOf("\r\n", book50.size() - 100000)) + 2;
        state.remember(path50, nearEnd);
        const double reopen = openInReader(reader, path50);
        row("reopen 50 MB book near its end + first paint", reopen, "2000", base50);
        if (editor->firstVisibleOffset() != nearEnd)
            std::printf("  (wrong place: %d instead of %d)\n", int(editor->firstVisibleOffset()),
                        nearEnd);
        reader.setReadingState(nullptr);
    }

    // Scrolling the 50 MB book: the longest gap between 10 ms timer ticks.
    {
        QElapsedTimer clock;
        clock.start();
        FreezeMeter meter;
        QScrollBar* bar = editor->verticalScrollBar();
        for (int step = 0; step <= 20; ++step) {
            bar->setValue(bar->maximum() / 20 * step);
            editor->viewport()->repaint();
            const qint64 until = clock.elapsed() + 30;
            while (clock.elapsed() < until)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        const qint64 longest = meter.longest();
        row("50 MB book: longest freeze while scrolling", double(longest), "200");
    }

    // Peak memory of opening the 50 MB book, in a process of its own.
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--peak"), path50});
    child.waitForFinished(300000);
    const double peakMb = child.readAllStandardOutput().trimmed().toLong() / 1024.0;
    std::printf("%-58s %9.0f MB %8s   (%.1f x file size)\n", "peak memory, 50 MB book", peakMb,
                "< 8x", peakMb / 50.0);

    // RTF reading.
    const QByteArray rtf = makeRtf(20 * 1024 * 1024);
    t.restart();
    RtfDocument document;
    readRtf(rtf, document);
    const double parse = ms(t);
    t.restart();
    QTextDocument target;
    fillTextDocument(document, target);
    const double fill = ms(t);
    const double mb = rtf.size() / 1024.0 / 1024.0;
    std::printf("%-58s %9.0f MB/s %6s\n", "RTF reading (tokenizer + reader)", mb / (parse / 1000),
                "50");
    std::printf("%-58s %9.0f MB/s\n", "RTF reading into a text document",
                mb / ((parse + fill) / 1000));
    return 0;
}

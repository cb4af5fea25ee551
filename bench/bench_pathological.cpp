// Pathological texts: a book that is one 20-50 MB line, an RTF whose one word changes
// its font size thousands of times, previewed as the add-book panel does, a window
// settings file of 12 MB of empty lines, Ctrl+End in a 110 MB book and a one-line 50 MB
// book being edited.

#include "bench_support.h"
#include "core/base/cp1251.h"
#include "core/book/book_document.h"
#include "ui/bookview/book_view.h"
#include "ui/controls/status_panels.h"
#include "ui/dialogs/dialogs.h"
#include "ui/dialogs/find_dialog.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/library/library_window.h"
#include "ui/print/print_job.h"
#include "ui/reader/reader_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPrinter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One line of words, `bytes` long, no line break, ending in a unique word.
QByteArray makeOneLine(qsizetype bytes) {
    const QByteArray words = Cp1251::encode(QStringLiteral(
        "Князь Андрей посмотрел на небо, высокое, чистое и бесконечное, и подумал о жизни "));
    QByteArray out;
    out.reserve(bytes + 100);
    while (out.size() < bytes)
        out += words;
    out.truncate(bytes);
    return out + Cp1251::encode(QStringLiteral(" Конецкниги"));
}

// An RTF whose one word (no space to break at) changes the font size `runs` times.
QByteArray makeManyRuns(int runs) {
    QByteArray out = "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\\f0 ";
    for (int i = 0; i < runs; ++i)
        out += "\\fs" + QByteArray::number(16 + (i % 20) * 2) + ' ' + char('a' + i % 26);
    return out + "\\par}";
}

// Runs the event loop for `msecs`, waiting for events as the program does.
void runLoop(int msecs) {
    QEventLoop loop;
    QTimer::singleShot(msecs, &loop, &QEventLoop::quit);
    loop.exec();
}

long residentMegabytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toLong() / 1024;
    return 0;
}

void row(const char* what, double value, const char* unit, const char* target) {
    std::printf("%-58s %9.1f %-4s %8s\n", what, value, unit, target);
}

void oneLineBook(QTemporaryDir& dir, int megabytes) {
    const QByteArray bytes = makeOneLine(qsizetype(megabytes) * 1024 * 1024);
    const QString path = write(dir, QStringLiteral("line%1.boo").arg(megabytes), bytes);
    TMainForm reader;
    reader.resize(1280, 1000);
    reader.show();
    QCoreApplication::processEvents();

    QElapsedTimer t;
    t.start();
    reader.openBook(path);
    reader.Editor->viewport()->repaint();
    const double open = ms(t);
    QCoreApplication::processEvents();
    const double whole = ms(t);
    char label[100];
    std::snprintf(label, sizeof label, "one-line %d MB book: open + first paint", megabytes);
    row(label, open, "ms", "2000");
    std::snprintf(label, sizeof label, "one-line %d MB book: wholly in the document", megabytes);
    row(label, whole, "ms", "");

    // One keystroke in edit mode, a few seconds to settle, then CPU over 5 s.
    reader.ToolButton7Click();
    reader.Editor->setFocus();
    t.restart();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(reader.Editor, &press);
    reader.Editor->viewport()->repaint();
    row("  a keystroke at the start + repaint", ms(t), "ms", "200");
    qint64 freeze = 0;
    {
        FreezeMeter meter;
        runLoop(3000);
        freeze = meter.longest();
    }
    const double cpuBefore = cpuSeconds();
    runLoop(5000);
    row("  longest freeze in the 3 s after the keystroke", double(freeze), "ms", "200");
    row("  CPU over the next 5 s", cpuSeconds() - cpuBefore, "s", "0.2");

    // Find, positions and saving stay exact.
    t.restart();
    reader.FindDialog1->setFindText(QStringLiteral("Конецкниги"));
    reader.FindDialog1Find();
    const double find = ms(t);
    const QString expected = QStringLiteral("x") + Cp1251::decode(bytes);
    const int at = int(expected.indexOf(QStringLiteral("Конецкниги")));
    const bool found = reader.Editor->selectionStart() == at &&
                       reader.Editor->selectionLength() == 10 &&
                       reader.Editor->selectedText() == QStringLiteral("Конецкниги");
    row(found ? "  find the last word (selection exact)" : "  find the last word: WRONG", find,
        "ms", "300");
    // The caret panel: its display line is counted from the event loop.
    t.restart();
    qint64 freezeCounting = 0;
    {
        FreezeMeter meter;
        while (reader.StatusBar->panelText(0).contains(QLatin1String("...")))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        freezeCounting = meter.longest();
    }
    const double counted = ms(t);
    const int line = reader.Editor->lineOfChar(at);
    const bool panelExact =
        reader.StatusBar->panelText(0).startsWith(QStringLiteral("Строка: %1 ").arg(line + 1, 3));
    row(panelExact ? "  caret panel shows the line (exact)" : "  caret panel: LINE WRONG", counted,
        "ms", "");
    row("  longest freeze while the lines are counted", double(freezeCounting), "ms", "200");
    t.restart();
    const QString saved = dir.filePath(QStringLiteral("saved.boo"));
    reader.Editor->book()->save(saved, QStringLiteral("create"), QStringLiteral("write"));
    const double save = ms(t);
    QFile f(saved);
    f.open(QIODevice::ReadOnly);
    const bool same = f.readAll() == Cp1251::encode(expected);
    row(same ? "  save (bytes exact)" : "  save: BYTES DIFFER", save, "ms", "");
}

void manyRuns(int runs) {
    const QByteArray rtf = makeManyRuns(runs);
    QTemporaryDir dir;
    const QString path = write(dir, QStringLiteral("runs.rtf"), rtf);
    // The add-book preview: a rich-mode editor of the add panel's size.
    RichTextEditor preview;
    preview.setPlainTextMode(false);
    preview.resize(600, 400);
    preview.show();
    QCoreApplication::processEvents();
    QElapsedTimer t;
    t.start();
    preview.LoadFile(path);
    preview.viewport()->repaint();
    const double shown = ms(t);

    // Scrolling through to the end lays out every line; the longest freeze meanwhile.
    FreezeMeter meter;
    QScrollBar* bar = preview.verticalScrollBar();
    for (int step = 0; step <= 20; ++step) {
        bar->setValue(bar->maximum() / 20 * step);
        preview.viewport()->repaint();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    int lines = 0;
    for (QTextBlock block = preview.document()->begin(); block.isValid(); block = block.next())
        lines += std::max(1, block.layout()->lineCount());
    const qint64 longest = meter.longest();
    const double all = ms(t);
    const bool exact = preview.WholeText().size() == runs + 2;

    char label[100];
    std::snprintf(label, sizeof label, "RTF, one word, %d font-size changes: preview", runs);
    row(label, shown, "ms", runs <= 8000 ? "3000" : "10000");
    std::snprintf(label, sizeof label, "  scrolled to the end, %d lines laid out%s", lines,
                  exact ? "" : " (TEXT WRONG)");
    row(label, all, "ms", "");
    row("  longest freeze while scrolling", double(longest), "ms", "200");
}

// Printing a one-line book to a PDF file: once, three copies page by page, last page
// first. The line is laid out once per pass whatever the copies or the order.
void printOneLine(QTemporaryDir& dir, int megabytes) {
    const BookDocument book =
        BookDocument::readFile(write(dir, QStringLiteral("print%1.boo").arg(megabytes),
                                     makeOneLine(qsizetype(megabytes) * 1024 * 1024)));
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath(QStringLiteral("print.pdf")));
    auto print = [&](const char* what, int copies, QPrinter::PageOrder order) {
        printer.setCopyCount(copies);
        printer.setCollateCopies(false);
        printer.setPageOrder(order);
        qint64 freeze = 0;
        QElapsedTimer t;
        t.start();
        {
            FreezeMeter meter;
            PrintJob::print(printer, book, QFont(), Qt::black, QStringLiteral("text"), nullptr);
            freeze = meter.longest();
        }
        char label[100];
        std::snprintf(label, sizeof label, "print a one-line %d MB book: %s", megabytes, what);
        row(label, ms(t), "ms", "");
        row("  longest freeze", double(freeze), "ms", "");
    };
    print("1 copy", 1, QPrinter::FirstPageFirst);
    print("3 copies page by page", 3, QPrinter::FirstPageFirst);
    print("last page first", 1, QPrinter::LastPageFirst);
}

// A book of `megabytes` in paragraphs of about `paragraph` bytes (one paragraph when 0).
QByteArray makeBook(int megabytes, int paragraph) {
    if (paragraph == 0)
        return makeOneLine(qsizetype(megabytes) * 1024 * 1024);
    const QByteArray words = Cp1251::encode(QStringLiteral(
        "Князь Андрей посмотрел на небо, высокое, чистое и бесконечное, и подумал о жизни "));
    QByteArray line;
    while (line.size() < paragraph)
        line += words;
    line += "\r\n";
    QByteArray out;
    out.reserve(qsizetype(megabytes) * 1024 * 1024 + line.size());
    while (out.size() < qsizetype(megabytes) * 1024 * 1024)
        out += line;
    return out;
}

// Ctrl+End in the reading view while editing, as the reader shows a book, with the caret
// panel's line counted as the reader counts it (from the event loop).
void ctrlEnd(QTemporaryDir& dir, int megabytes, int paragraph) {
    const QString path =
        write(dir, QStringLiteral("end%1.boo").arg(megabytes), makeBook(megabytes, paragraph));
    BookView view;
    view.resize(1280, 1000);
    view.show();
    QCoreApplication::processEvents();
    char label[120];
    const char* shape = paragraph == 0 ? "one-line" : "paragraphs";
    view.setBook(std::make_shared<BookDocument>(BookDocument::readFile(path)));
    view.setReadOnly(false);
    view.viewport()->repaint();
    view.setFocus();
    QElapsedTimer t;
    t.start();
    qint64 freeze = 0;
    {
        FreezeMeter meter;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
        QApplication::sendEvent(&view, &press);
        view.viewport()->repaint();
        std::snprintf(label, sizeof label, "%s %d MB book, editing, Ctrl+End", shape, megabytes);
        row(label, ms(t), "ms", "200");
        while (!view.linesCounted())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        freeze = meter.longest();
    }
    const bool atEnd = view.caret() == view.textLength();
    std::snprintf(label, sizeof label, "  caret panel shows the last line, %d%s",
                  view.lineOfChar(view.caret()) + 1, atEnd ? "" : " (CARET NOT AT THE END)");
    row(label, ms(t), "ms", "");
    row("  longest freeze until then", double(freeze), "ms", "200");
    std::snprintf(label, sizeof label, "  resident memory after the %d MB book", megabytes);
    row(label, double(residentMegabytes()), "MB", "");
}

// Printing a book of `megabytes` to a PDF file when the session ends a second into it
// (SIGTERM does the same): how long the print goes on after that, and the file left.
void printSessionEnd(QTemporaryDir& dir, int megabytes) {
    const BookDocument book = BookDocument::readFile(
        write(dir, QStringLiteral("printend%1.boo").arg(megabytes), makeBook(megabytes, 300)));
    QObject owner;
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QString pdf = dir.filePath(QStringLiteral("printend.pdf"));
    printer.setOutputFileName(pdf);
    QElapsedTimer t;
    QElapsedTimer sinceEnd;
    QTimer::singleShot(1000, &owner, [&] {
        sinceEnd.start();
        Dialogs::endSession();
    });
    t.start();
    PrintJob::print(printer, book, QFont(), Qt::black, QStringLiteral("text"), nullptr);
    char label[100];
    std::snprintf(label, sizeof label, "print a %d MB book, the session ends after 1 s", megabytes);
    row(label, ms(t), "ms", "");
    row("  printing went on after the end for", ms(sinceEnd), "ms", "");
    row("  PDF left behind", double(QFileInfo(pdf).size()) / (1024 * 1024), "MB", "");
    row("  resident memory at the end", double(residentMegabytes()), "MB", "");
}

// Nothing asked and nothing shown: the benchmark measures the settings store alone.
class QuietDialogs : public Dialogs {
public:
    void message(QWidget*, const QString&) override {}
    void error(QWidget*, const QString&) override {}
    void beep() override {}
};

// The library window started and ended in a folder whose tomeria.ini holds `megabytes`
// of empty lines before its keys.
void bigSettingsFile(int megabytes) {
    QTemporaryDir dir;
    write(dir, QStringLiteral("books.dat"), "a=1\r\n");
    QByteArray ini = "[TForm1]\r\n";
    ini += QByteArray(qsizetype(megabytes) * 1024 * 1024 / 2, '\n').replace("\n", "\r\n");
    ini += "FormVersion=0\r\nShowCmd=1\r\nNormPos=100,100,865,646\r\nPanel4_Width=200\r\n";
    const QString path = write(dir, QStringLiteral("tomeria.ini"), ini);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    auto dialogs = Dialogs::install(std::make_unique<QuietDialogs>());
    {
        QElapsedTimer t;
        t.start();
        TForm1 form;
        form.show();
        QCoreApplication::processEvents();
        char label[100];
        std::snprintf(label, sizeof label, "%d MB settings file: start (read once)", megabytes);
        row(label, ms(t), "ms", "1000");
        const bool restored = form.Panel4->Width() == 200;
        t.restart();
        form.writeSettingsAtEnd();
        const double saved = ms(t);
        const bool kept = QFileInfo(path).size() >= ini.size() - 100;
        row(restored && kept ? "  exit (written once, lines kept)" : "  exit: SETTINGS WRONG",
            saved, "ms", "1000");
    }
    Dialogs::install(std::move(dialogs));
    QDir::setCurrent(previous);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::printf("\n%-58s %14s %8s\n", "pathological texts", "measured", "target");
    // "runs N", "line MB", "print MB" or "settings MB" measures one case alone.
    if (argc == 3) {
        const int n = QByteArray(argv[2]).toInt();
        QTemporaryDir dir;
        if (QByteArray(argv[1]) == "runs")
            manyRuns(n);
        else if (QByteArray(argv[1]) == "print")
            printOneLine(dir, n);
        else if (QByteArray(argv[1]) == "settings")
            bigSettingsFile(n);
        else if (QByteArray(argv[1]) == "end")
            ctrlEnd(dir, n, 300);
        else if (QByteArray(argv[1]) == "endline")
            ctrlEnd(dir, n, 0);
        else if (QByteArray(argv[1]) == "printend")
            printSessionEnd(dir, n);
        else
            oneLineBook(dir, n);
        return 0;
    }
    bigSettingsFile(12);
    manyRuns(8000);
    manyRuns(32000);
    QTemporaryDir dir;
    oneLineBook(dir, 20);
    oneLineBook(dir, 50);
    printOneLine(dir, 1);
    printOneLine(dir, 4);
    ctrlEnd(dir, 110, 300);
    ctrlEnd(dir, 50, 0);
    printSessionEnd(dir, 20); // last: the session stays ended
    return 0;
}

// Editing a big book in the reader window: 52 MB of prose (the corpus texts named on the
// command line, or generated sentences) in lines and as one line. Each book is measured
// in a child process of its own, so that its peak memory is its own.
//
//   bench_editing [folder of code-page-1251 texts]

#include "bench_support.h"
#include "core/base/cp1251.h"
#include "ui/bookview/book_view.h"
#include "ui/controls/status_panels.h"
#include "ui/dialogs/dialogs.h"
#include "ui/dialogs/print_progress.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/reader/navigation_panel.h"
#include "ui/reader/reader_window.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTimer>

#include <cstdio>

namespace {

constexpr qsizetype kBookSize = qsizetype(52) * 1024 * 1024;

// Prints to the PDF file named, pages 1 to 100; every other dialog is answered at once.
class BenchDialogs : public Dialogs {
public:
    QString pdf;
    void message(QWidget*, const QString&) override {}
    bool confirm(QWidget*, const QString&, const QString&) override { return true; }
    Answer ask(QWidget*, const QString&) override { return Answer::No; }
    void error(QWidget*, const QString& text) override {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
    bool choosePrinter(QWidget*, QPrinter& printer) override {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setPrintRange(QPrinter::PageRange);
        printer.setFromTo(1, 100);
        return true;
    }
};

// Starts a new peak: the resident set's high-water mark becomes what is resident now.
void resetPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

QAbstractScrollArea* area(TMainForm& reader) {
    return reader.viewing() ? static_cast<QAbstractScrollArea*>(reader.View)
                            : static_cast<QAbstractScrollArea*>(reader.Editor);
}

void paint(TMainForm& reader) {
    area(reader)->viewport()->repaint();
}

void settle(TMainForm& reader) {
    (void)reader;
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void key(TMainForm& reader, int k, Qt::KeyboardModifiers mods = Qt::NoModifier,
         const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, k, mods, text);
    QApplication::sendEvent(area(reader), &press);
}

void row(const char* what, double value, const char* unit, const char* target) {
    std::printf("  %-52s %10.1f %-3s  target %s\n", what, value, unit, target);
    std::fflush(stdout);
}

// One book in this process: every figure of the table.
int runBook(const QString& path, const QString& pdf) {
    auto* dialogs = new BenchDialogs;
    dialogs->pdf = pdf;
    Dialogs::install(std::unique_ptr<Dialogs>(dialogs));
    TMainForm reader;
    reader.resize(1280, 1000);
    reader.show();
    QCoreApplication::processEvents();
    const double idleMb = statusKb("VmRSS:") / 1024.0;
    reader.openBook(path);
    settle(reader);
    const qsizetype size = QFileInfo(path).size();
    reader.View->scrollOffsetToTop(size / 2);
    reader.View->setSelectionStart(size / 2);
    paint(reader);
    settle(reader);
    const int topBefore = reader.firstVisibleOffset();

    QElapsedTimer t;
    t.start();
    reader.ToolButton7Click();
    paint(reader);
    const double toEditing = ms(t);
    const bool kept = reader.firstVisibleOffset() == topBefore;
    settle(reader);
    t.restart();
    reader.ToolButton7Click();
    paint(reader);
    const double toViewing = ms(t);
    const bool keptBack = reader.firstVisibleOffset() == topBefore;
    settle(reader);
    reader.ToolButton7Click(); // editing from here on
    settle(reader);
    row("switch to editing + paint", toEditing, "ms", "16");
    row("switch back to viewing + paint", toViewing, "ms", "16");
    if (!kept || !keptBack)
        std::printf("  (the top line moved: %d %d)\n", int(kept), int(keptBack));

    area(reader)->setFocus();
    double typing = 0;
    for (int i = 0; i < 20; ++i) {
        t.restart();
        key(reader, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("ж"));
        paint(reader);
        typing = std::max(typing, ms(t));
        QCoreApplication::processEvents();
    }
    row("type a letter in the middle + paint, slowest", typing, "ms", "16");

    t.restart();
    key(reader, Qt::Key_End, Qt::ControlModifier);
    paint(reader);
    const double end = ms(t);
    t.restart();
    key(reader, Qt::Key_Home, Qt::ControlModifier);
    paint(reader);
    const double home = ms(t);
    double pageDown = 0;
    for (int i = 0; i < 20; ++i) {
        t.restart();
        key(reader, Qt::Key_PageDown);
        paint(reader);
        pageDown = std::max(pageDown, ms(t));
        QCoreApplication::processEvents();
    }
    row("Ctrl+End while editing + paint", end, "ms", "16");
    row("Ctrl+Home while editing + paint", home, "ms", "16");
    row("PageDown while editing + paint, slowest", pageDown, "ms", "16");

    // Paste 10 MB in the middle, undo it, redo it.
    QString tenMb =
        Cp1251::decode(QFile(path).open(QIODevice::ReadOnly) ? QByteArray() : QByteArray());
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        f.seek(size / 4);
        tenMb = Cp1251::decode(f.read(10 * 1024 * 1024));
    }
    QGuiApplication::clipboard()->setText(tenMb);
    tenMb = QString();
    reader.Editor->setSelectionStart(int(size / 2));
    QCoreApplication::processEvents();
    FreezeMeter meter;
    t.restart();
    reader.N3Click();
    paint(reader);
    const double paste = ms(t);
    QCoreApplication::processEvents();
    t.restart();
    reader.UndoButtonClick();
    paint(reader);
    const double undo = ms(t);
    QCoreApplication::processEvents();
    t.restart();
    key(reader, Qt::Key_Y, Qt::ControlModifier);
    paint(reader);
    const double redo = ms(t);
    QCoreApplication::processEvents();
    row("paste 10 MB + paint", paste, "ms", "50");
    row("undo the paste + paint", undo, "ms", "50");
    row("redo the paste + paint", redo, "ms", "50");
    row("longest freeze of the three", double(meter.longest()), "ms", "50");
    QGuiApplication::clipboard()->clear();

    // 1,000 scattered edits, then a save.
    QRandomGenerator random(7);
    const int length = int(size);
    for (int i = 0; i < 1000; ++i) {
        reader.Editor->setSelectionStart(int(random.bounded(length)));
        key(reader, Qt::Key_A, Qt::NoModifier, QStringLiteral("а"));
    }
    QCoreApplication::processEvents();
    const double editingMb = statusKb("VmRSS:") / 1024.0;
    // The contents follow the edits after a pause, reading the edited text on a worker:
    // what stays once they have.
    QElapsedTimer following;
    following.start();
    while (following.elapsed() < 3000 &&
           (following.elapsed() < 500 || reader.Navigation->followingEditing()))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const double followedMb = statusKb("VmRSS:") / 1024.0;
    // The peak of the save itself, not that of the paste before it.
    resetPeak();
    t.restart();
    reader.ToolButton1Click();
    const double save = ms(t);
    const double saveHwm = statusKb("VmHWM:") / 1024.0;
    QCoreApplication::processEvents();
    const double savedMb = statusKb("VmRSS:") / 1024.0;
    row("save after 1,000 scattered edits", save, "ms", "500");
    row("memory while editing, above idle", editingMb - idleMb, "MB", "file + 40");
    row("  once the contents have followed the edits", followedMb - idleMb, "MB", "file + 40");
    row("peak during the save, above idle", saveHwm - idleMb, "MB", "file + 60");
    row("memory after the save, above idle", savedMb - idleMb, "MB", "file + 40");
    // The book's own writing, without what the window does after it (the contents panel
    // reads the saved file again).
    const auto bookSavePeak = [&] {
        const double before = statusKb("VmRSS:") / 1024.0;
        resetPeak();
        reader.View->book()->save(QFileInfo(path).dir().filePath(QStringLiteral("copy.boo")),
                                  QStringLiteral("create"), QStringLiteral("write"));
        QFile::remove(QFileInfo(path).dir().filePath(QStringLiteral("copy.boo")));
        return statusKb("VmHWM:") / 1024.0 - before;
    };
    row("  of which the book's own writing, above its memory", bookSavePeak(), "MB", "");

    // Print pages 1 to 100 to PDF: until the progress window shows the second page.
    double firstPage = -1;
    QTimer watch;
    watch.setInterval(0);
    QElapsedTimer printing;
    QObject::connect(&watch, &QTimer::timeout, &watch, [&] {
        if (firstPage >= 0)
            return;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* progress = qobject_cast<PrintProgress*>(w);
            if (!progress || !progress->isVisible())
                continue;
            const auto* label = progress->findChild<QLabel*>(QStringLiteral("page"));
            const int page = label ? QRegularExpression(QStringLiteral("(\\d+)"))
                                         .match(label->text())
                                         .captured(1)
                                         .toInt()
                                   : 0;
            if (page >= 2)
                firstPage = ms(printing);
        }
    });
    const double beforePrint = statusKb("VmHWM:") / 1024.0;
    watch.start();
    printing.start();
    reader.ToolButton3Click();
    const double print = ms(printing);
    row("print 100 pages to PDF, first page out", firstPage, "ms", "1000");
    row("print 100 pages to PDF, all", print, "ms", "");
    row("peak memory growth while printing", statusKb("VmHWM:") / 1024.0 - beforePrint, "MB",
        "no copy");

    // A letter code page 1251 lacks (its nearest form is saved): the book is held in
    // UTF-16 from then on, and the save maps every character and asks first.
    reader.View->setSelectionStart(size / 3);
    key(reader, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("ő"));
    QCoreApplication::processEvents();
    const double wideMb = statusKb("VmRSS:") / 1024.0;
    resetPeak();
    t.restart();
    reader.ToolButton1Click();
    row("a letter outside the code page, then save", ms(t), "ms", "");
    row("  peak during that save, above the memory before it", statusKb("VmHWM:") / 1024.0 - wideMb,
        "MB", "");
    row("  of which the book's own writing", bookSavePeak(), "MB", "");
    return 0;
}

// Child run: the reader opens a book (or none), goes to its end and waits until every
// display line is counted; prints the peak memory in KB.
int shapeRun(const QString& path) {
    TMainForm reader;
    reader.resize(1280, 1000);
    reader.show();
    QCoreApplication::processEvents();
    if (!path.isEmpty()) {
        reader.openBook(path);
        reader.View->setFocus();
        key(reader, Qt::Key_End, Qt::ControlModifier);
        QElapsedTimer t;
        t.start();
        while (!reader.View->linesCounted() && ms(t) < 300000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        paint(reader);
    }
    std::printf("%ld\n", long(statusKb("VmHWM:")));
    return 0;
}

double shapePeakMb(const QString& path) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--shape"), path});
    child.waitForFinished(-1);
    return child.readAllStandardOutput().trimmed().toLong() / 1024.0;
}

// Peak memory of the reader holding books of odd shapes, against twice the file's size.
void shapes(QTemporaryDir& dir) {
    std::printf("\nOdd shapes: peak memory above an idle reader, all lines counted\n");
    const double idle = shapePeakMb(QString());
    const auto shape = [&](const char* what, const QByteArray& bytes) {
        const QString path = write(dir, QStringLiteral("shape.boo"), bytes);
        const double mb = bytes.size() / 1048576.0;
        char target[32];
        std::snprintf(target, sizeof target, "%.0f", 2 * mb);
        row(what, shapePeakMb(path) - idle, "MB", target);
        QFile::remove(path);
    };
    shape("40 million paragraphs of one letter (120 MB)", QByteArray("a\r\n").repeated(40000000));
    shape("60 MB of only CR", QByteArray(60 << 20, '\r'));
    shape("100 MB on one line", QByteArray(100 << 20, 'a'));
}

void book(const char* title, const QByteArray& bytes, QTemporaryDir& dir, const char* name) {
    const QString path = write(dir, QString::fromLatin1(name), bytes);
    std::printf("\n%s (%.0f MB)\n", title, bytes.size() / 1048576.0);
    std::fflush(stdout);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--book"), path, dir.filePath(QStringLiteral("print.pdf"))});
    child.waitForFinished(-1);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc >= 2 && QByteArray(argv[1]) == "--shape")
        return shapeRun(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
    if (argc >= 4 && QByteArray(argv[1]) == "--book")
        return runBook(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    QTemporaryDir dir;
    QByteArray prose = makeProse(folder, kBookSize);
    book(folder.isEmpty() ? "Editing: generated prose" : "Editing: corpus prose", prose, dir,
         "prose.boo");
    prose.replace("\r\n", "  ");
    book("Editing: the same as one line", prose, dir, "line.boo");
    prose = QByteArray();
    // TOMERIA_BENCH_SHAPES=1 adds the odd shapes (several minutes).
    if (qEnvironmentVariableIsSet("TOMERIA_BENCH_SHAPES"))
        shapes(dir);
    return 0;
}

// The reading view against the editor it replaced in viewing mode: 50 MB of prose (the
// corpus texts named on the command line, or generated sentences), in lines and as one
// line. Each figure is measured in the reader window in viewing mode (the view) and in
// editing mode (the editor, the baseline).
//
//   bench_book_view [folder of code-page-1251 texts]

#include "bench_support.h"
#include "core/base/cp1251.h"
#include "core/library/reading_state.h"
#include "ui/bookview/book_view.h"
#include "ui/controls/status_panels.h"
#include "ui/dialogs/find_dialog.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/reader/reader_window.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QProcess>
#include <QScrollBar>

#include <cstdio>
#include <ctime>

namespace {

constexpr qsizetype kBookSize = qsizetype(50) * 1024 * 1024;

// Prose of about `size` bytes ending in a word found nowhere else.
QByteArray proseWithEnd(const QString& folder, qsizetype size) {
    return makeProse(folder, size) + Cp1251::encode(QStringLiteral(" Конецкниги"));
}

void row(const char* what, double view, double editor, const char* unit, const char* target) {
    std::printf("%-46s %9.1f %-3s %15s %7s   editor %9.1f %s\n", what, view, unit, "", target,
                editor, unit);
}

// Shows the text area's present state at once, as the window's next paint would.
void paint(TMainForm& reader) {
    if (reader.viewing())
        reader.View->viewport()->repaint();
    else
        reader.Editor->viewport()->repaint();
}

QWidget* area(TMainForm& reader) {
    return reader.viewing() ? static_cast<QWidget*>(reader.View) : reader.Editor;
}

void settle(TMainForm& reader) {
    QCoreApplication::processEvents();
}

// The window thread's processor time in ms: on a loaded machine the wall clock says more
// about the other programs than about this one.
double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// The wall-clock and processor time of a step.
struct Timed {
    double wall = 0;
    double cpu = 0;
    void atLeast(const Timed& other) {
        wall = std::max(wall, other.wall);
        cpu = std::max(cpu, other.cpu);
    }
};

class Stopwatch {
public:
    Stopwatch() : m_cpu(cpuMs()) { m_wall.start(); }
    Timed elapsed() const { return {ms(m_wall), cpuMs() - m_cpu}; }

private:
    QElapsedTimer m_wall;
    double m_cpu;
};

void row(const char* what, const Timed& view, const Timed& editor, const char* target) {
    std::printf("%-46s %9.1f ms (cpu %6.1f ms) %7s   editor %9.1f ms (cpu %.1f ms)\n", what,
                view.wall, view.cpu, target, editor.wall, editor.cpu);
}

struct Figures {
    Timed open;
    Timed openFar;
    Timed pageDown;
    Timed arrows;
    Timed drag;
    Timed find;
    double lastLine = 0;
    double freeze = 0;
    bool farPlaceRight = true;
};

// The slowest of `times` key presses, each with its repaint.
Timed slowestKey(TMainForm& reader, int key, int times) {
    Timed slowest;
    for (int i = 0; i < times; ++i) {
        const Stopwatch t;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(area(reader), &press);
        paint(reader);
        slowest.atLeast(t.elapsed());
        QCoreApplication::processEvents();
    }
    return slowest;
}

Figures measure(bool viewing, const QString& path, qsizetype farPlace, QTemporaryDir& dir) {
    Figures f;
    ReadingState state;
    state.load(dir.filePath(QStringLiteral("reading.dat")), dir.path() + QLatin1Char('/'));
    TMainForm reader;
    reader.resize(1280, 1000);
    reader.setReadingState(&state);
    if (!viewing)
        reader.ToolButton7Click();
    reader.show();
    QCoreApplication::processEvents();

    const Stopwatch opening;
    reader.openBook(path);
    paint(reader);
    f.open = opening.elapsed();
    settle(reader);
    // Left 90 % in, then reopened there.
    if (reader.viewing())
        reader.View->scrollOffsetToTop(farPlace);
    else
        reader.Editor->scrollOffsetToTop(farPlace);
    farPlace = reader.firstVisibleOffset();
    reader.ToolButton6Click();

    FreezeMeter meter;
    const Stopwatch reopening;
    reader.openBook(path);
    paint(reader);
    f.openFar = reopening.elapsed();
    f.farPlaceRight = reader.firstVisibleOffset() == farPlace;
    settle(reader);

    area(reader)->setFocus();
    f.pageDown = slowestKey(reader, Qt::Key_PageDown, 20);
    f.arrows = slowestKey(reader, Qt::Key_Down, 40);
    f.arrows.atLeast(slowestKey(reader, Qt::Key_Up, 40));
    QScrollBar* bar =
        reader.viewing() ? reader.View->verticalScrollBar() : reader.Editor->verticalScrollBar();
    for (int step = 0; step <= 20; ++step) {
        const Stopwatch t;
        bar->setSliderDown(true);
        bar->setSliderPosition(int(qint64(bar->maximum()) * step / 20));
        bar->setSliderDown(false);
        paint(reader);
        f.drag.atLeast(t.elapsed());
        QCoreApplication::processEvents();
    }

    // Find the last word from the start.
    if (reader.viewing())
        reader.View->setSelectionStart(0);
    else
        reader.Editor->setSelectionStart(0);
    QCoreApplication::processEvents();
    reader.FindDialog1->setFindText(QStringLiteral("Конецкниги"));
    const Stopwatch finding;
    reader.FindDialog1Find();
    paint(reader);
    f.find = finding.elapsed();
    QCoreApplication::processEvents();

    // The caret at the last character: until its display line is known.
    reader.ToolButton6Click();
    reader.openBook(path); // no line counted yet
    settle(reader);
    QElapsedTimer t;
    t.start();
    QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
    QApplication::sendEvent(area(reader), &end);
    while (reader.StatusBar->panelText(0).contains(QLatin1String("...")) && ms(t) < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    f.lastLine = ms(t);
    f.freeze = double(meter.longest());
    reader.setReadingState(nullptr);
    return f;
}

// Child run: the reader in one mode reads a book (or none), goes to its end and back.
int peakRun(const QString& mode, const QString& path) {
    TMainForm reader;
    reader.resize(1280, 1000);
    if (mode == QLatin1String("editor"))
        reader.ToolButton7Click();
    reader.show();
    QCoreApplication::processEvents();
    if (!path.isEmpty()) {
        reader.openBook(path);
        settle(reader);
        QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
        QApplication::sendEvent(area(reader), &end);
        QElapsedTimer t;
        t.start();
        while (reader.StatusBar->panelText(0).contains(QLatin1String("...")) && ms(t) < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        paint(reader);
        reader.FindDialog1->setFindText(QStringLiteral("Конецкниги"));
        reader.FindDialog1Find();
        paint(reader);
    }
    std::printf("%ld\n", long(statusKb("VmHWM:")));
    return 0;
}

double peakMb(const QString& mode, const QString& path) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--peak"), mode, path});
    child.waitForFinished(600000);
    return child.readAllStandardOutput().trimmed().toLong() / 1024.0;
}

void book(const char* title, const QString& path, qsizetype size, QTemporaryDir& dir) {
    const qsizetype farPlace = size * 9 / 10;
    std::printf("\n%s (%.0f MB)%*s %12s %30s\n", title, size / 1048576.0,
                int(38 - std::strlen(title)), "", "view", "target");
    const Figures v = measure(true, path, farPlace, dir);
    // TOMERIA_BENCH_VIEW_ONLY=1 leaves the (slow) editor out.
    const bool viewOnly = qEnvironmentVariableIsSet("TOMERIA_BENCH_VIEW_ONLY");
    const Figures e = viewOnly ? Figures{} : measure(false, path, farPlace, dir);
    row("open + first paint", v.open, e.open, "40");
    row("open 90 % in + first paint", v.openFar, e.openFar, "40");
    if (!v.farPlaceRight || !e.farPlaceRight)
        std::printf("  (a far place opened wrong: view %d, editor %d)\n", int(v.farPlaceRight),
                    int(e.farPlaceRight));
    row("Page Down + repaint, slowest", v.pageDown, e.pageDown, "16");
    row("arrow key + repaint, slowest", v.arrows, e.arrows, "16");
    row("scroll-bar drag step + repaint, slowest", v.drag, e.drag, "16");
    row("find the last word + repaint", v.find, e.find, "60");
    row("display line of the last character known", v.lastLine, e.lastLine, "ms", "3000");
    row("longest freeze (all of the above from 90 %)", v.freeze, e.freeze, "ms", "50");
    const double idle = peakMb(QStringLiteral("view"), QString());
    const double view = peakMb(QStringLiteral("view"), path);
    const double editor = viewOnly ? idle : peakMb(QStringLiteral("editor"), path);
    char target[32];
    std::snprintf(target, sizeof target, "%.0f", size / 1048576.0 + 40);
    row("peak memory above an idle reader", view - idle, editor - idle, "MB", target);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc >= 3 && QByteArray(argv[1]) == "--peak")
        return peakRun(QString::fromLocal8Bit(argv[2]),
                       argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString());
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    QTemporaryDir dir;
    QByteArray prose = proseWithEnd(folder, kBookSize);
    const QString lines = write(dir, QStringLiteral("prose.boo"), prose);
    book(folder.isEmpty() ? "generated prose" : "corpus prose", lines, prose.size(), dir);
    prose.replace("\r\n", "  ");
    const QString oneLine = write(dir, QStringLiteral("line.boo"), prose);
    prose = QByteArray();
    book("the same as one line", oneLine, qsizetype(QFileInfo(oneLine).size()), dir);
    return 0;
}

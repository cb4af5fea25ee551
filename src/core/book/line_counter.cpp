#include "core/book/line_counter.h"

#include <QElapsedTimer>
#include <QMetaObject>

void LineCounter::start(std::shared_ptr<const BookLines> lines) {
    resume(std::move(lines), 0, 0);
}

void LineCounter::resume(std::shared_ptr<const BookLines> lines, int keepPieces,
                         int fromParagraph) {
    stop();
    auto run = std::make_shared<Run>();
    run->lines = std::move(lines);
    run->starts.assign(size_t(run->lines->pieceCount()) + 1, 0);
    if (keepPieces < 0 || keepPieces > std::min(counted(), run->lines->pieceCount()))
        keepPieces = 0;
    if (keepPieces > 0)
        std::copy(m_run->starts.begin(), m_run->starts.begin() + keepPieces + 1,
                  run->starts.begin());
    else
        fromParagraph = 0;
    run->counted.store(keepPieces, std::memory_order_relaxed);
    m_run = run;
    m_thread = std::thread([this, run, fromParagraph] { count(*run, fromParagraph); });
}

void LineCounter::stop() {
    if (m_run)
        m_run->cancel = true;
    if (m_thread.joinable())
        m_thread.join();
}

void LineCounter::count(Run& run, int fromParagraph) {
    const BookLines& lines = *run.lines;
    QElapsedTimer sinceReport;
    sinceReport.start();
    int total = run.starts[size_t(run.counted.load(std::memory_order_relaxed))];
    lines.walk(
        [&](int piece, int count) {
            total += count;
            run.starts[size_t(piece) + 1] = total;
            // A new layout waits for the count to stop: it stops within a piece.
            if (run.cancel.load(std::memory_order_relaxed))
                return false;
            if ((piece & 1023) == 0) {
                run.counted.store(piece + 1, std::memory_order_release);
                if (sinceReport.elapsed() >= 100) {
                    sinceReport.restart();
                    QMetaObject::invokeMethod(this, &LineCounter::progress, Qt::QueuedConnection);
                }
            }
            return true;
        },
        fromParagraph);
    if (run.cancel.load())
        return;
    run.counted.store(run.lines->pieceCount(), std::memory_order_release);
    QMetaObject::invokeMethod(this, &LineCounter::progress, Qt::QueuedConnection);
}

#include "core/book/line_counter.h"

#include <QElapsedTimer>
#include <QMetaObject>

void LineCounter::start(std::shared_ptr<const BookLines> lines) {
    stop();
    auto run = std::make_shared<Run>();
    run->lines = std::move(lines);
    run->starts.assign(size_t(run->lines->pieceCount()) + 1, 0);
    m_run = run;
    m_thread = std::thread([this, run] { count(*run); });
}

void LineCounter::stop() {
    if (m_run)
        m_run->cancel = true;
    if (m_thread.joinable())
        m_thread.join();
}

void LineCounter::count(Run& run) {
    const BookLines& lines = *run.lines;
    const int pieces = lines.pieceCount();
    QElapsedTimer sinceReport;
    sinceReport.start();
    int total = 0;
    for (int n = 0; n < pieces; ++n) {
        if ((n & 1023) == 0) {
            if (run.cancel.load(std::memory_order_relaxed))
                return;
            run.counted.store(n, std::memory_order_release);
            if (sinceReport.elapsed() >= 100) {
                sinceReport.restart();
                QMetaObject::invokeMethod(this, &LineCounter::progress, Qt::QueuedConnection);
            }
        }
        total += lines.lineCount(lines.piece(n));
        run.starts[size_t(n) + 1] = total;
    }
    run.counted.store(pieces, std::memory_order_release);
    QMetaObject::invokeMethod(this, &LineCounter::progress, Qt::QueuedConnection);
}

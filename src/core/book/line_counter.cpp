#include "core/book/line_counter.h"

#include <QElapsedTimer>
#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <cstdint>

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
    if (run->lines->rules().optimal) {
        // (Those of the pieces kept are found again should the pages ask.)
        run->brokenEnds = std::vector<std::atomic<std::uint32_t>>(size_t(run->lines->pieceCount()));
        for (std::atomic<std::uint32_t>& ends : run->brokenEnds)
            ends.store(BookLines::kEndsUnknown, std::memory_order_relaxed);
    }
    run->counted.store(keepPieces, std::memory_order_relaxed);
    m_run = run;
    m_thread = std::thread([this, run, fromParagraph] { count(*run, fromParagraph); });
    startPages(run->starts[size_t(keepPieces)]);
}

void LineCounter::stop() {
    stopPages();
    if (m_run)
        m_run->cancel = true;
    if (m_thread.joinable())
        m_thread.join();
}

namespace {
// The most pieces counted ahead by a second thread: two bytes a piece (and four for the
// start of each piece after a paragraph's first).
constexpr int kMostCountedAhead = 8'000'000;
} // namespace

void LineCounter::count(Run& run, int fromParagraph) {
    const BookLines& lines = *run.lines;
    QElapsedTimer sinceReport;
    sinceReport.start();
    int total = run.starts[size_t(run.counted.load(std::memory_order_relaxed))];
    // Justified lines set by total fit cost most of the count: a second thread counts
    // the paragraphs from the book's end back, for the walk to take when it gets there,
    // until the two meet. A paragraph of several pieces is wrapped whole there too, to
    // find where its pieces start. Counts of a piece fit 16 bits (0: not yet); the last
    // piece of a paragraph is told last.
    const int paragraphs = lines.text().paragraphCount();
    std::vector<std::atomic<std::uint16_t>> ahead;
    std::vector<std::uint32_t> aheadStarts;
    std::atomic<int> reached{fromParagraph};
    std::thread helper;
    if (lines.rules().optimal && paragraphs - fromParagraph > 64 &&
        lines.pieceCount() <= kMostCountedAhead && std::thread::hardware_concurrency() > 1) {
        ahead = std::vector<std::atomic<std::uint16_t>>(size_t(lines.pieceCount()));
        // Piece n of paragraph p, not its first: its start is aheadStarts[n - p - 1].
        if (lines.pieceCount() > paragraphs)
            aheadStarts.assign(size_t(lines.pieceCount() - paragraphs), 0);
        helper = std::thread([&] {
            for (int p = paragraphs - 1; p > reached.load(std::memory_order_relaxed) + 1; --p) {
                if (run.cancel.load(std::memory_order_relaxed))
                    return;
                const int first = lines.firstPieceOf(p);
                const int pieces = lines.piecesOf(p);
                std::uint32_t ends = BookLines::kEndsUnknown;
                if (pieces == 1) {
                    const int n = lines.lineCount(lines.piece(first), &ends);
                    run.brokenEnds[size_t(first)].store(ends, std::memory_order_relaxed);
                    ahead[size_t(first)].store(std::uint16_t(std::clamp(n, 1, 65535)),
                                               std::memory_order_release);
                    continue;
                }
                const std::vector<qsizetype> starts = lines.pieceStartsOf(p);
                if (starts.size() != size_t(pieces) + 1)
                    continue;
                for (int k = 0; k < pieces; ++k) {
                    if (run.cancel.load(std::memory_order_relaxed))
                        return;
                    BookLines::Piece piece;
                    piece.number = first + k;
                    piece.paragraph = p;
                    piece.index = k;
                    piece.from = starts[size_t(k)];
                    piece.to = starts[size_t(k) + 1];
                    piece.lastOfParagraph = k + 1 == pieces;
                    const int n = lines.lineCount(piece, &ends);
                    run.brokenEnds[size_t(first + k)].store(ends, std::memory_order_relaxed);
                    if (k > 0)
                        aheadStarts[size_t(first + k - p - 1)] = std::uint32_t(piece.from);
                    ahead[size_t(first + k)].store(std::uint16_t(std::clamp(n, 1, 65535)),
                                                   std::memory_order_release);
                }
            }
        });
    }
    const auto known = [&](int piece) -> int {
        return ahead.empty() ? 0 : ahead[size_t(piece)].load(std::memory_order_acquire);
    };
    const auto knownStart = [&](int piece) -> qsizetype {
        return aheadStarts[size_t(piece - lines.paragraphOfPiece(piece) - 1)];
    };
    lines.walk(
        [&](int piece, int count) {
            total += count;
            run.starts[size_t(piece) + 1] = total;
            // A new layout waits for the count to stop: it stops within a piece.
            if (run.cancel.load(std::memory_order_relaxed))
                return false;
            if ((piece & 1023) == 0) {
                reached.store(lines.paragraphOfPiece(piece), std::memory_order_relaxed);
                run.counted.store(piece + 1, std::memory_order_release);
                if (sinceReport.elapsed() >= 100) {
                    sinceReport.restart();
                    QMetaObject::invokeMethod(this, &LineCounter::progress, Qt::QueuedConnection);
                }
            }
            return true;
        },
        fromParagraph, known, aheadStarts.empty() ? std::function<qsizetype(int)>() : knownStart,
        run.brokenEnds.empty()
            ? std::function<void(int, std::uint32_t)>()
            : [&](int piece,
                  std::uint32_t
                      ends) { run.brokenEnds[size_t(piece)].store(ends, std::memory_order_relaxed); });
    // The walk has passed the helper (or stopped): the helper stops at the next paragraph.
    reached.store(paragraphs, std::memory_order_relaxed);
    if (helper.joinable())
        helper.join();
    if (run.cancel.load())
        return;
    run.counted.store(run.lines->pieceCount(), std::memory_order_release);
    QMetaObject::invokeMethod(this, &LineCounter::progress, Qt::QueuedConnection);
}

int LineCounter::pieceOfLine(int line) const {
    if (!m_run || line < 0)
        return -1;
    const int known = counted();
    const auto begin = m_run->starts.begin();
    // The last piece of those counted whose first line is at or before the line.
    const auto it = std::upper_bound(begin, begin + known + 1, line);
    const int piece = int(it - begin) - 1;
    if (piece >= known)
        return -1;
    return piece;
}

// ---- Pages ----------------------------------------------------------------------------

void LineCounter::setPageRules(std::optional<PageRules> rules) {
    stopPages();
    m_pageRules = std::move(rules);
    startPages();
}

void LineCounter::startPages(int keepLines) {
    stopPages();
    // The pages decided by the lines kept (the worker has stopped: no lock needed).
    std::shared_ptr<Pages> old = std::move(m_pages);
    if (!m_pageRules || !m_run || !m_pageRules->linesOf)
        return;
    auto pages = std::make_shared<Pages>();
    pages->run = m_run;
    pages->rules = *m_pageRules;
    if (old && keepLines > 0) {
        size_t kept = 0;
        while (kept < old->decidedBy.size() && old->decidedBy[kept] <= keepLines)
            ++kept;
        pages->starts.assign(old->starts.begin(), old->starts.begin() + qsizetype(kept));
        pages->decidedBy.assign(old->decidedBy.begin(), old->decidedBy.begin() + qsizetype(kept));
        pages->lines = pages->starts.empty() ? 0 : pages->starts.back();
    }
    m_pages = pages;
    m_pageThread = std::thread([this, pages] { paginate(*pages); });
}

void LineCounter::stopPages() {
    if (m_pages)
        m_pages->cancel = true;
    if (m_pageThread.joinable())
        m_pageThread.join();
}

void LineCounter::paginate(Pages& pages) {
    const Run& run = *pages.run;
    const BookLines& lines = *run.lines;
    const int total = lines.pieceCount();
    // Going on from the last page kept: its first line, in the piece holding it.
    PageBreaker breaker(pages.rules.room, pages.starts, pages.decidedBy);
    // Whether a line that could end a page ends in a broken word: as the count found it,
    // else the lines of its piece are set again (the last piece asked about kept).
    int setPiece = -1;
    std::vector<qsizetype> setStarts;
    std::vector<qsizetype> setHyphens;
    breaker.setBrokenWords([&](const PageLine& line) {
        if (line.piece < 0 || line.piece >= lines.pieceCount())
            return false;
        // As the count found them, when it could.
        if (!run.brokenEnds.empty() && line.lineOfPiece >= 0 && line.lineOfPiece < 31) {
            const std::uint32_t ends =
                run.brokenEnds[size_t(line.piece)].load(std::memory_order_relaxed);
            if (!(ends & BookLines::kEndsUnknown))
                return (ends >> line.lineOfPiece & 1) != 0;
        }
        const BookLines::Piece piece = lines.piece(line.piece);
        if (line.piece != setPiece) {
            setStarts = lines.lineStarts(piece);
            setHyphens = lines.hyphenatedEnds(piece, setStarts);
            setPiece = line.piece;
        }
        const size_t next = size_t(line.lineOfPiece) + 1;
        const qsizetype end = next < setStarts.size() ? setStarts[next] : piece.to;
        return std::binary_search(setHyphens.begin(), setHyphens.end(), end);
    });
    const int from = breaker.starts().back();
    int piece =
        int(std::upper_bound(run.starts.begin(),
                             run.starts.begin() + run.counted.load(std::memory_order_acquire) + 1,
                             from) -
            run.starts.begin()) -
        1;
    piece = std::max(0, piece);
    int skip = from - run.starts[size_t(piece)];
    std::vector<PageLine> pieceLines;
    QElapsedTimer sinceReport;
    sinceReport.start();
    size_t published = breaker.starts().size();
    {
        std::lock_guard lock(pages.mutex);
        pages.starts = breaker.starts();
        pages.decidedBy = breaker.decidedBy();
        pages.lines = from;
    }
    const auto publish = [&](bool finished) {
        const std::vector<int>& starts = breaker.starts();
        const std::vector<int>& decidedBy = breaker.decidedBy();
        std::lock_guard lock(pages.mutex);
        pages.starts.insert(pages.starts.end(), starts.begin() + qsizetype(published),
                            starts.end());
        pages.decidedBy.insert(pages.decidedBy.end(), decidedBy.begin() + qsizetype(published),
                               decidedBy.end());
        published = starts.size();
        pages.lines = breaker.lines();
        pages.finished = finished;
    };
    while (piece < total) {
        const int counted = run.counted.load(std::memory_order_acquire);
        if (pages.cancel.load(std::memory_order_relaxed) || run.cancel.load())
            return;
        if (piece >= counted) {
            // Waiting for the count: it reports every thousand pieces.
            publish(false);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        for (; piece < counted; ++piece) {
            const int count = run.starts[size_t(piece) + 1] - run.starts[size_t(piece)];
            pieceLines.clear();
            pages.rules.linesOf(lines, lines.piece(piece), count, pieceLines);
            for (size_t i = size_t(std::max(0, skip)); i < pieceLines.size(); ++i)
                breaker.add(pieceLines[i]);
            skip = 0;
            if ((piece & 1023) == 0 && pages.cancel.load(std::memory_order_relaxed))
                return;
        }
        if (sinceReport.elapsed() >= 100) {
            sinceReport.restart();
            publish(false);
            QMetaObject::invokeMethod(this, &LineCounter::progress, Qt::QueuedConnection);
        }
    }
    publish(true);
    QMetaObject::invokeMethod(this, &LineCounter::progress, Qt::QueuedConnection);
}

bool LineCounter::pagesFinished() const {
    if (!m_pages)
        return false;
    std::lock_guard lock(m_pages->mutex);
    return m_pages->finished;
}

int LineCounter::pagesKnown() const {
    if (!m_pages)
        return 0;
    std::lock_guard lock(m_pages->mutex);
    return int(m_pages->starts.size());
}

int LineCounter::pageStart(int page) const {
    if (!m_pages || page < 0)
        return -1;
    std::lock_guard lock(m_pages->mutex);
    return page < int(m_pages->starts.size()) ? m_pages->starts[size_t(page)] : -1;
}

int LineCounter::pageOfLine(int line) const {
    if (!m_pages || line < 0)
        return -1;
    std::lock_guard lock(m_pages->mutex);
    const std::vector<int>& starts = m_pages->starts;
    if (starts.empty())
        return -1;
    // A line of the last page known belongs to it only once the book's end is reached.
    if (line == starts.back())
        return int(starts.size()) - 1;
    if (line > starts.back() && !(m_pages->finished && line < m_pages->lines))
        return -1;
    return int(std::upper_bound(starts.begin(), starts.end(), line) - starts.begin()) - 1;
}

int LineCounter::pageAfter(int line) const {
    if (!m_pages)
        return -1;
    std::lock_guard lock(m_pages->mutex);
    const std::vector<int>& starts = m_pages->starts;
    const auto it = std::upper_bound(starts.begin(), starts.end(), line);
    return it == starts.end() ? -1 : int(it - starts.begin());
}

int LineCounter::pageBefore(int line) const {
    if (!m_pages)
        return -1;
    std::lock_guard lock(m_pages->mutex);
    const std::vector<int>& starts = m_pages->starts;
    if (starts.empty() || (line > starts.back() && !m_pages->finished))
        return -1;
    return int(std::lower_bound(starts.begin(), starts.end(), line) - starts.begin()) - 1;
}

int LineCounter::pagedLines() const {
    if (!m_pages)
        return 0;
    std::lock_guard lock(m_pages->mutex);
    return m_pages->lines;
}

#pragma once

#include "core/book/book_lines.h"
#include "core/text/page_breaking.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// How display lines fill pages: the page's room in pixels, and each line's height and
// place in its paragraph (`linesOf` appends the `count` lines of a piece). It is called
// on the worker thread, with the text of the lines it counts.
struct PageRules {
    double room = 0;
    std::function<void(const BookLines& lines, const BookLines::Piece& piece, int count,
                       std::vector<PageLine>& out)>
        linesOf;
};

// Counts the display lines of a whole book on a worker thread: for every piece, the
// number of display lines before it. The window asks while the count runs and is told
// of its progress; a new count (another width, font or book) ends the one before.
//
// With page rules, a second worker follows the count and breaks the counted lines into
// pages (PageBreaker), from the book's first line, so a page is the same however it is
// reached; another page height breaks them again without counting the lines again, and
// after an edit the pages that lines before it decided are kept.
class LineCounter : public QObject {
    Q_OBJECT
public:
    explicit LineCounter(QObject* parent = nullptr) : QObject(parent) {}
    ~LineCounter() override { stop(); }

    void start(std::shared_ptr<const BookLines> lines);
    // After an edit: the pieces below `keepPieces` are those of the count stopped last
    // (it had counted them), and the count goes on from paragraph `fromParagraph`,
    // whose first piece is keepPieces.
    void resume(std::shared_ptr<const BookLines> lines, int keepPieces, int fromParagraph);
    void stop();

    // Pieces whose first line's number is known: linesBefore(n) answers for n up to this.
    int counted() const { return m_run ? m_run->counted.load(std::memory_order_acquire) : 0; }
    int linesBefore(int piece) const { return m_run->starts[size_t(piece)]; }
    bool finished() const { return m_run && counted() == m_run->lines->pieceCount(); }
    const BookLines* lines() const { return m_run ? m_run->lines.get() : nullptr; }
    // The counted piece holding display line `line`, -1 past the count.
    int pieceOfLine(int line) const;

    // Pages of the counted lines, by these rules (none: no pages); the pages are broken
    // again from the first line.
    void setPageRules(std::optional<PageRules> rules);
    bool paging() const { return m_pageRules.has_value(); }
    // Whether every page of the book is known.
    bool pagesFinished() const;
    // The pages known so far: the last of them may still grow.
    int pagesKnown() const;
    // The first display line of page `page` (from 0), -1 when not known yet.
    int pageStart(int page) const;
    // The page holding display line `line`, -1 while its end is not decided (the last
    // page known holds its own first line).
    int pageOfLine(int line) const;
    // The first page starting after display line `line`, -1 while none is known.
    int pageAfter(int line) const;
    // The last page starting before display line `line`; -1 for none, or while the pages
    // up to the line are not decided.
    int pageBefore(int line) const;
    // The display lines the pages have taken so far.
    int pagedLines() const;

Q_SIGNALS:
    // More pieces are counted, or more pages (sent from the window's thread).
    void progress();

private:
    struct Run {
        std::shared_ptr<const BookLines> lines;
        std::vector<int> starts; // starts[n]: display lines before piece n
        // Which lines of piece n end in a broken word (BookLines::lineCount()), for the
        // pages; kept for justified lines only, written by both counting threads.
        std::vector<std::atomic<std::uint32_t>> brokenEnds;
        std::atomic<int> counted{0};
        std::atomic<bool> cancel{false};
    };
    struct Pages {
        std::shared_ptr<Run> run;
        PageRules rules;
        mutable std::mutex mutex;
        std::vector<int> starts;    // the first line of each page
        std::vector<int> decidedBy; // the lines broken when each start was decided
        int lines = 0;              // the lines broken so far
        bool finished = false;
        std::atomic<bool> cancel{false};
    };
    void count(Run& run, int fromParagraph);
    void paginate(Pages& pages);
    // Breaks the lines into pages on the page worker, going on after `keepLines` lines
    // from the pages those lines decided (after an edit below them).
    void startPages(int keepLines = 0);
    void stopPages();

    std::shared_ptr<Run> m_run;
    std::thread m_thread;
    std::optional<PageRules> m_pageRules;
    std::shared_ptr<Pages> m_pages;
    std::thread m_pageThread;
};

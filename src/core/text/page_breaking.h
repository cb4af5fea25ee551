#pragma once

#include <functional>
#include <vector>

// One display line as pages see it: the room it takes (the paragraph spacing after a
// paragraph's last line included) and where it stands in its paragraph.
struct PageLine {
    double height = 0;
    bool startsParagraph = false;
    bool endsParagraph = false;
    bool heading = false;
    // A line of a blank paragraph: it shows nothing, so it never counts as a page's last.
    bool blank = false;
    // It ends in a broken word, a hyphen after its last letter.
    bool hyphenated = false;
    // Which line it is, for a breaker told of broken words only when it asks: the piece
    // of text it is in and its place there (-1: none).
    int piece = -1;
    int lineOfPiece = 0;
};

// Breaks display lines, fed in the book's order, into pages `room` pixels high. A page
// holds whole lines, as many as fit (one at least, however tall), less those that the
// rules send to the next page:
//  - a heading never stands last on a page (blank lines after it do not count);
//  - a paragraph's first line does not stand alone at a page's foot, nor its last line
//    alone at the next page's head.
// Where following the rules would leave the page empty, the heading rule alone is kept;
// where even that would, the page is filled plainly. A page does not end in a broken word
// either, when ending it a line or two earlier than the rules above would avoid that
// (the word is then read whole on one page, as a typesetter keeps it). A page's start depends only
// on the lines before it and a few after, so the pages come out the same however the lines are fed,
// and a worker thread can break a book while it counts its lines.
class PageBreaker {
public:
    explicit PageBreaker(double room) : m_room(room) {}
    // Goes on from pages decided before: `starts` as starts() gave them, `decidedBy` as
    // decidedBy() did, lines fed again from starts.back().
    PageBreaker(double room, std::vector<int> starts, std::vector<int> decidedBy);

    // Tells whether a line ends in a broken word, besides its `hyphenated`: asked only of
    // lines that could end a page, so that lines need not be set to know it.
    void setBrokenWords(std::function<bool(const PageLine&)> broken) {
        m_broken = std::move(broken);
    }

    // The next line; pages decided by it are added to starts().
    void add(const PageLine& line);
    // The first line of every page decided so far, from 0; the page starting at the last
    // is still open (its lines may yet move to the next).
    const std::vector<int>& starts() const { return m_starts; }
    // The lines fed so far.
    int lines() const { return m_pageStart + int(m_pending.size()); }
    // For each page start, the lines fed when it was decided: a start stays the same
    // whatever follows those lines (0 for the first page).
    const std::vector<int>& decidedBy() const { return m_decidedBy; }

private:
    // The start of the next page, counted from the open page's first line, when the
    // first `fit` pending lines fill it.
    // `keepWords`: nor does it end in a broken word.
    int breakAt(int fit, bool keepParagraphs, bool keepWords = false) const;
    // The most lines a page is shortened by so as not to end in a broken word.
    static constexpr int kMostLinesForAWord = 2;

    bool endsInBrokenWord(const PageLine& line) const {
        return line.hyphenated ||
               (m_broken && !line.endsParagraph && !line.blank && !line.heading && m_broken(line));
    }

    double m_room;
    std::function<bool(const PageLine&)> m_broken;
    std::vector<PageLine> m_pending; // the open page's lines, and the one that overfilled it
    double m_used = 0;
    int m_pageStart = 0;
    std::vector<int> m_starts{0};
    std::vector<int> m_decidedBy{0};
};

// The first line of each page of `lines` (none for no lines).
std::vector<int> breakPages(const std::vector<PageLine>& lines, double room);

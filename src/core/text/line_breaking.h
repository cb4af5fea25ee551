#pragma once

#include <QtGlobal>

#include <optional>
#include <vector>

// Breaking a paragraph of justified text into lines, over the characters' advances and
// the places a line may end. Total fit: the breaks of the whole paragraph are chosen
// together, so that the sum of the lines' demerits is least (a line's demerits grow with
// the cube of how far its spaces are stretched, and with a hyphen at its end, a hyphen on
// the line before too, or spacing much looser or tighter than the line before's). No line
// is overfull, and never more than two lines in a row end in a hyphen. Pure: the same
// paragraph gives the same lines.
namespace LineBreaking {

// A place a line may end: before character `at`; `hyphen` when the line then ends in a
// hyphen: one added, of the paragraph's hyphenWidth, where a word is broken, or the
// text's own (`inText`, after «-» in «какой-то»), which counts as a hyphenated line too.
struct Opportunity {
    qsizetype at = 0;
    bool hyphen = false;
    bool inText = false;
};

struct Paragraph {
    std::vector<qreal> widths;       // the advance of each character
    std::vector<bool> spaces;        // which characters are spaces (stretched, hang at ends)
    std::vector<Opportunity> breaks; // ascending, inside (0, size)
    qreal firstWidth = 0;            // the first line's room (an indent less)
    qreal width = 0;                 // every other line's room
    qreal hyphenWidth = 0;
    qreal spaceWidth = 1; // the normal space, the measure of stretching
    // Whether the paragraph ends here: its last line then is set at its natural width;
    // a piece of a longer paragraph has a justified last line like any other.
    bool endsParagraph = true;
    // A piece of a longer paragraph: the hyphenated lines just before it, and whether its
    // last line ends in a hyphen (the next piece goes on with the word).
    int hyphenRunBefore = 0;
    bool endsInHyphen = false;
};

struct Params {
    // A space may stretch by this share of itself before a line counts as loose: a line
    // whose spaces are stretched that much has badness 100.
    qreal stretch = 0.5;
    // A space may shrink by this share of itself (a line then counts as tight when it
    // shrinks by half of that); a line that needs more is overfull. None in the reading
    // view, whose text layout only widens spaces.
    qreal shrink = 0;
    qreal linePenalty = 10;
    qreal hyphenPenalty = 50;
    qreal doubleHyphenDemerits = 3000; // a hyphen ending the line before as well
    qreal fitnessDemerits = 3000;      // spacing much unlike the line before's
    int maxHyphenRun = 2;
    // The line (counted from 0) that ends a page, and what a hyphen there costs; -1: none.
    int pageLastLine = -1;
    qreal pageHyphenDemerits = 10000;
    // Lines looser than this badness are tried only when the paragraph cannot be set
    // without one (spaces at 1.6 times their stretch: twice the normal space and more).
    qreal tolerance = 400;
    // The characters of a justified line may be spaced out too, by this share of the
    // line's natural width at most (a few per cent, as a typesetter tracks a line): a
    // line's stretch is its spaces' and its letters' together, so that a line with few
    // or long words is not left with gaping spaces. 0: the spaces alone.
    qreal letterStretch = 0.03;
};

// How far a line's spaces are stretched: the width each space is given over its own,
// as a share of the normal space (0 for a line set at its natural width).
struct Line {
    qsizetype from = 0, to = 0;
    bool hyphen = false;
    bool last = false;
    qreal natural = 0; // width without the spaces that hang at its end, hyphen included
    int gaps = 0;      // spaces inside
    qreal room = 0;
};

// Of the width a justified line falls short of its room (`slack`), what its characters
// take as letter spacing, all of them alike: the letters' share of the line's stretch,
// never more than letterStretch × natural. The spaces take the rest. 0 when the line is
// not short.
qreal tracking(qreal slack, qreal natural, int gaps, qreal spaceWidth, const Params& params);

// The lines from the line starts (the first is 0), for measures and tests.
std::vector<Line> lines(const Paragraph& paragraph, const std::vector<qsizetype>& starts);
// A line's badness: 100 × (stretch or shrink ratio)³, 0 for the last line that fits; a
// line with nothing to stretch that falls short is as bad as can be (10,000); an
// overfull line has none (std::nullopt).
std::optional<qreal> badness(const Line& line, const Paragraph& paragraph, const Params& params);
// The demerits of the whole paragraph set with these lines, or std::nullopt when a line
// is overfull or more than maxHyphenRun lines in a row end in a hyphen.
std::optional<qreal> demerits(const Paragraph& paragraph, const std::vector<qsizetype>& starts,
                              const Params& params = {});

// The line starts, the first 0, of the least demerits; std::nullopt when no setting
// keeps every line within its room (a word longer than a line): the caller then breaks
// greedily.
std::optional<std::vector<qsizetype>> optimal(const Paragraph& paragraph,
                                              const Params& params = {});
// The greedy setting over the same opportunities: each line as long as fits.
std::vector<qsizetype> greedy(const Paragraph& paragraph);

} // namespace LineBreaking

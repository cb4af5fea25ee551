#include "core/text/line_breaking.h"

#include <QTest>

#include <random>

using namespace LineBreaking;

// Total-fit line breaking, on seeded random paragraphs: against greedy breaking and, for
// short paragraphs, against every possible setting.
class TestLineBreaking : public QObject {
    Q_OBJECT

    // Words of 1 to 12 letters, letters 5 to 12 pixels wide, spaces 4; words of four
    // letters or more may be broken two letters in from either end.
    static Paragraph randomParagraph(std::mt19937& random, int words, qreal width) {
        Paragraph p;
        p.spaceWidth = 4;
        p.hyphenWidth = 5;
        p.width = width;
        p.firstWidth = width - 20;
        for (int w = 0; w < words; ++w) {
            if (w > 0 && random() % 8 == 0) {
                // Words joined by the text's own hyphen («какой-то»).
                p.widths.push_back(5);
                p.spaces.push_back(false);
                p.breaks.push_back({qsizetype(p.widths.size()), true, true});
            } else if (w > 0) {
                p.widths.push_back(p.spaceWidth);
                p.spaces.push_back(true);
                p.breaks.push_back({qsizetype(p.widths.size()), false});
            }
            const int letters = 1 + int(random() % 12);
            for (int l = 0; l < letters; ++l) {
                if (l >= 2 && letters - l >= 2 && random() % 3 == 0)
                    p.breaks.push_back({qsizetype(p.widths.size()), true});
                p.widths.push_back(5 + qreal(random() % 8));
                p.spaces.push_back(false);
            }
        }
        return p;
    }

    static bool isOpportunity(const Paragraph& p, qsizetype at) {
        for (const Opportunity& o : p.breaks)
            if (o.at == at)
                return true;
        return false;
    }

    // The least demerits of all settings, tried one by one.
    static std::optional<qreal> bruteForce(const Paragraph& p) {
        std::optional<qreal> best;
        const size_t n = p.breaks.size();
        for (quint64 mask = 0; mask < (quint64(1) << n); ++mask) {
            std::vector<qsizetype> starts{0};
            for (size_t k = 0; k < n; ++k)
                if (mask & (quint64(1) << k))
                    starts.push_back(p.breaks[k].at);
            const std::optional<qreal> d = demerits(p, starts);
            if (d && (!best || *d < *best))
                best = d;
        }
        return best;
    }

private Q_SLOTS:
    void properties() {
        int set = 0, better = 0;
        for (int seed = 0; seed < 400; ++seed) {
            std::mt19937 random(seed);
            const Paragraph p = randomParagraph(random, 5 + seed % 120, 150 + qreal(seed % 7) * 60);
            const std::optional<std::vector<qsizetype>> starts = optimal(p);
            const std::vector<qsizetype> plain = greedy(p);
            const std::optional<qreal> greedyDemerits = demerits(p, plain);
            if (!starts) {
                // Only when no setting keeps within the lines: greedy's neither.
                QVERIFY2(!greedyDemerits, qPrintable(QString::number(seed)));
                continue;
            }
            ++set;
            QCOMPARE(optimal(p), starts); // the same paragraph, the same lines
            QCOMPARE(starts->front(), 0);
            int run = 0;
            for (const Line& line : lines(p, *starts)) {
                QVERIFY2(line.natural <= line.room + 1e-3, qPrintable(QString::number(seed)));
                QVERIFY(line.from == 0 || isOpportunity(p, line.from));
                run = line.hyphen ? run + 1 : 0;
                QVERIFY(run <= 2);
            }
            const std::optional<qreal> d = demerits(p, *starts);
            QVERIFY(d);
            // Weighing only tolerable lines first finds the very optimum whenever that
            // has no looser line.
            Params everyLine;
            everyLine.tolerance = 1e9;
            const std::optional<std::vector<qsizetype>> full = optimal(p, everyLine);
            QVERIFY(full);
            qreal worst = 0;
            for (const Line& line : lines(p, *full))
                worst = std::max(worst, badness(line, p, Params()).value_or(1e9));
            if (worst <= Params().tolerance)
                QVERIFY2(qAbs(*d - *demerits(p, *full)) < 1e-6 * (1 + *d),
                         qPrintable(QString::number(seed)));
            if (greedyDemerits) {
                QVERIFY2(*d <= *greedyDemerits + 1e-6, qPrintable(QString::number(seed)));
                better += *d < *greedyDemerits - 1e-6;
            }
        }
        QVERIFY(set > 300);
        QVERIFY(better > 100);
    }

    void leastOfAllSettings() {
        for (int seed = 0; seed < 300; ++seed) {
            std::mt19937 random(1000 + seed);
            Paragraph p = randomParagraph(random, 3 + seed % 6, 90 + qreal(seed % 5) * 25);
            if (p.breaks.size() > 13)
                p.breaks.resize(13);
            const std::optional<qreal> best = bruteForce(p);
            const std::optional<std::vector<qsizetype>> starts = optimal(p);
            QCOMPARE(bool(starts), bool(best));
            if (starts)
                QVERIFY2(qAbs(*demerits(p, *starts) - *best) < 1e-6 * (1 + *best),
                         qPrintable(QString::number(seed)));
        }
    }

    // Spaces allowed to shrink (by a third): no line needs more, and the paragraph is
    // never set worse than without shrinking.
    void shrinkingSpaces() {
        Params shrinking;
        shrinking.shrink = 1.0 / 3;
        for (int seed = 0; seed < 200; ++seed) {
            std::mt19937 random(9000 + seed);
            const Paragraph p = randomParagraph(random, 80, 250);
            const auto starts = optimal(p, shrinking);
            const auto plain = optimal(p);
            QCOMPARE(bool(starts), bool(starts) || !plain);
            if (!starts)
                continue;
            for (const Line& line : lines(p, *starts))
                QVERIFY(line.natural - line.gaps * shrinking.shrink * p.spaceWidth <=
                        line.room + 1e-3);
            if (plain)
                QVERIFY(*demerits(p, *starts, shrinking) <= *demerits(p, *plain, shrinking) + 1e-6);
        }
    }

    // Letters spaced out with the spaces (as drawn: each character takes the same share
    // of the tracked width, the spaces the rest): the tracking stays within its limit
    // and the slack, and far fewer lines are left with gaping spaces than by the spaces
    // alone.
    void letterSpacing() {
        Params spacesOnly;
        spacesOnly.letterStretch = 0;
        const auto looseLines = [](const Paragraph& p, const Params& params) {
            int loose = 0;
            const std::optional<std::vector<qsizetype>> starts = optimal(p, params);
            if (!starts)
                return 0;
            for (const Line& line : lines(p, *starts)) {
                const qreal slack = line.room - line.natural;
                const qreal tracked =
                    tracking(slack, line.natural, line.gaps, p.spaceWidth, params);
                if (tracked < 0 || tracked > params.letterStretch * line.natural + 1e-9 ||
                    tracked > std::max<qreal>(0, slack) + 1e-9)
                    return -1000000;
                if (line.last || line.gaps == 0)
                    continue;
                const qreal space = p.spaceWidth + tracked / qreal(line.to - line.from) +
                                    (slack - tracked) / line.gaps;
                loose += space > 1.5 * p.spaceWidth;
            }
            return loose;
        };
        int tracked = 0, plain = 0;
        for (int seed = 0; seed < 200; ++seed) {
            std::mt19937 random(7000 + seed);
            const Paragraph p = randomParagraph(random, 100, 600);
            const int withLetters = looseLines(p, Params());
            QVERIFY2(withLetters >= 0, qPrintable(QString::number(seed)));
            tracked += withLetters;
            plain += looseLines(p, spacesOnly);
        }
        QVERIFY2(tracked * 2 < plain, qPrintable(QStringLiteral("%1 %2").arg(tracked).arg(plain)));
    }

    // A hyphen on a page's last line costs what it is told to.
    void aPagesLastLine() {
        int moved = 0;
        for (int seed = 0; seed < 200; ++seed) {
            std::mt19937 random(5000 + seed);
            const Paragraph p = randomParagraph(random, 60, 200);
            const auto free = optimal(p);
            if (!free)
                continue;
            const std::vector<Line> all = lines(p, *free);
            for (int line = 0; line < int(all.size()) - 1; ++line) {
                if (!all[size_t(line)].hyphen)
                    continue;
                Params params;
                params.pageLastLine = line;
                params.pageHyphenDemerits = 1e9;
                const auto paged = optimal(p, params);
                QVERIFY(paged);
                moved += !lines(p, *paged)[size_t(line)].hyphen;
                break;
            }
        }
        QVERIFY(moved > 20);
    }
};

QTEST_MAIN(TestLineBreaking)
#include "test_line_breaking.moc"

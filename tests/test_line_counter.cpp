#include "core/book/book_document.h"
#include "core/book/book_lines.h"
#include "core/book/line_counter.h"
#include "core/text/hyphenator.h"
#include "core/text/page_breaking.h"

#include <QRandomGenerator>
#include <QTest>

// The line counter's two threads (one walking the book from its start, one counting
// paragraphs from its end, long ones wrapped whole to find their pieces) give the count
// of a plain walk from the start, piece by piece, and the same pieces.
class TestLineCounter : public QObject {
    Q_OBJECT

    // A random book: paragraphs of Russian words, short and long (several pieces), with
    // hyphenated words, dashes, numbers, Latin words, a tab now and then, runs of spaces.
    static QString randomBook(QRandomGenerator& random) {
        static const char* const words[] = {"и",
                                            "в",
                                            "с",
                                            "а",
                                            "он",
                                            "она",
                                            "книга",
                                            "мама",
                                            "переносы",
                                            "библиотека",
                                            "хорошо",
                                            "подъезд",
                                            "какой-то",
                                            "—",
                                            "–",
                                            "учёный",
                                            "Ёжики",
                                            "1812",
                                            "Qtшный",
                                            "word",
                                            "самостоятельность",
                                            "человеконенавистничество",
                                            "неудовлетворительность",
                                            "к",
                                            "о",
                                            "у",
                                            "рассказывал",
                                            "посмотрел",
                                            "небо,",
                                            "высокое,",
                                            "бесконечное.",
                                            "Князь",
                                            "Андрей"};
        const int count = int(std::size(words));
        QString text;
        const int paragraphs = 120 + random.bounded(120);
        for (int p = 0; p < paragraphs; ++p) {
            const int roll = random.bounded(100);
            // Most paragraphs short; some of several pieces; a few empty or blank.
            const int length = roll < 8    ? 4000 + random.bounded(9000)
                               : roll < 12 ? 0
                                           : 20 + random.bounded(900);
            if (roll >= 8 && roll < 10)
                text += QStringLiteral("   ");
            QString paragraph;
            while (paragraph.size() < length) {
                if (!paragraph.isEmpty())
                    paragraph += random.bounded(40) == 0    ? QStringLiteral("  ")
                                 : random.bounded(300) == 0 ? QStringLiteral("\t")
                                                            : QStringLiteral(" ");
                paragraph += QString::fromUtf8(words[random.bounded(count)]);
            }
            text += paragraph + QStringLiteral("\r\n");
        }
        return text;
    }

    // The lines of a random book at a random width (seed-dependent rules).
    static std::shared_ptr<const BookLines> randomLines(quint32 seed) {
        QRandomGenerator random(seed);
        const QString book = randomBook(random);
        const auto text = std::make_shared<const BookDocument>(
            seed % 3 == 0 ? BookDocument::fromText(book + QChar(0x3042)) // a wide book
                          : BookDocument::fromText(book));
        QFont font(QStringLiteral("DejaVu Serif"));
        font.setPixelSize(17);
        LineRules rules;
        rules.indent = seed % 2 ? 25 : 0;
        rules.hyphenator = seed % 4 == 1 ? nullptr : &Hyphenator::russian();
        rules.hyphenWidth = 6;
        rules.holdShortWords = seed % 5 != 0;
        rules.optimal = true;
        return std::make_shared<const BookLines>(text, CharWidths(font, *text),
                                                 180 + random.bounded(600), rules);
    }

    // Whether the line ends in a broken word, from its piece's lines set again.
    static bool endsInBrokenWord(const BookLines& lines, int number, int line) {
        const BookLines::Piece piece = lines.piece(number);
        const std::vector<qsizetype> starts = lines.lineStarts(piece);
        const std::vector<qsizetype> ends = lines.hyphenatedEnds(piece, starts);
        const size_t next = size_t(line) + 1;
        const qsizetype end = next < starts.size() ? starts[next] : piece.to;
        return std::find(ends.begin(), ends.end(), end) != ends.end();
    }

private Q_SLOTS:
    // The broken-word ends a count finds with the lines are those of the lines set again.
    void brokenEndsAsSetAgain() {
        int known = 0, broken = 0;
        for (quint32 seed = 20; seed <= 27; ++seed) {
            const std::shared_ptr<const BookLines> lines = randomLines(seed);
            for (int n = 0; n < lines->pieceCount(); ++n) {
                const BookLines::Piece piece = lines->piece(n);
                std::uint32_t ends = 0;
                const int count = lines->lineCount(piece, &ends);
                QCOMPARE(count, lines->lineCount(piece));
                if (ends & BookLines::kEndsUnknown)
                    continue;
                ++known;
                QVERIFY(count <= 31);
                for (int i = 0; i < 31; ++i) {
                    const bool set = (ends >> i & 1) != 0;
                    QCOMPARE(set, i < count && endsInBrokenWord(*lines, n, i));
                    broken += set;
                }
            }
        }
        QVERIFY2(known > 500 && broken > 100,
                 qPrintable(QStringLiteral("%1 %2").arg(known).arg(broken)));
    }

    // Pages broken by the counter's page worker (which takes the broken-word ends the
    // count found) are those of the counted lines broken in one go, each line that could
    // end a page set again to see whether it ends in a broken word.
    void pagesAsBrokenInOneGo() {
        for (quint32 seed = 30; seed <= 35; ++seed) {
            const std::shared_ptr<const BookLines> lines = randomLines(seed);
            const double room = 7 + seed % 5;
            PageRules rules;
            rules.room = room;
            rules.linesOf = [](const BookLines&, const BookLines::Piece& piece, int count,
                               std::vector<PageLine>& out) {
                for (int i = 0; i < count; ++i) {
                    PageLine line;
                    line.height = 1;
                    line.startsParagraph = piece.index == 0 && i == 0;
                    line.endsParagraph = piece.lastOfParagraph && i == count - 1;
                    line.piece = piece.number;
                    line.lineOfPiece = i;
                    out.push_back(line);
                }
            };
            LineCounter counter;
            counter.setPageRules(rules);
            counter.start(lines);
            QTRY_VERIFY_WITH_TIMEOUT(counter.pagesFinished(), 120000);

            const BookLines plain(lines->sharedText(), lines->widths(), lines->width(),
                                  lines->rules());
            PageBreaker breaker(room);
            breaker.setBrokenWords([&](const PageLine& line) {
                return endsInBrokenWord(plain, line.piece, line.lineOfPiece);
            });
            plain.walk([&](int piece, int count) {
                std::vector<PageLine> out;
                rules.linesOf(plain, plain.piece(piece), count, out);
                for (const PageLine& line : out)
                    breaker.add(line);
                return true;
            });
            const std::vector<int>& starts = breaker.starts();
            QVERIFY(starts.size() > 50);
            QCOMPARE(counter.pagesKnown(), int(starts.size()));
            for (size_t p = 0; p < starts.size(); ++p)
                QCOMPARE(counter.pageStart(int(p)), starts[p]);
        }
    }

    void sameAsOneThread() {
        QVERIFY(Hyphenator::russian().available());
        for (quint32 seed = 1; seed <= 12; ++seed) {
            const auto counted = randomLines(seed);
            QVERIFY(counted->pieceCount() > counted->text().paragraphCount());
            LineCounter counter;
            counter.start(counted);
            QTRY_VERIFY_WITH_TIMEOUT(counter.finished(), 120000);

            // The plain walk, on lines of its own (the same seed, the same lines).
            const auto plainLines = randomLines(seed);
            const BookLines& plain = *plainLines;
            std::vector<int> counts;
            plain.walk([&](int piece, int lines) {
                if (piece != int(counts.size()))
                    return false;
                counts.push_back(lines);
                return true;
            });
            QCOMPARE(int(counts.size()), plain.pieceCount());
            int before = 0;
            for (int n = 0; n < plain.pieceCount(); ++n) {
                QCOMPARE(counter.linesBefore(n), before);
                before += counts[size_t(n)];
                const BookLines::Piece mine = counted->piece(n), theirs = plain.piece(n);
                QCOMPARE(mine.from, theirs.from);
                QCOMPARE(mine.to, theirs.to);
            }
            QCOMPARE(counter.linesBefore(plain.pieceCount()), before);
        }
    }
};

QTEST_MAIN(TestLineCounter)
#include "test_line_counter.moc"

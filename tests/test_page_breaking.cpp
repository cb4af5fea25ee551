#include "core/text/page_breaking.h"

#include <QTest>

#include <random>

// Pages of display lines, on seeded random books: against a plain reference that tries
// every place for each page's end, and against the rules themselves.
class TestPageBreaking : public QObject {
    Q_OBJECT

    // Paragraphs of 1 to 9 lines 20 pixels high (the last 26, its spacing after), some of
    // them headings of 1 or 2 lines 36 high, some blank lines of 6; a third of the lines
    // of text before a paragraph's last end in a broken word.
    static std::vector<PageLine> randomBook(std::mt19937& random, int paragraphs) {
        std::vector<PageLine> lines;
        for (int p = 0; p < paragraphs; ++p) {
            const int kind = int(random() % 10);
            const bool heading = kind == 0;
            const bool blank = kind == 1;
            const int count = blank ? 1 : heading ? 1 + int(random() % 2) : 1 + int(random() % 9);
            for (int l = 0; l < count; ++l) {
                PageLine line;
                line.startsParagraph = l == 0;
                line.endsParagraph = l == count - 1;
                line.heading = heading;
                line.blank = blank;
                line.height = blank ? 6 : heading ? 36 : line.endsParagraph ? 26 : 20;
                line.hyphenated = !heading && !blank && !line.endsParagraph && random() % 3 == 0;
                lines.push_back(line);
            }
        }
        return lines;
    }

    // Whether the page [start, next) keeps the rules: with `paragraphs`, the first and last
    // lines of paragraphs too; with `words`, no broken word at its end.
    static bool keeps(const std::vector<PageLine>& lines, int start, int next, bool paragraphs,
                      bool words = false) {
        if (next <= start)
            return false;
        for (int i = next - 1; i >= start; --i) {
            if (lines[size_t(i)].blank)
                continue;
            if (lines[size_t(i)].heading)
                return false;
            break;
        }
        if (!paragraphs)
            return true;
        const PageLine& foot = lines[size_t(next) - 1];
        const PageLine& head = lines[size_t(next)];
        return !(foot.startsParagraph && !foot.endsParagraph) &&
               !(head.endsParagraph && !head.startsParagraph) && !(words && foot.hyphenated);
    }

    // The reference: from each page's start, the lines that fit; the page ends at the
    // latest place keeping every rule, else the heading rule, else where it is full; at
    // the latest place keeping every rule without a broken word at its end, when that is
    // at most two lines before.
    static std::vector<int> reference(const std::vector<PageLine>& lines, double room) {
        std::vector<int> starts;
        const int n = int(lines.size());
        int start = 0;
        while (start < n) {
            starts.push_back(start);
            double used = 0;
            int fit = start;
            while (fit < n && (fit == start || used + lines[size_t(fit)].height <= room)) {
                used += lines[size_t(fit)].height;
                ++fit;
            }
            if (fit == n)
                break;
            int next = fit;
            bool found = false;
            int whole = 0;
            for (int at = fit; at > start && whole == 0; --at)
                if (keeps(lines, start, at, true, true))
                    whole = at;
            for (const bool paragraphs : {true, false}) {
                for (int at = fit; at > start && !found; --at)
                    if (keeps(lines, start, at, paragraphs)) {
                        next = at;
                        found = true;
                    }
                if (found)
                    break;
            }
            if (found && whole > 0 && keeps(lines, start, next, true) && next - whole <= 2)
                next = whole;
            start = next;
        }
        return starts;
    }

private Q_SLOTS:
    // The breaker agrees with the reference; every page holds whole lines within its room
    // (or one line taller than the room); the pages joined are the book's lines, each once.
    void agreesWithTheReference() {
        for (unsigned seed = 1; seed <= 400; ++seed) {
            std::mt19937 random(seed);
            const std::vector<PageLine> lines = randomBook(random, 1 + int(random() % 200));
            const double room = 30 + double(random() % 300);
            const std::vector<int> starts = breakPages(lines, room);
            QCOMPARE(starts, reference(lines, room));
            QCOMPARE(starts.front(), 0);
            // Told of broken words only when it asks: the same pages.
            PageBreaker asking(room);
            asking.setBrokenWords(
                [&](const PageLine& l) { return lines[size_t(l.piece)].hyphenated; });
            for (size_t i = 0; i < lines.size(); ++i) {
                PageLine line = lines[i];
                line.hyphenated = false;
                line.piece = int(i);
                asking.add(line);
            }
            QCOMPARE(asking.starts(), starts);
            for (size_t p = 0; p < starts.size(); ++p) {
                const int next = p + 1 < starts.size() ? starts[p + 1] : int(lines.size());
                QVERIFY2(next > starts[p], qPrintable(QString::number(seed)));
                double used = 0;
                for (int i = starts[p]; i < next; ++i)
                    used += lines[size_t(i)].height;
                QVERIFY(used <= room + 1e-6 || next == starts[p] + 1);
            }
        }
    }

    // After an edit from line E on (a paragraph's first line), the pages decided by lines
    // before E are kept and the breaking goes on from the last of them: the pages are
    // those of the edited book.
    void pagesKeptAcrossAnEdit() {
        for (unsigned seed = 1; seed <= 300; ++seed) {
            std::mt19937 random(seed);
            const std::vector<PageLine> before = randomBook(random, 2 + int(random() % 150));
            const double room = 30 + double(random() % 300);
            PageBreaker first(room);
            for (const PageLine& line : before)
                first.add(line);
            // An edit changes whole paragraphs: from a paragraph's start, some paragraphs
            // put in, the next one taken out or not.
            std::vector<int> paragraphs;
            for (size_t i = 0; i < before.size(); ++i)
                if (before[i].startsParagraph)
                    paragraphs.push_back(int(i));
            paragraphs.push_back(int(before.size()));
            const size_t at = random() % (paragraphs.size() - 1);
            const int edit = paragraphs[at];
            const int rest = paragraphs[at + (random() % 3 == 0 ? 1 : 0)];
            std::vector<PageLine> after(before.begin(), before.begin() + edit);
            const std::vector<PageLine> changed = randomBook(random, int(random() % 20));
            after.insert(after.end(), changed.begin(), changed.end());
            after.insert(after.end(), before.begin() + rest, before.end());
            if (after.empty())
                continue;
            size_t kept = 0;
            while (kept < first.decidedBy().size() && first.decidedBy()[kept] <= edit)
                ++kept;
            PageBreaker resumed(
                room, std::vector<int>(first.starts().begin(), first.starts().begin() + kept),
                std::vector<int>(first.decidedBy().begin(), first.decidedBy().begin() + kept));
            for (size_t i = size_t(resumed.starts().back()); i < after.size(); ++i)
                resumed.add(after[i]);
            QVERIFY2(kept >= 1, qPrintable(QString::number(seed)));
            QCOMPARE(resumed.starts(), breakPages(after, room));
        }
    }

    // A rule is broken only where keeping it would leave a page empty.
    void rulesBrokenOnlyWhenTheyMustBe() {
        for (unsigned seed = 1; seed <= 400; ++seed) {
            std::mt19937 random(seed);
            const std::vector<PageLine> lines = randomBook(random, 1 + int(random() % 200));
            const double room = 60 + double(random() % 300);
            const std::vector<int> starts = breakPages(lines, room);
            for (size_t p = 0; p + 1 < starts.size(); ++p) {
                if (keeps(lines, starts[p], starts[p + 1], true))
                    continue;
                // No earlier end keeps the rules.
                for (int at = starts[p] + 1; at < starts[p + 1]; ++at)
                    QVERIFY(!keeps(lines, starts[p], at, true));
            }
        }
    }

    // Fixed cases of each rule.
    void rules_data() {
        QTest::addColumn<QString>("book"); // a line: h heading, b blank, f first, m middle,
                                           // y a middle one ending in a broken word, l last,
                                           // o a one-line paragraph
        QTest::addColumn<int>("room");     // in lines
        QTest::addColumn<QList<int>>("starts");
        QTest::newRow("full pages") << "ooooooo" << 3 << QList<int>{0, 3, 6};
        QTest::newRow("a heading goes with its text") << "oohfml" << 3 << QList<int>{0, 2, 5};
        QTest::newRow("and the blank line after it") << "oohbfl" << 4 << QList<int>{0, 2};
        QTest::newRow("a first line alone goes over") << "oofmml" << 3 << QList<int>{0, 2, 4};
        QTest::newRow("a last line alone takes one along") << "fmmlo" << 3 << QList<int>{0, 2};
        QTest::newRow("two-line paragraph whole") << "oofl" << 3 << QList<int>{0, 2};
        QTest::newRow("a long paragraph") << "fmmmmmml" << 3 << QList<int>{0, 3, 6};
        QTest::newRow("cannot be helped") << "flo" << 1 << QList<int>{0, 1, 2};
        QTest::newRow("headings only") << "hhhh" << 2 << QList<int>{0, 2};
        QTest::newRow("one line taller than the page") << "o" << 0 << QList<int>{0};
        QTest::newRow("a broken word read whole") << "fmyml" << 3 << QList<int>{0, 2};
        QTest::newRow("two broken words") << "fmyyml" << 4 << QList<int>{0, 2};
        QTest::newRow("three lines too many") << "fmyyyml" << 5 << QList<int>{0, 5};
        QTest::newRow("a last line alone weighs more") << "fmmyl" << 4 << QList<int>{0, 3};
    }
    void rules() {
        QFETCH(QString, book);
        QFETCH(int, room);
        QFETCH(QList<int>, starts);
        std::vector<PageLine> lines;
        for (const QChar c : book) {
            PageLine line;
            line.height = 10;
            line.heading = c == QLatin1Char('h');
            line.blank = c == QLatin1Char('b');
            line.hyphenated = c == QLatin1Char('y'); // a middle line ending in a broken word
            line.startsParagraph = QStringLiteral("hbfo").contains(c);
            line.endsParagraph = QStringLiteral("hblo").contains(c);
            lines.push_back(line);
        }
        const std::vector<int> got = breakPages(lines, room * 10);
        QCOMPARE(QList<int>(got.begin(), got.end()), starts);
    }
};

QTEST_GUILESS_MAIN(TestPageBreaking)
#include "test_page_breaking.moc"

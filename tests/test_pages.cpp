#include "core/book/book_document.h"
#include "core/book/book_markup.h"
#include "core/text/hyphenator.h"
#include "ui/bookview/book_view.h"

#include <QApplication>
#include <QScrollBar>
#include <QTest>

#include <random>
#include <tuple>

// The reading view in pages: on seeded random books and layouts, each page holds whole
// lines, the pages joined give the book back, turning from the first page reaches the
// last in as many steps as there are pages, and a place jumped to shows the page that
// turning shows.
class TestPages : public QObject {
    Q_OBJECT

    // Paragraphs of 0 to 600 characters of Russian words, some of them blank lines.
    static QString randomBook(std::mt19937& random, int paragraphs) {
        static const QStringList words =
            QStringLiteral("и в не он на я что тот быть с а весь это как она "
                           "по но они к у ты из мы за вы так же от сказать "
                           "этот который мочь человек о один ещё бы такой")
                .split(QLatin1Char(' '));
        QString text;
        for (int p = 0; p < paragraphs; ++p) {
            if (p > 0)
                text += QStringLiteral("\r\n");
            const int length = random() % 5 == 0 ? 0 : int(random() % 600);
            if (random() % 7 == 0)
                text += QStringLiteral("   ");
            while (text.size() > 0 && length > 0 && text.size() % 100000 < 100000) {
                const QString& word = words[qsizetype(random() % words.size())];
                text += word + QLatin1Char(' ');
                if (int(word.size()) >= length || random() % (length / 4 + 1) == 0)
                    break;
            }
        }
        return text;
    }

    // Headings at some of the paragraphs: a short one before about every tenth, of ranks
    // 1 to 6, sometimes two in a row.
    static std::pair<QString, BookMarkup> withHeadings(std::mt19937& random, const QString& text) {
        QString out;
        BookMarkup markup;
        const QStringList paragraphs = text.split(QStringLiteral("\r\n"));
        for (qsizetype p = 0; p < paragraphs.size(); ++p) {
            if (random() % 10 == 0) {
                for (int h = 1 + int(random() % 4 == 0); h > 0; --h) {
                    const QString title = QStringLiteral("Глава %1").arg(p);
                    markup.headings.push_back(Heading{out.size(), 1 + int(random() % 6), title});
                    out += title + QStringLiteral("\r\n");
                }
            }
            out += paragraphs[p];
            if (p + 1 < paragraphs.size())
                out += QStringLiteral("\r\n");
        }
        return {out, markup};
    }

    struct Shown {
        std::unique_ptr<BookView> view;
        std::vector<qsizetype> starts;
    };
    static Shown show(const QString& text, const BookLayout& layout, QSize size,
                      const BookMarkup& markup = {}) {
        Shown s;
        s.view = std::make_unique<BookView>();
        s.view->resize(size);
        s.view->setBookLayout(layout);
        s.view->setBook(std::make_shared<BookDocument>(BookDocument::fromText(text)));
        if (!markup.isEmpty())
            s.view->setMarkup(std::make_shared<const BookMarkup>(markup));
        s.view->show();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(s.view.get());
        s.view->firstVisibleOffset(); // lays the book out: the count starts
        [[maybe_unused]] const bool counted =
            QTest::qWaitFor([&] { return s.view->pageCount() >= 0; }, 20000);
        s.starts = s.view->pageStarts();
        return s;
    }

    // The page holding the offset: the last starting at or before it.
    static int pageOf(const std::vector<qsizetype>& starts, qsizetype offset) {
        return int(std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin()) - 1;
    }

private Q_SLOTS:
    void pagesOfRandomBooks() {
        for (unsigned seed = 1; seed <= 16; ++seed) {
            std::mt19937 random(seed);
            QString text = randomBook(random, 20 + int(random() % 200));
            // Every other book with headings: taller lines, space above, never last.
            BookMarkup markup;
            if (seed % 2 == 0)
                std::tie(text, markup) = withHeadings(random, text);
            BookLayout layout;
            layout.pages = BookLayout::Pages::Page;
            layout.paragraphSpacing = double(random() % 3) / 2;
            layout.indent = double(random() % 3);
            layout.width = random() % 2 ? 0 : 40 + int(random() % 30);
            const QSize size(300 + int(random() % 400), 120 + int(random() % 400));
            Shown s = show(text, layout, size, markup);
            BookView& view = *s.view;
            const QString context = QStringLiteral("seed %1").arg(seed);
            // No page ends in a heading where the next page has room... (a heading's
            // first character never the last shown, unless its page holds nothing else)
            for (size_t p = 1; p < s.starts.size(); ++p)
                for (const Heading& h : markup.headings)
                    if (h.offset + h.title.size() + 2 == s.starts[p] && h.offset > s.starts[p - 1])
                        QFAIL(qPrintable(context +
                                         QStringLiteral(": a heading last on page %1").arg(p - 1)));
            QVERIFY2(view.pageCount() > 0, qPrintable(context));
            const std::vector<qsizetype>& starts = s.starts;
            QCOMPARE(int(starts.size()), view.pageCount());
            // The pages joined are the book: from its start, in order, each at a line's
            // start.
            QCOMPARE(starts.front(), 0);
            for (size_t p = 0; p < starts.size(); ++p) {
                QVERIFY2(p == 0 || starts[p] > starts[p - 1], qPrintable(context));
                QCOMPARE(view.lineStartOf(starts[p]), starts[p]);
            }
            // Turning from the first page reaches the last in exactly the pages' count,
            // each page whole: its last character on screen, the next page's first not.
            const int bottom = view.viewport()->height();
            view.setFocus();
            for (size_t p = 0; p < starts.size(); ++p) {
                QCOMPARE(view.firstVisibleOffset(), starts[p]);
                QCOMPARE(view.pageNumber(), int(p));
                const qsizetype end = p + 1 < starts.size() ? starts[p + 1] : view.textLength();
                // The page's last character, a line break standing for its line's end.
                qsizetype at = std::min(end, view.textLength()) - 1;
                while (at > starts[p] && (view.text(at, at + 1) == QLatin1String("\r") ||
                                          view.text(at, at + 1) == QLatin1String("\n")))
                    --at;
                // (a null rectangle off screen; an empty one for a blank hidden under the indent)
                const QRect last = view.characterRect(view.lineStartOf(std::max(at, starts[p])));
                if (end > starts[p] && view.textLength() > 0) {
                    QVERIFY2(!last.isNull(), qPrintable(context));
                    // (a blank line under an indent is a quarter of a line high)
                    const qsizetype lineStart = view.lineStartOf(std::max(at, starts[p]));
                    const bool blank = view.text(lineStart, at + 1).trimmed().isEmpty();
                    QVERIFY2(blank || last.bottom() < bottom,
                             qPrintable(context + QStringLiteral(" page %1 rect %2 %3 of %4")
                                                      .arg(p)
                                                      .arg(last.top())
                                                      .arg(last.bottom())
                                                      .arg(bottom)));
                }
                if (p + 1 < starts.size())
                    QVERIFY2(view.characterRect(starts[p + 1]).isNull(), qPrintable(context));
                QTest::keyClick(&view, Qt::Key_PageDown);
            }
            QCOMPARE(view.firstVisibleOffset(), starts.back()); // no page further
            // Back again by PageUp, and each place jumped to shows its page.
            for (size_t p = starts.size() - 1; p > 0; --p)
                QTest::keyClick(&view, Qt::Key_PageUp);
            QCOMPARE(view.firstVisibleOffset(), 0);
            for (int jump = 0; jump < 20; ++jump) {
                const qsizetype offset = qsizetype(random() % (view.textLength() + 1));
                if (jump % 2)
                    view.scrollOffsetToTop(offset);
                else
                    view.centerOffset(offset);
                QCOMPARE(view.firstVisibleOffset(), starts[size_t(pageOf(starts, offset))]);
            }
            // A selection found far on (as find selects): the page holding its end.
            const qsizetype found = qsizetype(random() % (view.textLength() + 1));
            view.setSelectionStart(found);
            view.setSelectionLength(std::min<qsizetype>(5, view.textLength() - found));
            QCOMPARE(view.firstVisibleOffset(), starts[size_t(pageOf(starts, view.caret()))]);
        }
    }

    // Justified and hyphenated pages: a page ends in a broken word far less often than a
    // line does (a page ends a line or two earlier rather than break a word over the
    // turn), and the pages still join into the book.
    void brokenWordsAtPageEnds() {
        QVERIFY(QTest::qWaitFor([] { return Hyphenator::loaded() != nullptr; }, 20000));
        std::mt19937 random(11);
        static const QStringList words =
            QStringLiteral("и в не он на что тот быть весь это как она по но они к у ты из мы "
                           "распределительная промышленность обороноспособности человеколюбие "
                           "несовершеннолетних достопримечательностей приблизительно одновременно")
                .split(QLatin1Char(' '));
        QString text;
        for (int p = 0; p < 150; ++p) {
            for (int w = 20 + int(random() % 60); w > 0; --w)
                text += words[qsizetype(random() % words.size())] + QLatin1Char(' ');
            text += QStringLiteral("конец.\r\n");
        }
        BookLayout layout;
        layout.pages = BookLayout::Pages::Page;
        layout.justify = true;
        layout.hyphenate = true;
        layout.width = 40;
        Shown s = show(text, layout, QSize(500, 300));
        BookView& view = *s.view;
        const auto broken = [&](qsizetype at) {
            return at > 0 && at < view.textLength() && view.text(at - 1, at).at(0).isLetter() &&
                   view.text(at, at + 1).at(0).isLetter();
        };
        // A line starting inside a word: the line before it broke the word.
        const int lines = view.lineCount();
        int brokenLines = 0;
        for (qsizetype at = 1; at < view.textLength(); ++at)
            brokenLines += broken(at) && view.lineStartOf(at) == at;
        int brokenPages = 0;
        for (size_t p = 1; p < s.starts.size(); ++p)
            brokenPages += broken(s.starts[p]);
        const int pages = int(s.starts.size());
        QVERIFY2(pages > 20 && brokenLines * 5 > lines,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(pages).arg(lines).arg(brokenLines)));
        QVERIFY2(brokenPages * lines * 4 < pages * brokenLines,
                 qPrintable(QStringLiteral("%1 of %2 pages, %3 of %4 lines")
                                .arg(brokenPages)
                                .arg(pages)
                                .arg(brokenLines)
                                .arg(lines)));
    }

    // «Разворот»: two pages side by side where two columns fit, turning by two; one page
    // where they do not.
    void spreads() {
        std::mt19937 random(7);
        const QString text = randomBook(random, 400);
        BookLayout layout;
        layout.pages = BookLayout::Pages::Spread;
        layout.width = 50;
        Shown s = show(text, layout, QSize(1200, 400));
        BookView& view = *s.view;
        QVERIFY(view.spread());
        QVERIFY(s.starts.size() > 6);
        const qsizetype second = s.starts[1];
        const QRect right = view.characterRect(second);
        QVERIFY(!right.isEmpty());
        QVERIFY(right.left() > view.viewport()->width() / 2);
        QVERIFY(view.characterRect(s.starts[2]).isEmpty());
        view.setFocus();
        QTest::keyClick(&view, Qt::Key_Space);
        QCOMPARE(view.firstVisibleOffset(), s.starts[2]);
        QTest::keyClick(&view, Qt::Key_Left);
        QCOMPARE(view.firstVisibleOffset(), 0);
        // A click on the right half turns forward, on the left half back.
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(1100, 200));
        QCOMPARE(view.firstVisibleOffset(), s.starts[2]);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(100, 200));
        QCOMPARE(view.firstVisibleOffset(), 0);
        // A place on the right page shows its spread.
        view.scrollOffsetToTop(s.starts[3] + 1);
        QCOMPARE(view.firstVisibleOffset(), s.starts[2]);
        // Narrowed below two columns: one page, the first character still shown.
        QTest::keyClick(&view, Qt::Key_PageDown);
        QCOMPARE(view.firstVisibleOffset(), s.starts[4]);
        view.resize(600, 400);
        QVERIFY(!view.spread());
        QVERIFY(!view.characterRect(s.starts[4]).isEmpty());
    }

    // An empty book, one letter, one line: one page, nothing to turn to, in either mode.
    void tinyBooks_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pages");
        QTest::newRow("empty") << QString() << int(BookLayout::Pages::Page);
        QTest::newRow("one letter") << QStringLiteral("я") << int(BookLayout::Pages::Spread);
        QTest::newRow("two blank lines")
            << QStringLiteral("\r\n\r\n") << int(BookLayout::Pages::Spread);
    }
    void tinyBooks() {
        QFETCH(QString, text);
        QFETCH(int, pages);
        BookLayout layout;
        layout.pages = BookLayout::Pages(pages);
        layout.indent = 1;
        Shown s = show(text, layout, QSize(1200, 300));
        BookView& view = *s.view;
        QCOMPARE(view.pageCount(), 1);
        QCOMPARE(view.pageNumber(), 0);
        QVERIFY(!view.turnPage(true));
        QVERIFY(!view.turnPage(false));
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(1100, 200));
        QTest::keyClick(&view, Qt::Key_PageDown);
        QCOMPARE(view.firstVisibleOffset(), 0);
        QCOMPARE(view.offsetAt(QPoint(1100, 290)), -1); // past the book's last line
        view.setReadOnly(false);
        QTest::keyClicks(&view, QStringLiteral("abc"));
        QCOMPARE(view.text(0, 3), QStringLiteral("abc"));
    }

    // While editing, the keys move the caret and the page follows it; switching to the
    // ribbon and back keeps the place.
    void editingInPages() {
        std::mt19937 random(3);
        const QString text = randomBook(random, 300);
        BookLayout layout;
        layout.pages = BookLayout::Pages::Page;
        Shown s = show(text, layout, QSize(500, 300));
        BookView& view = *s.view;
        view.setReadOnly(false);
        view.setFocus();
        QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(view.caret(), view.textLength());
        QCOMPARE(view.firstVisibleOffset(), s.starts.back());
        QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(view.firstVisibleOffset(), 0);
        for (int i = 0; i < 40; ++i)
            QTest::keyClick(&view, Qt::Key_Down);
        QVERIFY(!view.characterRect(view.caret()).isEmpty());
        QCOMPARE(view.firstVisibleOffset(), s.starts[size_t(pageOf(s.starts, view.caret()))]);
        // Typing stays on the page; the pages before it are kept, and once counted again
        // the pages are those of the edited book.
        const int page = view.pageNumber();
        QTest::keyClicks(&view, QStringLiteral("abc"));
        QVERIFY(!view.characterRect(view.caret()).isEmpty());
        QTRY_COMPARE(view.pageNumber(), page);
        QVERIFY(QTest::qWaitFor([&] { return view.pageCount() >= 0; }, 20000));
        const Shown fresh = show(view.text(0, view.textLength()), layout, QSize(500, 300));
        QCOMPARE(view.pageStarts(), fresh.starts);
        // The ribbon and back: the page's first character stays in view.
        const qsizetype first = view.firstVisibleOffset();
        layout.pages = BookLayout::Pages::Ribbon;
        view.setBookLayout(layout);
        QCOMPARE(view.firstVisibleOffset(), first);
        layout.pages = BookLayout::Pages::Page;
        view.setBookLayout(layout);
        QVERIFY(!view.characterRect(first).isEmpty());
    }
};

QTEST_MAIN(TestPages)
#include "test_pages.moc"

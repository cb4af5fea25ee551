#include "core/base/cp1251.h"
#include "core/book/book_document.h"
#include "core/book/book_lines.h"
#include "core/book/mark_index.h"
#include "core/formats/book_import.h"
#include "core/library/book_companions.h"
#include "core/text/book_layout.h"
#include "core/text/hyphenator.h"
#include "support/reader_library.h"
#include "support/recording_dialogs.h"
#include "support/test_books.h"
#include "support/test_files.h"
#include "ui/bookview/book_view.h"
#include "ui/bookview/paragraph_layout.h"
#include "ui/reader/navigation_panel.h"

#include <QFile>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QTest>

#include <random>

// A book's headings and emphasis in the reading view: headings centred, larger, with space
// above; emphasis in italic and bold; lines measured as they are drawn.
class TestBookMarks : public ReaderLibraryTest {
    Q_OBJECT
    std::unique_ptr<DialogsScope> m_dialogs;

    static BookCompanions::Pending importedFb2() {
        return BookCompanions::pendingOf(
            BookImport::read(TestBooks::read(QStringLiteral("book.fb2"))));
    }
    static const Heading& headingTitled(const BookMarkup& markup, const QString& title) {
        for (const Heading& h : markup.headings)
            if (h.title == title)
                return h;
        qFatal("no heading %s", qPrintable(title));
    }
    static Emphasis emphasisOf(const BookMarkup& markup, const QByteArray& stored,
                               const QString& words) {
        for (const Emphasis& e : markup.emphasis)
            if (Cp1251::decode(stored.mid(e.from, e.to - e.from)) == words)
                return e;
        qFatal("no emphasis %s", qPrintable(words));
    }
    static ParagraphMarks marksOf(const BookLines& lines, const BookLines::Piece& piece) {
        ParagraphMarks marks;
        if (const MarkIndex* index = lines.marks()) {
            marks.headingRank = index->headingRank(piece.paragraph);
            marks.spaceAbove = piece.index == 0 && index->opensHeading(piece.paragraph);
            if (marks.headingRank == 0)
                marks.emphasis = index->runs(piece.from, piece.to);
        }
        return marks;
    }
    static ParagraphLayout layoutOf(const BookLines& lines, const BookLines::Piece& piece,
                                    const ParagraphStyle& style) {
        const std::vector<qsizetype> starts = lines.lineStarts(piece);
        return ParagraphLayout(lines.text().text(piece.from, piece.to), piece.from, starts,
                               piece.lastOfParagraph, style, piece.index == 0,
                               lines.hyphenatedEnds(piece, starts), marksOf(lines, piece));
    }
    static ParagraphStyle styleOf(const QFont& font, qreal column) {
        ParagraphStyle style;
        style.font = font;
        style.width = column;
        style.lineHeight = QFontMetricsF(font).height();
        return style;
    }
    static QFont arial() {
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(15);
        font.setKerning(false);
        return font;
    }

private Q_SLOTS:
    void init() {
        m_dialogs = std::make_unique<DialogsScope>();
        m_form = std::make_unique<TMainForm>();
        newLibrary();
    }
    void cleanup() {
        m_form.reset();
        m_dialogs.reset();
    }

    // The runs of any stretch: against a plain model, the look of each character.
    void runsAgreeWithEachCharactersLook() {
        std::mt19937 random(33);
        for (int round = 0; round < 300; ++round) {
            const qsizetype length = 1 + qsizetype(random() % 200);
            BookMarkup markup;
            for (int i = int(random() % 12); i > 0; --i) {
                const qsizetype from = qsizetype(random() % (length + 10)) - 5;
                markup.emphasis.push_back(
                    Emphasis{from, from + qsizetype(random() % 30), int(1 + random() % 2)});
            }
            std::vector<int> look(size_t(length), 0);
            for (const Emphasis& e : markup.emphasis)
                for (qsizetype i = std::max<qsizetype>(0, e.from); i < std::min(e.to, length); ++i)
                    look[size_t(i)] |= e.kind;
            const MarkIndex index(markup,
                                  BookDocument::fromText(QString(length, QLatin1Char('a'))));
            const qsizetype from = qsizetype(random() % length);
            const qsizetype to = from + qsizetype(random() % (length - from + 1));
            std::vector<int> shown(size_t(length), 0);
            qsizetype last = from;
            for (const StyleRun& run : index.runs(from, to)) {
                QVERIFY(run.from >= last && run.to > run.from && run.to <= to && run.style != 0);
                last = run.to;
                for (qsizetype i = run.from; i < run.to; ++i)
                    shown[size_t(i)] = run.style;
            }
            for (qsizetype i = from; i < to; ++i)
                QCOMPARE(shown[size_t(i)], look[size_t(i)]);
        }
    }

    // A title of several lines: each of its paragraphs is a heading; the first has the
    // space above.
    void titlesOfSeveralLines_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("ranks"); // per paragraph, * where a heading opens
        QTest::newRow("one line") << "Текст\nГлава 1\nТекст"
                                  << "Глава 1"
                                  << "0 4* 0";
        QTest::newRow("two lines") << "Глава 1\nНачало\nТекст"
                                   << "Глава 1. Начало"
                                   << "4* 4 0";
        QTest::newRow("closed by its own stop") << "Глава 1.\nНачало\nТекст"
                                                << "Глава 1. Начало"
                                                << "4* 4 0";
        QTest::newRow("an empty line inside") << "Глава 1\n\nНачало\nТекст"
                                              << "Глава 1. Начало"
                                              << "4* 0 4 0";
        QTest::newRow("the next line is text") << "Глава 1\nНачало пути\nТекст"
                                               << "Глава 1. Начало"
                                               << "4* 0 0";
        QTest::newRow("the first line edited") << "Глава 10\nНачало\nТекст"
                                               << "Глава 1. Начало"
                                               << "4* 0 0";
    }
    void titlesOfSeveralLines() {
        QFETCH(QString, text);
        QFETCH(QString, title);
        QFETCH(QString, ranks);
        const BookDocument book =
            BookDocument::fromText(text.replace(u'\n', QLatin1String("\r\n")));
        const qsizetype offset =
            book.paragraphStart(text.startsWith(QStringLiteral("Текст")) ? 1 : 0);
        const MarkIndex index(BookMarkup{{Heading{offset, Heading::Chapter, title}}, {}}, book);
        QStringList shown;
        for (int p = 0; p < book.paragraphCount(); ++p)
            shown << QString::number(index.headingRank(p)) +
                         (index.opensHeading(p) ? QStringLiteral("*") : QString());
        QCOMPARE(shown.join(u' '), ranks);
    }

    // An imported FB2's section titles and emphasis, laid out: a heading in its larger
    // bold face, centred, below its space; the italic and bold runs in their looks.
    void headingsAndEmphasisLaidOut() {
        const BookCompanions::Pending pending = importedFb2();
        const auto book =
            std::make_shared<const BookDocument>(BookDocument::fromBytes(pending.text));
        const QFont font = arial();
        const CharWidths widths(font, *book);
        const qreal column = 500;
        const BookLines lines(
            book, widths, column, {}, nullptr, 0,
            {std::make_shared<const MarkIndex>(pending.markup, *book), markWidths(font, widths)});
        const ParagraphStyle style = styleOf(font, column);

        const Heading& second =
            headingTitled(pending.markup, QStringLiteral("Глава вторая. Вожатый"));
        const ParagraphLayout heading = layoutOf(lines, lines.pieceAt(second.offset), style);
        QCOMPARE(heading.headingRank(), second.rank);
        const QFont face = heading.textLayout().font();
        QCOMPARE(face.pixelSize(), headingFont(font, second.rank).pixelSize());
        QVERIFY(face.pixelSize() >= 1.3 * 15 - 0.5 && face.bold());
        QVERIFY(heading.textLayout().textOption().alignment() & Qt::AlignHCenter);
        QCOMPARE(heading.lineCount(), 1);
        const QTextLine line = heading.textLayout().lineAt(0);
        const qreal left = line.cursorToX(0);
        QVERIFY2(std::abs(left - (column - line.naturalTextWidth()) / 2) <= 1,
                 qPrintable(QString::number(left)));
        QCOMPARE(heading.slotHeight(0),
                 headingSpaceAbove(style, second.rank) + headingLineHeight(style, second.rank));
        QVERIFY(headingLineHeight(style, second.rank) >= 1.3 * style.lineHeight - 1);
        QCOMPARE(heading.lineTop(0), headingSpaceAbove(style, second.rank));

        for (const auto& [words, italic] : {std::pair{QStringLiteral("премьер-майором"), true},
                                            std::pair{QStringLiteral("Семёновский полк"), false}}) {
            const Emphasis e = emphasisOf(pending.markup, pending.text, words);
            const BookLines::Piece piece = lines.pieceAt(e.from);
            const ParagraphLayout body = layoutOf(lines, piece, style);
            QCOMPARE(body.headingRank(), 0);
            QCOMPARE(body.textLayout().font(), font);
            bool found = false;
            for (const QTextLayout::FormatRange& range : body.textLayout().formats())
                if (range.start == e.from - piece.from && range.length == e.to - e.from)
                    found = italic ? range.format.fontItalic()
                                   : range.format.fontWeight() == QFont::Bold;
            QVERIFY2(found, qPrintable(words));
        }
    }

    // No line is overfull with headings and emphasis, whatever the font, column and
    // rules: each line's last letter (and its hyphen) ends within the column, as the
    // text layout places it. Paragraphs without marks are broken as in a book without.
    void noLineOverfull() {
        std::mt19937 random(3301);
        const QStringList common =
            QStringLiteral(
                "и в не на он что с как а то все она так его но да ты к у же вы за бы по только "
                "её мне было вот от меня ещё нет о из ему теперь когда даже ну вдруг ли если уже "
                "Широкошумные дубравы; сказал-таки премьер-майором Семёновский полк — "
                "высокопревосходительство взволнованно обстоятельства. ответил.")
                .split(u' ');
        for (int round = 0; round < 3; ++round) {
            // The last book is wide: a letter with no code page 1251 form.
            QStringList words = common;
            if (round == 2)
                words << QStringLiteral("Ωмега");
            QString text;
            BookMarkup markup;
            for (int p = 0; p < 40; ++p) {
                if (p > 0)
                    text += QLatin1String("\r\n");
                const qsizetype start = text.size();
                if (random() % 5 == 0) {
                    const QString title = QStringLiteral("Глава %1 %2")
                                              .arg(p)
                                              .arg(words[int(random() % words.size())]);
                    markup.headings.push_back(Heading{start, int(1 + random() % 6), title});
                    text += title;
                    continue;
                }
                for (int w = int(5 + random() % 120); w > 0; --w) {
                    const qsizetype at = text.size();
                    text += words[int(random() % words.size())];
                    if (random() % 6 == 0)
                        markup.emphasis.push_back(Emphasis{at, text.size(), int(1 + random() % 2)});
                    text += QLatin1Char(' ');
                }
                // A run across words, over those already marked.
                const qsizetype from = start + qsizetype(random() % (text.size() - start));
                markup.emphasis.push_back(
                    Emphasis{from, std::min(text.size(), from + 60), int(1 + random() % 2)});
            }
            std::sort(markup.emphasis.begin(), markup.emphasis.end(),
                      [](const Emphasis& a, const Emphasis& b) { return a.from < b.from; });
            const auto book = std::make_shared<const BookDocument>(BookDocument::fromText(text));
            QCOMPARE(book->isWide(), round == 2);
            const auto index = std::make_shared<const MarkIndex>(markup, *book);
            for (const QFont& base : {BookLayout::bookFont(1900), arial()}) {
                QFont font = base;
                font.setKerning(false);
                const CharWidths widths(font, *book);
                const auto looks = markWidths(font, widths);
                qreal widestHyphen = 0;
                for (int look = 0; look < 4; ++look)
                    widestHyphen =
                        std::max(widestHyphen,
                                 QFontMetricsF(emphasisFont(font, look)).horizontalAdvance(u'-'));
                for (const bool justify : {false, true})
                    for (const bool hyphenate : {false, true})
                        for (const int column : {180, 430, 700}) {
                            LineRules rules;
                            rules.indent = justify ? 1.5 * QFontInfo(font).pixelSize() : 0;
                            rules.hyphenator = hyphenate ? &Hyphenator::russian() : nullptr;
                            rules.hyphenWidth = QFontMetricsF(font).horizontalAdvance(u'-');
                            rules.holdShortWords = justify;
                            rules.optimal = justify;
                            const qreal width = column - (justify ? 2 : 0);
                            const BookLines lines(book, widths, width, rules, nullptr, 0,
                                                  {index, looks});
                            const BookLines plain(book, widths, width, rules);
                            ParagraphStyle style = styleOf(font, column);
                            style.indent = rules.indent;
                            style.justify = justify;
                            for (int n = 0; n < lines.pieceCount(); ++n) {
                                const BookLines::Piece piece = lines.piece(n);
                                const std::vector<qsizetype> starts = lines.lineStarts(piece);
                                const ParagraphLayout layout = layoutOf(lines, piece, style);
                                QCOMPARE(layout.lineCount(), int(starts.size()));
                                QCOMPARE(lines.lineCount(piece), int(starts.size()));
                                const ParagraphMarks marks = marksOf(lines, piece);
                                if (marks.headingRank == 0 && marks.emphasis.empty())
                                    QCOMPARE(starts, plain.lineStarts(plain.piece(n)));
                                const QTextLayout& shown = layout.textLayout();
                                for (int i = 0; i < shown.lineCount(); ++i) {
                                    QCOMPARE(layout.lineStart(i), starts[size_t(i)]);
                                    const QTextLine line = shown.lineAt(i);
                                    int end = line.textStart() + line.textLength();
                                    while (end > line.textStart() &&
                                           shown.text()[end - 1] == QLatin1Char(' '))
                                        --end;
                                    const bool hyphen =
                                        end > line.textStart() &&
                                        shown.text()[end - 1] == DisplayText::kSoftHyphen;
                                    const qreal right = line.cursorToX(end - (hyphen ? 1 : 0)) +
                                                        (hyphen ? widestHyphen : 0);
                                    QVERIFY2(
                                        right <= column + 1,
                                        qPrintable(QStringLiteral("%1 > %2 in «%3»")
                                                       .arg(right)
                                                       .arg(column)
                                                       .arg(shown.text().mid(line.textStart(),
                                                                             line.textLength()))));
                                }
                            }
                        }
            }
        }
    }

    // The reader shows an imported FB2's kept headings and emphasis: a section title taller
    // than a line of text and centred; an edit before it keeps it a heading where it was;
    // a book changed outside loses its marks, with no crash.
    void anImportedBookInTheReader() {
        const BookCompanions::Pending pending = importedFb2();
        const QString path = libraryBook(QStringLiteral("Книга"), pending.text);
        const QString contents = libraryFile(QStringLiteral("books/Книга.toc"));
        BookCompanions::writeContents(contents, pending.markup, pending.text);
        TMainForm& form = openAt(path);
        BookView& view = *form.View;
        QTRY_VERIFY(view.markup());
        QCOMPARE(*view.markup(), pending.markup);

        const Heading second =
            headingTitled(pending.markup, QStringLiteral("Глава вторая. Вожатый"));
        const auto heights = [&](qsizetype heading) {
            view.scrollOffsetToTop(heading);
            const BookDocument& book = *view.book();
            const qsizetype body = book.paragraphStart(book.paragraphAt(heading) + 2);
            return std::pair{view.characterRect(heading), view.characterRect(body)};
        };
        const auto [title, text] = heights(second.offset);
        QVERIFY2(title.height() >= 2.2 * text.height(),
                 qPrintable(QStringLiteral("%1 %2").arg(title.height()).arg(text.height())));
        const qsizetype titleEnd = second.offset + second.title.size() - 1;
        const qreal middle = (title.left() + view.characterRect(titleEnd).right()) / 2.0;
        QVERIFY2(std::abs(middle - (view.columnLeft() + view.columnWidth() / 2)) <= 3,
                 qPrintable(QString::number(middle)));

        // An edit before the heading: it stays a heading where it was.
        view.setReadOnly(false);
        view.setSelectionStart(0);
        view.insertText(QStringLiteral("Новая строка\r\n"));
        QCOMPARE(headingTitled(*view.markup(), second.title).offset, second.offset + 14);
        const auto [moved, movedText] = heights(second.offset + 14);
        QVERIFY(std::abs(moved.height() - title.height()) <= 1);
        QVERIFY(std::abs(movedText.height() - text.height()) <= 1);
        const Emphasis italic =
            emphasisOf(pending.markup, pending.text, QStringLiteral("премьер-майором"));
        QVERIFY(std::find(view.markup()->emphasis.begin(), view.markup()->emphasis.end(),
                          Emphasis{italic.from + 14, italic.to + 14, Emphasis::Italic}) !=
                view.markup()->emphasis.end());
        QVERIFY(!view.grab().isNull());
        // Undone: back where it was.
        view.undo();
        QCOMPARE(headingTitled(*view.markup(), second.title).offset, second.offset);
        QCOMPARE(heights(second.offset).first.height(), title.height());
        // The heading's first letter taken away: it is a heading no more, in the view and
        // in the contents; undone, it is one again where it was; redone, gone again.
        // Whether the heading stands in the view and in the contents.
        const auto headed = [&] {
            const auto has = [&](const std::vector<Heading>& headings) {
                return std::any_of(headings.begin(), headings.end(),
                                   [&](const Heading& h) { return h.offset == second.offset; });
            };
            return std::pair{has(view.markup()->headings), has(form.Navigation->headings())};
        };
        const std::pair both{true, true};
        const std::pair neither{false, false};
        QCOMPARE(headed(), both);
        view.select(second.offset, second.offset + 1);
        view.insertText(QString());
        QCOMPARE(headed(), neither);
        view.undo();
        QCOMPARE(headed(), both);
        QCOMPARE(*view.markup(), pending.markup);
        view.redo();
        QCOMPARE(headed(), neither);
        view.undo();
        QCOMPARE(headed(), both);
        // Edits far apart, saved: each kept mark follows its own edit into the file kept
        // beside the book, and the document is one piece again.
        view.setSelectionStart(0);
        view.insertText(QStringLiteral("Новая строка\r\n"));
        view.setSelectionStart(view.textLength());
        view.insertText(QStringLiteral("\r\nКонец."));
        const BookMarkup edited = *view.markup();
        form.ToolButton1Click();
        QVERIFY(!view.book()->isModified());
        QCOMPARE(view.book()->pieceCount(), 1);
        const std::optional<BookMarkup> kept =
            BookCompanions::readContents(contents, TestFiles::read(path));
        QVERIFY(kept);
        QCOMPARE(*kept, edited);
        QCOMPARE(headingTitled(*kept, second.title).offset, second.offset + 14);
        view.setReadOnly(true);

        // Changed by another program: the kept marks go; the view shows the headings found
        // in the text, and no emphasis.
        TestFiles::write(path, pending.text + Cp1251::encode(QStringLiteral("\r\nДописано.")));
        openAt(path);
        QTRY_VERIFY(form.Navigation->headingsKnown());
        QVERIFY(!QFile::exists(contents));
        const std::vector<Heading> found = form.Navigation->headings();
        QCOMPARE(view.markup() ? view.markup()->headings : std::vector<Heading>(), found);
        QVERIFY(!view.markup() || view.markup()->emphasis.empty());
        heights(second.offset);
        QVERIFY(!view.grab().isNull());
    }
};

QTEST_MAIN(TestBookMarks)
#include "test_book_marks.moc"

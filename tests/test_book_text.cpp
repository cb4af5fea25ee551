#include "core/base/cp1251.h"
#include "core/book/book_lines.h"
#include "core/book/book_text.h"
#include "support/test_files.h"

#include <QGuiApplication>
#include <QTest>

// What the reading view holds of a book: its characters, its paragraphs, finding.
class TestBookText : public QObject {
    Q_OBJECT

    static QString cp(const QByteArray& bytes) { return Cp1251::decode(bytes); }

    // Finding as the editor's reader found in its whole text: the reference.
    static qsizetype reference(const QString& text, const QString& wanted, qsizetype from,
                               bool forward, bool wholeWord, bool matchCase) {
        const Qt::CaseSensitivity cs = matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
        const auto word = [](QChar c) { return c.isLetterOrNumber() || c == u'_'; };
        const auto acceptable = [&](qsizetype at) {
            const qsizetype after = at + wanted.size();
            return !wholeWord || ((at == 0 || !word(text[at - 1])) &&
                                  (after >= text.size() || !word(text[after])));
        };
        qsizetype found = -1;
        if (forward) {
            found = text.indexOf(wanted, from, cs);
            while (found >= 0 && !acceptable(found))
                found = text.indexOf(wanted, found + 1, cs);
        } else if (from - wanted.size() >= 0) {
            found = text.lastIndexOf(wanted, from - wanted.size(), cs);
            while (found >= 0 && !acceptable(found))
                found = found > 0 ? text.lastIndexOf(wanted, found - 1, cs) : -1;
        }
        return found;
    }

private Q_SLOTS:
    // Every line break becomes CR LF, two characters, as the editor counts them; the
    // paragraphs are the lines between.
    void lineBreaksAndParagraphs_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("one character") << QByteArray("a") << QStringLiteral("a");
        QTest::newRow("CR LF") << QByteArray("ab\r\ncd\r\n") << QStringLiteral("ab\r\ncd\r\n");
        QTest::newRow("lone LF") << QByteArray("ab\ncd\n\nx")
                                 << QStringLiteral("ab\r\ncd\r\n\r\nx");
        QTest::newRow("lone CR") << QByteArray("ab\rcd\r") << QStringLiteral("ab\r\ncd\r\n");
        QTest::newRow("CR CR LF") << QByteArray("a\r\r\nb") << QStringLiteral("a\r\n\r\nb");
        QTest::newRow("LF CR") << QByteArray("a\n\rb") << QStringLiteral("a\r\n\r\nb");
        QTest::newRow("tabs and NUL")
            << QByteArray("a\tb\0c", 5) << QStringLiteral("a\tb") + QChar(0x2400) + u'c';
        QTest::newRow("code page") << TestFiles::cp1251(QStringLiteral("Ёж — «да»\r\nЯ"))
                                   << QStringLiteral("Ёж — «да»\r\nЯ");
        QTest::newRow("UTF-8 mark, code page letters")
            << QByteArray("\xEF\xBB\xBF") + QStringLiteral("Ёж\nда").toUtf8()
            << QStringLiteral("Ёж\r\nда");
        QTest::newRow("UTF-8 mark, other letters")
            << QByteArray("\xEF\xBB\xBF") + QStringLiteral("日本\r\nÆ").toUtf8()
            << QStringLiteral("日本\r\nÆ");
        QByteArray utf16("\xFF\xFE");
        for (QChar c : QStringLiteral("ä\nб"))
            utf16 += char(c.unicode() & 0xFF), utf16 += char(c.unicode() >> 8);
        QTest::newRow("UTF-16 mark") << utf16 << QStringLiteral("ä\r\nб");
    }
    void lineBreaksAndParagraphs() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        const BookText book = BookText::fromBytes(bytes);
        QCOMPARE(book.wholeText(), text);
        QCOMPARE(book.length(), text.size());
        const QStringList paragraphs = text.split(QStringLiteral("\r\n"));
        QCOMPARE(book.paragraphCount(), paragraphs.size());
        for (int p = 0; p < book.paragraphCount(); ++p) {
            QCOMPARE(book.text(book.paragraphStart(p), book.paragraphEnd(p)), paragraphs[p]);
            QCOMPARE(book.paragraphAt(book.paragraphStart(p)), p);
            QCOMPARE(book.paragraphAt(book.paragraphEnd(p)), p);
        }
        for (qsizetype i = 0; i < text.size(); ++i)
            QCOMPARE(QChar(book.at(i)), text[i]);
        // The editor's text comes back the same.
        QCOMPARE(BookText::fromText(text).wholeText(), text);
        QCOMPARE(BookText::fromText(text).isWide(), book.isWide());
    }

    void findAgreesWithTheReference_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("wanted");
        const QString prose =
            QStringLiteral("Ёлка и ёлочка. ЁЛКА стоит; ёлки-палки!\r\nOne one bone ones one_two\r\n"
                           "Мёртвые души: соблазн, СОБЛАЗН и соблазны.");
        for (const QString& w :
             {QStringLiteral("ёлка"), QStringLiteral("ЁЛК"), QStringLiteral("one"),
              QStringLiteral("соблазн"), QStringLiteral("и"), QStringLiteral("\r\nOne"),
              QStringLiteral("ы."), QStringLiteral("absent"), QStringLiteral("日本")})
            QTest::newRow(qPrintable(w.simplified())) << prose << w;
        QTest::newRow("the whole text") << QStringLiteral("abc") << QStringLiteral("abc");
        QTest::newRow("longer than the text") << QStringLiteral("ab") << QStringLiteral("abc");
    }
    void findAgreesWithTheReference() {
        QFETCH(QString, text);
        QFETCH(QString, wanted);
        const BookText book = BookText::fromText(text);
        for (const bool forward : {true, false})
            for (const bool wholeWord : {false, true})
                for (const bool matchCase : {false, true})
                    for (qsizetype from = 0; from <= text.size(); ++from) {
                        const qsizetype expected =
                            reference(text, wanted, from, forward, wholeWord, matchCase);
                        const qsizetype found =
                            book.find(wanted, from, {forward, wholeWord, matchCase});
                        QVERIFY2(found == expected,
                                 qPrintable(QStringLiteral("from %1 forward %2 word %3 case %4: "
                                                           "%5 instead of %6")
                                                .arg(from)
                                                .arg(forward)
                                                .arg(wholeWord)
                                                .arg(matchCase)
                                                .arg(found)
                                                .arg(expected)));
                    }
    }

    // Display lines: greedy wrapping that never leaves room for the next word, also in a
    // paragraph far longer than one piece, and every character in exactly one line.
    void linesAreFullAndCoverEveryCharacter_data() {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray words;
        for (int i = 0; words.size() < 40000; ++i)
            words += "слово" + QByteArray::number(i * 7919 % 1000) + (i % 9 ? " " : "-да ");
        QTest::newRow("a paragraph of 40,000 characters")
            << TestFiles::cp1251(QString::fromUtf8(words));
        QTest::newRow("short paragraphs") << QByteArray("one two\r\n\r\nthree four five six\r\n");
        QTest::newRow("a word longer than a line") << QByteArray(5000, 'w') + " end";
        QTest::newRow("tabs") << QByteArray("a\tbb\tccc\tdddd\teeeee\tf\tg\th\ti\tj\tk\tl");
        QTest::newRow("characters without width") << QByteArray(3000, '\x01');
    }
    void linesAreFullAndCoverEveryCharacter() {
        QFETCH(QByteArray, bytes);
        auto book = std::make_shared<BookDocument>(BookDocument::fromBytes(bytes));
        QFont font(QStringLiteral("Liberation Sans"));
        font.setPixelSize(15);
        font.setKerning(false);
        const CharWidths widths(font, *book);
        const qreal width = 300;
        const BookLines lines(book, widths, width);
        std::string scratch;
        const unsigned char* raw = book->bytes(0, book->length(), scratch);
        // Wrapped in order, as the line counter does, every piece starts exactly; the
        // walk's counts are the pieces' lines.
        std::vector<int> walked;
        lines.walk([&](int piece, int count) {
            walked.push_back(piece);
            walked.push_back(count);
            return true;
        });
        QCOMPARE(int(walked.size()), 2 * lines.pieceCount());
        for (int n = 0; n < lines.pieceCount(); ++n) {
            QCOMPARE(walked[size_t(2 * n)], n);
            QCOMPARE(walked[size_t(2 * n + 1)], lines.lineCount(lines.piece(n)));
        }
        qsizetype next = 0;
        int counted = 0;
        for (int n = 0; n < lines.pieceCount(); ++n) {
            const BookLines::Piece piece = lines.piece(n);
            QCOMPARE(piece.from, next);
            const std::vector<qsizetype> starts = lines.lineStarts(piece);
            QCOMPARE(lines.lineCount(piece), int(starts.size()));
            QCOMPARE(lines.pieceAt(piece.from).number, n);
            counted += int(starts.size());
            for (size_t i = 0; i < starts.size(); ++i) {
                const qsizetype end = i + 1 < starts.size() ? starts[i + 1] : piece.to;
                // The width without the spaces and tabs that hang past the end.
                qreal w = 0;
                qreal ink = 0;
                qsizetype lastBreak = -1;
                for (qsizetype c = starts[i]; c < end; ++c) {
                    const char16_t ch = book->at(c);
                    if (ch == u' ' || ch == u'\t') {
                        lastBreak = c;
                        w += ch == u' ' ? widths.byteWidths()[' ']
                                        : widths.tabStop() - std::fmod(w, widths.tabStop());
                    } else {
                        w += widths.byteWidths()[raw[c]];
                        ink = w;
                    }
                }
                if (end - starts[i] < BookLines::kMaxLineChars) // a capped line may fill less
                    QVERIFY2(ink <= width || end - starts[i] == 1,
                             qPrintable(book->text(starts[i], end)));
                // Full: the next line's first word (or character) would not have fitted.
                if (end < piece.to || !piece.lastOfParagraph) {
                    qreal more = w;
                    qsizetype c = end;
                    while (c < book->length() && book->at(c) != u' ' && book->at(c) != u'\r' &&
                           more <= width)
                        more += widths.byteWidths()[raw[c++]];
                    QVERIFY2(more > width || end - starts[i] >= BookLines::kMaxLineChars ||
                                 lastBreak < 0,
                             qPrintable(QStringLiteral("line %1..%2 of piece %3..%4 not full: %5")
                                            .arg(starts[i])
                                            .arg(end)
                                            .arg(piece.from)
                                            .arg(piece.to)
                                            .arg(book->text(starts[i], c))));
                }
            }
            next = piece.lastOfParagraph && piece.paragraph + 1 < book->paragraphCount()
                       ? book->paragraphStart(piece.paragraph + 1)
                       : piece.to;
        }
        QCOMPARE(next, book->length());
        QVERIFY(counted >= 1);
    }
};

// Line breaking measures fonts, which needs a QGuiApplication.
QTEST_MAIN(TestBookText)
#include "test_book_text.moc"

#include "core/book/book_text.h"
#include "core/book/headings.h"
#include "core/book/note_references.h"

#include <QTest>

Q_DECLARE_METATYPE(std::vector<Heading>)

// The headings a plain text's contents is made of.
class TestHeadings : public QObject {
    Q_OBJECT

    // The text written with '\n' breaks; a heading's offset counts CR LF, as the book does.
    static BookText book(const QString& text) {
        QString crlf = text;
        crlf.replace(u'\n', QLatin1String("\r\n"));
        return BookText::fromText(crlf);
    }

    static QString described(const std::vector<Heading>& headings) {
        QStringList out;
        for (const Heading& h : headings)
            out << QStringLiteral("%1:%2:%3").arg(h.offset).arg(h.rank).arg(h.title);
        return out.join(QLatin1String(" | "));
    }

private Q_SLOTS:
    // Each rule, and each line that looks like a heading and is none. The expected
    // headings are "offset:rank:title", in the CR LF offsets of the text.
    void detect_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString prose = QStringLiteral("Он шёл долго. Дорога была пыльной.\n");
        QTest::newRow("chapter word at the start")
            << QStringLiteral("Глава первая\n\n") + prose << QStringLiteral("0:4:Глава первая");
        QTest::newRow("chapter word in capitals with a Roman number, its name under it")
            << QStringLiteral("ГЛАВА I\nСЕРЖАНТ ГВАРДИИ\n— Был бы гвардии он завтра ж капитан.\n")
            << QStringLiteral("0:4:ГЛАВА I. СЕРЖАНТ ГВАРДИИ");
        QTest::newRow("a name closed by an empty line joins the heading")
            << QStringLiteral("Глава первая\nДурное поведение\n\n") + prose
            << QStringLiteral("0:4:Глава первая. Дурное поведение");
        QTest::newRow("a line of verse under a numeral is no name")
            << QStringLiteral("I\nМой дядя самых честных правил\nКогда не в шутку занемог\n"
                              "Он уважать себя заставил\n")
            << QStringLiteral("0:5:I");
        QTest::newRow("after an empty line, with leading blanks")
            << prose + QStringLiteral("\n     Часть вторая\n") + prose
            << QStringLiteral("43:2:Часть вторая");
        QTest::newRow("a chapter with a number and a name")
            << QStringLiteral("Глава 12. Возвращение\n\n") + prose
            << QStringLiteral("0:4:Глава 12. Возвращение");
        QTest::newRow("parts above books above chapters above numerals")
            << QStringLiteral("Том первый\n\nЧасть первая\n\nКнига первая\n\nГлава 1\n\nI.\n\n") +
                   prose
            << QStringLiteral("0:1:Том первый | 14:2:Часть первая | 30:3:Книга первая | "
                              "46:4:Глава 1 | 57:5:I.");
        QTest::newRow("an epilogue stands beside the top level")
            << QStringLiteral("Часть первая\n\nI\n\n") + prose +
                   QStringLiteral("\nЭпилог\n\nI\n\n") + prose
            << QStringLiteral("0:2:Часть первая | 16:5:I | 59:2:Эпилог | 69:5:I");
        QTest::newRow("each word of structure")
            << QStringLiteral("Пролог\n\nДействие первое\n\nЯвление 2\n\nСцена третья\n\n"
                              "Предисловие\n\nПослесловие\n\nВступление\n\nЗаключение\n")
            << QStringLiteral("0:2:Пролог | 10:2:Действие первое | 29:4:Явление 2 | "
                              "42:4:Сцена третья | 58:2:Предисловие | 73:2:Послесловие | "
                              "88:2:Вступление | 102:2:Заключение");
        QTest::newRow("an Arabic numeral alone")
            << QStringLiteral("1\n\n") + prose + QStringLiteral("\n2.\n\n") + prose
            << QStringLiteral("0:5:1 | 43:5:2.");
        QTest::newRow("a line in capitals")
            << prose + QStringLiteral("\nВОЗВРАЩЕНИЕ В ДЕРЕВНЮ\n\n") + prose
            << QStringLiteral("38:4:ВОЗВРАЩЕНИЕ В ДЕРЕВНЮ");
        QTest::newRow("a numeral with a name in capitals")
            << QStringLiteral("I. ФЕДОР ПАВЛОВИЧ КАРАМАЗОВ\n\n") + prose
            << QStringLiteral("0:5:I. ФЕДОР ПАВЛОВИЧ КАРАМАЗОВ");
        // Lines that look like headings and are none.
        QTest::newRow("a short line of dialogue")
            << prose + QStringLiteral("\n— Да.\n\n— ГЛАВА СЕМЬИ!\n") << QString();
        QTest::newRow("a scene break")
            << prose + QStringLiteral("\n* * *\n\n") + prose << QString();
        QTest::newRow("capitals inside a paragraph")
            << prose + QStringLiteral("НА ДВЕРИ БЫЛО НАПИСАНО\nи больше ничего.\n") << QString();
        QTest::newRow("a numbered item of a list")
            << prose + QStringLiteral("\n1. Купить хлеба\n\n2. Зайти на почту\n") << QString();
        QTest::newRow("a short paragraph with a sentence inside")
            << prose + QStringLiteral("\nГлава семьи вернулся. Все встали.\n") << QString();
        QTest::newRow("a word of structure without a number")
            << prose + QStringLiteral("\nГлава семьи\n") << QString();
        QTest::newRow("a long paragraph")
            << prose + QStringLiteral("\nГлава первая, в которой ничего не происходит, кроме "
                                      "того что герой долго смотрит в окно и думает о разном\n")
            << QString();
        QTest::newRow("a shout in capitals") << prose + QStringLiteral("\nПОЖАР!\n") << QString();
        QTest::newRow("a line ending with a comma")
            << prose + QStringLiteral("\nЧАСТЬ ВТОРАЯ,\n") << QString();
        QTest::newRow("note numbers in a book with Roman chapters")
            << QStringLiteral("I\n\n") + prose + QStringLiteral("\n1\n\nПримечание.\n")
            << QStringLiteral("0:5:I");
    }
    void detect() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(described(HeadingDetector::detect(book(text))), expected);
    }

    // A note reference leads to its note after «Примечания», the note's number back to
    // the reference; a place beside no reference leads nowhere.
    void noteReferences_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("clicked"); // the text at the place clicked, as "x|y"
        QTest::addColumn<QString>("target");  // what stands where it leads, or empty
        const QString book =
            QStringLiteral("Текст со сноской[12] и ещё[3].\r\nДальше [12] снова.\r\n"
                           "Примечания\r\n[3] Третья.\r\n[12] Двенадцатая.\r\n");
        QTest::newRow("on the bracket")
            << book << QStringLiteral("сноской|[12]") << QStringLiteral("[12] Двенадцатая");
        QTest::newRow("on a digit")
            << book << QStringLiteral("сноской[1|2]") << QStringLiteral("[12] Двенадцатая");
        QTest::newRow("another") << book << QStringLiteral("ещё[|3]")
                                 << QStringLiteral("[3] Третья");
        QTest::newRow("back from a note")
            << book << QStringLiteral("Третья.\r\n[|12]") << QStringLiteral("[12] снова");
        QTest::newRow("beside none") << book << QStringLiteral("Текст со|") << QString();
        QTest::newRow("no notes") << QStringLiteral("Текст[1] без примечаний.")
                                  << QStringLiteral("Текст[|1]") << QString();
    }
    void noteReferences() {
        QFETCH(QString, text);
        QFETCH(QString, clicked);
        QFETCH(QString, target);
        const BookText book = BookText::fromText(text);
        const qsizetype place = text.indexOf(QString(clicked).remove(u'|')) + clicked.indexOf(u'|');
        const std::optional<NoteReferences::Reference> reference = NoteReferences::at(book, place);
        const qsizetype to =
            reference ? NoteReferences::target(book, *reference, NoteReferences::notesStart(book))
                      : -1;
        QCOMPARE(to < 0 ? QString() : book.text(to, to + target.size()), target);
    }

    // A stop asked for ends the scan with nothing.
    void stops() {
        const std::atomic<bool> stop{true};
        QVERIFY(
            HeadingDetector::detect(book(QStringLiteral("Глава 1\n\nТекст.\n")), &stop).empty());
    }
};

QTEST_GUILESS_MAIN(TestHeadings)
#include "test_headings.moc"

#include "core/base/cp1251.h"
#include "core/book/book_text.h"
#include "core/library/bookmarks.h"
#include "support/test_files.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

// Bookmarks through edits, outside changes and damage.
class TestBookmarks : public QObject {
    Q_OBJECT

    static BookText book(const QString& text) { return BookText::fromText(text); }

    static Bookmark at(const BookText& text, qsizetype offset) {
        return Bookmark{offset, QStringLiteral("метка"), Bookmarks::wordsAt(text, offset)};
    }

private Q_SLOTS:
    // Typing and deleting before a bookmark move it; after it they do not.
    void followsEdits_data() {
        QTest::addColumn<qsizetype>("offset");
        QTest::addColumn<qsizetype>("editAt");
        QTest::addColumn<qsizetype>("removed");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<qsizetype>("expected");
        QTest::newRow("typing before") << qsizetype(20) << qsizetype(3) << qsizetype(0)
                                       << QStringLiteral("абв") << qsizetype(23);
        QTest::newRow("deleting before")
            << qsizetype(20) << qsizetype(3) << qsizetype(5) << QString() << qsizetype(15);
        QTest::newRow("a new line before") << qsizetype(20) << qsizetype(0) << qsizetype(0)
                                           << QStringLiteral("\r\n") << qsizetype(22);
        QTest::newRow("typing after") << qsizetype(20) << qsizetype(25) << qsizetype(0)
                                      << QStringLiteral("абв") << qsizetype(20);
        QTest::newRow("deleting after")
            << qsizetype(20) << qsizetype(21) << qsizetype(4) << QString() << qsizetype(20);
        QTest::newRow("its words deleted")
            << qsizetype(20) << qsizetype(18) << qsizetype(5) << QString() << qsizetype(18);
    }
    void followsEdits() {
        QFETCH(qsizetype, offset);
        QFETCH(qsizetype, editAt);
        QFETCH(qsizetype, removed);
        QFETCH(QString, typed);
        QFETCH(qsizetype, expected);
        const QByteArray before =
            Cp1251::encode(QStringLiteral("Первая строка книги.\r\nВторая строка книги.\r\n"));
        QByteArray after = before;
        after.replace(editAt, removed, Cp1251::encode(typed));
        Bookmarks marks;
        marks.add(at(BookText::fromBytes(before), offset));
        marks.apply(TextChange::between(before, after));
        QCOMPARE(marks.list().front().offset, expected);
    }

    // The change found between two texts agrees with the edit made: on random texts of
    // few letters, a random edit that leaves the mark alone moves it as a marker
    // character put in the text moves.
    void changeModel() {
        QRandomGenerator random(32);
        for (int run = 0; run < 2000; ++run) {
            QByteArray text;
            const int size = 5 + random.bounded(60);
            for (int i = 0; i < size; ++i)
                text += char('a' + random.bounded(3));
            const int mark = random.bounded(size);
            // An edit wholly before the mark or wholly after it, not touching it.
            const bool before = random.bounded(2) == 0 && mark > 1;
            const int from =
                before ? random.bounded(mark - 1) : mark + 1 + random.bounded(size - mark);
            const int limit = before ? mark - 1 - from : size - from;
            const int removed = limit > 0 ? random.bounded(limit + 1) : 0;
            QByteArray typed;
            for (int i = random.bounded(4); i > 0; --i)
                typed += char('a' + random.bounded(3));
            QByteArray after = text;
            after.replace(from, removed, typed);
            // The reference: a marker the edit never touched.
            QByteArray marked = text;
            marked.insert(mark, '#');
            marked.replace(from > mark ? from + 1 : from, removed, typed);
            const qsizetype reference = marked.indexOf('#');
            const TextChange change = TextChange::between(text, after);
            const qsizetype moved = change.moved(mark);
            // The letters around an edit may leave its place in doubt («aab» less one «a»
            // reads the same whichever «a» went): the mark stays within the edit's length
            // of the reference, and exactly on it when the edit is after it.
            QVERIFY(qAbs(moved - reference) <= removed + typed.size());
            if (!before)
                QCOMPARE(moved, reference);
        }
    }

    // Changed by another program: found again by its words near its old place, or
    // dropped when they are gone.
    void refound() {
        const QString start =
            QStringLiteral("Глава 1\r\n\r\nАнна Павловна кашляла несколько дней.\r\n");
        const QString common = QStringLiteral("Она говорила по-французски.\r\n");
        const BookText before = book(start + common + QStringLiteral("Пьер вошёл в гостиную.\r\n"));
        Bookmarks marks;
        marks.add(at(before, start.size()));                 // «Она говорила…»
        marks.add(at(before, start.size() + common.size())); // «Пьер вошёл…»
        const BookText after = book(QStringLiteral("Предисловие издателя.\r\n\r\n") + start +
                                    common + QStringLiteral("Конец.\r\n"));
        QCOMPARE(marks.refind(after), 1);
        QCOMPARE(marks.list().size(), size_t(1));
        QCOMPARE(after.text(marks.list().front().offset, marks.list().front().offset + 12),
                 QStringLiteral("Она говорила"));
    }

    // Of two places holding the words, the one nearer the old place.
    void refoundNearest() {
        const QString line = QStringLiteral("Повтор одной и той же строки.\r\n");
        const BookText before = book(line + QStringLiteral("x\r\n") + line);
        Bookmarks marks;
        marks.add(at(before, line.size() + 3));
        const BookText after = book(QStringLiteral("ab") + line + QStringLiteral("x\r\n") + line);
        marks.refind(after);
        QCOMPARE(marks.list().front().offset, line.size() + 5);
    }

    // Kept in a readable file; a book changed outside is matched again and the file
    // rewritten; a damaged file is ignored and written anew.
    void file() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Книга.bmk"));
        const BookText text = book(QStringLiteral("Глава I\r\n\r\nАнна Павловна\\кашляла.\r\n"));
        Bookmarks marks;
        Bookmark mark = at(text, 11);
        mark.name =
            Bookmarks::nameFor(text, 11, {Heading{0, Heading::Chapter, QStringLiteral("Глава I")}});
        QCOMPARE(mark.name, QStringLiteral("Глава I — Анна Павловна\\кашляла."));
        marks.add(mark);
        marks.save(path, BookStamp::of(text));
        QVERIFY(
            Cp1251::decode(TestFiles::read(path)).contains(QStringLiteral("Закладка: 11 Глава I")));
        int dropped = -1;
        QCOMPARE(Bookmarks::load(path, text, &dropped).list(), marks.list());
        QCOMPARE(dropped, 0);

        const BookText changed =
            book(QStringLiteral("Том 1\r\nГлава I\r\n\r\nАнна Павловна\\кашляла.\r\n"));
        QCOMPARE(Bookmarks::load(path, changed, &dropped).list().front().offset, 18);
        QCOMPARE(Bookmarks::load(path, changed, &dropped).list().front().offset, 18);
        QCOMPARE(dropped, 0);
        QVERIFY(TestFiles::read(path).contains(BookStamp::of(changed).line().toLatin1().right(8)));

        TestFiles::write(path, "Tomeria: damaged\r\n");
        QVERIFY(Bookmarks::load(path, changed).isEmpty());
        marks.save(path, BookStamp::of(changed));
        QCOMPARE(Bookmarks::load(path, changed).list().size(), size_t(1));
        // None left: no file.
        Bookmarks().save(path, BookStamp::of(changed));
        QVERIFY(!QFile::exists(path));
    }

    void names_data() {
        QTest::addColumn<qsizetype>("offset");
        QTest::addColumn<QString>("name");
        QTest::newRow("before any heading")
            << qsizetype(0) << QStringLiteral("Вступительные слова без…");
        QTest::newRow("at a heading") << qsizetype(38) << QStringLiteral("Глава III");
        QTest::newRow("in a chapter")
            << qsizetype(51) << QStringLiteral("Глава III — Анна Павловна кашляла…");
    }
    void names() {
        QFETCH(qsizetype, offset);
        QFETCH(QString, name);
        const BookText text =
            book(QStringLiteral("Вступительные слова без заголовка.\r\n\r\n"
                                "Глава III\r\n\r\nАнна Павловна кашляла несколько дней.\r\n"));
        QCOMPARE(text.text(38, 47), QStringLiteral("Глава III"));
        const std::vector<Heading> headings{
            Heading{38, Heading::Chapter, QStringLiteral("Глава III")}};
        QCOMPARE(Bookmarks::nameFor(text, offset, headings), name);
    }
};

QTEST_GUILESS_MAIN(TestBookmarks)
#include "test_bookmarks.moc"

#include "core/base/cp1251.h"
#include "core/book/book_text.h"
#include "core/book/jump_history.h"
#include "core/library/bookmarks.h"
#include "support/test_files.h"
#include "ui/reader/bookmark_margin.h"
#include "ui/reader/navigation_panel.h"

#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

// The reader's side panel: the contents, the bookmarks; and the history of jumps.
class TestNavigationPanel : public QObject {
    Q_OBJECT

    static std::shared_ptr<const BookText> book(const QString& text) {
        return std::make_shared<const BookText>(BookText::fromText(text));
    }

    static QString chapters() {
        QString text = QStringLiteral("Часть первая\r\n\r\n");
        for (int c = 1; c <= 3; ++c) {
            text += QStringLiteral("Глава %1\r\n\r\n").arg(c);
            for (int p = 0; p < 20; ++p)
                text += QStringLiteral("Строка прозы, довольно длинная, чтобы занять место.\r\n");
            text += QStringLiteral("\r\n");
        }
        return text;
    }

private Q_SLOTS:
    // Parts above chapters, each with its percentage; the chapter of the top line marked.
    void contentsTree() {
        NavigationPanel panel;
        panel.setBook(book(chapters()), QString(), QString());
        QTRY_VERIFY(panel.headingsKnown());
        QCOMPARE(
            panel.contentsRows(),
            QStringList({QStringLiteral("Часть первая  0 %"), QStringLiteral("  Глава 1  0 %"),
                         QStringLiteral("  Глава 2  33 %"), QStringLiteral("  Глава 3  66 %")}));
        const qsizetype second = panel.headings()[2].offset;
        panel.setTopOffset(second + 100);
        auto* tree = panel.findChild<QTreeWidget*>(QStringLiteral("Contents"));
        QCOMPARE(tree->currentItem()->text(0), QStringLiteral("Глава 2"));
        QVERIFY(tree->currentItem()->font(0).bold());
        QCOMPARE(panel.nextHeading(second), panel.headings()[3].offset);
        QCOMPARE(panel.previousHeading(second), panel.headings()[1].offset);

        // Enter shows the heading; Esc gives the focus back.
        QSignalSpy jumps(&panel, &NavigationPanel::jumpRequested);
        QSignalSpy escapes(&panel, &NavigationPanel::escaped);
        tree->setCurrentItem(tree->topLevelItem(0)->child(2));
        QTest::keyClick(tree, Qt::Key_Return);
        QCOMPARE(jumps.size(), 1);
        QCOMPARE(jumps.front().front().toLongLong(), panel.headings()[3].offset);
        QTest::keyClick(tree, Qt::Key_Escape);
        QCOMPARE(escapes.size(), 1);
    }

    // No heading: «Оглавление не найдено» and the tenths of the book as places.
    void noHeadings() {
        NavigationPanel panel;
        QString text;
        for (int i = 0; i < 100; ++i)
            text += QStringLiteral("просто строка текста без заголовков\r\n");
        panel.setBook(book(text), QString(), QString());
        QTRY_VERIFY(panel.headingsKnown());
        const QStringList rows = panel.contentsRows();
        QCOMPARE(rows.size(), 11);
        QCOMPARE(rows.front(), NavigationPanel::notFoundText());
        QCOMPARE(rows[5], QStringLiteral("40 %"));
        QSignalSpy jumps(&panel, &NavigationPanel::jumpRequested);
        auto* tree = panel.findChild<QTreeWidget*>(QStringLiteral("Contents"));
        tree->setCurrentItem(tree->topLevelItem(5));
        QTest::keyClick(tree, Qt::Key_Return);
        QCOMPARE(jumps.front().front().toLongLong(), text.size() * 4 / 10);
    }

    // Bookmarks: named after their chapter, in book order, kept in their file; Delete
    // removes one; a book changed outside loses those whose words are gone, once said.
    void bookmarks() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Книга.bmk"));
        const auto text = book(chapters());
        NavigationPanel panel;
        panel.setBook(text, QString(), path);
        QTRY_VERIFY(panel.headingsKnown());
        const qsizetype third = panel.headings()[3].offset;
        panel.addBookmark(third + 11);
        panel.addBookmark(panel.headings()[1].offset);
        QCOMPARE(panel.bookmarkRows(),
                 QStringList({QStringLiteral("Глава 1"),
                              QStringLiteral("Глава 3 — Строка прозы, довольно…")}));
        QCOMPARE(Bookmarks::load(path, *text).list().size(), size_t(2));

        auto* list = panel.findChild<QListWidget*>(QStringLiteral("Bookmarks"));
        list->setCurrentRow(0);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(panel.bookmarkRows().size(), 1);
        QCOMPARE(Bookmarks::load(path, *text).list().size(), size_t(1));

        // The book changed by another program: the chapters' words are gone.
        QString other = chapters();
        other.replace(QStringLiteral("Строка прозы"), QStringLiteral("Иная строка"));
        NavigationPanel reopened;
        reopened.setBook(book(other), QString(), path);
        QTRY_VERIFY(reopened.headingsKnown());
        QVERIFY(reopened.bookmarkRows().isEmpty());
        QVERIFY(reopened.note().contains(QStringLiteral("1")));
        // Said once: the next opening finds nothing more to say.
        NavigationPanel again;
        again.setBook(book(other), QString(), path);
        QTRY_VERIFY(again.headingsKnown());
        QVERIFY(again.note().isEmpty());
    }

    // A mark beside each bookmarked line on screen, none for those off it.
    void marginMarks() {
        QWidget viewport;
        viewport.resize(300, 200);
        // Lines of 20 pixels, 50 characters each; characters 0-499 are on screen.
        BookmarkMargin margin(
            &viewport,
            [](qsizetype offset) {
                return offset < 500 ? QRect(10, int(offset / 50) * 20, 8, 20) : QRect();
            },
            [] { return std::pair<qsizetype, qsizetype>(0, 1000); });
        viewport.show();
        margin.setPlaces({0, 120, 700, 5000});
        const std::vector<QRect> marks = margin.marks();
        QCOMPARE(marks.size(), size_t(2));
        QCOMPARE(marks[0], QRect(0, 0, 4, 20));
        QCOMPARE(marks[1], QRect(0, 40, 4, 20));
        QVERIFY(margin.testAttribute(Qt::WA_TransparentForMouseEvents));
        viewport.resize(400, 300);
        QCOMPARE(margin.size(), QSize(400, 300));
    }

    // Back returns to the place before the last jump, forward goes there again; a new
    // jump drops the places ahead.
    void history() {
        JumpHistory h;
        QVERIFY(!h.back(5));
        h.jumped(10);  // from 10 to somewhere, left at 200
        h.jumped(200); // from 200 to somewhere, left at 300
        QCOMPARE(h.back(300), 200);
        QCOMPARE(h.back(200), 10);
        QVERIFY(!h.back(10));
        QCOMPARE(h.forward(10), 200);
        QCOMPARE(h.forward(200), 300);
        QVERIFY(!h.forward(300));
        QCOMPARE(h.back(300), 200);
        h.jumped(250); // a new jump from 250 drops 300
        QVERIFY(!h.forward(999));
        QCOMPARE(h.back(400), 250);
        QCOMPARE(h.back(250), 10);
    }
};

QTEST_MAIN(TestNavigationPanel)
#include "test_navigation_panel.moc"

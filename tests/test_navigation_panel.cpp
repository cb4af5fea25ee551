#include "core/base/cp1251.h"
#include "core/book/book_document.h"
#include "core/book/book_markup.h"
#include "core/book/book_text.h"
#include "core/book/jump_history.h"
#include "core/library/book_companions.h"
#include "core/library/bookmarks.h"
#include "core/text/book_layout.h"
#include "support/test_files.h"
#include "ui/reader/bookmark_margin.h"
#include "ui/reader/navigation_panel.h"
#include "ui/reader/reader_navigation.h"

#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>

#include <cmath>

namespace {

// The contrast ratio of two colours as the accessibility guidelines measure it.
double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double x = luminance(a);
    const double y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

} // namespace

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
        // The percentages' column holds the widest, «100 %», whatever the rows.
        QVERIFY(tree->columnWidth(1) >
                tree->fontMetrics().horizontalAdvance(QStringLiteral("100 %")));
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

    // Headings typed or removed while editing show at once: whatever the edits and
    // however fast they come, the contents end as a scan of the last text finds them.
    void headingsFollowEditing() {
        QRandomGenerator random(32);
        const QStringList pieces{
            QStringLiteral("\r\nГлава %1\r\n\r\n"), QStringLiteral("Проза, строка %1.\r\n"),
            QStringLiteral("\r\nЧАСТЬ %1\r\n\r\n"), QStringLiteral("\r\n— Да, %1.\r\n\r\n"),
            QStringLiteral("\r\n%1\r\n\r\n"),       QStringLiteral("\r\n* * *\r\n\r\n")};
        for (int round = 0; round < 6; ++round) {
            QString text = chapters();
            NavigationPanel panel;
            panel.setBook(book(text), QString(), QString());
            QTRY_VERIFY(panel.headingsKnown());
            for (int edit = 0; edit < 12; ++edit) {
                // Between paragraphs: an edit never splits a line break.
                QList<qsizetype> starts{0};
                for (qsizetype i = text.indexOf(u'\n'); i >= 0; i = text.indexOf(u'\n', i + 1))
                    starts << i + 1;
                const qsizetype at = starts[random.bounded(int(starts.size()))];
                if (random.bounded(3) == 0 && at < text.size()) {
                    const qsizetype end = text.indexOf(u'\n', at);
                    text.remove(at, (end < 0 ? text.size() : end + 1) - at);
                } else {
                    text.insert(
                        at, pieces[random.bounded(int(pieces.size()))].arg(random.bounded(1, 40)));
                }
                panel.followEditing([text] { return BookText::fromText(text); });
                if (random.bounded(2) == 0)
                    QTRY_VERIFY(!panel.followingEditing());
            }
            QTRY_VERIFY(!panel.followingEditing());
            const std::vector<Heading> expected = HeadingDetector::detect(BookText::fromText(text));
            QCOMPARE(panel.headings(), expected);
            QCOMPARE(panel.contentsRows().size(),
                     qsizetype(expected.empty() ? 11 : expected.size()));
        }
    }

    // The edited text the panel reads on its worker: as the document stood when it was
    // taken, whatever is edited after, narrow or wide.
    void editedTextTaken() {
        QRandomGenerator random(7);
        for (const bool wide : {false, true}) {
            BookDocument document = BookDocument::fromText(chapters());
            for (int step = 0; step < 40; ++step) {
                const qsizetype at = document.paragraphStart(
                    int(random.bounded(quint32(document.paragraphCount()))));
                const QString typed =
                    wide && step == 20 ? QStringLiteral("漢字\r\n") : QStringLiteral("Глава\r\n");
                if (random.bounded(3) == 0)
                    document.replace(at, document.paragraphEnd(document.paragraphAt(at)), {});
                else
                    document.replace(at, at, typed);
                const QString expected = document.wholeText();
                const std::function<BookText()> taken = document.textSnapshot();
                document.replace(0, 0, QStringLiteral("Позже.\r\n"));
                const BookText made = taken();
                QCOMPARE(made.wholeText(), expected);
                QCOMPARE(made.paragraphCount(), BookText::fromText(expected).paragraphCount());
                document.undo();
            }
            QCOMPARE(document.isWide(), wide);
        }
    }

    // The headings the import kept are never looked for in the text: they move with the
    // edits, and one whose line is taken away goes.
    void keptHeadingsFollowEditing() {
        QTemporaryDir dir;
        const QString contents = dir.filePath(QStringLiteral("Книга.toc"));
        const QString text = QStringLiteral("Начало\r\n\r\nПросто строка\r\n\r\nКонец\r\n");
        const auto original = book(text);
        const QByteArrayView bytes(reinterpret_cast<const char*>(original->bytes()),
                                   original->length());
        BookMarkup markup;
        markup.headings = {{0, 1, QStringLiteral("Начало")},
                           {text.indexOf(QStringLiteral("Просто")), 2, QStringLiteral("Просто")}};
        BookCompanions::writeContents(contents, markup, bytes);
        NavigationPanel panel;
        panel.setBook(original, contents, QString());
        QTRY_VERIFY(panel.headingsKnown());
        QCOMPARE(panel.headings(), markup.headings);

        // Typed before them: they move. «Глава 2» typed is no heading of this book.
        QString edited = QStringLiteral("Глава 2\r\n\r\n") + text;
        panel.followEditing([edited] { return BookText::fromText(edited); });
        QTRY_VERIFY(!panel.followingEditing());
        QCOMPARE(panel.headings().size(), size_t(2));
        QCOMPARE(panel.headings()[0].offset, qsizetype(11));
        QCOMPARE(panel.headings()[1].offset, edited.indexOf(QStringLiteral("Просто")));
        // The second one's line taken away: it goes.
        edited.remove(edited.indexOf(QStringLiteral("Просто")), 13);
        panel.followEditing([edited] { return BookText::fromText(edited); });
        QTRY_VERIFY(!panel.followingEditing());
        QCOMPARE(panel.contentsRows(), QStringList({QStringLiteral("Начало  34 %")}));
    }

    // A bookmark made while editing is kept at its place of the text as saved and shown
    // where that place now is; saving the edits moves it with them.
    void bookmarkWhileEditing() {
        QTemporaryDir dir;
        const QString marks = dir.filePath(QStringLiteral("Книга.bmk"));
        const QString text = chapters();
        NavigationPanel panel;
        panel.setBook(book(text), QString(), marks);
        QTRY_VERIFY(panel.headingsKnown());
        const qsizetype third = panel.headings()[3].offset;
        const QString typed = QStringLiteral("Вставка перед текстом.\r\n\r\n");
        const QString edited = typed + text;
        panel.followEditing([edited] { return BookText::fromText(edited); });
        QTRY_VERIFY(!panel.followingEditing());
        QCOMPARE(panel.headings()[3].offset, third + typed.size());
        panel.addBookmark(third + typed.size());
        QCOMPARE(panel.bookmarks().list().front().offset, third);
        QCOMPARE(panel.bookmarkRows(), QStringList({QStringLiteral("Глава 3")}));
        QSignalSpy jumps(&panel, &NavigationPanel::jumpRequested);
        auto* list = panel.findChild<QListWidget*>(QStringLiteral("Bookmarks"));
        list->setCurrentRow(0);
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(jumps.front().front().toLongLong(), third + typed.size());

        const auto saved = book(edited);
        panel.followEdit(TextChange{0, 0, typed.size()}, saved);
        QCOMPARE(panel.bookmarks().list().front().offset, third + typed.size());
        QCOMPARE(Bookmarks::load(marks, *saved).list().front().offset, third + typed.size());
        QTRY_VERIFY(!panel.followingEditing());
        QCOMPARE(panel.headings(), HeadingDetector::detect(*saved));
    }

    // The panel in the view's colours: the words legible on the lists' background, the
    // selection plain against it and legible itself, and a dark view gives a dark panel.
    void colours_data() {
        QTest::addColumn<QColor>("text");
        QTest::addColumn<QColor>("background");
        for (const LayoutPreset& preset : LayoutPreset::all())
            if (preset.text && preset.background)
                QTest::newRow(qPrintable(preset.name)) << *preset.text << *preset.background;
        QTest::newRow("dark window, black text") << QColor(Qt::black) << QColor(0x10, 0x20, 0x40);
        QTest::newRow("mid grey") << QColor(Qt::white) << QColor(0x80, 0x80, 0x80);
        QTest::newRow("yellow on blue") << QColor(0xff, 0xff, 0x99) << QColor(0x00, 0x00, 0x80);
        QTest::newRow("white on white") << QColor(Qt::white) << QColor(Qt::white);
    }
    void colours() {
        QFETCH(QColor, text);
        QFETCH(QColor, background);
        const QPalette p = NavigationPanel::paletteFor(text, background);
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            QCOMPARE(p.color(group, QPalette::Base), background);
            QVERIFY(contrast(p.color(group, QPalette::Text), p.color(group, QPalette::Base)) >=
                    4.5);
            QVERIFY(contrast(p.color(group, QPalette::WindowText),
                             p.color(group, QPalette::Window)) >= 4.5);
            QVERIFY(contrast(p.color(group, QPalette::ButtonText),
                             p.color(group, QPalette::Button)) >= 4.5);
            QVERIFY(contrast(p.color(group, QPalette::Highlight), p.color(group, QPalette::Base)) >=
                    3);
            QVERIFY(contrast(p.color(group, QPalette::HighlightedText),
                             p.color(group, QPalette::Highlight)) >= 3);
            if (qGray(background.rgb()) < 128) {
                QVERIFY(qGray(p.color(group, QPalette::Window).rgb()) < 128);
                QVERIFY(qGray(p.color(group, QPalette::Button).rgb()) < 128);
            }
        }
        // The view's own text colour is kept when it reads.
        if (contrast(text, background) >= 4.5)
            QCOMPARE(p.color(QPalette::Text), text);
    }

    // The reader tells of each edit; a moment after the last one the panel reads the
    // document as it then stands. Opening a book changes nothing to read.
    void editsReachThePanel() {
        QWidget window;
        auto* bar = new QToolBar(&window);
        auto* panel = new NavigationPanel(&window);
        BookDocument document = BookDocument::fromText(chapters());
        ReaderPlaces places;
        places.top = [] { return qsizetype(0); };
        places.document = [&document] { return &document; };
        ReaderNavigation navigation(&window, bar, panel, places);
        navigation.bookOpened(
            QString(), std::make_shared<const BookText>(BookText::fromText(document.wholeText())));
        QTRY_VERIFY(panel->headingsKnown());
        navigation.textEdited();
        QVERIFY(!panel->followingEditing());
        QTest::qWait(ReaderNavigation::kEditPause * 2);
        QVERIFY(!panel->followingEditing());
        QCOMPARE(panel->headings().size(), size_t(4));

        for (int c = 4; c <= 6; ++c) { // typed one after another, read once after
            document.replace(document.length(), document.length(),
                             QStringLiteral("\r\n\r\nГлава %1\r\n\r\nТекст.").arg(c), true);
            navigation.textEdited();
        }
        QTRY_COMPARE(panel->headings().size(), size_t(7));
        QCOMPARE(panel->headings(),
                 HeadingDetector::detect(BookText::fromText(document.wholeText())));
        document.undo();
        QVERIFY(!document.isModified());
        navigation.textEdited(); // back as saved: the typed headings go
        QTRY_COMPARE(panel->headings().size(), size_t(4));
    }

    // The reader's panel takes the colours the view paints in, whatever chose them.
    void panelFollowsView() {
        QWidget window;
        auto* bar = new QToolBar(&window);
        auto* panel = new NavigationPanel(&window);
        auto* viewport = new QWidget(&window);
        viewport->resize(200, 200);
        std::pair<QColor, QColor> colours(Qt::black, Qt::white);
        ReaderPlaces places;
        places.top = [] { return qsizetype(0); };
        places.viewport = viewport;
        places.colours = [&colours] { return colours; };
        ReaderNavigation navigation(&window, bar, panel, places);
        viewport->installEventFilter(&navigation);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        colours = {QColor(0xc8, 0xc8, 0xc8), QColor(0x1e, 0x1e, 0x1e)};
        viewport->repaint();
        auto* tree = panel->findChild<QTreeWidget*>(QStringLiteral("Contents"));
        auto* tabs = panel->findChild<QTabWidget*>();
        QCOMPARE(tree->palette().color(QPalette::Base), QColor(0x1e, 0x1e, 0x1e));
        QCOMPARE(tree->palette().color(QPalette::Text), QColor(0xc8, 0xc8, 0xc8));
        QVERIFY(qGray(tabs->palette().color(QPalette::Window).rgb()) < 128);
        colours = {QColor(Qt::black), QColor(Qt::white)};
        viewport->repaint();
        QCOMPARE(tree->palette().color(QPalette::Base), QColor(Qt::white));
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

#include "core/library/library.h"
#include "core/library/reading_state.h"
#include "support/test_files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using TestFiles::cp1251;

Q_DECLARE_METATYPE(BookLayout)

namespace QTest {
template <> char* toString(const BookLayout& l) {
    return qstrdup(QStringLiteral("width %1, margins %2, line spacing %3, indent %4, "
                                  "paragraph spacing %5, justify %6, hyphenate %7, book face %8")
                       .arg(l.width)
                       .arg(l.margins)
                       .arg(l.lineSpacing)
                       .arg(l.indent)
                       .arg(l.paragraphSpacing)
                       .arg(l.justify)
                       .arg(l.hyphenate)
                       .arg(l.bookFace)
                       .toUtf8()
                       .constData());
}
} // namespace QTest

// reading.dat judged by its bytes on disk and by what a new run reads back from it.
class TestReadingState : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString& relative) const { return m_dir->filePath(relative); }
    QString booksFolder() const { return path(QStringLiteral("books")) + QLatin1Char('/'); }
    QString book(const QString& name, const QByteArray& bytes = "text") const {
        const QString file = booksFolder() + name + QStringLiteral(".boo");
        TestFiles::write(file, bytes);
        return file;
    }
    ReadingState load() const {
        ReadingState state;
        state.load(path("reading.dat"), booksFolder());
        return state;
    }
    void openLibrary(Library& library) const {
        library.folder().setProgramFolder(m_dir->path() + QLatin1Char('/'));
        library.load(nullptr);
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir().mkdir(path("books"));
    }
    void cleanup() { TestFiles::setReadOnly(m_dir->path(), false); }

    void fileIsCodePage1251ReadByAPerson() {
        ReadingState state = load();
        QFont font(QStringLiteral("Liberation Serif"));
        font.setPixelSize(24);
        font.setBold(true);
        font.setUnderline(true);
        state.setFont(font, QColor(128, 0, 0));
        state.setBackground(QColor(255, 255, 0));
        state.remember(book(QStringLiteral("Война и мир"), QByteArray(1000, 'a')), 420);
        state.remember(book(QStringLiteral("Ёж"), "ab"), 2);
        state.remember(book(QStringLiteral("Война и мир"), QByteArray(1000, 'a')), 500);
        state.save();
        QCOMPARE(TestFiles::read(path("reading.dat")),
                 cp1251(QStringLiteral("[Reader]\r\nFont=Liberation Serif\r\nSize=24px\r\n"
                                       "Weight=700\r\nItalic=0\r\nUnderline=1\r\nStrikeOut=0\r\n"
                                       "TextColour=#800000\r\nBackground=#ffff00\r\n[Books]\r\n"
                                       "; offset, file size in bytes, book\r\n"
                                       "500 1000 Война и мир\r\n2 2 Ёж\r\n")));

        const ReadingState again = load();
        QVERIFY(again.font());
        QCOMPARE(again.font()->family(), QStringLiteral("Liberation Serif"));
        QCOMPARE(again.font()->pixelSize(), 24);
        QVERIFY(again.font()->bold() && again.font()->underline() && !again.font()->italic());
        QCOMPARE(again.textColour(), QColor(128, 0, 0));
        QCOMPARE(again.background(), std::optional<QColor>(QColor(255, 255, 0)));
        QCOMPARE(again.position(booksFolder() + QStringLiteral("Война и мир.boo")),
                 std::optional<int>(500));
        QCOMPARE(again.position(booksFolder() + QStringLiteral("Ёж.boo")), std::optional<int>(2));
    }

    void pointSizesComeBack() {
        ReadingState state = load();
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSizeF(10.5);
        font.setWeight(QFont::DemiBold);
        state.setFont(font, QColor(Qt::blue));
        state.save();
        const ReadingState again = load();
        QCOMPARE(again.font()->pointSizeF(), 10.5);
        QCOMPARE(again.font()->weight(), QFont::DemiBold);
        QVERIFY(!again.background());
    }

    // A position belongs to the file as it was: a book edited elsewhere, or not a book of
    // this library, has none.
    void positionNeedsTheSameFile() {
        ReadingState state = load();
        const QString path = book(QStringLiteral("Книга"), "0123456789");
        state.remember(path, 5);
        QCOMPARE(state.position(path), std::optional<int>(5));
        TestFiles::write(path, "01234567890");
        QVERIFY(!state.position(path));
        QFile::remove(path);
        QVERIFY(!state.position(path));

        const QString outside = m_dir->filePath(QStringLiteral("Книга.boo"));
        TestFiles::write(outside, "0123456789");
        state.remember(outside, 3);
        QVERIFY(!state.position(outside));
        QCOMPARE(state.bookName(booksFolder() + QStringLiteral("a/b.boo")), QString());
        QCOMPARE(state.bookName(booksFolder() + QStringLiteral("a.txt")), QString());
        QCOMPARE(state.bookName(booksFolder() + QStringLiteral("Книга.boo")),
                 QStringLiteral("Книга"));
    }

    // Names are kept as the file system has them: another letter case is another book,
    // and a name the code page cannot hold is not remembered under a wrong one.
    void namesAreExact() {
        ReadingState state = load();
        state.remember(book(QStringLiteral("книга")), 1);
        state.remember(book(QStringLiteral("КНИГА")), 2);
        state.remember(book(QStringLiteral("снег ☃")), 3);
        state.save();
        const ReadingState again = load();
        QCOMPARE(again.bookCount(), 2);
        QCOMPARE(again.position(booksFolder() + QStringLiteral("книга.boo")),
                 std::optional<int>(1));
        QCOMPARE(again.position(booksFolder() + QStringLiteral("КНИГА.boo")),
                 std::optional<int>(2));
    }

    void damagedFileIsIgnoredAndReplaced_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("books");
        QTest::newRow("binary garbage") << QByteArray("\x00\xff\x12[Books\r\n\x01\x02 x", 14) << 0;
        QTest::newRow("truncated")
            << QByteArray("[Reader]\r\nFont=Arial\r\nSize=1") << 0; // a size without unit
        QTest::newRow("bad values")
            << QByteArray("[Reader]\r\nFont=\r\nSize=abc\r\nBackground=#12\r\n"
                          "[Books]\r\n-5 4 a\r\n5 -4 b\r\nx 4 c\r\n7\r\n"
                          "99999999999999999999 4 d\r\n")
            << 0;
        QTest::newRow("one good line among bad ones")
            << QByteArray("[Books]\r\nnonsense\r\n3 4 good\r\n") << 1;
    }
    void damagedFileIsIgnoredAndReplaced() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, books);
        book(QStringLiteral("good"));
        TestFiles::write(path("reading.dat"), bytes);
        ReadingState state = load();
        QVERIFY(!state.font());
        QVERIFY(!state.background());
        QCOMPARE(state.bookCount(), books);
        state.setBackground(QColor(Qt::red));
        state.save();
        const ReadingState again = load();
        QCOMPARE(again.background(), std::optional<QColor>(QColor(Qt::red)));
        QCOMPARE(again.bookCount(), books);
        QVERIFY(TestFiles::read(path("reading.dat")).startsWith("[Reader]\r\n"));
    }

    // A file that cannot be read leaves the defaults; a failed write says so and keeps
    // the old file whole.
    void unreadableAndUnwritable() {
        QDir().mkdir(path("reading.dat"));
        ReadingState inFolder = load();
        QCOMPARE(inFolder.bookCount(), 0);
        QCOMPARE(TestFiles::errorOf([&] { inFolder.save(); }),
                 ReadingState::writeErrorMessage(path("reading.dat")));
        QVERIFY(!inFolder.trySave());
        QDir().rmdir(path("reading.dat"));
        // A pipe in its place is neither waited on when read nor when written.
        QCOMPARE(::mkfifo(QFile::encodeName(path("reading.dat")).constData(), 0600), 0);
        ReadingState onPipe = load();
        QCOMPARE(onPipe.bookCount(), 0);
        QVERIFY(!onPipe.trySave());
        QFile::remove(path("reading.dat"));

        ReadingState state = load();
        state.remember(book(QStringLiteral("a")), 1);
        state.save();
        const QByteArray before = TestFiles::read(path("reading.dat"));
        state.remember(book(QStringLiteral("b")), 2);
        TestFiles::setReadOnly(m_dir->path(), true);
        QCOMPARE(TestFiles::errorOf([&] { state.save(); }),
                 ReadingState::writeErrorMessage(path("reading.dat")));
        TestFiles::setReadOnly(m_dir->path(), false);
        QCOMPARE(TestFiles::read(path("reading.dat")), before);
    }

    // Deleting a book forgets where it was left, so a new book of that name (even one of
    // the same size) starts at its beginning; so does a book added under a name whose
    // entry outlived its book.
    // The layout's keys: written only where they differ from the defaults, read back
    // as written; a file without them (an older one) reads as the defaults; a value out
    // of its range is brought into it.
    void layoutSurvivesARestart_data() {
        QTest::addColumn<QByteArray>("reader");
        QTest::addColumn<BookLayout>("expected");
        QTest::addColumn<QByteArray>("written");
        const BookLayout book = BookLayout::bookish();
        QTest::newRow("an older file") << QByteArray("Background=#ffff00\r\n") << BookLayout()
                                       << QByteArray("Background=#ffff00\r\n");
        QTest::newRow("«Книжная»")
            << QByteArray("TextWidth=66\r\nLineSpacing=1.3\r\nIndent=1.5\r\nJustify=1\r\n"
                          "Hyphenation=1\r\nBookFace=1\r\n")
            << book
            << QByteArray("TextWidth=66\r\nLineSpacing=1.3\r\nIndent=1.5\r\nJustify=1\r\n"
                          "Hyphenation=1\r\nBookFace=1\r\n");
        BookLayout earlier = book;
        earlier.bookFace = false;
        QTest::newRow("«Книжная» of a version without the book's face")
            << QByteArray("TextWidth=66\r\nLineSpacing=1.3\r\nIndent=1.5\r\nJustify=1\r\n"
                          "Hyphenation=1\r\n")
            << earlier
            << QByteArray("TextWidth=66\r\nLineSpacing=1.3\r\nIndent=1.5\r\nJustify=1\r\n"
                          "Hyphenation=1\r\n");
        BookLayout full;
        full.width = 120;
        full.margins = 200;
        full.lineSpacing = 2.5;
        full.indent = 4;
        full.paragraphSpacing = 1.5;
        QTest::newRow("out of range")
            << QByteArray("textwidth=500\r\nMargins=9999999999\r\nLineSpacing=7\r\n"
                          "Indent=1e9\r\nParagraphSpacing=2\r\nJustify=yes\r\n")
            << full
            << QByteArray("TextWidth=120\r\nMargins=200\r\nLineSpacing=2.5\r\nIndent=4\r\n"
                          "ParagraphSpacing=1.5\r\n");
        BookLayout narrow;
        narrow.width = 40;
        narrow.paragraphSpacing = 0.5;
        QTest::newRow("too narrow, nonsense, negative")
            << QByteArray("TextWidth=3\r\nMargins=-5\r\nLineSpacing=nan\r\nIndent=-1\r\n"
                          "ParagraphSpacing=0.5\r\n")
            << narrow << QByteArray("TextWidth=40\r\nParagraphSpacing=0.5\r\n");
        BookLayout spread;
        spread.pages = BookLayout::Pages::Spread;
        QTest::newRow("«Разворот»")
            << QByteArray("Pages=2\r\n") << spread << QByteArray("Pages=2\r\n");
        BookLayout page;
        page.pages = BookLayout::Pages::Page;
        QTest::newRow("«Страница»")
            << QByteArray("Pages=1\r\n") << page << QByteArray("Pages=1\r\n");
        QTest::newRow("pages out of range")
            << QByteArray("Pages=7\r\n") << spread << QByteArray("Pages=2\r\n");
        QTest::newRow("pages not a number")
            << QByteArray("Pages=x\r\n") << BookLayout() << QByteArray();
    }
    void layoutSurvivesARestart() {
        QFETCH(QByteArray, reader);
        QFETCH(BookLayout, expected);
        QFETCH(QByteArray, written);
        TestFiles::write(path("reading.dat"), "[Reader]\r\n" + reader + "[Books]\r\n");
        ReadingState state = load();
        QCOMPARE(state.layout(), expected);
        state.save();
        QVERIFY(
            TestFiles::read(path("reading.dat")).startsWith("[Reader]\r\n" + written + "[Books]"));
        QCOMPARE(load().layout(), expected);
        // A change made in the program comes back too, brought into range.
        BookLayout changed = expected;
        changed.margins = 250;
        changed.justify = !expected.justify;
        changed.pages = BookLayout::Pages((int(expected.pages) + 1) % 3);
        state.setLayout(changed);
        state.save();
        changed.margins = 200;
        QCOMPARE(load().layout(), changed);
    }

    // A preset's text colour is kept without a font; a font chosen later takes it over.
    void textColourWithoutAFont() {
        ReadingState state = load();
        state.setTextColour(QColor(0xc8, 0xc8, 0xc8));
        state.setBackground(QColor(0x1e, 0x1e, 0x1e));
        state.save();
        QVERIFY(TestFiles::read(path("reading.dat"))
                    .startsWith("[Reader]\r\nTextColour=#c8c8c8\r\nBackground=#1e1e1e\r\n"));
        ReadingState again = load();
        QVERIFY(!again.font());
        QVERIFY(again.textColourChosen());
        QCOMPARE(again.textColour(), QColor(0xc8, 0xc8, 0xc8));
        again.setFont(QFont(QStringLiteral("DejaVu Sans"), 12), Qt::blue);
        again.save();
        QCOMPARE(load().textColour(), QColor(Qt::blue));
    }

    // The reader's side panel: hidden by default (no line), its tab kept, a value out of
    // range brought into it.
    void panelKept() {
        ReadingState state = load();
        QCOMPARE(state.panel(), 0);
        state.setPanel(2);
        state.save();
        QVERIFY(TestFiles::read(path("reading.dat")).contains("\r\nPanel=2\r\n"));
        QCOMPARE(load().panel(), 2);
        TestFiles::write(path("reading.dat"), "[Reader]\r\nPanel=9\r\n");
        QCOMPARE(load().panel(), 2);
        state.setPanel(0);
        state.save();
        QVERIFY(!TestFiles::read(path("reading.dat")).contains("Panel"));
    }

    // Only the places of books in the folder are read: a file of many places of books
    // long gone keeps those of the books there, the last of repeated lines winning.
    void placesOfBooksGoneAreDropped() {
        book(QStringLiteral("Есть"), "12345");
        book(QStringLiteral("Тоже есть"), "123");
        QFile::remove(book(QStringLiteral("Была")));
        QByteArray bytes = "[Books]\r\n";
        for (int i = 0; i < 20000; ++i)
            bytes +=
                QByteArray::number(i) + " 5 " + cp1251(QStringLiteral("Нет %1").arg(i)) + "\r\n";
        bytes += cp1251(QStringLiteral("1 5 Есть\r\n2 3 Тоже есть\r\n3 4 Была\r\n4 5 Есть\r\n"
                                       "5 5 есть\r\n"));
        TestFiles::write(path("reading.dat"), bytes);
        ReadingState state = load();
        QCOMPARE(state.bookCount(), 2);
        QCOMPARE(state.position(booksFolder() + QStringLiteral("Есть.boo")), std::optional<int>(4));
        QCOMPARE(state.position(booksFolder() + QStringLiteral("Тоже есть.boo")),
                 std::optional<int>(2));
        state.save();
        QVERIFY(TestFiles::read(path("reading.dat"))
                    .endsWith(cp1251(QStringLiteral("\r\n4 5 Есть\r\n2 3 Тоже есть\r\n"))));
    }

    void deletingAndAddingForget() {
        Library library;
        openLibrary(library);
        library.addBook(QStringLiteral("Книга"), QString(), "0123456789");
        const QString bookPath = library.folder().BookPath(QStringLiteral("Книга"));
        library.reading().remember(bookPath, 4);
        library.reading().remember(book(QStringLiteral("Другая")), 2);
        library.reading().save();
        library.deleteBook(QStringLiteral("Книга"));
        QVERIFY(!TestFiles::read(path("reading.dat")).contains(cp1251(QStringLiteral("Книга"))));
        QVERIFY(TestFiles::read(path("reading.dat")).contains(cp1251(QStringLiteral("Другая"))));
        Library restarted;
        openLibrary(restarted);
        QCOMPARE(restarted.reading().bookCount(), 1);
        restarted.addBook(QStringLiteral("Книга"), QString(), "0123456789");
        QVERIFY(!restarted.reading().position(bookPath));

        // An entry left behind by a book removed by hand.
        restarted.reading().remember(bookPath, 4);
        restarted.reading().save();
        Library later;
        openLibrary(later);
        later.catalogue().RemoveRecord(later.rowOfItem(QStringLiteral("Книга")).row);
        later.saveCatalogue();
        QFile::remove(bookPath);
        later.addBook(QStringLiteral("Книга"), QString(), "0123456789");
        QVERIFY(!later.reading().position(bookPath));
        Library reopened;
        openLibrary(reopened);
        QVERIFY(!reopened.reading().position(bookPath));
        QCOMPARE(reopened.reading().bookCount(), 1);
    }
};

QTEST_MAIN(TestReadingState)
#include "test_reading_state.moc"

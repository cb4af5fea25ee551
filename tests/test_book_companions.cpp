#include "core/base/cp1251.h"
#include "core/book/book_text.h"
#include "core/formats/book_import.h"
#include "core/library/book_companions.h"
#include "core/library/book_preparation.h"
#include "core/library/library.h"
#include "support/test_books.h"
#include "support/test_files.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The headings and emphasis an imported book keeps beside its plain text (NAME.toc).
class TestBookCompanions : public QObject {
    Q_OBJECT

    static QString storedAt(const QByteArray& stored, qsizetype from, qsizetype to) {
        return Cp1251::decode(stored.mid(from, to - from));
    }

    static QString titles(const BookMarkup& markup) {
        QStringList out;
        for (const Heading& h : markup.headings)
            out << QStringLiteral("%1 %2").arg(h.rank).arg(h.title);
        return out.join(QLatin1String(" | "));
    }

    static QByteArray fb2(const QString& body) {
        return QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?><FictionBook "
                              "xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\"><body>%1"
                              "</body></FictionBook>")
            .arg(body)
            .toUtf8();
    }

private Q_SLOTS:
    // Each format's headings and emphasis, as places of the stored text.
    void importedMarkup_data() {
        QTest::addColumn<QString>("file");
        for (const char* f : {"book.fb2", "book.epub", "book.docx", "book.odt", "book.html"})
            QTest::newRow(f) << QString::fromLatin1(f);
    }
    void importedMarkup() {
        QFETCH(QString, file);
        const ImportedBook book = BookImport::read(TestBooks::read(file));
        const BookCompanions::Pending pending = BookCompanions::pendingOf(book);
        const QByteArray stored = BookPreparation::storedBytes(book);
        QCOMPARE(pending.text, stored);
        QStringList found;
        for (const Heading& h : pending.markup.headings) {
            // Each heading stands at its place.
            QCOMPARE(storedAt(stored, h.offset, h.offset + h.title.size()), h.title);
            found << h.title;
        }
        QVERIFY2(found.contains(QStringLiteral("Глава первая. Сержант гвардии")),
                 qPrintable(found.join(u'|')));
        QVERIFY(found.contains(QStringLiteral("Глава вторая. Вожатый")));
        QStringList italic;
        QStringList bold;
        for (const Emphasis& e : pending.markup.emphasis)
            (e.kind == Emphasis::Italic ? italic : bold) << storedAt(stored, e.from, e.to);
        QVERIFY2(italic.contains(QStringLiteral("премьер-майором")), qPrintable(italic.join(u'|')));
        QVERIFY2(bold.contains(QStringLiteral("Семёновский полк")), qPrintable(bold.join(u'|')));
    }

    // FB2 sections nest; a title of two paragraphs is one heading; a subtitle is none.
    void fb2Sections() {
        const ImportedBook book = BookImport::read(fb2(
            QStringLiteral("<section><title><p>Часть первая</p></title>"
                           "<section><title><p>Глава 1</p><p>Начало</p></title><p>Текст.</p>"
                           "<subtitle>Подзаголовок</subtitle><p>Ещё.</p></section>"
                           "<section><title><p>Глава 2</p></title><p>Текст.</p></section></section>"
                           "<section><title><p>Часть вторая</p></title><p>Конец.</p></section>")));
        QCOMPARE(titles(BookCompanions::pendingOf(book).markup),
                 QStringLiteral("1 Часть первая | 2 Глава 1. Начало | 2 Глава 2 | 1 Часть вторая"));
    }

    // RTF paragraphs with an outline level are its headings, at their levels; italic and
    // bold runs of the text are its emphasis.
    void rtfOutlineLevels() {
        const ImportedBook book = BookImport::read(
            QByteArray("{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0 Arial;}}"
                       "{\\pard\\outlinelevel0 \\'d7\\'e0\\'f1\\'f2\\'fc 1\\par}"
                       "{\\pard\\outlinelevel1 \\'c3\\'eb\\'e0\\'e2\\'e0 1\\par}"
                       "{\\pard Text {\\i slanted} and {\\b bold}.\\par}"
                       "{\\pard\\outlinelevel1 \\'c3\\'eb\\'e0\\'e2\\'e0 2\\par}}"));
        const BookCompanions::Pending pending = BookCompanions::pendingOf(book);
        QCOMPARE(titles(pending.markup), QStringLiteral("1 Часть 1 | 2 Глава 1 | 2 Глава 2"));
        QStringList spans;
        for (const Emphasis& e : pending.markup.emphasis)
            spans << storedAt(pending.text, e.from, e.to);
        QCOMPARE(spans, QStringList({QStringLiteral("slanted"), QStringLiteral("bold")}));
    }

    // An EPUB whose pages have no headings of their own: its navigation names them (the
    // EPUB 2 NCX, nested; an EPUB 3 nav document).
    void epubNavigation_data() {
        QTest::addColumn<bool>("epub3");
        QTest::newRow("NCX") << false;
        QTest::newRow("nav") << true;
    }
    void epubNavigation() {
        QFETCH(bool, epub3);
        const QByteArray container =
            "<?xml version=\"1.0\"?><container xmlns=\"urn:oasis:names:tc:opendocument:xmlns:"
            "container\" version=\"1.0\"><rootfiles><rootfile full-path=\"OPS/p.opf\" "
            "media-type=\"application/oebps-package+xml\"/></rootfiles></container>";
        const QByteArray opf =
            "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\"><manifest>"
            "<item id=\"a\" href=\"a.html\" media-type=\"application/xhtml+xml\"/>"
            "<item id=\"b\" href=\"b.html\" media-type=\"application/xhtml+xml\"/>"
            "<item id=\"c\" href=\"c.html\" media-type=\"application/xhtml+xml\"/>"
            "<item id=\"t\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>"
            "<item id=\"n\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" "
            "properties=\"nav\"/></manifest>"
            "<spine><itemref idref=\"a\"/><itemref idref=\"b\"/><itemref "
            "idref=\"c\"/></spine></package>";
        auto page = [](const char* title, const char* text) {
            return QByteArray("<?xml version=\"1.0\"?><html xmlns=\"http://www.w3.org/1999/xhtml\">"
                              "<body><p class=\"title\">") +
                   title + "</p><p>" + text + "</p></body></html>";
        };
        const QByteArray ncx =
            QStringLiteral(
                "<?xml "
                "version=\"1.0\"?><ncx><navMap><navPoint><navLabel><text>Часть</text></navLabel>"
                "<content src=\"a.html\"/><navPoint><navLabel><text>Глава</text></navLabel>"
                "<content src=\"b.html#x\"/></navPoint></navPoint><navPoint><content "
                "src=\"c.html\"/>"
                "</navPoint></navMap></ncx>")
                .toUtf8();
        const QByteArray nav =
            QStringLiteral(
                "<?xml version=\"1.0\"?><html xmlns=\"http://www.w3.org/1999/xhtml\" "
                "xmlns:epub=\"http://www.idpf.org/2007/ops\"><body><nav epub:type=\"toc\"><ol>"
                "<li><a href=\"a.html\">Часть</a><ol><li><a "
                "href=\"b.html#x\">Глава</a></li></ol></li>"
                "<li><a href=\"c.html\">Конец</a></li></ol></nav></body></html>")
                .toUtf8();
        QList<QPair<QString, QByteArray>> members{
            {QStringLiteral("mimetype"), "application/epub+zip"},
            {QStringLiteral("META-INF/container.xml"), container},
            {QStringLiteral("OPS/p.opf"),
             epub3 ? opf : QByteArray(opf).replace(" properties=\"nav\"", "")},
            {QStringLiteral("OPS/a.html"), page("Часть первая", "Текст.")},
            {QStringLiteral("OPS/b.html"), page("Глава 1", "Текст.")},
            {QStringLiteral("OPS/c.html"), page("Конец", "Текст.")},
            {QStringLiteral("OPS/toc.ncx"), ncx},
            {QStringLiteral("OPS/nav.xhtml"), nav}};
        const ImportedBook book = BookImport::read(TestBooks::zip(members));
        QCOMPARE(titles(BookCompanions::pendingOf(book).markup),
                 QStringLiteral("1 Часть первая | 2 Глава 1 | 1 Конец"));
    }

    // A preview edited before the book was added: the places follow the edit.
    void editedPreview() {
        const ImportedBook book = BookImport::read(TestBooks::read(QStringLiteral("book.fb2")));
        const BookCompanions::Pending pending = BookCompanions::pendingOf(book);
        const QByteArray stored = "12345" + pending.text;
        const BookMarkup markup = BookCompanions::markupOf(pending, stored);
        QCOMPARE(markup.headings.size(), pending.markup.headings.size());
        for (size_t i = 0; i < markup.headings.size(); ++i)
            QCOMPARE(markup.headings[i].offset, pending.markup.headings[i].offset + 5);
    }

    // The file: kept for its book, dropped when the book changed outside, ignored when
    // damaged, moved by a save made in the reader, deleted with the book.
    void store() {
        QTemporaryDir dir;
        Library library;
        library.folder().setProgramFolder(dir.path() + QLatin1Char('/'));
        library.load(nullptr);
        library.saveCatalogue();
        const ImportedBook book = BookImport::read(TestBooks::read(QStringLiteral("book.fb2")));
        const BookCompanions::Pending pending = BookCompanions::pendingOf(book);
        library.addBook(QStringLiteral("Книга"), QString(), pending.text);
        BookCompanions::keep(library.folder(), QStringLiteral("Книга"), pending, pending.text);
        const QString path =
            BookCompanions::contentsPath(library.folder(), QStringLiteral("Книга"));
        QVERIFY(QFile::exists(path));
        // Readable code-page text.
        QVERIFY(Cp1251::decode(TestFiles::read(path)).contains(QStringLiteral("Заголовок: ")));
        QCOMPARE(BookCompanions::readContents(path, pending.text), pending.markup);

        // A save in the reader: a line typed at the start moves every place.
        const QByteArray edited = Cp1251::encode(QStringLiteral("Новая строка\r\n")) + pending.text;
        BookCompanions::followSave(path, BookStamp::of(pending.text),
                                   TextChange::between(pending.text, edited), edited);
        const std::optional<BookMarkup> moved = BookCompanions::readContents(path, edited);
        QVERIFY(moved);
        QCOMPARE(moved->headings.front().offset, pending.markup.headings.front().offset + 14);

        // Changed outside: no longer matches, dropped quietly.
        QVERIFY(!BookCompanions::readContents(path, edited + "x"));
        QVERIFY(!QFile::exists(path));

        // Damaged: ignored.
        BookCompanions::keep(library.folder(), QStringLiteral("Книга"), pending, pending.text);
        TestFiles::write(path, Cp1251::encode(Cp1251::decode(TestFiles::read(path))
                                                  .replace(QStringLiteral("Заголовок: "),
                                                           QStringLiteral("Заголовок: x"))));
        QVERIFY(!BookCompanions::readContents(path, pending.text));

        // Deleted with the book.
        BookCompanions::keep(library.folder(), QStringLiteral("Книга"), pending, pending.text);
        TestFiles::write(BookCompanions::bookmarksPath(library.folder(), QStringLiteral("Книга")),
                         "x");
        library.deleteBook(QStringLiteral("Книга"));
        QVERIFY(!QFile::exists(path));
        QVERIFY(!QFile::exists(
            BookCompanions::bookmarksPath(library.folder(), QStringLiteral("Книга"))));
    }

    // Damaged files of every kind are refused, never half read.
    void damagedFiles_data() {
        QTest::addColumn<QString>("text");
        const QString head = QStringLiteral("Tomeria: оглавление и выделения книги\r\n"
                                            "Книга: 100 байт, CRC32 0000ABCD\r\n");
        QTest::newRow("empty") << QString();
        QTest::newRow("another first line") << QStringLiteral("x\r\n") + head.mid(39);
        QTest::newRow("no stamp") << head.left(39);
        QTest::newRow("a place past the book") << head + QStringLiteral("Заголовок: 101 1 А\r\n");
        QTest::newRow("headings out of order")
            << head + QStringLiteral("Заголовок: 50 1 А\r\nЗаголовок: 10 1 Б\r\n");
        QTest::newRow("a level out of range") << head + QStringLiteral("Заголовок: 5 0 А\r\n");
        QTest::newRow("an empty span") << head + QStringLiteral("Курсив: 5 5\r\n");
        QTest::newRow("an unknown line") << head + QStringLiteral("Что-то: 5 6\r\n");
    }
    void damagedFiles() {
        QFETCH(QString, text);
        QVERIFY(!BookCompanions::parseContents(Cp1251::encode(text), nullptr));
    }
};

QTEST_GUILESS_MAIN(TestBookCompanions)
#include "test_book_companions.moc"

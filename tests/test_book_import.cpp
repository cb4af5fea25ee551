#include "core/formats/book_import.h"
#include "core/formats/zip_archive.h"
#include "core/text/imported_text.h"
#include "support/hostile_books.h"
#include "support/test_books.h"
#include "support/test_files.h"

#include <QBuffer>
#include <QImage>
#include <QStringEncoder>
#include <QTest>

#include <clocale>

using namespace HostileBooks;

namespace {

// Prose every Cyrillic code page can hold (no quotation marks or dashes).
const QString kProse = QStringLiteral(
    "Отец мой Андрей Петрович Гринёв в молодости своей служил при графе Минихе и вышел в "
    "отставку премьер-майором. С тех пор жил он в своей Симбирской деревне, где и женился "
    "на девице Авдотье Васильевне Ю., дочери бедного тамошнего дворянина. Нас было девять "
    "человек детей. Все мои братья и сестры умерли во младенчестве.\n"
    "Матушка была еще мною брюхата, как уже я был записан в Семёновский полк сержантом, по "
    "милости майора гвардии князя Б., близкого нашего родственника. Если бы паче всякого "
    "чаяния матушка родила дочь, то батюшка объявил бы куда следовало о смерти неявившегося "
    "сержанта, и дело тем бы и кончилось.\n");

QByteArray encoded(const QString& text, const char* codePage) {
    QStringEncoder encoder(codePage);
    return encoder(text);
}

QString plainOf(const ImportedBook& book) {
    return book.kind == ImportedBook::Kind::PlainText ? book.text : book.document.plainText();
}

const RtfParagraph* paragraphWith(const RtfDocument& document, const QString& text) {
    for (const RtfParagraph& paragraph : document.paragraphs)
        for (const RtfRun& run : paragraph.runs)
            if (run.text.contains(text))
                return &paragraph;
    return nullptr;
}

const RtfRun* runWith(const RtfDocument& document, const QString& text) {
    if (const RtfParagraph* paragraph = paragraphWith(document, text))
        for (const RtfRun& run : paragraph->runs)
            if (run.text.contains(text))
                return &run;
    return nullptr;
}

QByteArray png() {
    QImage image(64, 64, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray entityFb2(const QByteArray& declarations, const QByteArray& body,
                     const QByteArray& rootAttributes = "") {
    return "<?xml version=\"1.0\"?><!DOCTYPE FictionBook [" + declarations + "]><FictionBook" +
           rootAttributes + "><body><p>Текст</p>" + body + "</body></FictionBook>";
}

} // namespace

class TestBookImport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // ---- Books made by pandoc ------------------------------------------------------

    void everyFormatGivesTheWordsTitleAndFormatting_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("format");
        QTest::newRow("FB2") << "book.fb2"
                             << "FB2";
        QTest::newRow("FB2 in windows-1251") << "book-cp1251.fb2"
                                             << "FB2";
        QTest::newRow("zipped FB2") << "book.fb2.zip"
                                    << "FB2.ZIP";
        QTest::newRow("EPUB") << "book.epub"
                              << "EPUB";
        QTest::newRow("DOCX") << "book.docx"
                              << "DOCX";
        QTest::newRow("ODT") << "book.odt"
                             << "ODT";
        QTest::newRow("HTML") << "book.html"
                              << "HTML";
    }
    void everyFormatGivesTheWordsTitleAndFormatting() {
        QFETCH(QString, file);
        QFETCH(QString, format);
        const ImportedBook book = BookImport::readFile(TestBooks::path(file));
        QCOMPARE(book.kind, ImportedBook::Kind::Formatted);
        QCOMPARE(book.format, format);
        const QString text = book.document.plainText();
        const QStringList lines = text.split(QLatin1Char('\n'));
        // The title first (the proposed name), the author next, each once.
        QCOMPARE(lines.value(0), TestBooks::title());
        QCOMPARE(lines.value(1), TestBooks::author());
        QCOMPARE(book.title, TestBooks::title());
        QCOMPARE(book.author, TestBooks::author());
        QCOMPARE(text.count(TestBooks::title()), 1);
        // All the words in order, the note after the text, no markup.
        QCOMPARE(TestBooks::words(text), TestBooks::expectedWords());
        for (const char* markup : {"<", ">", "&", "xml", "xhtml", "w:t", "text:"})
            QVERIFY2(!text.contains(QLatin1StringView(markup)), markup);
        // One paragraph per line: a paragraph is never broken in the middle.
        QVERIFY(lines.contains(QStringLiteral(
            "Сторона мне незнакомая! Не своей охотою на неё я попал. «Что же ты не едешь?» — "
            "спросил я ямщика с нетерпением.")));

        const RtfRun* title = runWith(book.document, TestBooks::title());
        const RtfRun* heading = runWith(book.document, QStringLiteral("Глава вторая. Вожатый"));
        const RtfRun* body = runWith(book.document, QStringLiteral("Сторона мне"));
        QVERIFY(title && heading && body);
        QVERIFY(title->format.bold && heading->format.bold && !body->format.bold);
        QVERIFY(title->format.halfPoints > body->format.halfPoints);
        QVERIFY(heading->format.halfPoints > body->format.halfPoints);
        QVERIFY(runWith(book.document, QStringLiteral("премьер-майором"))->format.italic);
        QVERIFY(runWith(book.document, QStringLiteral("Семёновский полк"))->format.bold);
        QVERIFY(!runWith(book.document, QStringLiteral("Семёновский полк"))->format.italic);
        // The note body is not in the text: it is after the last chapter.
        QVERIFY(text.indexOf(QStringLiteral("Примечание о годе службы")) >
                text.indexOf(QStringLiteral("ямщика с нетерпением")));
    }

    // ---- Code pages of plain text ----------------------------------------------------

    void plainTextInEveryCodePage_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("windows-1251") << encoded(kProse, "windows-1251");
        QTest::newRow("KOI8-R") << encoded(kProse, "KOI8-R");
        QTest::newRow("CP866") << encoded(kProse, "IBM866");
        QTest::newRow("ISO-8859-5") << encoded(kProse, "ISO-8859-5");
        QTest::newRow("MacCyrillic") << encoded(kProse, "x-mac-cyrillic");
        QTest::newRow("UTF-8") << kProse.toUtf8();
        QTest::newRow("UTF-8 with a mark") << "\xEF\xBB\xBF" + kProse.toUtf8();
        QTest::newRow("UTF-16LE without a mark") << encoded(kProse, "UTF-16LE");
        QTest::newRow("UTF-16BE without a mark") << encoded(kProse, "UTF-16BE");
        QTest::newRow("UTF-16LE with a mark") << "\xFF\xFE" + encoded(kProse, "UTF-16LE");
        QTest::newRow("one short KOI8-R paragraph")
            << encoded(kProse.section(QLatin1Char('.'), 0, 0), "KOI8-R");
    }
    void plainTextInEveryCodePage() {
        QFETCH(QByteArray, bytes);
        const ImportedBook book = BookImport::read(bytes);
        QCOMPARE(book.kind, ImportedBook::Kind::PlainText);
        QVERIFY(book.text.size() > 50);
        QCOMPARE(book.text, kProse.left(book.text.size()));
    }

    void aShortOrLatinTextIsCodePage1251() {
        QCOMPARE(ImportedText::detect(TestFiles::cp1251(QStringLiteral("Да"))),
                 ImportedText::CodePage::Cp1251);
        QCOMPARE(ImportedText::detect("Plain English text, nothing else in it at all."),
                 ImportedText::CodePage::Cp1251);
        QCOMPARE(BookImport::read(TestFiles::cp1251(QStringLiteral("Да\r\nНет"))).text,
                 QStringLiteral("Да\r\nНет"));
    }

    // ---- HTML ----------------------------------------------------------------------------

    void htmlInItsDeclaredOrDetectedCodePage_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QString page = QStringLiteral(
            "<html><head>%1<title>Повесть</title><meta name=\"author\" content=\"Автор\">"
            "<style>p { color: red }</style><script>var a = '<p>нет</p>';</script></head>"
            "<body><h2>Глава</h2><p>%2<br>вторая строка</p><table><tr><td>один<td>два</table>"
            "<ul><li>пункт</ul><pre>  отступ\nконец</pre></body></html>");
        const QString prose = kProse.section(QLatin1Char('\n'), 0, 0);
        QTest::newRow("declared windows-1251") << encoded(
            page.arg(QStringLiteral("<meta charset=\"windows-1251\">"), prose), "windows-1251");
        QTest::newRow("declared KOI8-R in http-equiv")
            << encoded(page.arg(QStringLiteral("<meta http-equiv=\"Content-Type\" "
                                               "content=\"text/html; charset=koi8-r\">"),
                                prose),
                       "KOI8-R");
        QTest::newRow("undeclared CP866") << encoded(page.arg(QString(), prose), "IBM866");
        QTest::newRow("UTF-8") << page.arg(QString(), prose).toUtf8();
    }
    void htmlInItsDeclaredOrDetectedCodePage() {
        QFETCH(QByteArray, bytes);
        const ImportedBook book = BookImport::read(bytes);
        QCOMPARE(book.kind, ImportedBook::Kind::Formatted);
        QCOMPARE(book.format, QStringLiteral("HTML"));
        QCOMPARE(book.document.plainText().split(QLatin1Char('\n')),
                 QStringList({QStringLiteral("Повесть"), QStringLiteral("Автор"), QString(),
                              QStringLiteral("Глава"), kProse.section(QLatin1Char('\n'), 0, 0),
                              QStringLiteral("вторая строка"), QStringLiteral("один\tдва"),
                              QStringLiteral("• пункт"), QStringLiteral("  отступ"),
                              QStringLiteral("конец")}));
    }

    // ---- Containers ------------------------------------------------------------------

    // A page named twice by the spine is read once (a spine naming one page a million
    // times must not make a book a million pages long).
    void epubPagesComeInSpineOrderAndNonLinearPagesLast() {
        const QByteArray container =
            "<?xml version=\"1.0\"?><container xmlns=\"urn:oasis:names:tc:opendocument:xmlns:"
            "container\" version=\"1.0\"><rootfiles><rootfile full-path=\"OPS/package.opf\" "
            "media-type=\"application/oebps-package+xml\"/></rootfiles></container>";
        const QByteArray opf =
            "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\" "
            "version=\"2.0\"><metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
            "<dc:title>Три главы</dc:title><dc:creator opf:role=\"aut\" "
            "xmlns:opf=\"http://www.idpf.org/2007/opf\">Автор Один</dc:creator></metadata>"
            "<manifest><item id=\"n\" href=\"notes.html\" media-type=\"application/xhtml+xml\"/>"
            "<item id=\"b\" href=\"text/b%20b.html\" media-type=\"application/xhtml+xml\"/>"
            "<item id=\"a\" href=\"text/a.html\" media-type=\"application/xhtml+xml\"/>"
            "<item id=\"p\" href=\"cover.png\" media-type=\"image/png\"/></manifest>"
            "<spine><itemref idref=\"n\" linear=\"no\"/><itemref idref=\"a\"/>"
            "<itemref idref=\"p\"/><itemref idref=\"b\"/><itemref idref=\"a\"/>"
            "<itemref idref=\"b\"/></spine></package>";
        auto page = [](const char* text) {
            return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><html "
                              "xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>x</title>"
                              "</head><body><p>") +
                   text + "</p></body></html>";
        };
        const QByteArray epub = TestBooks::zip({
            {QStringLiteral("mimetype"), "application/epub+zip"},
            {QStringLiteral("OPS/notes.html"), page("Сноска")},
            {QStringLiteral("OPS/text/b b.html"), page("Вторая")},
            // Not well-formed XML: read by the HTML parser instead.
            {QStringLiteral("OPS/text/a.html"), "<html><body><p>Первая<p>Ещё</body>"},
            {QStringLiteral("OPS/cover.png"), png()},
            {QStringLiteral("OPS/package.opf"), opf},
            {QStringLiteral("META-INF/container.xml"), container},
        });
        const ImportedBook book = BookImport::read(epub);
        QCOMPARE(book.format, QStringLiteral("EPUB"));
        QCOMPARE(book.document.plainText(),
                 QStringLiteral("Три главы\nАвтор Один\n\nПервая\nЕщё\nВторая\n\nПримечания\n"
                                "Сноска"));
    }

    void fb2PartsOfTheBook() {
        const ImportedBook book = BookImport::read(fb2(
            "<section><title><p>Часть</p><p>первая</p></title><epigraph><p>Эпиграф</p>"
            "<text-author>Кто-то</text-author></epigraph><p>Текст</p><empty-line/>"
            "<poem><stanza><v>Строка стиха</v><v>вторая</v></stanza></poem>"
            "<image l:href=\"#pic\" xmlns:l=\"http://www.w3.org/1999/xlink\"/>"
            "<subtitle>* * *</subtitle><p>Конец</p></section>"
            "</body><binary id=\"pic\" content-type=\"image/png\">iVBORw0KGgo=</binary><body>"));
        QCOMPARE(book.document.plainText(),
                 QStringLiteral("Книга\n\nЧасть\nпервая\nЭпиграф\nКто-то\nТекст\n\nСтрока стиха\n"
                                "вторая\n* * *\nКонец"));
    }

    // DOCX, ODT and HTML alike: a list item keeps its bullet or number, a table row is
    // one line with its cells tab-separated (a cell of two paragraphs stays on it).
    void listsAndTablesAlike_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray w =
            "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";
        auto item = [](const char* num, const char* text) {
            return QByteArray("<w:p><w:pPr><w:numPr><w:ilvl w:val=\"0\"/><w:numId w:val=\"") + num +
                   "\"/></w:numPr></w:pPr><w:r><w:t>" + text + "</w:t></w:r></w:p>";
        };
        const QByteArray document =
            "<?xml version=\"1.0\"?><w:document " + w + "><w:body>" + item("1", "один") +
            item("1", "два") + item("2", "три") + item("2", "четыре") +
            "<w:tbl><w:tr><w:tc><w:p><w:r><w:t>а</w:t></w:r></w:p><w:p><w:r><w:t>а2</w:t></w:r>"
            "</w:p></w:tc><w:tc><w:p><w:r><w:t>б</w:t></w:r></w:p></w:tc></w:tr></w:tbl>"
            "<w:p><w:r><w:t>конец</w:t></w:r></w:p></w:body></w:document>";
        const QByteArray numbering =
            "<?xml version=\"1.0\"?><w:numbering " + w +
            "><w:abstractNum w:abstractNumId=\"5\">"
            "<w:lvl w:ilvl=\"0\"><w:numFmt w:val=\"bullet\"/></w:lvl></w:abstractNum>"
            "<w:abstractNum w:abstractNumId=\"6\"><w:lvl w:ilvl=\"0\"><w:numFmt w:val=\"decimal\"/>"
            "</w:lvl></w:abstractNum><w:num w:numId=\"1\"><w:abstractNumId w:val=\"5\"/></w:num>"
            "<w:num w:numId=\"2\"><w:abstractNumId w:val=\"6\"/></w:num></w:numbering>";
        QTest::newRow("DOCX") << TestBooks::zip(
            {{QStringLiteral("word/document.xml"), document},
             {QStringLiteral("word/numbering.xml"), numbering}});
        const QByteArray ns = "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                              "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
                              "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
                              "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\"";
        const QByteArray content =
            "<?xml version=\"1.0\"?><office:document-content " + ns +
            "><office:automatic-styles><text:list-style style:name=\"L1\">"
            "<text:list-level-style-bullet text:level=\"1\"/></text:list-style>"
            "<text:list-style style:name=\"L2\"><text:list-level-style-number text:level=\"1\"/>"
            "</text:list-style></office:automatic-styles><office:body><office:text>"
            "<text:list "
            "text:style-name=\"L1\"><text:list-item><text:p>один</text:p></text:list-item>"
            "<text:list-item><text:p>два</text:p></text:list-item></text:list>"
            "<text:list "
            "text:style-name=\"L2\"><text:list-item><text:p>три</text:p></text:list-item>"
            "<text:list-item><text:p>четыре</text:p></text:list-item></text:list>"
            "<table:table><table:table-row><table:table-cell><text:p>а</text:p><text:p>а2</text:p>"
            "</table:table-cell><table:table-cell><text:p>б</text:p></table:table-cell>"
            "</table:table-row></table:table><text:p>конец</text:p></office:text></office:body>"
            "</office:document-content>";
        QTest::newRow("ODT") << TestBooks::zip(
            {{QStringLiteral("mimetype"), "application/vnd.oasis.opendocument.text"},
             {QStringLiteral("content.xml"), content}});
        QTest::newRow("HTML") << QByteArray(
            "<html><body><ul><li>один<li>два</ul><ol><li>три<li>четыре</ol>"
            "<table><tr><td><p>а</p><p>а2</p><td>б</table><p>конец</p></body></html>");
    }
    void listsAndTablesAlike() {
        QFETCH(QByteArray, bytes);
        const ImportedBook book = BookImport::read(bytes);
        QCOMPARE(book.kind, ImportedBook::Kind::Formatted);
        QStringList lines = book.document.plainText().split(QLatin1Char('\n'));
        lines.removeAll(QString());
        QCOMPARE(lines, QStringList({QStringLiteral("• один"), QStringLiteral("• два"),
                                     QStringLiteral("1. три"), QStringLiteral("2. четыре"),
                                     QStringLiteral("а а2\tб"), QStringLiteral("конец")}));
    }

    void wordParagraphsStayWholeAndUnreferencedNotesAreLeftOut() {
        const QByteArray document =
            "<?xml version=\"1.0\"?><w:document xmlns:w=\"http://schemas.openxmlformats.org/"
            "wordprocessingml/2006/main\"><w:body><w:p><w:r><w:t>один\nдва</w:t></w:r>"
            "<w:r><w:rPr><w:b w:val=\"0\"/><w:i/></w:rPr><w:t xml:space=\"preserve\"> три"
            "</w:t></w:r><w:r><w:footnoteReference w:id=\"7\"/></w:r></w:p></w:body>"
            "</w:document>";
        const QByteArray notes =
            "<?xml version=\"1.0\"?><w:footnotes xmlns:w=\"http://schemas.openxmlformats.org/"
            "wordprocessingml/2006/main\"><w:footnote w:id=\"0\"><w:p><w:r><w:t>черта</w:t>"
            "</w:r></w:p></w:footnote><w:footnote w:id=\"7\"><w:p><w:r><w:t>сноска</w:t>"
            "</w:r></w:p></w:footnote></w:footnotes>";
        const ImportedBook book =
            BookImport::read(TestBooks::zip({{QStringLiteral("word/document.xml"), document},
                                             {QStringLiteral("word/footnotes.xml"), notes}}));
        QCOMPARE(book.format, QStringLiteral("DOCX"));
        QCOMPARE(book.document.plainText(),
                 QStringLiteral("один два три[1]\n\nПримечания\n[1] сноска"));
        QVERIFY(runWith(book.document, QStringLiteral("три"))->format.italic);
        QVERIFY(!runWith(book.document, QStringLiteral("три"))->format.bold);
    }

    // ---- Not a book, damage, hostile files -------------------------------------------------

    void aFileWithoutABookIsRefused_data() {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray program("\x7F"
                           "ELF\x02\x01\x01",
                           7);
        for (int i = 0; i < 4000; ++i)
            program.append(char(i * 7 % 5 == 0 ? 0 : i * 31 % 256));
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("only line breaks") << QByteArray("\r\n \r\n\t");
        QTest::newRow("PNG") << png();
        QTest::newRow("program") << program;
        QTest::newRow("ZIP without a book") << TestBooks::zip({{QStringLiteral("a.png"), png()}});
        QTest::newRow("EPUB without pages")
            << TestBooks::zip({{QStringLiteral("mimetype"), "application/epub+zip"}});
        QTest::newRow("FB2 of markup only") << fb2("").replace("Книга", "");
    }
    void aFileWithoutABookIsRefused() {
        QFETCH(QByteArray, bytes);
        QCOMPARE(BookImport::read(bytes).kind, ImportedBook::Kind::NotABook);
    }

    void damagedFilesGiveTheTextBeforeTheDamage_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("kept");
        QTest::newRow("FB2 cut in a paragraph")
            << fb2("<section><p>Целый абзац</p><p>Обрыв на <emphasis>полусл").left(300)
            << "Обрыв на полусл";
        QTest::newRow("FB2 with an unclosed tag")
            << fb2("<p>Один</p><p>Два</q><p>Три</p>") << "Два";
        QTest::newRow("EPUB cut before its directory")
            << TestBooks::read(QStringLiteral("book.epub"))
                   .left(TestBooks::read(QStringLiteral("book.epub")).size() - 700)
            << "Капитанская дочка";
        QTest::newRow("deeply nested HTML")
            << "<html><body><p>Начало</p>" + QByteArray(100000 * 5, 'x').replace("xxxxx", "<div>")
            << "Начало";
    }
    void damagedFilesGiveTheTextBeforeTheDamage() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, kept);
        const ImportedBook book = BookImport::read(bytes);
        QCOMPARE(book.kind, ImportedBook::Kind::Formatted);
        QVERIFY2(book.document.plainText().contains(kept), qPrintable(book.document.plainText()));
    }

    void damagedZipsNeverShowBytes_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("EPUB") << "book.epub";
        QTest::newRow("DOCX") << "book.docx";
        QTest::newRow("ODT") << "book.odt";
        QTest::newRow("zipped FB2") << "book.fb2.zip";
    }
    void damagedZipsNeverShowBytes() {
        QFETCH(QString, file);
        const QByteArray whole = TestBooks::read(file);
        for (qsizetype size = 0; size < whole.size();
             size += qMax<qsizetype>(1, whole.size() / 97)) {
            const ImportedBook book = BookImport::read(whole.left(size));
            QVERIFY(book.kind != ImportedBook::Kind::PlainText);
            for (const QChar c : plainOf(book))
                QVERIFY(c.isPrint() || c == u'\n' || c == u'\t' || c == QChar(0x2029));
        }
    }

    // Each shape of hostile file finishes or is refused, never shows markup, and yields
    // no more text than it holds.
    void hostileFilesAreReadOrRefused_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<ImportedBook::Kind>("kind");
        QTest::addColumn<QString>("kept");
        using K = ImportedBook::Kind;
        const int deep = 200000;
        const QByteArray title = nested(deep, "Заглавие");
        QTest::newRow("FB2 title nested deep")
            << fb2("<p>Текст</p>").replace("<book-title>Книга", "<book-title>" + title)
            << K::Formatted << "Заглавие";
        QTest::newRow("FB2 author nested deep")
            << fb2("<p>Текст</p>")
                   .replace("</title-info>", "<author><first-name>" + nested(deep, "Иван") +
                                                 "</first-name></author></title-info>")
            << K::Formatted << "Иван";
        QTest::newRow("FB2 paragraph nested deep")
            << fb2("<p>Текст" + nested(deep, "Глубина") + "</p>") << K::Formatted << "Глубина";
        QTest::newRow("EPUB title nested deep")
            << epub("<dc:title>" + title + "</dc:title>", xhtml("<p>Текст</p>")) << K::Formatted
            << "Заглавие";
        QTest::newRow("EPUB creator nested deep")
            << epub("<dc:creator>" + nested(deep, "Иван") + "</dc:creator>", xhtml("<p>Текст</p>"))
            << K::Formatted << "Иван";
        QTest::newRow("DOCX run nested deep")
            << docx("<w:p><w:r><w:t>" + nested(deep, "Текст") + "</w:t></w:r></w:p>")
            << K::Formatted << "Текст";
        QTest::newRow("DOCX title nested deep")
            << docx("<w:p><w:r><w:t>Текст</w:t></w:r></w:p>", title) << K::Formatted << "Заглавие";
        QTest::newRow("ODT note citation nested deep")
            << odt(nested(deep, "1")) << K::Formatted << "Сноска";
        QTest::newRow("ODT title nested deep") << odt("1", title) << K::Formatted << "Заглавие";

        const QByteArray page = "<html><body><p>Начало</p>";
        QTest::newRow("HTML <span></x> repeated")
            << page + QByteArray("<span></x>").repeated(100000) << K::Formatted << "Начало";
        QTest::newRow("HTML <em></q> repeated")
            << page + QByteArray("<em></q>").repeated(100000) << K::Formatted << "Начало";
        QTest::newRow("HTML <font></span> repeated")
            << page + QByteArray("<font></span>").repeated(100000) << K::Formatted << "Начало";
        QTest::newRow("HTML <div><b id></div> repeated")
            << page + QByteArray("<div><b id=1></div>x").repeated(50000) << K::Formatted
            << "Начало";
        QTest::newRow("HTML table of a thousand cells with unclosed bold, read whole")
            << page + "<table>" + QByteArray("<tr><td><b>ячейка").repeated(1000) +
                   "<td>Последняя</table>"
            << K::Formatted << "Последняя";
        QTest::newRow("EPUB page not well-formed, <span></x> repeated")
            << epub("<dc:title>Книга</dc:title>",
                    "<html><body><p>Начало<br></p>" + QByteArray("<span></x>").repeated(100000))
            << K::Formatted << "Начало";

        QTest::newRow("FB2 element with 50,000 attributes")
            << fb2("<p>Начало</p>" + crowded("p", 50000, "Хвост")) << K::Formatted << "Начало";
        QTest::newRow("EPUB element with 50,000 attributes")
            << epub("<dc:title>Книга</dc:title>",
                    xhtml("<p>Начало</p>" + crowded("p", 50000, "Хвост")))
            << K::Formatted << "Начало";
        QTest::newRow("DOCX element with 50,000 attributes")
            << docx("<w:p><w:r><w:t>Начало</w:t></w:r></w:p>" +
                    crowded("w:p", 50000, "<w:r><w:t>Хвост</w:t></w:r>"))
            << K::Formatted << "Начало";
        QTest::newRow("HTML element with 50,000 attributes")
            << page + crowded("p", 50000, "Хвост") << K::Formatted << "Начало";

        const QByteArray book = fb2("<p>Текст</p>");
        QTest::newRow("ZIP without directory, 120 MB of zeros before the book")
            << rawZip({member("zeros.bin", QByteArray(1 << 20, 0), 120), member("book.fb2", book)},
                      false)
            << K::TooBig << "";
        QTest::newRow("ZIP without directory, a small member before the book")
            << rawZip({member("zeros.bin", QByteArray(1 << 20, 0), 2), member("book.fb2", book)},
                      false)
            << K::Formatted << "Текст";
        QTest::newRow("ZIP whose first FB2 is not XML")
            << rawZip({member("a.fb2", "не книга"), member("b.fb2", book)}, true) << K::Formatted
            << "Текст";

        const QByteArray utf8Fb2 = fb2("<p>Текст</p>").replace("UTF-8", "UTF-16");
        const QByteArray html =
            "<html><head><meta charset=\"utf-16\"><title>Книга</title></head><body><p>Текст</p>"
            "</body></html>";
        QTest::newRow("FB2 in UTF-16LE with a mark")
            << utf16(utf8Fb2, QStringConverter::Utf16LE, true) << K::Formatted << "Текст";
        QTest::newRow("FB2 in UTF-16BE without a mark")
            << utf16(utf8Fb2, QStringConverter::Utf16BE, false) << K::Formatted << "Текст";
        QTest::newRow("HTML in UTF-16LE without a mark")
            << utf16(html, QStringConverter::Utf16LE, false) << K::Formatted << "Текст";
        QTest::newRow("HTML in UTF-16BE with a mark")
            << utf16(html, QStringConverter::Utf16BE, true) << K::Formatted << "Текст";

        QTest::newRow("FB2 quadratic entity")
            << entityFb2("<!ENTITY x \"" + QByteArray(10000, 'x') + "\">",
                         "<p>" + QByteArray("&x;").repeated(10000) + "</p>")
            << K::NotABook << "";
        QTest::newRow("FB2 entity in an attribute")
            << entityFb2("<!ENTITY e \"значение\">", "", " a=\"&e;\"") << K::NotABook << "";
        QByteArray laughs = "<!ENTITY a \"ха\">";
        for (char c = 'b'; c <= 'j'; ++c)
            laughs += QByteArray("<!ENTITY ") + c + " \"" +
                      (QByteArray("&") + char(c - 1) + ";").repeated(10) + "\">";
        QTest::newRow("EPUB page of billion laughs")
            << epub("<dc:title></dc:title>", "<?xml version=\"1.0\"?><!DOCTYPE html [" + laughs +
                                                 "]><html><body><p>&j;</p></body></html>")
            << K::NotABook << "";
    }
    void hostileFilesAreReadOrRefused() {
        QFETCH(QByteArray, bytes);
        QFETCH(ImportedBook::Kind, kind);
        QFETCH(QString, kept);
        const ImportedBook book = BookImport::read(bytes);
        QCOMPARE(book.kind, kind);
        const QString text = plainOf(book);
        QVERIFY2(text.contains(kept), qPrintable(text.left(200)));
        for (const char* markup : {"<", ">", "&", "]>"})
            QVERIFY2(!text.contains(QLatin1StringView(markup)), qPrintable(text.left(200)));
        QVERIFY(text.size() <= bytes.size());
    }

    // Member names read alike whatever the C library's locale: UTF-8 when marked or
    // valid, else the DOS code page of old Russian archives.
    void zipMemberNamesDoNotDependOnTheLocale_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<quint16>("flags");
        QStringEncoder dos("IBM866");
        QTest::newRow("UTF-8, marked") << QString("Книга.fb2").toUtf8() << quint16(0x800);
        QTest::newRow("UTF-8, not marked") << QString("Книга.fb2").toUtf8() << quint16(0);
        QTest::newRow("code page 866")
            << QByteArray(dos(QStringLiteral("Книга.fb2"))) << quint16(0);
    }
    void zipMemberNamesDoNotDependOnTheLocale() {
        QFETCH(QByteArray, name);
        QFETCH(quint16, flags);
        const QByteArray previous = std::setlocale(LC_ALL, nullptr);
        for (const char* locale : {"C", "C.UTF-8"}) {
            std::setlocale(LC_ALL, locale);
            for (const bool directory : {true, false}) {
                const QByteArray zip =
                    rawZip({member(name, fb2("<p>Текст</p>"), 1, flags)}, directory);
                ZipArchive archive;
                QCOMPARE(archive.read(zip, [](const QString&) { return true; }),
                         ZipArchive::Status::Ok);
                QCOMPARE(archive.names(), QStringList{QStringLiteral("Книга.fb2")});
                QCOMPARE(BookImport::read(zip).format, QStringLiteral("FB2.ZIP"));
            }
        }
        std::setlocale(LC_ALL, previous.constData());
    }

    void zipBombAndEntityExpansionAreRefused() {
        // 100 MB of zeros packed into about 100 KB, more than any book unpacks to.
        const QByteArray bomb =
            TestBooks::zip({{QStringLiteral("book.fb2"), QByteArray(100 << 20, '\0')}});
        QVERIFY(bomb.size() < (1 << 20));
        QCOMPARE(BookImport::read(bomb).kind, ImportedBook::Kind::TooBig);

        QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE FictionBook [<!ENTITY a "
                            "\"хахахахаха\">";
        for (char c = 'b'; c <= 'j'; ++c) {
            laughs += QByteArray("<!ENTITY ") + c + " \"";
            for (int i = 0; i < 10; ++i)
                laughs += QByteArray("&") + char(c - 1) + ";";
            laughs += "\">";
        }
        laughs += "]><FictionBook><body><p>Смех</p><p>&j;</p></body></FictionBook>";
        const ImportedBook book = BookImport::read(laughs);
        QVERIFY(plainOf(book).size() < 100000);
        QVERIFY(book.kind == ImportedBook::Kind::NotABook ||
                plainOf(book).contains(QStringLiteral("Смех")));
    }
};

QTEST_GUILESS_MAIN(TestBookImport)
#include "test_book_import.moc"

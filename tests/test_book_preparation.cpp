// The one preparation of a book to add: the names it proposes, the bytes it stores, the
// names it refuses and the questions it asks, whichever way the book comes in.

#include "core/base/cp1251.h"
#include "core/library/book_preparation.h"
#include "core/library/library.h"
#include "support/test_files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using BookPreparation::Refusal;
using TestFiles::cp1251;
using Kind = BookPreparation::Question::Kind;

Q_DECLARE_METATYPE(BookPreparation::Refusal)

class TestBookPreparation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A title or a first line as a name: each refused character a space, '/' a dash,
    // mapped as the text is, never a hidden file's name.
    void nameFromALine_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "Анна Каренина"
                               << "Анна Каренина";
        QTest::newRow("'=' a space") << "косой=и"
                                     << "косой и";
        QTest::newRow("'/' a dash") << "1941/1945"
                                    << "1941-1945";
        QTest::newRow("letters the code page lacks a space") << "Мир日本語война"
                                                             << "Мир война";
        QTest::newRow("outside the basic plane one space") << "a\U0001F600b"
                                                           << "a b";
        QTest::newRow("control characters and tabs") << "a\tb\u0001c\u0085d"
                                                     << "a b c d";
        QTest::newRow("blanks one space, trimmed") << "  Война   и  мир  "
                                                   << "Война и мир";
        QTest::newRow("mapped as the text is") << "За\u0301мок café \u2212 и\u2009шпация"
                                               << "Замок cafe - и шпация";
        QTest::newRow("leading dots dropped") << ".tomeria-import-x"
                                              << "tomeria-import-x";
        QTest::newRow("dots and blanks before the title") << ". . .скрытая"
                                                          << "скрытая";
        QTest::newRow("a dot alone names nothing") << "."
                                                   << "";
        QTest::newRow("two dots name nothing") << ".."
                                               << "";
        QTest::newRow("a dot inside stays") << "Т. 2"
                                            << "Т. 2";
        QTest::newRow("at most 100 characters")
            << QString(150, QChar(u'д')) << QString(100, QChar(u'д'));
        QTest::newRow("nothing storable") << "日本語"
                                          << "";
    }
    void nameFromALine() {
        QFETCH(QString, line);
        QFETCH(QString, name);
        QCOMPARE(BookPreparation::nameFromLine(line), name);
    }

    // Whatever a book gives, the name proposed for it is never empty nor hidden.
    void proposedName_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        QTest::newRow("the title first") << "Заглавие"
                                         << "первая строка"
                                         << "a.txt"
                                         << "Заглавие";
        QTest::newRow("then the first non-blank line") << ""
                                                       << "\n  \n Строка \nдальше"
                                                       << "a.txt"
                                                       << "Строка";
        QTest::newRow("a dotted title: the first line") << "..."
                                                        << "Первая"
                                                        << "a.txt"
                                                        << "Первая";
        QTest::newRow("then the file name") << ""
                                            << "日本"
                                            << "папка/Рассказ.fb2.zip"
                                            << "Рассказ";
        QTest::newRow("a hidden file's name: its dot dropped") << ""
                                                               << "."
                                                               << ".скрытая.txt"
                                                               << "скрытая";
        QTest::newRow("else «Книга»") << ".."
                                      << "."
                                      << "..txt"
                                      << "Книга";
    }
    void proposedName() {
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QString, file);
        QFETCH(QString, name);
        ImportedBook book;
        book.kind = ImportedBook::Kind::PlainText;
        book.title = title;
        book.text = text;
        QCOMPARE(BookPreparation::proposedName(book, file), name);
    }

    // The bytes stored: line breaks as CR LF, the editor's NUL symbol as NUL, letters in
    // their nearest code page form, what has none as '?'.
    void storedBytes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("every line end")
            << "a\r\nb\rc\nd\u2028e\u2029f" << QByteArray("a\r\nb\r\nc\r\nd\r\ne\r\nf");
        QTest::newRow("NUL symbol") << "a\u2400b" << QByteArray("a\0b", 3);
        QTest::newRow("Cyrillic") << "Ёж" << cp1251(QStringLiteral("Ёж"));
        QTest::newRow("accents dropped, dashes mapped")
            << "за\u0301мок \u2212 café" << QByteArray("\xe7\xe0\xec\xee\xea - cafe");
        QTest::newRow("no form: '?'") << "日" << QByteArray("?");
    }
    void storedBytes() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        ImportedBook book;
        book.kind = ImportedBook::Kind::PlainText;
        book.text = text;
        QCOMPARE(BookPreparation::storedBytes(book), bytes);
        // The add panel's editor gives its text with LF; stored the same.
        QString editor = text;
        editor.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        editor.replace(QChar(u'\r'), QChar(u'\n'));
        editor.replace(QChar(0x2028), QChar(u'\n'));
        editor.replace(QChar(0x2029), QChar(u'\n'));
        editor.replace(QChar(u'\n'), QStringLiteral("\r\n"));
        QCOMPARE(Cp1251::encode(BookPreparation::storableText(editor)), bytes);
    }

    // A typed name, refused or taken.
    void refusals_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Refusal>("refusal");
        QTest::addColumn<QString>("characters");
        QTest::newRow("a plain name") << "Война и мир" << Refusal::None << "";
        QTest::newRow("empty") << "" << Refusal::Missing << "";
        QTest::newRow("blanks") << "  \t" << Refusal::Missing << "";
        QTest::newRow("'='") << "a=b" << Refusal::Unstorable << "=";
        QTest::newRow("'/'") << "a/b" << Refusal::Unstorable << "/";
        QTest::newRow("a line break") << "a\nb" << Refusal::Unstorable << "\n";
        QTest::newRow("letters the code page lacks, each once")
            << "日本日=" << Refusal::Unstorable << "日 本 =";
        QTest::newRow("outside the basic plane")
            << "a\U0001F600" << Refusal::Unstorable << "\U0001F600";
        QTest::newRow("a leading dot") << ".скрытая" << Refusal::LeadingDot << "";
        QTest::newRow("a leading dot after nothing else") << "." << Refusal::LeadingDot << "";
        QTest::newRow("a dot inside") << "Т. 2" << Refusal::None << "";
        QTest::newRow("a blank then a dot") << " .a" << Refusal::None << "";
        QTest::newRow("255 bytes with .boo") << QString(251, QChar(u'a')) << Refusal::None << "";
        QTest::newRow("256 bytes with .boo") << QString(252, QChar(u'a')) << Refusal::TooLong << "";
        QTest::newRow("Cyrillic takes two bytes")
            << QString(126, QChar(u'ж')) << Refusal::TooLong << "";
    }
    void refusals() {
        QFETCH(QString, name);
        QFETCH(Refusal, refusal);
        QFETCH(QString, characters);
        QCOMPARE(BookPreparation::nameRefusal(name), refusal);
        QCOMPARE(BookPreparation::unstorableCharacters(name), characters);
        QCOMPARE(BookPreparation::refusalMessage(refusal, name).isEmpty(),
                 refusal == Refusal::None);
    }

    // The whole check against a library: duplicates, a file no row lists, characters
    // that would become «?», and the bytes of a book that passes.
    void check_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("fileChosen");
        QTest::addColumn<Refusal>("refusal");
        QTest::addColumn<QList<int>>("questions");
        QTest::newRow("a new book") << "Новая"
                                    << "текст" << true << Refusal::None << QList<int>{};
        QTest::newRow("no file") << "Новая"
                                 << "текст" << false << Refusal::Missing << QList<int>{};
        QTest::newRow("a text of blanks") << "Новая"
                                          << " \r\n " << true << Refusal::Missing << QList<int>{};
        QTest::newRow("a duplicate in another letter case")
            << "ПОВЕСТЬ"
            << "текст" << true << Refusal::Duplicate << QList<int>{};
        QTest::newRow("a leading dot") << ".Новая"
                                       << "текст" << true << Refusal::LeadingDot << QList<int>{};
        QTest::newRow("an unlisted file")
            << "Забытая"
            << "текст" << true << Refusal::None << QList<int>{int(Kind::ReplaceUnlistedFile)};
        QTest::newRow("lost characters")
            << "Новая"
            << "日本" << true << Refusal::None << QList<int>{int(Kind::LoseCharacters)};
        QTest::newRow("both questions, in order")
            << "Забытая"
            << "日" << true << Refusal::None
            << QList<int>{int(Kind::ReplaceUnlistedFile), int(Kind::LoseCharacters)};
    }
    void check() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(bool, fileChosen);
        QFETCH(Refusal, refusal);
        QFETCH(QList<int>, questions);
        QTemporaryDir dir;
        TestFiles::write(dir.filePath(QStringLiteral("books.dat")),
                         cp1251(QStringLiteral("Повесть=старая\r\n")));
        QDir(dir.path()).mkdir(QStringLiteral("books"));
        TestFiles::write(dir.filePath(QStringLiteral("books/Повесть.boo")), "x");
        TestFiles::write(dir.filePath(QStringLiteral("books/Забытая.boo")), "y");
        Library library;
        library.folder().setProgramFolder(dir.path() + QLatin1Char('/'));
        library.load(nullptr);

        const BookPreparation::Prepared prepared = BookPreparation::check(
            library, name, QStringLiteral("заметка\nвторая"), text, fileChosen);
        QCOMPARE(prepared.refusal, refusal);
        QCOMPARE(prepared.message, BookPreparation::refusalMessage(refusal, name));
        QList<int> asked;
        for (const BookPreparation::Question& question : prepared.questions)
            asked.append(int(question.kind));
        QCOMPARE(asked, questions);
        if (refusal == Refusal::None) {
            QCOMPARE(prepared.note, QStringLiteral("заметка"));
            QCOMPARE(prepared.bytes, Cp1251::encodeStorable(text));
        } else {
            QVERIFY(prepared.bytes.isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestBookPreparation)
#include "test_book_preparation.moc"

#include "core/base/tomeria_error.h"
#include "core/library/catalogue.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using TestFiles::cp1251;
using TestFiles::errorOf;

namespace {

QStringList lines(const Catalogue& c) {
    QStringList out;
    for (int i = 0; i < c.rowCount(); ++i)
        out << c.lineAt(i);
    return out;
}

} // namespace

class TestCatalogue : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("books.dat")); }
    Catalogue loaded(const QByteArray& bytes) {
        TestFiles::write(path(), bytes);
        Catalogue c;
        c.LoadCatalogue(path());
        return c;
    }
    QByteArray saved(const Catalogue& c) {
        c.SaveCatalogue(path());
        return TestFiles::read(path());
    }

private Q_SLOTS:
    void fileRoundTrips_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QByteArray>("savedBytes");
        QTest::newRow("initial blank row")
            << QByteArray("\r\n") << QStringList{""} << QByteArray("\r\n");
        QTest::newRow("empty file") << QByteArray() << QStringList{} << QByteArray();
        QTest::newRow("LF and no final end")
            << QByteArray("a=1\nb=2") << QStringList{"a=1", "b=2"} << QByteArray("a=1\r\nb=2\r\n");
        QTest::newRow("LF CR makes an empty row")
            << QByteArray("a=1\n\rb=2") << QStringList{"a=1", "", "b=2"}
            << QByteArray("a=1\r\n\r\nb=2\r\n");
        QTest::newRow("lone CR") << QByteArray("a=1\rb=2\r") << QStringList{"a=1", "b=2"}
                                 << QByteArray("a=1\r\nb=2\r\n");
        QTest::newRow("NUL kept, and the rows after it")
            << QByteArray("a=1\r\nb\0=2\r\nc=3", 14)
            << QStringList{"a=1", QString::fromLatin1("b\0=2", 4), "c=3"}
            << QByteArray("a=1\r\nb\0=2\r\nc=3\r\n", 16);
        QTest::newRow("one line, LF LF: an empty row after it")
            << QByteArray("a=1\n\n") << QStringList{"a=1", ""} << QByteArray("a=1\r\n\r\n");
        QTest::newRow("one line, LF CR")
            << QByteArray("a=1\n\r") << QStringList{"a=1", ""} << QByteArray("a=1\r\n\r\n");
        QTest::newRow("one line, CR")
            << QByteArray("a=1\r") << QStringList{"a=1"} << QByteArray("a=1\r\n");
        QTest::newRow("one line, no end")
            << QByteArray("a=1") << QStringList{"a=1"} << QByteArray("a=1\r\n");
        QTest::newRow("line without =") << cp1251(QStringLiteral("просто текст\r\n"))
                                        << QStringList{QStringLiteral("просто текст")}
                                        << cp1251(QStringLiteral("просто текст\r\n"));
    }
    void fileRoundTrips() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, rows);
        QFETCH(QByteArray, savedBytes);
        const Catalogue c = loaded(file);
        QCOMPARE(lines(c), rows);
        QCOMPARE(c.ListedRowCount(), qMax(1, int(rows.size())));
        QCOMPARE(saved(c), savedBytes);
    }

    void newCatalogueHoldsOneBlankRow() {
        Catalogue c;
        QCOMPARE(c.ListedRowCount(), 1);
        QCOMPARE(c.NameAt(0), QString());
        QCOMPARE(saved(c), QByteArray("\r\n"));
        const Catalogue empty = loaded(QByteArray());
        QCOMPARE(empty.NameAt(0), QString());
        QCOMPARE(empty.NameAt(5), QString()); // no rows: any index gives the empty name
    }

    void everyByteValueSurvivesLoadAndSave() {
        QByteArray line = "name=";
        for (int b = 1; b < 256; ++b)
            if (b != '\r' && b != '\n')
                line.append(char(b));
        const Catalogue c = loaded(line + "\r\n");
        QCOMPARE(saved(c), line + "\r\n");
    }

    void namesAndNotes() {
        const Catalogue c =
            loaded(cp1251(QStringLiteral("Роман=том 1=2\r\nпросто текст\r\nx=1\r\n=2\r\n")));
        QCOMPARE(c.NameAt(0), QStringLiteral("Роман"));
        QCOMPARE(c.NoteOf(QStringLiteral("роман")), QStringLiteral("том 1=2"));
        QCOMPARE(c.NameAt(1), QString());
        QVERIFY(!c.FindName(QStringLiteral("просто текст")).found);
        // The empty name finds the first row that begins with "=".
        QCOMPARE(c.FindName(QString()).row, 3);
        QCOMPARE(c.FindName(QStringLiteral("нет")).row, -1);
        // The name's length, told without decoding it, is that of the name NameAt gives.
        for (int row = 0; row < c.rowCount(); ++row)
            QCOMPARE(c.nameLengthAt(row), c.NameAt(row).size());
        QCOMPARE(errorOf([&] { c.NameAt(4); }), QStringLiteral("List index out of bounds (4)"));
        QCOMPARE(errorOf([&] { c.NameAt(-1); }), QStringLiteral("List index out of bounds (-1)"));
    }

    void nameMatchingIgnoresCaseInBothAlphabets_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<bool>("same");
        QTest::newRow("Cyrillic") << QStringLiteral("Книга") << QStringLiteral("КНИГА") << true;
        QTest::newRow("Yo") << QStringLiteral("Ёлка") << QStringLiteral("ёЛКА") << true;
        QTest::newRow("Latin") << QStringLiteral("Book") << QStringLiteral("bOOK") << true;
        QTest::newRow("trailing space counts")
            << QStringLiteral("Book") << QStringLiteral("Book ") << false;
        QTest::newRow("e is not yo") << QStringLiteral("елка") << QStringLiteral("ёлка") << false;
    }
    void nameMatchingIgnoresCaseInBothAlphabets() {
        QFETCH(QString, stored);
        QFETCH(QString, asked);
        QFETCH(bool, same);
        Catalogue c = loaded(cp1251(stored + QStringLiteral("=note\r\n")));
        QCOMPARE(c.FindName(asked).found, same);
        QCOMPARE(errorOf([&] { c.AddRecord(asked, QStringLiteral("x")); }).isEmpty(), !same);
    }

    void addRecordFillsABlankCurrentRowOrAppends() {
        Catalogue initial;
        QCOMPARE(initial.AddRecord(QStringLiteral("a=b"), QStringLiteral("n")), 0);
        QCOMPARE(lines(initial), QStringList{"a=n"});
        QCOMPARE(saved(initial), QByteArray("a=n\r\n"));

        Catalogue noRows = loaded(QByteArray());
        QCOMPARE(noRows.AddRecord(QStringLiteral("a"), QStringLiteral("1")), 0);
        QCOMPARE(noRows.rowCount(), 1);

        Catalogue rows = loaded("x=1\r\ny=2\r\n");
        rows.SelectRow(1);
        QCOMPARE(rows.AddRecord(QStringLiteral("a=b"), QStringLiteral("n")), 2);
        QCOMPARE(lines(rows), (QStringList{"x=1", "y=2", "a=b=n"}));
        QCOMPARE(rows.CurrentRow(), 1);
        QCOMPARE(rows.FindName(QStringLiteral("A")).row, 2);
    }

    void addRecordRefusesAnExistingName() {
        Catalogue c = loaded(cp1251(QStringLiteral("роман=старая\r\n")));
        QCOMPARE(errorOf([&] { c.AddRecord(QStringLiteral("Роман"), QStringLiteral("новая")); }),
                 QStringLiteral("A key with the name of \"Роман\" already exists"));
        QCOMPARE(lines(c), QStringList{QStringLiteral("роман=старая")});
        // A line without "=" never blocks a name.
        Catalogue plain = loaded(cp1251(QStringLiteral("просто текст\r\n")));
        plain.SelectRow(0);
        QCOMPARE(plain.AddRecord(QStringLiteral("просто текст"), QString()), 1);
    }

    void selectRowDropsBlankRows() {
        Catalogue c = loaded("\r\n\r\na=1\r\n");
        c.SelectRow(2);
        QCOMPARE(lines(c), QStringList{"a=1"});
        QCOMPARE(c.CurrentRow(), 0);

        Catalogue d = loaded("a=1\r\n\r\n\r\n");
        d.SelectRow(2);
        d.SelectRow(0);
        QCOMPARE(lines(d), (QStringList{"a=1", ""}));
        QCOMPARE(d.CurrentRow(), 0);

        Catalogue e = loaded("a=1\r\n");
        QCOMPARE(errorOf([&] { e.SelectRow(-1); }), QStringLiteral("Grid index out of range"));
        QCOMPARE(errorOf([&] { e.SelectRow(1); }), QStringLiteral("Grid index out of range"));
        QCOMPARE(e.CurrentRow(), 0);
    }

    void removeRecordKeepsTheCurrentRowInRange() {
        Catalogue c = loaded("A=1\r\nB=2\r\nC=3\r\n");
        c.SelectRow(2);
        c.RemoveRecord(2);
        QCOMPARE(lines(c), (QStringList{"A=1", "B=2"}));
        QCOMPARE(c.CurrentRow(), 1);
        QVERIFY(!c.FindName(QStringLiteral("c")).found);

        Catalogue d = loaded("A=1\r\nB=2\r\nC=3\r\n");
        d.RemoveRecord(0);
        QCOMPARE(lines(d), (QStringList{"B=2", "C=3"}));
        QCOMPARE(d.CurrentRow(), 0);
        QCOMPARE(d.FindName(QStringLiteral("C")).row, 1);

        Catalogue empty = loaded(QByteArray());
        QCOMPARE(errorOf([&] { empty.RemoveRecord(0); }),
                 QStringLiteral("List index out of bounds (0)"));

        Catalogue blank;
        blank.RemoveRecord(0);
        QCOMPARE(saved(blank), QByteArray());
    }

    void repeatedNamesInTheFileAreAllKept() {
        const Catalogue c = loaded("a=1\r\nb=2\r\nA=3\r\nc=4\r\n");
        QCOMPARE(lines(c), (QStringList{"a=1", "b=2", "A=3", "c=4"}));
        QCOMPARE(c.FindName(QStringLiteral("a")).row, 0);
        QCOMPARE(c.NoteOf(QStringLiteral("A")), QStringLiteral("1"));
    }

    // Names of any length, some past what the index holds, found as a scan in row order
    // finds them (letter case ignored), through adds and removals; a long line is kept
    // byte for byte.
    void longNamesAreFoundAsAScanFindsThem() {
        QRandomGenerator random(29);
        const QString letters = QStringLiteral("aAяЯ");
        const auto name = [&] {
            const bool isLong = random.bounded(2) == 0;
            QString n(isLong ? 4096 + int(random.bounded(3)) : 1 + int(random.bounded(3)),
                      QLatin1Char('x'));
            for (int i = 0; i < 3 && i < n.size(); ++i)
                n[n.size() - 1 - i] = letters[int(random.bounded(letters.size()))];
            return n;
        };
        QByteArray file;
        for (int i = 0; i < 60; ++i)
            file += cp1251(name() + QStringLiteral("=") + QString::number(i)) + "\r\n";
        Catalogue c = loaded(file);
        QCOMPARE(saved(c), file);
        const auto reference = [&](const QString& wanted) {
            for (int row = 0; row < c.rowCount(); ++row) {
                const QString line = c.lineAt(row);
                if (line.contains(QLatin1Char('=')) &&
                    Catalogue::LineName(line).toCaseFolded() == wanted.toCaseFolded())
                    return row;
            }
            return -1;
        };
        for (int step = 0; step < 300; ++step) {
            const QString wanted = name();
            QCOMPARE(c.FindName(wanted).row, reference(wanted));
            if (step % 7 == 0 && c.rowCount() > 1)
                c.RemoveRecord(int(random.bounded(c.rowCount())));
            else if (step % 5 == 0 && !c.FindName(wanted).found)
                c.AddRecord(wanted, QStringLiteral("n"));
        }
    }

    void indexStaysExactThroughChanges() {
        Catalogue c = loaded("a=1\r\nb=2\r\nA=3\r\n");
        c.RemoveRecord(0); // the repeated name now leads
        QCOMPARE(c.FindName(QStringLiteral("a")).row, 1);
        QCOMPARE(c.NoteOf(QStringLiteral("a")), QStringLiteral("3"));
    }

    void loadFailureLeavesTheCatalogueAlone() {
        Catalogue c;
        c.AddRecord(QStringLiteral("x"), QStringLiteral("1"));
        const QString missing = m_dir.filePath(QStringLiteral("none.dat"));
        QCOMPARE(errorOf([&] { c.LoadCatalogue(missing); }),
                 QStringLiteral("Cannot open file ") + missing);
        QCOMPARE(errorOf([&] { c.LoadCatalogue(m_dir.path()); }),
                 QStringLiteral("Cannot open file ") + m_dir.path());
        QCOMPARE(lines(c), QStringList{"x=1"});
    }

    void failedSavesKeepThePreviousFile() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("books.dat"));
        TestFiles::write(file, "old=1\r\n");
        Catalogue c;
        c.AddRecord(QStringLiteral("new"), QStringLiteral("2"));

        TestFiles::setReadOnly(dir.path(), true);
        QCOMPARE(errorOf([&] { c.SaveCatalogue(file); }),
                 QStringLiteral("Cannot create file ") + file);
        TestFiles::setReadOnly(dir.path(), false);
        QCOMPARE(TestFiles::read(file), QByteArray("old=1\r\n"));

        TestFiles::setReadOnly(file, true);
        QCOMPARE(errorOf([&] { c.SaveCatalogue(file); }),
                 QStringLiteral("Cannot create file ") + file);
        TestFiles::setReadOnly(file, false);
        QCOMPARE(TestFiles::read(file), QByteArray("old=1\r\n"));

        if (QFile::exists(QStringLiteral("/dev/full")))
            QCOMPARE(errorOf([&] { c.SaveCatalogue(QStringLiteral("/dev/full")); }),
                     QStringLiteral("Stream write error"));

        const QString folder = dir.filePath(QStringLiteral("folder"));
        QDir().mkdir(folder);
        QCOMPARE(errorOf([&] { c.SaveCatalogue(folder); }),
                 QStringLiteral("Cannot create file ") + folder);
        // No temporary file is left behind.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"books.dat"});
    }
};

QTEST_APPLESS_MAIN(TestCatalogue)
#include "test_catalogue.moc"

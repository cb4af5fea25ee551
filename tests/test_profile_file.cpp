#include "core/base/tomeria_error.h"
#include "core/settings/profile_file.h"
#include "support/test_files.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestProfileFile : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("tomeria.ini")); }

private Q_SLOTS:
    void reading_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        const QByteArray file =
            "[Other]\r\nKey=other\r\n[tform1]\r\nkey =  spaced  \r\nQ1=\"quoted\"\r\n"
            "Q2='single'\r\nQ3=\"open\r\nEmpty=\r\nHex=0x1F\r\n";
        QTest::newRow("blanks removed, names any case") << file << "KEY"
                                                        << "spaced";
        QTest::newRow("double quotes") << file << "Q1"
                                       << "quoted";
        QTest::newRow("single quotes") << file << "Q2"
                                       << "single";
        QTest::newRow("unpaired quote kept") << file << "Q3"
                                             << "\"open";
        QTest::newRow("present but empty") << file << "Empty"
                                           << "";
        QTest::newRow("missing key") << file << "None"
                                     << "default";
        QTest::newRow("missing section") << QByteArray("[Other]\r\nkey=x\r\n") << "key"
                                         << "default";
        QTest::newRow("LF line ends") << QByteArray("[TForm1]\nkey=lf\n") << "key"
                                      << "lf";
    }
    void reading() {
        QFETCH(QByteArray, file);
        QFETCH(QString, key);
        QFETCH(QString, value);
        TestFiles::write(path(), file);
        QCOMPARE(
            ProfileFile(path()).readText(QStringLiteral("TForm1"), key, QStringLiteral("default")),
            value);
    }

    void integers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("decimal") << "42" << 42;
        QTest::newRow("negative") << "-7" << -7;
        QTest::newRow("hex") << "0x1F" << 31;
        QTest::newRow("hex upper") << "0XfF" << 255;
        QTest::newRow("just 0x") << "0x" << 99;
        QTest::newRow("not a number") << "12abc" << 99;
        QTest::newRow("empty") << "" << 99;
    }
    void integers() {
        QFETCH(QString, text);
        QFETCH(int, value);
        TestFiles::write(path(), "[S]\r\nk=" + text.toLatin1() + "\r\n");
        QCOMPARE(ProfileFile(path()).readInteger(QStringLiteral("S"), QStringLiteral("k"), 99),
                 value);
    }

    void missingFileGivesDefaultsAndIsCreatedOnWrite() {
        QTemporaryDir dir;
        ProfileFile file(dir.filePath(QStringLiteral("new.ini")));
        QCOMPARE(file.readText(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("d")),
                 QStringLiteral("d"));
        file.writeText(QStringLiteral("TForm1"), QStringLiteral("A"), QStringLiteral("1"));
        file.writeInteger(QStringLiteral("TForm1"), QStringLiteral("B"), -2);
        file.writeFlag(QStringLiteral("TForm1"), QStringLiteral("C"), true);
        QVERIFY(!QFile::exists(file.path())); // nothing is written before the save
        file.save();
        QCOMPARE(TestFiles::read(file.path()), QByteArray("[TForm1]\r\nA=1\r\nB=-2\r\nC=1\r\n"));
    }

    void writesTouchOnlyTheirKey() {
        const QByteArray before = "; comment\n[First]\r\nx = "
                                  "1\r\n\r\n[tform1]\r\nformversion=5\r\nKeep=\"as is\"  \r\n\r\n"
                                  "[Last]\r\ny=2";
        TestFiles::write(path(), before);
        ProfileFile file(path());
        file.writeText(QStringLiteral("Added"), QStringLiteral("z"), QStringLiteral("0"));
        file.writeText(QStringLiteral("TForm1"), QStringLiteral("FormVersion"),
                       QStringLiteral("0"));
        file.writeText(QStringLiteral("TForm1"), QStringLiteral("NewKey"), QStringLiteral("v"));
        file.writeText(QStringLiteral("added"), QStringLiteral("Z"), QStringLiteral("3"));
        // Reads see the writes before the save; a key written twice is one line.
        QCOMPARE(file.readText(QStringLiteral("TFORM1"), QStringLiteral("newkey"), QString()),
                 QStringLiteral("v"));
        QCOMPARE(file.readInteger(QStringLiteral("Added"), QStringLiteral("z"), 9), 3);
        QCOMPARE(TestFiles::read(path()), before);
        file.save();
        QCOMPARE(TestFiles::read(path()),
                 QByteArray("; comment\n[First]\r\nx = "
                            "1\r\n\r\n[tform1]\r\nFormVersion=0\r\nKeep=\"as is\"  \r\n"
                            "NewKey=v\r\n\r\n[Last]\r\ny=2\r\n[Added]\r\nZ=3\r\n"));
    }

    void onlyTheFirstOfTwoLikeNamedSectionsIsWritten() {
        TestFiles::write(path(), "[S]\r\na=1\r\n[T]\r\n[s]\r\nb=2\r\na=3\r\n");
        ProfileFile file(path());
        QCOMPARE(file.readText(QStringLiteral("S"), QStringLiteral("b"), QString()),
                 QStringLiteral("2"));
        file.writeText(QStringLiteral("S"), QStringLiteral("a"), QStringLiteral("4"));
        file.writeText(QStringLiteral("S"), QStringLiteral("c"), QStringLiteral("5"));
        file.save();
        QCOMPARE(TestFiles::read(path()),
                 QByteArray("[S]\r\na=4\r\nc=5\r\n[T]\r\n[s]\r\nb=2\r\na=3\r\n"));
    }

    void hugeFileOfEmptyLinesKeepsItsLines() {
        // Megabytes of blank lines: the keys after them are found and written in
        // place, every blank line stays.
        const QByteArray blanks = QByteArray("\r\n").repeated(3'000'000);
        TestFiles::write(path(), "[TForm1]\r\n" + blanks + "NormPos=1,2,3,4\r\n" + blanks);
        ProfileFile file(path());
        QCOMPARE(file.readText(QStringLiteral("TForm1"), QStringLiteral("NormPos"), QString()),
                 QStringLiteral("1,2,3,4"));
        file.writeText(QStringLiteral("TForm1"), QStringLiteral("NormPos"),
                       QStringLiteral("5,6,7,8"));
        file.writeText(QStringLiteral("TForm1"), QStringLiteral("Visible"), QStringLiteral("0"));
        file.save();
        QCOMPARE(TestFiles::read(path()),
                 "[TForm1]\r\n" + blanks + "NormPos=5,6,7,8\r\nVisible=0\r\n" + blanks);
    }

    void cyrillicValuesAreCodePage1251() {
        TestFiles::write(path(), QByteArray());
        ProfileFile file(path());
        file.writeText(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("Книга"));
        file.save();
        QCOMPARE(TestFiles::read(path()),
                 "[S]\r\nk=" + TestFiles::cp1251(QStringLiteral("Книга")) + "\r\n");
        QCOMPARE(file.readText(QStringLiteral("S"), QStringLiteral("k"), QString()),
                 QStringLiteral("Книга"));
    }

    // The window settings are written in one go; the file must come out as if the keys
    // were written one after the other (replaced in place, new ones at the section's end,
    // a missing section at the end of the file).
    void severalKeysInOneWriteAsOneAfterTheOther() {
        const QByteArray start = "; note\r\n[A]\r\nx=1\r\n\r\n[s]\r\nK=old\r\n\r\n[B]\r\ny=2";
        const QList<std::pair<QString, QString>> keys{
            {"k", "new"}, {"added", "1"}, {"K", "newer"}, {"Visible", "0"}};
        TestFiles::write(path(), start);
        for (const auto& [key, value] : keys) {
            ProfileFile file(path());
            file.writeText(QStringLiteral("S"), key, value);
            file.save();
        }
        const QByteArray oneByOne = TestFiles::read(path());
        TestFiles::write(path(), start);
        ProfileFile together(path());
        for (const auto& [key, value] : keys)
            together.writeText(QStringLiteral("S"), key, value);
        together.save();
        QCOMPARE(TestFiles::read(path()), oneByOne);
        QCOMPARE(oneByOne, QByteArray("; note\r\n[A]\r\nx=1\r\n\r\n[s]\r\nK=newer\r\nadded=1\r\n"
                                      "Visible=0\r\n\r\n[B]\r\ny=2"));
        ProfileFile added(path());
        added.writeText(QStringLiteral("New"), QStringLiteral("a"), QStringLiteral("1"));
        added.writeText(QStringLiteral("New"), QStringLiteral("b"), QStringLiteral("2"));
        added.save();
        QVERIFY(TestFiles::read(path()).endsWith("y=2\r\n[New]\r\na=1\r\nb=2\r\n"));
    }

    void longValuesAreCut() {
        TestFiles::write(path(), "[S]\r\nk=" + QByteArray(3000, 'v') + "\r\n");
        QCOMPARE(ProfileFile(path())
                     .readText(QStringLiteral("S"), QStringLiteral("k"), QString())
                     .size(),
                 2047);
    }

    void failedWriteLeavesTheFileAndSaysSo() {
        TestFiles::write(path(), "[S]\r\nk=1\r\n");
        TestFiles::setReadOnly(path(), true);
        QString message;
        try {
            ProfileFile file(path());
            file.writeText(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("2"));
            file.save();
        } catch (const TomeriaError& e) {
            message = e.message();
        }
        TestFiles::setReadOnly(path(), false);
        QCOMPARE(message, QStringLiteral("Unable to write to ") + path());
        QCOMPARE(TestFiles::read(path()), QByteArray("[S]\r\nk=1\r\n"));
    }
};

QTEST_APPLESS_MAIN(TestProfileFile)
#include "test_profile_file.moc"

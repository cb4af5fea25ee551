#include "core/base/cp1251.h"

#include <QTest>

class TestCp1251 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyByteSurvivesARoundTrip() {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        const QString text = Cp1251::decode(all);
        QCOMPARE(text.size(), 256);
        QCOMPARE(Cp1251::encode(text), all);
        // Each byte is its own character.
        QCOMPARE(QSet<QChar>(text.begin(), text.end()).size(), 256);
    }

    void russianLettersMapToUnicode() {
        QCOMPARE(Cp1251::decode("\xC0\xFF\xA8\xB8\xB9"), QStringLiteral("АяЁё№"));
        QCOMPARE(Cp1251::encode(QStringLiteral("Книга")), QByteArray("\xCA\xED\xE8\xE3\xE0"));
        QCOMPARE(Cp1251::decode("\x98"), QString(QChar(0x98)));
    }

    void charactersWithoutAFormBecomeQuestionMarks() {
        QCOMPARE(Cp1251::encode(QStringLiteral("a\u4E2Db")), QByteArray("a?b"));
        // A character outside the basic plane is one question mark, not two.
        QCOMPARE(Cp1251::encode(QString::fromUtf8("x\xF0\x9F\x98\x80y")), QByteArray("x?y"));
        QCOMPARE(Cp1251::fromUnicode(0x00E9), -1);
    }

    // What a stored book keeps of characters the code page lacks.
    void storableFormsKeepTheTextReadable_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("stored");
        QTest::newRow("stress mark") << QStringLiteral("за\u0301мок") << QStringLiteral("замок");
        QTest::newRow("stress on a capital") << QStringLiteral("А\u0301") << QStringLiteral("А");
        QTest::newRow("й and ё written as letter and mark")
            << QStringLiteral("и\u0306 е\u0308") << QStringLiteral("й ё");
        QTest::newRow("latin accents") << QStringLiteral("café Ångström naïve Łódź")
                                       << QStringLiteral("cafe Angstrom naive Lodz");
        QTest::newRow("decomposed latin accent")
            << QStringLiteral("cafe\u0301") << QStringLiteral("cafe");
        QTest::newRow("thin and em spaces")
            << QStringLiteral("1\u2009000\u2003a") << QStringLiteral("1 000 a");
        QTest::newRow("narrow no-break space")
            << QStringLiteral("5\u202Fкг") << QStringLiteral("5\u00A0кг");
        QTest::newRow("hyphens and minus") << QStringLiteral("Ростов\u2011на\u2010Дону, \u22125")
                                           << QStringLiteral("Ростов-на-Дону, -5");
        QTest::newRow("dashes") << QStringLiteral("a\u2012b\u2015c") << QStringLiteral("a–b—c");
        QTest::newRow("quotes and ellipsis of the code page stay")
            << QStringLiteral("«а» „б“ ‘в’ …") << QStringLiteral("«а» „б“ ‘в’ …");
        QTest::newRow("other ellipses and primes")
            << QStringLiteral("а\u22EF 5\u2032 6\u2033") << QStringLiteral("а… 5' 6\"");
        QTest::newRow("zero-width marks")
            << QStringLiteral("\uFEFFсло\u200Bво") << QStringLiteral("слово");
        QTest::newRow("wide latin letter") << QStringLiteral("\uFF21") << QStringLiteral("A");
        QTest::newRow("no near form") << QStringLiteral("a\u4E2Db") << QStringLiteral("a\u4E2Db");
        QTest::newRow("every code-page character unchanged")
            << Cp1251::decode(QByteArray::fromHex("20414243c0e0a8b8b996978485ab"))
            << Cp1251::decode(QByteArray::fromHex("20414243c0e0a8b8b996978485ab"));
    }
    void storableFormsKeepTheTextReadable() {
        QFETCH(QString, text);
        QFETCH(QString, stored);
        QCOMPARE(Cp1251::storable(text), stored);
        QCOMPARE(Cp1251::encodeStorable(text), Cp1251::encode(stored));
    }

    void missingCharactersAreListedOnceInOrder() {
        const QString text = QStringLiteral("a\u4E2D\U0001F600b\u4E2D\u2603");
        QCOMPARE(Cp1251::missingCharacters(text, 5),
                 (QStringList{QStringLiteral("\u4E2D"), QStringLiteral("\U0001F600"),
                              QStringLiteral("\u2603")}));
        QCOMPARE(Cp1251::missingCharacters(text, 2).size(), 2);
        QVERIFY(Cp1251::missingCharacters(QStringLiteral("Книга «Ё» — №1"), 5).isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestCp1251)
#include "test_cp1251.moc"

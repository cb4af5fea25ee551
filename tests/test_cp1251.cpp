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
};

QTEST_APPLESS_MAIN(TestCp1251)
#include "test_cp1251.moc"

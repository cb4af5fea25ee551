#include "core/text/imported_text.h"
#include "core/text/text_import.h"
#include "support/test_files.h"

#include <QTest>

using namespace TextImport;

class TestTextImport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void encodingDetection_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("code page 1251")
            << TestFiles::cp1251(QStringLiteral("Привет, мир")) << QStringLiteral("Привет, мир");
        QTest::newRow("UTF-8 without mark")
            << QStringLiteral("Привет").toUtf8() << QStringLiteral("Привет");
        QTest::newRow("UTF-8 with mark")
            << QByteArray("\xEF\xBB\xBF") + QStringLiteral("Ёж").toUtf8() << QStringLiteral("Ёж");
        QTest::newRow("UTF-16 LE")
            << QByteArray("\xFF\xFE\x1F\x04\x40\x04", 6) << QStringLiteral("Пр");
        QTest::newRow("UTF-16 BE")
            << QByteArray("\xFE\xFF\x04\x1F\x04\x40", 6) << QStringLiteral("Пр");
        QTest::newRow("ASCII") << QByteArray("plain") << QStringLiteral("plain");
        // Bytes that only look like the start of UTF-8 stay code page 1251.
        QTest::newRow("broken UTF-8") << QByteArray("\xD0\xD0") << QStringLiteral("РР");
        QTest::newRow("overlong UTF-8") << QByteArray("\xC0\xAF") << QStringLiteral("А\u0407");
        QTest::newRow("truncated UTF-8") << QByteArray("ok\xD0") << QStringLiteral("okР");
    }
    void encodingDetection() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(decode(bytes), text);
    }

    // A file cut in the middle of a character reads alike as a book of the library and
    // as an import: the cut character is shown as damaged, never dropped.
    void aDamagedEndingReadsAlikeEverywhere_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("UTF-8 with a mark") << QByteArray("\xEF\xBB\xBF"
                                                         "abc\xD0")
                                           << QStringLiteral("abc\uFFFD");
        QTest::newRow("UTF-8 with a mark, a lead byte alone")
            << QByteArray("\xEF\xBB\xBF\xF1") << QStringLiteral("\uFFFD");
        QTest::newRow("UTF-16 LE, odd length") << QByteArray("\xFF\xFE"
                                                             "a\0b",
                                                             5)
                                               << QStringLiteral("a\uFFFD");
        QTest::newRow("UTF-16 BE, half a surrogate pair")
            << QByteArray("\xFE\xFF\0a\xD8\x3D", 6) << QStringLiteral("a\uFFFD");
    }
    void aDamagedEndingReadsAlikeEverywhere() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(decode(bytes), text);
        QCOMPARE(ImportedText::decode(bytes), text);
    }

    void lineBreaksBecomeOne_data() {
        QTest::addColumn<QStringList>("pieces");
        QTest::addColumn<QString>("expected");
        QTest::newRow("CR LF") << QStringList{"a\r\nb"} << QStringLiteral("a|b");
        QTest::newRow("lone LF") << QStringList{"a\nb\n"} << QStringLiteral("a|b|");
        QTest::newRow("lone CR") << QStringList{"a\rb\r"} << QStringLiteral("a|b|");
        QTest::newRow("LF CR is two") << QStringList{"a\n\rb"} << QStringLiteral("a||b");
        QTest::newRow("pair split between pieces")
            << QStringList{"a\r", "\nb"} << QStringLiteral("a|b");
        QTest::newRow("CR then CR across pieces")
            << QStringList{"a\r", "\rb"} << QStringLiteral("a||b");
        QTest::newRow("empty pieces") << QStringList{"", "a\r", "", "\n"} << QStringLiteral("a|");
    }
    void lineBreaksBecomeOne() {
        QFETCH(QStringList, pieces);
        QFETCH(QString, expected);
        LineBreakNormaliser normaliser(u"|");
        QString out;
        for (const QString& piece : pieces)
            normaliser.feed(piece, out);
        normaliser.finish(out);
        QCOMPARE(out, expected);
    }

    void inPlaceNormalisingAgreesWithPieces() {
        // Random texts of CR, LF and letters, long enough to cross the in-place pieces.
        quint32 seed = 12345;
        for (int round = 0; round < 20; ++round) {
            QString text;
            const int size = 100000 + round * 7919;
            for (int i = 0; i < size; ++i) {
                seed = seed * 1103515245 + 12345;
                const int pick = (seed >> 16) % 6;
                text += pick == 0 ? QChar(u'\r') : pick == 1 ? QChar(u'\n') : QChar(u'а' + pick);
            }
            LineBreakNormaliser normaliser(u"\n");
            QString expected;
            for (qsizetype pos = 0; pos < text.size(); pos += 333)
                normaliser.feed(QStringView(text).mid(pos, 333), expected);
            normaliser.finish(expected);
            normaliseInPlace(text);
            QCOMPARE(text, expected);
        }
    }
};

QTEST_APPLESS_MAIN(TestTextImport)
#include "test_text_import.moc"

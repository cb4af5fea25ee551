#include "core/rtf/rtf_reader.h"
#include "core/rtf/rtf_writer.h"

#include <QGuiApplication>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

QString textOf(const QByteArray& rtf) {
    RtfDocument doc;
    if (!readRtf(rtf, doc))
        return QStringLiteral("<not rtf>");
    return doc.plainText();
}

} // namespace

class TestRtf : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void constructs_data() {
        QTest::addColumn<QByteArray>("rtf");
        QTest::addColumn<QString>("text");
        QTest::newRow("paragraphs")
            << QByteArray("{\\rtf1 one\\par two\\par}") << QStringLiteral("one\ntwo\n");
        QTest::newRow("escaped braces")
            << QByteArray("{\\rtf1 a\\{b\\}c\\\\d}") << QStringLiteral("a{b}c\\d");
        QTest::newRow("hex in document code page")
            << QByteArray("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2}")
            << QStringLiteral("Привет");
        QTest::newRow("hex through font charset")
            << QByteArray("{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fswiss "
                          "Arial;}{\\f1\\fnil\\fcharset204 Arial CYR;}}"
                          "\\f0 caf\\'e9 \\f1 \\'c4\\'e0}")
            << QStringLiteral("café Да");
        QTest::newRow("raw bytes through font charset")
            << QByteArray("{\\rtf1\\ansi{\\fonttbl{\\f0\\fcharset204 X;}}\\f0 \xc4\xe0}")
            << QStringLiteral("Да");
        QTest::newRow("unicode with fallback skipped")
            << QByteArray("{\\rtf1\\uc1\\u1055?\\u1088?\\uc2\\u1080\\'3f\\'3f x}")
            << QStringLiteral("При x");
        QTest::newRow("negative unicode")
            << QByteArray("{\\rtf1\\u-3913?}") << QString(QChar(0xF0B7));
        QTest::newRow("unicode fallback ends with group")
            << QByteArray("{\\rtf1\\uc3{\\u1044}abc}") << QStringLiteral("Дabc");
        QTest::newRow("binary data skipped")
            << QByteArray("{\\rtf1 a{\\bin4 }}}}b}") << QStringLiteral("ab");
        QTest::newRow("ignorable destination")
            << QByteArray("{\\rtf1 a{\\*\\unknown zzz}b}") << QStringLiteral("ab");
        QTest::newRow("ignorable word inside a group")
            << QByteArray("{\\rtf1 {\\b0\\*\\cs7\\cf0 kept}}") << QStringLiteral("kept");
        QTest::newRow("known destinations skipped")
            << QByteArray(
                   "{\\rtf1{\\info{\\title T}}{\\stylesheet{\\s1 Heading;}}{\\header H}{\\footer F}"
                   "{\\pict\\pngblip 0123abcd}{\\colortbl;\\red1\\green2\\blue3;}text}")
            << QStringLiteral("text");
        QTest::newRow("field result")
            << QByteArray("{\\rtf1 see {\\field{\\*\\fldinst HYPERLINK \"x\"}"
                          "{\\fldrslt link}} here}")
            << QStringLiteral("see link here");
        QTest::newRow("table")
            << QByteArray("{\\rtf1\\trowd\\cellx100\\cellx200 a\\cell b\\cell\\row after}")
            << QStringLiteral("a\tb\t\nafter");
        QTest::newRow("line tab page")
            << QByteArray("{\\rtf1 a\\line b\\tab c\\page d}") << QStringLiteral("a\nb\tc\nd");
        QTest::newRow("special characters")
            << QByteArray(
                   "{\\rtf1 "
                   "\\emdash\\endash\\lquote\\rquote\\ldblquote\\rdblquote\\bullet\\~\\_ab\\-c}")
            << QStringLiteral("—–‘’“”•\u00A0\u2011ab\u00ADc");
        QTest::newRow("line ends in source ignored")
            << QByteArray("{\\rtf1 ab\r\ncd}") << QStringLiteral("abcd");
        QTest::newRow("control word delimiter blank")
            << QByteArray("{\\rtf1\\b bold\\b0  x}") << QStringLiteral("bold x");
        QTest::newRow("unbalanced closing") << QByteArray("{\\rtf1 a}}}b") << QStringLiteral("ab");
        QTest::newRow("truncated")
            << QByteArray("{\\rtf1 abc{\\b de\\'e") << QStringLiteral("abcde");
        QTest::newRow("leading blanks") << QByteArray(" \r\n{\\rtf1 x}") << QStringLiteral("x");
    }
    void constructs() {
        QFETCH(QByteArray, rtf);
        QFETCH(QString, text);
        QCOMPARE(textOf(rtf), text);
    }

    void plainTextIsNotRtf() {
        RtfDocument doc;
        QVERIFY(!readRtf("just text {\\rtf1}", doc));
        QVERIFY(!readRtf("", doc));
        QVERIFY(looksLikeRtf("{\\rtf1}"));
    }

    void formattingIsRead() {
        RtfDocument doc;
        QVERIFY(readRtf(
            "{\\rtf1{\\fonttbl{\\f0 Arial;}{\\f1 Times New "
            "Roman;}}{\\colortbl;\\red255\\green0\\blue0;}"
            "\\pard\\qc\\f1\\fs32\\b\\i\\ul\\strike\\cf1 Big\\plain  plain\\par\\pard\\qr right}",
            doc));
        QCOMPARE(doc.paragraphs.size(), 2);
        QCOMPARE(doc.paragraphs[0].alignment, Qt::AlignHCenter);
        QCOMPARE(doc.paragraphs[1].alignment, Qt::AlignRight);
        const RtfRun& big = doc.paragraphs[0].runs[0];
        QCOMPARE(big.text, QStringLiteral("Big"));
        QVERIFY(big.format.bold && big.format.italic && big.format.underline && big.format.strike);
        QCOMPARE(big.format.halfPoints, 32);
        QCOMPARE(doc.fonts.value(big.format.font).name, QStringLiteral("Times New Roman"));
        QCOMPARE(doc.colors.value(big.format.color), QColor(255, 0, 0));
        QVERIFY(!doc.paragraphs[0].runs[1].format.bold);
    }

    void hostileInputEndsQuickly_data() {
        QTest::addColumn<QByteArray>("rtf");
        QByteArray deep = "{\\rtf1 ";
        deep += QByteArray(100000, '{');
        deep += "deep";
        deep += QByteArray(100000, '}');
        QTest::newRow("100000 nested groups") << deep;
        QTest::newRow("huge bin count") << QByteArray("{\\rtf1 a\\bin2147483647 xyz}");
        QTest::newRow("huge parameter")
            << QByteArray("{\\rtf1\\fs99999999999999999 a\\u99999999999 b}");
        QTest::newRow("long control word")
            << QByteArray("{\\rtf1\\") + QByteArray(5000, 'a') + " x}";
        QByteArray junk = "{\\rtf1 ";
        for (int i = 0; i < 100000; ++i)
            junk.append(char((i * 7919) % 256));
        QTest::newRow("binary junk") << junk;
        QTest::newRow("only opening") << QByteArray("{\\rtf1") + QByteArray(50000, '{');
        QTest::newRow("backslash at end") << QByteArray("{\\rtf1 a\\");
    }
    void hostileInputEndsQuickly() {
        QFETCH(QByteArray, rtf);
        RtfDocument doc;
        QVERIFY(readRtf(rtf, doc));
        QTextDocument target;
        fillTextDocument(doc, target);
        QVERIFY(target.blockCount() >= 1);
    }

    void nestedTextIsKept() {
        QByteArray deep = "{\\rtf1 ";
        deep += QByteArray(100000, '{');
        deep += "deep";
        deep += QByteArray(100000, '}');
        QCOMPARE(textOf(deep), QStringLiteral("deep"));
    }

    void writerRoundTripsTextAndFormatting() {
        QTextDocument doc;
        doc.setDefaultFont(QFont(QStringLiteral("Arial"), 12));
        QTextCursor cursor(&doc);
        QTextCharFormat plain;
        plain.setFontPointSize(12);
        cursor.insertText(QStringLiteral("Обычный {текст} \\ €"), plain);
        QTextCharFormat bold = plain;
        bold.setFontWeight(QFont::Bold);
        bold.setFontItalic(true);
        bold.setFontUnderline(true);
        bold.setFontStrikeOut(true);
        bold.setForeground(QColor(0, 0, 255));
        bold.setFontFamilies({QStringLiteral("Courier New")});
        bold.setFontPointSize(20);
        cursor.insertText(QStringLiteral(" жирный 中文"), bold);
        QTextBlockFormat centred;
        centred.setAlignment(Qt::AlignHCenter);
        cursor.insertBlock(centred);
        cursor.insertText(QStringLiteral("\tвторой"), plain);

        const QByteArray rtf = writeRtf(doc);
        QVERIFY(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1251"));
        QVERIFY(rtf.contains("\\'ce"));     // О as a code-page escape
        QVERIFY(rtf.contains("\\u20013?")); // 中 as Unicode

        RtfDocument back;
        QVERIFY(readRtf(rtf, back));
        QCOMPARE(back.plainText(), QStringLiteral("Обычный {текст} \\ € жирный 中文\n\tвторой"));
        QCOMPARE(back.paragraphs[1].alignment, Qt::AlignHCenter);
        const RtfRun& run = back.paragraphs[0].runs[1];
        QVERIFY(run.format.bold && run.format.italic && run.format.underline && run.format.strike);
        QCOMPARE(run.format.halfPoints, 40);
        QCOMPARE(back.fonts.value(run.format.font).name, QStringLiteral("Courier New"));
        QCOMPARE(back.colors.value(run.format.color), QColor(0, 0, 255));
        QVERIFY(!back.paragraphs[0].runs[0].format.bold);
    }
};

QTEST_MAIN(TestRtf)
#include "test_rtf.moc"

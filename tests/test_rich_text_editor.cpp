#include "core/base/cp1251.h"
#include "core/base/regular_file.h"
#include "core/base/tomeria_error.h"
#include "support/test_files.h"
#include "ui/editor/rich_text_editor.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPrinter>
#include <QProcess>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using TestFiles::errorOf;
using TestFiles::pdfPages;
using TestFiles::run;

class TestRichTextEditor : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(name);
        TestFiles::write(path, bytes);
        return path;
    }

private Q_SLOTS:
    // Shift+Enter, pasted line and paragraph separators and separators in a loaded text
    // are all line breaks: CR LF in the text and the saved file, two characters in every
    // position.
    void everyLineSeparatorIsALineBreak() {
        RichTextEditor editor;
        editor.setPlainTextMode(true);
        editor.show();
        editor.setFocus();
        QTest::keyClicks(&editor, QStringLiteral("ab"));
        QTest::keyClick(&editor, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(&editor, QStringLiteral("cd"));
        QCOMPARE(editor.WholeText(), QStringLiteral("ab\r\ncd"));
        QCOMPARE(editor.SelectionStart(), 6);
        QCOMPARE(editor.LineOfChar(6), 1);
        QApplication::clipboard()->setText(QStringLiteral("x\u2028y\u2029z"));
        editor.PasteClipboard();
        QCOMPARE(editor.WholeText(), QStringLiteral("ab\r\ncdx\r\ny\r\nz"));
        QCOMPARE(editor.SelectionStart(), 13);
        editor.SaveFile(m_dir.filePath(QStringLiteral("typed.boo")));
        QCOMPARE(TestFiles::read(m_dir.filePath(QStringLiteral("typed.boo"))),
                 QByteArray("ab\r\ncdx\r\ny\r\nz"));

        editor.LoadFile(file(QStringLiteral("sep.txt"), QStringLiteral("один\u2028два").toUtf8()));
        QCOMPARE(editor.WholeText(), QStringLiteral("один\r\nдва"));
        editor.setSelectionStart(6);
        QCOMPARE(editor.LineOfChar(editor.SelectionStart()), 1);
    }

    void plainLoadsNormaliseLineBreaks_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("CR LF") << QByteArray("a\r\nb") << QByteArray("a\r\nb");
        QTest::newRow("LF only") << QByteArray("a\nb\n") << QByteArray("a\r\nb\r\n");
        QTest::newRow("CR only") << QByteArray("a\rb") << QByteArray("a\r\nb");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("code page bytes") << TestFiles::cp1251(QStringLiteral("Тест\r\nЁж"))
                                         << TestFiles::cp1251(QStringLiteral("Тест\r\nЁж"));
        QTest::newRow("UTF-8 saved as code page")
            << QStringLiteral("Привет\nмир").toUtf8()
            << TestFiles::cp1251(QStringLiteral("Привет\r\nмир"));
        QTest::newRow("NUL keeps what follows")
            << QByteArray("a\0b\r\nc", 6) << QByteArray("a\0b\r\nc", 6);
        QTest::newRow("non-breaking space kept") << QByteArray("a\xA0z") << QByteArray("a\xA0z");
    }
    void plainLoadsNormaliseLineBreaks() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, saved);
        RichTextEditor editor;
        editor.LoadFile(file(QStringLiteral("in.txt"), bytes));
        const QString out = m_dir.filePath(QStringLiteral("out.boo"));
        editor.SaveFile(out);
        QCOMPARE(TestFiles::read(out), saved);
    }

    void modeDecidesNotTheName() {
        const QByteArray rtf =
            "{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'e5\\'f0\\'e2\\'fb\\'e9\\par Second\\par}";
        RichTextEditor editor;
        editor.setPlainTextMode(true);
        editor.LoadFile(file(QStringLiteral("book.txt"), rtf));
        QCOMPARE(editor.WholeText(), QString::fromLatin1(rtf)); // RTF source shown as it is

        editor.setPlainTextMode(false);
        editor.LoadFile(file(QStringLiteral("book.txt"), rtf));
        QCOMPARE(editor.WholeText(), QStringLiteral("Первый\r\nSecond\r\n"));
        editor.setPlainTextMode(true);
        const QString out = m_dir.filePath(QStringLiteral("plain.boo"));
        editor.SaveFile(out);
        QCOMPARE(TestFiles::read(out), TestFiles::cp1251(QStringLiteral("Первый\r\nSecond\r\n")));

        editor.setPlainTextMode(false);
        editor.LoadFile(file(QStringLiteral("text.rtf"), "just text\nline 2"));
        QCOMPARE(editor.WholeText(), QStringLiteral("just text\r\nline 2"));
    }

    void richSaveReadsBack() {
        RichTextEditor editor;
        editor.setPlainTextMode(false);
        editor.LoadFile(
            file(QStringLiteral("f.rtf"),
                 "{\\rtf1{\\fonttbl{\\f0 Arial;}}\\f0\\b Bold\\b0  and \\u1046?\\par}"));
        const QString out = m_dir.filePath(QStringLiteral("again.rtf"));
        editor.SaveFile(out);
        RichTextEditor second;
        second.setPlainTextMode(false);
        second.LoadFile(out);
        QCOMPARE(second.WholeText(), QStringLiteral("Bold and Ж\r\n"));
        QVERIFY(second.document()->begin().begin().fragment().charFormat().font().bold());
    }

    void failedLoadsAndSavesChangeNothing() {
        RichTextEditor editor;
        editor.LoadFile(file(QStringLiteral("keep.txt"), "previous"));
        const QString missing = m_dir.filePath(QStringLiteral("missing.txt"));
        QCOMPARE(errorOf([&] { editor.LoadFile(missing); }),
                 QStringLiteral("Cannot open file ") + missing);
        QCOMPARE(errorOf([&] { editor.LoadFile(m_dir.path()); }),
                 QStringLiteral("Cannot open file ") + m_dir.path());
        QCOMPARE(editor.WholeText(), QStringLiteral("previous"));

        const QString target = file(QStringLiteral("target.boo"), "old text");
        TestFiles::setReadOnly(m_dir.path(), true);
        const QString error = errorOf([&] { editor.SaveFile(target); });
        TestFiles::setReadOnly(m_dir.path(), false);
        QCOMPARE(error, QStringLiteral("Cannot create file ") + target);
        QCOMPARE(TestFiles::read(target), QByteArray("old text"));
        QCOMPARE(errorOf([&] { editor.SaveFile(QString()); }),
                 QStringLiteral("Cannot create file "));
        QCOMPARE(errorOf([&] { editor.SaveFile(QStringLiteral("/dev/full")); }),
                 QStringLiteral("Failed to Save Stream"));
    }

    void onlyOrdinaryFilesOfAHoldableSizeAreRead() {
        // A FIFO would block the read and /dev/zero never ends: if either were read, this
        // test would hang until its time-out. Each is refused with the load message.
        RichTextEditor editor;
        editor.LoadFile(file(QStringLiteral("keep.txt"), "previous"));
        const QString fifo = m_dir.filePath(QStringLiteral("pipe.txt"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString device = m_dir.filePath(QStringLiteral("zero.rtf"));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), device));
        const QString socketPath = m_dir.filePath(QStringLiteral("socket.txt"));
        const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(socketPath);
        QVERIFY(size_t(native.size()) < sizeof address.sun_path);
        std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
        QCOMPARE(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        for (const bool plain : {true, false}) {
            editor.setPlainTextMode(plain);
            for (const QString& odd : {fifo, device, socketPath})
                QCOMPARE(errorOf([&] { editor.LoadFile(odd); }),
                         QStringLiteral("Cannot open file ") + odd);
        }
        ::close(sock);

        // Larger than the editor holds: refused from its size, nothing read.
        const QString huge = m_dir.filePath(QStringLiteral("huge.txt"));
        TestFiles::makeSparse(huge, RegularFile::kMaxSize + 1);
        QCOMPARE(errorOf([&] { editor.LoadFile(huge); }),
                 QStringLiteral("Файл %1 слишком велик: Tomeria открывает файлы размером до 128 МБ")
                     .arg(huge));
        QCOMPARE(editor.WholeText(), QStringLiteral("previous"));

        // Reading through a link to an ordinary file stays allowed.
        const QString link = m_dir.filePath(QStringLiteral("link.txt"));
        QVERIFY(QFile::link(file(QStringLiteral("real.txt"), "through a link"), link));
        editor.setPlainTextMode(true);
        editor.LoadFile(link);
        QCOMPARE(editor.WholeText(), QStringLiteral("through a link"));
    }

    void offsetsCountParagraphBreaksAsTwo() {
        RichTextEditor editor;
        QString text;
        for (int i = 0; i < 2000; ++i)
            text += QStringLiteral("строка %1\n").arg(i);
        text += QStringLiteral("последняя");
        editor.setPlainText(text);
        const QString whole = editor.WholeText();
        QCOMPARE(whole.size(), text.size() + 2000);
        for (const QString& word : {QStringLiteral("строка 0"), QStringLiteral("строка 1234"),
                                    QStringLiteral("последняя")}) {
            const int offset = int(whole.indexOf(word));
            editor.setSelectionStart(offset);
            editor.setSelectionLength(int(word.size()));
            QCOMPARE(editor.textCursor().selectedText(), word);
            QCOMPARE(editor.SelectionStart(), offset);
            QCOMPARE(editor.SelectionLength(), int(word.size()));
        }
        // A selection across a break counts the break as two.
        editor.setSelectionStart(0);
        editor.setSelectionLength(int(whole.indexOf(QStringLiteral("строка 1"))));
        QCOMPARE(editor.SelectionLength(), int(whole.indexOf(QStringLiteral("строка 1"))));
        QCOMPARE(editor.textCursor().selectedText(), QStringLiteral("строка 0\u2029"));
    }

    void displayLinesFollowTheWidth() {
        RichTextEditor editor;
        editor.resize(300, 200);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        const QString paragraph = QStringLiteral("слово ").repeated(60).trimmed();
        editor.setPlainText(paragraph + QStringLiteral("\nвторой абзац"));
        const QString narrow = editor.DisplayLine(0);
        QVERIFY(!narrow.isEmpty());
        QVERIFY(narrow.size() < paragraph.size());
        QVERIFY(paragraph.startsWith(narrow));
        const int lines = editor.lineCount();
        QVERIFY(lines > 2);
        QCOMPARE(editor.DisplayLine(lines - 1), QStringLiteral("второй абзац"));
        QCOMPARE(editor.DisplayLine(lines), QString());
        QCOMPARE(editor.LineOfChar(int(narrow.size())), 1);
        QCOMPARE(editor.FirstCharOfLine(1), int(narrow.size()));

        editor.resize(3000, 200);
        QCoreApplication::processEvents();
        QCOMPARE(editor.DisplayLine(0), paragraph);
        QCOMPARE(editor.lineCount(), 2);
        QCOMPARE(editor.LineOfChar(int(paragraph.size()) + 3), 1);
    }

    // The line at the top of the text area holds the same character after the text is
    // wrapped anew: a vertical scroll bar appearing once a long text has come in and been
    // scrolled to a place, or the window made narrower or wider.
    void theTopCharacterStaysWhenTheWidthChanges_data() {
        QTest::addColumn<int>("newWidth");
        QTest::addColumn<bool>("lastPage");
        QTest::newRow("the scroll bar appears") << 0 << false;
        QTest::newRow("narrower") << 350 << false;
        QTest::newRow("wider") << 900 << false;
        QTest::newRow("narrower, the last page") << 350 << true;
    }
    void theTopCharacterStaysWhenTheWidthChanges() {
        QFETCH(int, newWidth);
        QFETCH(bool, lastPage);
        QByteArray bytes;
        for (int i = 0; bytes.size() < 40000; ++i)
            bytes += TestFiles::cp1251(QStringLiteral("Абзац %1. ").arg(i) +
                                       QStringLiteral("слово ").repeated(i * 7 % 90) +
                                       QStringLiteral("\r\n"));
        RichTextEditor editor;
        editor.resize(600, 400);
        editor.setGuessEncoding(false);
        editor.LoadFile(file(QStringLiteral("short.boo"), "short"));
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QTRY_VERIFY(!editor.verticalScrollBar()->isVisible());
        editor.LoadFile(file(QStringLiteral("long.boo"), bytes));
        // A paragraph's start two thirds into the text, or the top of the last page.
        int place =
            editor.WholeText().indexOf(QStringLiteral("\r\n"), editor.textLength() * 2 / 3) + 2;
        editor.setSelectionStart(place);
        editor.scrollOffsetToTop(place);
        if (lastPage) {
            QTRY_VERIFY(editor.verticalScrollBar()->isVisible());
            editor.verticalScrollBar()->setValue(editor.verticalScrollBar()->maximum());
            place = editor.firstVisibleOffset();
        } else {
            QCOMPARE(editor.firstVisibleOffset(), place);
        }
        if (newWidth > 0)
            editor.resize(newWidth, 400);
        QTRY_VERIFY(editor.verticalScrollBar()->isVisible());
        QCoreApplication::processEvents();
        if (lastPage)
            QCOMPARE(editor.LineOfChar(editor.firstVisibleOffset()), editor.LineOfChar(place));
        else
            QCOMPARE(editor.firstVisibleOffset(), place);
        QVERIFY(editor.verticalScrollBar()->value() < editor.verticalScrollBar()->maximum());
    }

    // No-break spaces go to the clipboard, and come back from it, as they are; a cut of
    // the whole text pasted back saves the very bytes loaded.
    void cutAndPasteKeepNoBreakSpaces_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray words = TestFiles::cp1251(QStringLiteral("один\u00A0два — три\u00A0"));
        QTest::newRow("short lines") << QByteArray(words + "\r\n" + words + "\r\n\xA0");
        QTest::newRow("a paragraph held in pieces") << QByteArray("x\r\n" + words.repeated(2000));
    }
    void cutAndPasteKeepNoBreakSpaces() {
        QFETCH(QByteArray, bytes);
        RichTextEditor editor;
        editor.setGuessEncoding(false);
        editor.LoadFile(file(QStringLiteral("nbsp.boo"), bytes));
        editor.show();
        editor.setFocus();
        QTest::keyClick(&editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(&editor, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(editor.WholeText(), QString());
        const QString cut = QApplication::clipboard()->text();
        QCOMPARE(cut.count(QChar::Nbsp), bytes.count('\xA0'));
        QCOMPARE(cut, Cp1251::decode(bytes).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        QTest::keyClick(&editor, Qt::Key_V, Qt::ControlModifier);
        editor.SaveFile(m_dir.filePath(QStringLiteral("saved.boo")));
        QCOMPARE(TestFiles::read(m_dir.filePath(QStringLiteral("saved.boo"))), bytes);
    }

    // A selection from a paragraph's start into a later piece of it, cut or typed over,
    // leaves the paragraph break before it; one undo brings the text back.
    void replacingASelectionKeepsTheParagraphBreakBeforeIt_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("replacement");
        QTest::newRow("Ctrl+X") << int(Qt::Key_X) << QString() << QString();
        QTest::newRow("Delete") << int(Qt::Key_Delete) << QString() << QString();
        QTest::newRow("a letter") << int(Qt::Key_unknown) << QStringLiteral("z")
                                  << QStringLiteral("z");
        QTest::newRow("Enter") << int(Qt::Key_Return) << QString() << QStringLiteral("\r\n");
        QTest::newRow("Ctrl+V") << int(Qt::Key_V) << QString() << QStringLiteral("вставка");
    }
    void replacingASelectionKeepsTheParagraphBreakBeforeIt() {
        QFETCH(int, key);
        QFETCH(QString, text);
        QFETCH(QString, replacement);
        RichTextEditor editor;
        editor.setGuessEncoding(false);
        editor.LoadFile(file(QStringLiteral("long.boo"),
                             "x\r\n" + QByteArray("word ").repeated(5000) + "\r\nend"));
        QVERIFY(editor.softBreakCount() > 1);
        editor.show();
        editor.setFocus();
        const QString whole = editor.WholeText();
        QApplication::clipboard()->setText(QStringLiteral("вставка"));
        editor.setSelectionStart(3);
        editor.setSelectionLength(20000);
        if (!text.isEmpty())
            QTest::keyClicks(&editor, text);
        else
            QTest::keyClick(&editor, Qt::Key(key),
                            key == Qt::Key_X || key == Qt::Key_V ? Qt::ControlModifier
                                                                 : Qt::NoModifier);
        QCOMPARE(editor.WholeText(), whole.left(3) + replacement + whole.mid(20003));
        if (replacement.isEmpty()) {
            editor.UndoLast();
            QCOMPARE(editor.WholeText(), whole);
        }
    }

    // A formatted text offers its selection as HTML too, and its text as it is.
    void aFormattedSelectionIsCopiedWithItsHtml() {
        RichTextEditor editor;
        editor.setPlainTextMode(false);
        editor.LoadFile(file(QStringLiteral("f.rtf"), R"({\rtf1 {\b bold}\~text\par})"));
        editor.SelectWholeText();
        editor.CopySelection();
        const QMimeData* data = QApplication::clipboard()->mimeData();
        QVERIFY(data->text().contains(QStringLiteral("bold\u00A0text")));
        QVERIFY(data->hasHtml());
        QVERIFY(data->html().contains(QStringLiteral("font-weight")));
    }

    void lineCountsAgreeWithTheRealLayout() {
        RichTextEditor editor;
        editor.resize(500, 300);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QString text;
        for (int i = 0; i < 400; ++i)
            text += QStringLiteral("абв ").repeated(i % 37) + QStringLiteral("\tконец %1\n").arg(i);
        editor.setPlainText(text);
        const int counted = editor.lineCount();
        int real = 0;
        for (QTextBlock b = editor.document()->begin(); b.isValid(); b = b.next()) {
            editor.document()->documentLayout()->blockBoundingRect(b);
            real += b.layout()->lineCount();
        }
        QCOMPARE(counted, real);
    }

    void longParagraphsAreHeldInPiecesThatAreNoPartOfTheText() {
        // One line of 100,000 characters with a word of 1,000 letters in it: held in
        // pieces, yet text, offsets, find and saving are those of the one line.
        QString line;
        for (int i = 0; line.size() < 100000; ++i) {
            line += QStringLiteral("слово%1 ").arg(i);
            if (i == 5000)
                line += QString(1000, QChar(u'ы')) + QLatin1Char(' ');
        }
        line += QStringLiteral("конец");
        const QString text = QStringLiteral("первый\n") + line + QStringLiteral("\nпоследний");
        const QString crlf = QString(text).replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        const QString path = file(QStringLiteral("line.txt"), TestFiles::cp1251(text));
        RichTextEditor editor;
        editor.resize(600, 400);
        editor.LoadFile(path);
        QVERIFY(editor.softBreakCount() >= 100000 / 8192 + 1000 / 256);
        QCOMPARE(editor.document()->blockCount(), 3 + editor.softBreakCount());
        QCOMPARE(editor.WholeText(), crlf);
        for (QTextBlock b = editor.document()->begin(); b.isValid(); b = b.next()) {
            QVERIFY(b.length() - 1 <= 8192 + 256);
            QVERIFY(!b.text().isEmpty());
        }
        // Every offset maps to a position and back, across soft and paragraph breaks.
        for (int offset = 0; offset <= crlf.size(); offset += 97) {
            if (offset > 0 && crlf[offset - 1] == QLatin1Char('\r'))
                continue;
            QCOMPARE(editor.offsetOfPosition(editor.positionOfOffset(offset)), offset);
        }
        const QString word = QStringLiteral("слово9000 ");
        const int at = int(crlf.indexOf(word));
        editor.setSelectionStart(at);
        editor.setSelectionLength(int(word.size()));
        QCOMPARE(editor.SelectionStart(), at);
        QCOMPARE(editor.textCursor().selectedText(), word);
        const int last = int(crlf.indexOf(QStringLiteral("последний")));
        editor.setSelectionStart(last);
        QCOMPARE(editor.textCursor().block().text(), QStringLiteral("последний"));
        QCOMPARE(editor.textCursor().positionInBlock(), 0);
        const QString out = m_dir.filePath(QStringLiteral("line.boo"));
        editor.SaveFile(out);
        QCOMPARE(TestFiles::read(out), TestFiles::cp1251(crlf));
        // A copy of text across a soft break has no line break in it.
        editor.setSelectionStart(at - 9000);
        editor.setSelectionLength(18000);
        editor.copy();
        QCOMPARE(QGuiApplication::clipboard()->text(), crlf.mid(at - 9000, 18000));
    }

    void editsBesideASoftBreakChangeTheTextAsTyped() {
        const QString line = QStringLiteral("ab ").repeated(4000);
        RichTextEditor editor;
        editor.resize(600, 400);
        editor.LoadFile(file(QStringLiteral("edit.txt"), line.toLatin1()));
        QVERIFY(editor.softBreakCount() > 0);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        editor.setFocus();
        const QTextBlock second = editor.document()->begin().next();
        QVERIFY(RichTextEditor::continuesParagraph(second));
        const int cut = editor.offsetOfPosition(second.position());
        QString expected = line;
        auto at = [&](int offset) {
            editor.setSelectionStart(offset);
            editor.setSelectionLength(0);
        };

        // Backspace at a soft break removes the character before it, Delete the one after.
        at(cut);
        QTest::keyClick(&editor, Qt::Key_Backspace);
        expected.remove(cut - 1, 1);
        QCOMPARE(editor.WholeText(), expected);
        QCOMPARE(editor.SelectionStart(), cut - 1);
        QTest::keyClick(&editor, Qt::Key_Delete);
        expected.remove(cut - 1, 1);
        QCOMPARE(editor.WholeText(), expected);
        // Enter makes a paragraph break, also inside a piece; so do pasted line breaks.
        QTest::keyClick(&editor, Qt::Key_Return);
        expected.insert(cut - 1, QStringLiteral("\r\n"));
        QCOMPARE(editor.WholeText(), expected);
        at(cut + 10);
        QTest::keyClick(&editor, Qt::Key_Return);
        expected.insert(cut + 10, QStringLiteral("\r\n"));
        QCOMPARE(editor.WholeText(), expected);
        auto* pasted = new QMimeData;
        pasted->setText(QStringLiteral("x\ny"));
        QGuiApplication::clipboard()->setMimeData(pasted);
        editor.PasteClipboard();
        expected.insert(cut + 12, QStringLiteral("x\r\ny"));
        QCOMPARE(editor.WholeText(), expected);
        // Undo goes back step by step to the text as loaded.
        for (int i = 0; i < 5; ++i)
            editor.UndoLast();
        QCOMPARE(editor.WholeText(), line);
        QCOMPARE(editor.softBreakCount(), int(editor.document()->blockCount()) - 1);
    }

    void aWordOfManyFormatsIsPreviewedInPieces() {
        // One word whose font size changes at every letter: cut into pieces (a long run
        // without a place to break is laid out in quadratic time), saved as one word.
        QByteArray rtf = "{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0 Arial;}}\\f0 ";
        QString word;
        for (int i = 0; i < 3000; ++i) {
            rtf += "\\fs" + QByteArray::number(16 + i % 10 * 2) + ' ' + char('a' + i % 26);
            word += QLatin1Char('a' + i % 26);
        }
        rtf += "\\par}";
        RichTextEditor editor;
        editor.setPlainTextMode(false);
        editor.resize(600, 400);
        editor.LoadFile(file(QStringLiteral("runs.rtf"), rtf));
        QVERIFY(editor.softBreakCount() >= 3000 / 256);
        QCOMPARE(editor.WholeText(), word + QStringLiteral("\r\n"));
        const QTextBlock piece = editor.document()->findBlockByNumber(3);
        QCOMPARE(piece.begin().fragment().charFormat().fontPointSize(),
                 8.0 + (piece.position() - 3) % 10);
        // Saved in either mode, the word is whole.
        RichTextEditor second;
        second.setPlainTextMode(false);
        const QString out = m_dir.filePath(QStringLiteral("runs-out.rtf"));
        editor.SaveFile(out);
        second.LoadFile(out);
        QCOMPARE(second.WholeText(), word + QStringLiteral("\r\n"));
        editor.setPlainTextMode(true);
        QCOMPARE(editor.serialized(), word.toLatin1() + "\r\n");
    }

    void longTextsArriveInPiecesAndAreAlwaysWhole() {
        QByteArray bytes;
        for (int i = 0; i < 30000; ++i)
            bytes += "paragraph number " + QByteArray::number(i) + " of a long book\r\n";
        bytes += "the end";
        const QString path = file(QStringLiteral("long.txt"), bytes);
        RichTextEditor editor;
        editor.resize(600, 400);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));

        // Shown at once, the rest still arriving: the text takes no edits meanwhile.
        editor.LoadFile(path);
        QVERIFY(editor.loading());
        QVERIFY(editor.ReadOnly() == false && editor.isReadOnly());
        QCOMPARE(editor.DisplayLine(0), QStringLiteral("paragraph number 0 of a long book"));
        QVERIFY(editor.loading());
        // Saving, searching and line numbers always see the whole text.
        const QString out = m_dir.filePath(QStringLiteral("long.boo"));
        editor.SaveFile(out);
        QVERIFY(!editor.loading());
        QCOMPARE(TestFiles::read(out), bytes);
        QVERIFY(!editor.isReadOnly());

        // Left alone, the pieces arrive from the event loop.
        editor.LoadFile(path);
        QVERIFY(editor.loading());
        QSignalSpy finished(&editor, &RichTextEditor::loadFinished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(editor.document()->blockCount(), 30001);
        QCOMPARE(editor.LineOfChar(int(editor.WholeText().size())), editor.lineCount() - 1);

        // A key typed while the text arrives waits for the whole text.
        editor.LoadFile(path);
        QVERIFY(editor.loading());
        editor.moveCursor(QTextCursor::Start);
        QTest::keyClicks(&editor, QStringLiteral("X"));
        QVERIFY(!editor.loading());
        QVERIFY(editor.WholeText().startsWith(QStringLiteral("Xparagraph number 0")));
        QVERIFY(editor.WholeText().endsWith(QStringLiteral("the end")));
        QVERIFY(editor.UndoAvailable());

        // A new load replaces a text still arriving.
        editor.LoadFile(path);
        editor.LoadFile(file(QStringLiteral("short.txt"), "short"));
        QVERIFY(!editor.loading());
        QCoreApplication::processEvents();
        QCOMPARE(editor.WholeText(), QStringLiteral("short"));
    }

    // Keys that only move the caret never wait for a long text to arrive in editing:
    // Ctrl+End sends the caret to the end of what has arrived, and it follows the end
    // until the last piece is in; Ctrl+Shift+End selects up to there the same way.
    void ctrlEndWhileTheTextArrivesFollowsTheEnd_data() {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("selects");
        QTest::newRow("Ctrl+End") << Qt::KeyboardModifiers(Qt::ControlModifier) << false;
        QTest::newRow("Ctrl+Shift+End")
            << Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier) << true;
    }
    void ctrlEndWhileTheTextArrivesFollowsTheEnd() {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, selects);
        QByteArray bytes;
        for (int i = 0; i < 30000; ++i)
            bytes += "paragraph number " + QByteArray::number(i) + " of a long book\r\n";
        bytes += "the end";
        RichTextEditor editor;
        editor.setReadOnlyMode(false);
        editor.resize(600, 400);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        editor.LoadFile(file(QStringLiteral("end.txt"), bytes));
        QVERIFY(editor.loading());

        // The modifiers go down first, as on a keyboard; an arrow moves the caret.
        QTest::keyPress(&editor, Qt::Key_Control, Qt::ControlModifier);
        QTest::keyClick(&editor, Qt::Key_Down);
        QVERIFY(editor.loading());
        QTest::keyPress(&editor, Qt::Key_Control, Qt::ControlModifier);
        if (selects)
            QTest::keyPress(&editor, Qt::Key_Shift, modifiers);
        QSignalSpy moved(&editor, &RichTextEditor::OnSelectionChange);
        QTest::keyClick(&editor, Qt::Key_End, modifiers);
        QVERIFY(editor.loading());
        const int arrivedEnd = editor.SelectionStart() + editor.SelectionLength();
        QVERIFY(arrivedEnd > 0 && arrivedEnd < editor.textLength());

        QSignalSpy finished(&editor, &RichTextEditor::loadFinished);
        QVERIFY(finished.wait(20000));
        const int length = int(editor.WholeText().size());
        QCOMPARE(editor.textCursor().position(), editor.document()->characterCount() - 1);
        QCOMPARE(editor.SelectionStart() + editor.SelectionLength(), length);
        QCOMPARE(editor.SelectionLength(), selects ? length - editor.SelectionStart() : 0);
        if (selects)
            QVERIFY(editor.SelectionStart() > 0); // from the line the arrow went to
        // The caret panel heard of every move, the last one included.
        QVERIFY(moved.size() >= 2);
        QCOMPARE(editor.LineOfChar(length), editor.lineCount() - 1);
        QVERIFY(!editor.isReadOnly());

        // A click before the end stops the following.
        editor.LoadFile(file(QStringLiteral("end.txt"), bytes));
        QTest::keyClick(&editor, Qt::Key_End, Qt::ControlModifier);
        QTest::mouseClick(editor.viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        const int clicked = editor.SelectionStart();
        QVERIFY(finished.wait(20000));
        QCOMPARE(editor.SelectionStart(), clicked);
    }

    void emptyTextHasOneEmptyLine() {
        RichTextEditor editor;
        editor.LoadFile(file(QStringLiteral("empty.txt"), QByteArray()));
        QCOMPARE(editor.DisplayLine(0), QString());
        QCOMPARE(editor.LineOfChar(0), 0);
        QCOMPARE(editor.FirstCharOfLine(0), 0);
        QCOMPARE(editor.WholeText(), QString());
    }

    void clearTextEmptiesAndClearsModified() {
        RichTextEditor editor;
        editor.setPlainText(QStringLiteral("x"));
        editor.document()->setModified(true);
        editor.ClearText();
        QCOMPARE(editor.WholeText(), QString());
        QVERIFY(!editor.document()->isModified());
    }

    void printingToPdf() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty())
            QSKIP("poppler-utils is not installed");
        RichTextEditor editor;
        QString text;
        for (int i = 0; i < 300; ++i)
            text += QStringLiteral("Строка номер %1 с русскими словами\n").arg(i);
        text += QStringLiteral("ПоследнееСлово");
        editor.setPlainText(text);
        QFont font(QStringLiteral("Liberation Serif"));
        font.setPixelSize(20);
        editor.SetTextFont(font, Qt::black);

        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        const QString pdf = m_dir.filePath(QStringLiteral("book.pdf"));
        printer.setOutputFileName(pdf);
        // Events are handled between pages; a print started meanwhile is refused.
        QString reentry;
        QTimer::singleShot(0, &editor, [&] {
            QPrinter second;
            second.setOutputFormat(QPrinter::PdfFormat);
            second.setOutputFileName(m_dir.filePath(QStringLiteral("second.pdf")));
            reentry = errorOf([&] { editor.PrintText(second, QStringLiteral("text")); });
        });
        editor.PrintText(printer, QStringLiteral("text"));
        QCOMPARE(reentry, QStringLiteral("Printing in progress"));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("second.pdf"))));
        const QString info = run(QStringLiteral("pdfinfo"), {pdf});
        QVERIFY2(info.contains(QStringLiteral("Title:")) && info.contains(QStringLiteral("text")),
                 qPrintable(info));
        const int pages =
            QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info).captured(1).toInt();
        QVERIFY2(pages > 3, qPrintable(info));
        const QString words = run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QVERIFY(words.contains(QStringLiteral("Строка номер 0 с русскими словами")));
        QVERIFY(words.contains(QStringLiteral("ПоследнееСлово")));
        const QString fonts = run(QStringLiteral("pdffonts"), {pdf});
        QVERIFY2(fonts.contains(QStringLiteral("LiberationSerif")), qPrintable(fonts));

        // An empty text prints one empty page.
        RichTextEditor empty;
        const QString emptyPdf = m_dir.filePath(QStringLiteral("empty.pdf"));
        printer.setOutputFileName(emptyPdf);
        empty.PrintText(printer, QStringLiteral("text"));
        QVERIFY(run(QStringLiteral("pdfinfo"), {emptyPdf})
                    .contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))));

        // A line taller than the page still ends the job.
        RichTextEditor tall;
        tall.setPlainText(QStringLiteral("Огромный\nтекст"));
        QFont huge(QStringLiteral("Liberation Sans"));
        huge.setPixelSize(2000);
        tall.SetTextFont(huge, Qt::black);
        const QString tallPdf = m_dir.filePath(QStringLiteral("tall.pdf"));
        printer.setOutputFileName(tallPdf);
        tall.PrintText(printer, QStringLiteral("text"));
        QVERIFY(run(QStringLiteral("pdfinfo"), {tallPdf}).contains(QStringLiteral("Pages:")));
    }

    // A PDF file makes no copies itself: the printing makes them, collated or page by
    // page, and prints only the pages of a chosen range.
    void copiesAndPageRangeOnAPdfFile() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("poppler-utils is not installed");
        RichTextEditor editor;
        QString text;
        for (int i = 0; i < 100; ++i)
            text += QStringLiteral("Строка номер %1\n").arg(i);
        editor.setPlainText(text + QStringLiteral("Конец"));
        QFont font(QStringLiteral("Liberation Serif"));
        font.setPixelSize(24);
        editor.SetTextFont(font, Qt::black);

        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        QVERIFY(!printer.supportsMultipleCopies());
        int job = 0;
        auto print = [&] {
            const QString pdf = m_dir.filePath(QStringLiteral("copies%1.pdf").arg(++job));
            printer.setOutputFileName(pdf);
            editor.PrintText(printer, QStringLiteral("text"));
            return pdfPages(pdf);
        };
        const QStringList once = print();
        QVERIFY2(once.size() >= 3, qPrintable(once.join(QStringLiteral("\n----\n"))));
        QVERIFY(once.first().startsWith(QStringLiteral("Строка номер 0\n")));
        QVERIFY(once.last().endsWith(QStringLiteral("Конец")));

        printer.setCopyCount(3);
        printer.setCollateCopies(true);
        QCOMPARE(print(), once + once + once);

        printer.setCollateCopies(false);
        QStringList pageByPage;
        for (const QString& page : once)
            pageByPage << page << page << page;
        QCOMPARE(print(), pageByPage);

        printer.setCopyCount(2);
        printer.setPrintRange(QPrinter::PageRange);
        printer.setFromTo(2, 3);
        QCOMPARE(print(), (QStringList{once[1], once[1], once[2], once[2]}));
        printer.setCollateCopies(true);
        QCOMPARE(print(), (QStringList{once[1], once[2], once[1], once[2]}));
        // A range past the end prints what there is of it.
        printer.setCopyCount(1);
        printer.setFromTo(int(once.size()), int(once.size()) + 5);
        QCOMPARE(print(), QStringList{once.last()});

        printer.setPrintRange(QPrinter::AllPages);
        QCOMPARE(print(), once);

        // Last page first, also with copies and a range.
        QStringList reversed = once;
        std::reverse(reversed.begin(), reversed.end());
        printer.setPageOrder(QPrinter::LastPageFirst);
        QCOMPARE(print(), reversed);
        printer.setCopyCount(2);
        QCOMPARE(print(), reversed + reversed);
        printer.setCollateCopies(false);
        QStringList reversedPageByPage;
        for (const QString& page : reversed)
            reversedPageByPage << page << page;
        QCOMPARE(print(), reversedPageByPage);
        printer.setCopyCount(1);
        printer.setPrintRange(QPrinter::PageRange);
        printer.setFromTo(2, 3);
        QCOMPARE(print(), (QStringList{once[2], once[1]}));
        printer.setPrintRange(QPrinter::AllPages);

        // Paragraphs longer than a page, last page first: the same pages.
        QString longParagraphs;
        for (int i = 0; i < 3; ++i) {
            for (int word = 0; word < 700; ++word)
                longParagraphs += QStringLiteral("абзац%1слово%2 ").arg(i).arg(word);
            longParagraphs += QLatin1Char('\n');
        }
        editor.setPlainText(longParagraphs);
        const QStringList backwards = print();
        printer.setPageOrder(QPrinter::FirstPageFirst);
        QStringList forwards = print();
        QVERIFY(forwards.size() >= 4);
        std::reverse(forwards.begin(), forwards.end());
        QCOMPARE(backwards, forwards);

        // Lines taller than a page, page by page: each copy still ends.
        RichTextEditor tall;
        tall.setPlainText(QStringLiteral("Огромный\nтекст"));
        QFont huge(QStringLiteral("Liberation Sans"));
        huge.setPixelSize(2000);
        tall.SetTextFont(huge, Qt::black);
        auto pageCount = [&](int copies) {
            printer.setCopyCount(copies);
            printer.setCollateCopies(false);
            const QString pdf = m_dir.filePath(QStringLiteral("tall%1.pdf").arg(copies));
            printer.setOutputFileName(pdf);
            tall.PrintText(printer, QStringLiteral("text"));
            return QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                .match(run(QStringLiteral("pdfinfo"), {pdf}))
                .captured(1)
                .toInt();
        };
        const int tallPages = pageCount(1);
        QVERIFY(tallPages >= 2);
        QCOMPARE(pageCount(2), 2 * tallPages);
    }
};

QTEST_MAIN(TestRichTextEditor)
#include "test_rich_text_editor.moc"

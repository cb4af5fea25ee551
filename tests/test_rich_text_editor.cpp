#include "core/base/cp1251.h"
#include "core/base/regular_file.h"
#include "core/base/tomeria_error.h"
#include "core/book/book_document.h"
#include "support/test_files.h"
#include "ui/bookview/book_view.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/print/print_job.h"

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

namespace {

// A book of the text given, every '\n' a line break (CR LF).
BookDocument bookOf(const QString& text) {
    return BookDocument::fromText(QString(text).replace(QLatin1Char('\n'), QStringLiteral("\r\n")));
}

void printBook(QPrinter& printer, const BookDocument& book, const QFont& font) {
    PrintJob::print(printer, book, font, Qt::black, QStringLiteral("text"), nullptr);
}

// The document position of a text offset (line breaks two characters, soft breaks none);
// an offset where a paragraph goes on in a new piece is the end of the piece before.
int positionOf(const RichTextEditor& editor, int offset) {
    int at = 0;
    const QTextDocument* document = editor.document();
    for (QTextBlock b = document->begin(); b.isValid(); b = b.next()) {
        if (b != document->begin() && !RichTextEditor::continuesParagraph(b))
            at += 2;
        const int length = b.length() - 1;
        if (offset <= at + length)
            return b.position() + std::max(0, offset - at);
        at += length;
    }
    return document->characterCount() - 1;
}

// A text cursor over the characters [from, to) of the editor's document.
void selectPositions(RichTextEditor& editor, int from, int to) {
    QTextCursor cursor = editor.textCursor();
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    editor.setTextCursor(cursor);
}

} // namespace

// The add panel's preview, and the printing of a book (which the reader's editor did
// before the book had a document of its own).
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
    // are all line breaks: CR LF in the text handed over, a display line of their own.
    void everyLineSeparatorIsALineBreak() {
        RichTextEditor editor;
        editor.setPlainTextMode(true);
        editor.show();
        editor.setFocus();
        QTest::keyClicks(&editor, QStringLiteral("ab"));
        QTest::keyClick(&editor, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(&editor, QStringLiteral("cd"));
        QCOMPARE(editor.WholeText(), QStringLiteral("ab\r\ncd"));
        QCOMPARE(editor.DisplayLine(1), QStringLiteral("cd"));
        QApplication::clipboard()->setText(QStringLiteral("x\u2028y\u2029z"));
        editor.paste();
        QCOMPARE(editor.WholeText(), QStringLiteral("ab\r\ncdx\r\ny\r\nz"));
        QCOMPARE(editor.document()->blockCount(), 4);

        editor.LoadFile(file(QStringLiteral("sep.txt"), QStringLiteral("один\u2028два").toUtf8()));
        QCOMPARE(editor.WholeText(), QStringLiteral("один\r\nдва"));
        QCOMPARE(editor.DisplayLine(1), QStringLiteral("два"));
    }

    void plainLoadsNormaliseLineBreaks_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("CR LF") << QByteArray("a\r\nb") << QStringLiteral("a\r\nb");
        QTest::newRow("LF only") << QByteArray("a\nb\n") << QStringLiteral("a\r\nb\r\n");
        QTest::newRow("CR only") << QByteArray("a\rb") << QStringLiteral("a\r\nb");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("code page bytes")
            << TestFiles::cp1251(QStringLiteral("Тест\r\nЁж")) << QStringLiteral("Тест\r\nЁж");
        QTest::newRow("UTF-8") << QStringLiteral("Привет\nмир").toUtf8()
                               << QStringLiteral("Привет\r\nмир");
        QTest::newRow("NUL keeps what follows")
            << QByteArray("a\0b\r\nc", 6) << QStringLiteral("a\u2400b\r\nc");
        QTest::newRow("non-breaking space kept")
            << QByteArray("a\xA0z") << QStringLiteral("a\u00A0z");
    }
    void plainLoadsNormaliseLineBreaks() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        RichTextEditor editor;
        editor.LoadFile(file(QStringLiteral("in.txt"), bytes));
        QCOMPARE(editor.WholeText(), text);
        QVERIFY(!editor.document()->isModified());
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

        editor.LoadFile(file(QStringLiteral("text.rtf"), "just text\nline 2"));
        QCOMPARE(editor.WholeText(), QStringLiteral("just text\r\nline 2"));
    }

    void richLoadsKeepTheFormatting() {
        RichTextEditor editor;
        editor.setPlainTextMode(false);
        editor.LoadFile(
            file(QStringLiteral("f.rtf"),
                 "{\\rtf1{\\fonttbl{\\f0 Arial;}}\\f0\\b Bold\\b0  and \\u1046?\\par}"));
        QCOMPARE(editor.WholeText(), QStringLiteral("Bold and Ж\r\n"));
        QVERIFY(editor.document()->begin().begin().fragment().charFormat().font().bold());
        QVERIFY(!editor.document()->isModified());
        QVERIFY(!editor.document()->isUndoAvailable()); // loading is no edit to undo
    }

    // A load that fails leaves the text shown; a save of the book that fails leaves the
    // file there untouched, with the caller's messages.
    void failedLoadsAndSavesChangeNothing() {
        RichTextEditor editor;
        editor.LoadFile(file(QStringLiteral("keep.txt"), "previous"));
        const QString missing = m_dir.filePath(QStringLiteral("missing.txt"));
        QCOMPARE(errorOf([&] { editor.LoadFile(missing); }),
                 QStringLiteral("Cannot open file ") + missing);
        QCOMPARE(errorOf([&] { editor.LoadFile(m_dir.path()); }),
                 QStringLiteral("Cannot open file ") + m_dir.path());
        QCOMPARE(editor.WholeText(), QStringLiteral("previous"));

        const BookDocument book = bookOf(QStringLiteral("new text"));
        auto save = [&](const QString& path) {
            return errorOf([&] {
                book.save(path, QStringLiteral("Cannot create file ") + path,
                          QStringLiteral("Failed to Save Stream"));
            });
        };
        const QString target = file(QStringLiteral("target.boo"), "old text");
        TestFiles::setReadOnly(m_dir.path(), true);
        const QString error = save(target);
        TestFiles::setReadOnly(m_dir.path(), false);
        QCOMPARE(error, QStringLiteral("Cannot create file ") + target);
        QCOMPARE(TestFiles::read(target), QByteArray("old text"));
        QCOMPARE(save(QString()), QStringLiteral("Cannot create file "));
        QCOMPARE(save(QStringLiteral("/dev/full")), QStringLiteral("Failed to Save Stream"));
    }

    // A book is mapped to code page 1251 in parts as it is saved: whatever falls on the
    // edge of a part (a letter and its combining mark, a pair of surrogates) is saved as
    // the whole text mapped in one go would be, and the lost letters are those of the
    // whole text.
    void aBookSavedInPartsMapsItAsAWhole_data() {
        QTest::addColumn<int>("at");
        QTest::addColumn<QString>("odd");
        for (const int at : {65534, 65535, 65536, 65537})
            for (const QString& odd : {QStringLiteral("и\u0306"), QStringLiteral("\U0001F600"),
                                       QStringLiteral("e\u0301\u0302"), QStringLiteral("ő")})
                QTest::addRow("%d %s", at, qPrintable(odd.toUtf8().toHex())) << at << odd;
    }
    void aBookSavedInPartsMapsItAsAWhole() {
        QFETCH(int, at);
        QFETCH(QString, odd);
        QString text = QStringLiteral("слово ").repeated(40000);
        text.insert(at, odd);
        text.insert(131072 + at % 7, odd);
        const BookDocument book = BookDocument::fromText(text);
        QVERIFY(book.isWide());
        const QString path = m_dir.filePath(QStringLiteral("parts.boo"));
        book.save(path, QStringLiteral("create"), QStringLiteral("write"));
        QCOMPARE(TestFiles::read(path), Cp1251::encodeStorable(text));
        QCOMPARE(book.lostCharacters(),
                 Cp1251::missingCharacters(Cp1251::storable(text), 5).join(QString()));
        book.save(path, QStringLiteral("create"), QStringLiteral("write"),
                  BookDocument::Encoding::Utf8);
        QCOMPARE(TestFiles::read(path), text.toUtf8());
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

    // Each line break is one paragraph of the document and two characters of the text.
    void paragraphBreaksCountTwoInTheText() {
        RichTextEditor editor;
        QString text;
        for (int i = 0; i < 2000; ++i)
            text += QStringLiteral("строка %1\n").arg(i);
        text += QStringLiteral("последняя");
        editor.setPlainText(text);
        const QString whole = editor.WholeText();
        QCOMPARE(whole.size(), text.size() + 2000);
        QCOMPARE(whole, QString(text).replace(QLatin1Char('\n'), QStringLiteral("\r\n")));
        QCOMPARE(editor.document()->blockCount(), 2001);
        selectPositions(editor, 0, int(text.indexOf(QStringLiteral("строка 1"))));
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
        int lines = 0;
        while (!editor.DisplayLine(lines).isEmpty())
            ++lines;
        QVERIFY(lines > 2);
        QCOMPARE(editor.DisplayLine(lines - 1), QStringLiteral("второй абзац"));
        QVERIFY(paragraph.mid(narrow.size()).startsWith(editor.DisplayLine(1)));
        QCOMPARE(editor.DisplayLine(-1), QString());

        editor.resize(3000, 200);
        QCoreApplication::processEvents();
        QCOMPARE(editor.DisplayLine(0), paragraph);
        QCOMPARE(editor.DisplayLine(1), QStringLiteral("второй абзац"));
        QCOMPARE(editor.DisplayLine(2), QString());
    }

    // The line at the top of the reading view holds the same character after the text
    // is wrapped anew: the window made narrower or wider (the editor of the reader kept
    // it so before the view edited too).
    void theTopCharacterStaysWhenTheWidthChanges_data() {
        QTest::addColumn<int>("newWidth");
        QTest::addColumn<bool>("lastPage");
        QTest::newRow("the same width") << 0 << false;
        QTest::newRow("narrower") << 350 << false;
        QTest::newRow("wider") << 900 << false;
        QTest::newRow("narrower, the last page") << 350 << true;
    }
    void theTopCharacterStaysWhenTheWidthChanges() {
        QFETCH(int, newWidth);
        QFETCH(bool, lastPage);
        QString text;
        for (int i = 0; text.size() < 40000; ++i)
            text += QStringLiteral("Абзац %1. ").arg(i) +
                    QStringLiteral("слово ").repeated(i * 7 % 90) + QStringLiteral("\r\n");
        BookView view;
        view.resize(600, 400);
        view.setBook(std::make_shared<BookDocument>(BookDocument::fromText(text)));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        // A paragraph's start two thirds into the text, or the top of the last page.
        qsizetype place = text.indexOf(QStringLiteral("\r\n"), text.size() * 2 / 3) + 2;
        view.setSelectionStart(place);
        view.scrollOffsetToTop(place);
        if (lastPage) {
            QTRY_VERIFY(view.verticalScrollBar()->isVisible());
            view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
            place = view.firstVisibleOffset();
        } else {
            QCOMPARE(view.firstVisibleOffset(), place);
        }
        if (newWidth > 0)
            view.resize(newWidth, 400);
        QTRY_VERIFY(view.verticalScrollBar()->isVisible());
        QCoreApplication::processEvents();
        if (lastPage)
            QCOMPARE(view.lineOfChar(view.firstVisibleOffset()), view.lineOfChar(place));
        else
            QCOMPARE(view.firstVisibleOffset(), place);
        QVERIFY(view.verticalScrollBar()->value() < view.verticalScrollBar()->maximum());
    }

    // No-break spaces go to the clipboard, and come back from it, as they are; a cut of
    // the whole text pasted back gives the very text loaded.
    void cutAndPasteKeepNoBreakSpaces_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray words = TestFiles::cp1251(QStringLiteral("один\u00A0два — три\u00A0"));
        QTest::newRow("short lines") << QByteArray(words + "\r\n" + words + "\r\n\xA0");
        QTest::newRow("a paragraph held in pieces") << QByteArray("x\r\n" + words.repeated(5000));
    }
    void cutAndPasteKeepNoBreakSpaces() {
        QFETCH(QByteArray, bytes);
        RichTextEditor editor;
        editor.setGuessEncoding(false);
        editor.LoadFile(file(QStringLiteral("nbsp.boo"), bytes));
        QCOMPARE(editor.softBreakCount() > 0, bytes.size() > 65536);
        editor.show();
        editor.setFocus();
        QTest::keyClick(&editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(&editor, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(editor.WholeText(), QString());
        const QString cut = QApplication::clipboard()->text();
        QCOMPARE(cut.count(QChar::Nbsp), bytes.count('\xA0'));
        QCOMPARE(cut, Cp1251::decode(bytes).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        QTest::keyClick(&editor, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(editor.WholeText(), Cp1251::decode(bytes));
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
                             "x\r\n" + QByteArray("word ").repeated(20000) + "\r\nend"));
        QVERIFY(editor.softBreakCount() > 0);
        editor.show();
        editor.setFocus();
        const QString whole = editor.WholeText();
        QApplication::clipboard()->setText(QStringLiteral("вставка"));
        selectPositions(editor, 2, positionOf(editor, 3 + 70000));
        if (!text.isEmpty())
            QTest::keyClicks(&editor, text);
        else
            QTest::keyClick(&editor, Qt::Key(key),
                            key == Qt::Key_X || key == Qt::Key_V ? Qt::ControlModifier
                                                                 : Qt::NoModifier);
        QCOMPARE(editor.WholeText(), whole.left(3) + replacement + whole.mid(70003));
        if (replacement.isEmpty()) {
            editor.undo();
            QCOMPARE(editor.WholeText(), whole);
        }
    }

    // A formatted text offers its selection as HTML too, and its text as it is.
    void aFormattedSelectionIsCopiedWithItsHtml() {
        RichTextEditor editor;
        editor.setPlainTextMode(false);
        editor.LoadFile(file(QStringLiteral("f.rtf"), R"({\rtf1 {\b bold}\~text\par})"));
        editor.selectAll();
        editor.copy();
        const QMimeData* data = QApplication::clipboard()->mimeData();
        QVERIFY(data->text().contains(QStringLiteral("bold\u00A0text")));
        QVERIFY(data->hasHtml());
        QVERIFY(data->html().contains(QStringLiteral("font-weight")));
    }

    // The display lines handed out are those of the real layout.
    void displayLinesAgreeWithTheRealLayout() {
        RichTextEditor editor;
        editor.resize(500, 300);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QString text;
        for (int i = 0; i < 60; ++i)
            text += QStringLiteral("абв ").repeated(i % 37) + QStringLiteral("\tконец %1\n").arg(i);
        editor.setPlainText(text);
        int line = 0;
        for (QTextBlock b = editor.document()->begin(); b.isValid(); b = b.next()) {
            editor.document()->documentLayout()->blockBoundingRect(b);
            for (int i = 0; i < std::max(1, b.layout()->lineCount()); ++i, ++line) {
                const QTextLine l = b.layout()->lineAt(i);
                QCOMPARE(editor.DisplayLine(line),
                         l.isValid() ? b.text().mid(l.textStart(), l.textLength()) : QString());
            }
        }
        QCOMPARE(editor.DisplayLine(line), QString());
    }

    // A paragraph of an ordinary book is one block, however long; one line of 200,000
    // characters with a word of 1,000 letters in it is held in pieces, yet its text and
    // copies are those of the one line.
    void longParagraphsAreHeldInPiecesThatAreNoPartOfTheText() {
        RichTextEditor editor;
        editor.resize(600, 400);
        const QString ordinary = QStringLiteral("слово ").repeated(6000);
        editor.LoadFile(file(QStringLiteral("ordinary.txt"), TestFiles::cp1251(ordinary)));
        QCOMPARE(editor.document()->blockCount(), 1);
        QCOMPARE(editor.softBreakCount(), 0);

        QString line;
        for (int i = 0; line.size() < 200000; ++i) {
            line += QStringLiteral("слово%1 ").arg(i);
            if (i == 5000)
                line += QString(1000, QChar(u'ы')) + QLatin1Char(' ');
        }
        line += QStringLiteral("конец");
        const QString text = QStringLiteral("первый\n") + line + QStringLiteral("\nпоследний");
        const QString crlf = QString(text).replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        editor.LoadFile(file(QStringLiteral("line.txt"), TestFiles::cp1251(text)));
        QVERIFY(editor.softBreakCount() >= 1000 / 256 + 2); // the word, and past 64 K twice
        QCOMPARE(editor.document()->blockCount(), 3 + editor.softBreakCount());
        QCOMPARE(editor.WholeText(), crlf);
        QCOMPARE(editor.DisplayLine(0), QStringLiteral("первый"));
        for (QTextBlock b = editor.document()->begin(); b.isValid(); b = b.next()) {
            QVERIFY(b.length() - 1 <= 65536 + 256);
            QVERIFY(!b.text().isEmpty());
        }
        QVERIFY(!editor.document()->isUndoAvailable()); // the cuts are no edit
        // A copy of text across soft breaks has no line break in it.
        const int at = int(crlf.indexOf(QStringLiteral("слово9000 ")));
        selectPositions(editor, positionOf(editor, at - 70000), positionOf(editor, at + 70000));
        editor.copy();
        QCOMPARE(QGuiApplication::clipboard()->text(), crlf.mid(at - 70000, 140000));
    }

    // Backspace and Delete beside a soft break remove the character beyond it; Enter and
    // pasted line breaks make paragraph breaks inside a piece; undo goes back step by step.
    void editsBesideASoftBreakChangeTheTextAsTyped() {
        const QString line = QStringLiteral("ab ").repeated(30000);
        RichTextEditor editor;
        editor.resize(600, 400);
        editor.LoadFile(file(QStringLiteral("edit.txt"), line.toLatin1()));
        QCOMPARE(editor.softBreakCount(), 1);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        editor.setFocus();
        const QTextBlock second = editor.document()->begin().next();
        QVERIFY(RichTextEditor::continuesParagraph(second));
        const int cut = second.position() - 1; // the text's offset of the piece's start
        QString expected = line;
        auto text = [&] { return editor.WholeText(); };

        selectPositions(editor, second.position(), second.position());
        QTest::keyClick(&editor, Qt::Key_Backspace);
        expected.remove(cut - 1, 1);
        QCOMPARE(text(), expected);
        QTest::keyClick(&editor, Qt::Key_Delete);
        expected.remove(cut - 1, 1);
        QCOMPARE(text(), expected);
        QTest::keyClick(&editor, Qt::Key_Return);
        expected.insert(cut - 1, QStringLiteral("\r\n"));
        QCOMPARE(text(), expected);
        const int later = positionOf(editor, cut + 10);
        selectPositions(editor, later, later);
        QTest::keyClick(&editor, Qt::Key_Return);
        expected.insert(cut + 10, QStringLiteral("\r\n"));
        QCOMPARE(text(), expected);
        auto* pasted = new QMimeData;
        pasted->setText(QStringLiteral("x\ny"));
        QGuiApplication::clipboard()->setMimeData(pasted);
        editor.paste();
        expected.insert(cut + 12, QStringLiteral("x\r\ny"));
        QCOMPARE(text(), expected);
        for (int i = 0; i < 5; ++i)
            editor.undo();
        QCOMPARE(text(), line);
        QCOMPARE(editor.softBreakCount(), editor.document()->blockCount() - 1);
    }

    // One word whose font size changes at every letter: held in pieces (a long run
    // without a place to break is laid out in quadratic time), its text one word.
    void aWordOfManyFormatsIsPreviewedInPieces() {
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
        // Held in pieces, the selection is offered as text only.
        editor.selectAll();
        editor.copy();
        QCOMPARE(QApplication::clipboard()->text(), word + QLatin1Char('\n'));
        QVERIFY(!QApplication::clipboard()->mimeData()->hasHtml());
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
        // The text handed over is always the whole text.
        QCOMPARE(editor.WholeText(), QString::fromLatin1(bytes));
        QVERIFY(!editor.loading());
        QVERIFY(!editor.isReadOnly());

        // Left alone, the pieces arrive from the event loop.
        editor.LoadFile(path);
        QVERIFY(editor.loading());
        QSignalSpy finished(&editor, &RichTextEditor::loadFinished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(editor.document()->blockCount(), 30001);
        QVERIFY(!editor.document()->isUndoAvailable());

        // A key typed while the text arrives waits for the whole text.
        editor.LoadFile(path);
        QVERIFY(editor.loading());
        editor.moveCursor(QTextCursor::Start);
        QTest::keyClicks(&editor, QStringLiteral("X"));
        QVERIFY(!editor.loading());
        QVERIFY(editor.WholeText().startsWith(QStringLiteral("Xparagraph number 0")));
        QVERIFY(editor.WholeText().endsWith(QStringLiteral("the end")));
        QVERIFY(editor.document()->isUndoAvailable());

        // A new load replaces a text still arriving.
        editor.LoadFile(path);
        editor.LoadFile(file(QStringLiteral("short.txt"), "short"));
        QVERIFY(!editor.loading());
        QCoreApplication::processEvents();
        QCOMPARE(editor.WholeText(), QStringLiteral("short"));
    }

    // Ctrl+End sends the caret to the end of the whole text, also while it arrives;
    // Ctrl+Shift+End selects up to there.
    void ctrlEndGoesToTheEnd_data() {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("selects");
        QTest::newRow("Ctrl+End") << Qt::KeyboardModifiers(Qt::ControlModifier) << false;
        QTest::newRow("Ctrl+Shift+End")
            << Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier) << true;
    }
    void ctrlEndGoesToTheEnd() {
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
        QTest::keyClick(&editor, Qt::Key_Down);
        QVERIFY(!editor.loading()); // a key waits for the whole text
        const int from = editor.textCursor().position();
        QVERIFY(from > 0);
        QSignalSpy moved(&editor, &RichTextEditor::OnSelectionChange);
        QTest::keyClick(&editor, Qt::Key_End, modifiers);
        const QTextCursor cursor = editor.textCursor();
        QCOMPARE(cursor.position(), editor.document()->characterCount() - 1);
        QCOMPARE(cursor.anchor(), selects ? from : cursor.position());
        QVERIFY(moved.size() >= 1);
        QVERIFY(!editor.isReadOnly());
    }

    void emptyTextHasOneEmptyLine() {
        RichTextEditor editor;
        editor.LoadFile(file(QStringLiteral("empty.txt"), QByteArray()));
        QCOMPARE(editor.DisplayLine(0), QString());
        QCOMPARE(editor.DisplayLine(1), QString());
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
        QString text;
        for (int i = 0; i < 300; ++i)
            text += QStringLiteral("Строка номер %1 с русскими словами\n").arg(i);
        text += QStringLiteral("ПоследнееСлово");
        const BookDocument book = bookOf(text);
        QFont font(QStringLiteral("Liberation Serif"));
        font.setPixelSize(20);

        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        const QString pdf = m_dir.filePath(QStringLiteral("book.pdf"));
        printer.setOutputFileName(pdf);
        // Events are handled between pages; a print started meanwhile is refused.
        QString reentry;
        QWidget owner;
        QTimer::singleShot(0, &owner, [&] {
            QPrinter second;
            second.setOutputFormat(QPrinter::PdfFormat);
            second.setOutputFileName(m_dir.filePath(QStringLiteral("second.pdf")));
            reentry = errorOf([&] { printBook(second, book, font); });
        });
        printBook(printer, book, font);
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
        const QString emptyPdf = m_dir.filePath(QStringLiteral("empty.pdf"));
        printer.setOutputFileName(emptyPdf);
        printBook(printer, BookDocument(), font);
        QVERIFY(run(QStringLiteral("pdfinfo"), {emptyPdf})
                    .contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))));

        // A line taller than the page still ends the job.
        QFont huge(QStringLiteral("Liberation Sans"));
        huge.setPixelSize(2000);
        const QString tallPdf = m_dir.filePath(QStringLiteral("tall.pdf"));
        printer.setOutputFileName(tallPdf);
        printBook(printer, bookOf(QStringLiteral("Огромный\nтекст")), huge);
        QVERIFY(run(QStringLiteral("pdfinfo"), {tallPdf}).contains(QStringLiteral("Pages:")));
    }

    // A PDF file makes no copies itself: the printing makes them, collated or page by
    // page, and prints only the pages of a chosen range.
    void copiesAndPageRangeOnAPdfFile() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("poppler-utils is not installed");
        QString text;
        for (int i = 0; i < 100; ++i)
            text += QStringLiteral("Строка номер %1\n").arg(i);
        BookDocument book = bookOf(text + QStringLiteral("Конец"));
        QFont font(QStringLiteral("Liberation Serif"));
        font.setPixelSize(24);

        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        QVERIFY(!printer.supportsMultipleCopies());
        int job = 0;
        auto print = [&] {
            const QString pdf = m_dir.filePath(QStringLiteral("copies%1.pdf").arg(++job));
            printer.setOutputFileName(pdf);
            printBook(printer, book, font);
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
        book = bookOf(longParagraphs);
        const QStringList backwards = print();
        printer.setPageOrder(QPrinter::FirstPageFirst);
        QStringList forwards = print();
        QVERIFY(forwards.size() >= 4);
        std::reverse(forwards.begin(), forwards.end());
        QCOMPARE(backwards, forwards);

        // Lines taller than a page, page by page: each copy still ends.
        const BookDocument tall = bookOf(QStringLiteral("Огромный\nтекст"));
        QFont huge(QStringLiteral("Liberation Sans"));
        huge.setPixelSize(2000);
        auto pageCount = [&](int copies) {
            printer.setCopyCount(copies);
            printer.setCollateCopies(false);
            const QString pdf = m_dir.filePath(QStringLiteral("tall%1.pdf").arg(copies));
            printer.setOutputFileName(pdf);
            printBook(printer, tall, huge);
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

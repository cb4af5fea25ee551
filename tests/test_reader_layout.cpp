#include "core/base/cp1251.h"
#include "core/book/book_document.h"
#include "core/book/book_lines.h"
#include "core/book/book_text.h"
#include "core/book/line_counter.h"
#include "core/library/reading_state.h"
#include "core/text/book_layout.h"
#include "core/text/hyphenator.h"
#include "support/reader_library.h"
#include "support/recording_dialogs.h"
#include "support/test_files.h"
#include "ui/bookview/book_view.h"
#include "ui/bookview/paragraph_layout.h"
#include "ui/controls/status_panels.h"
#include "ui/dialogs/find_dialog.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/reader/layout_dialog.h"
#include "ui/reader/reader_window.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <functional>
#include <random>

// The reader's «Оформление»: the button and dialog, what is remembered, the progress panel.
class TestReaderLayout : public ReaderLibraryTest {
    Q_OBJECT
    std::unique_ptr<DialogsScope> m_dialogs;
private Q_SLOTS:
    void init() {
        m_dialogs = std::make_unique<DialogsScope>();
        newLibrary();
        restart();
    }
    void cleanup() {
        m_form.reset();
        m_state.reset();
        m_dialogs.reset();
    }

    // «Оформление» follows «Шрифт текста» on the tool bar, with its own picture.
    void theButton() {
        TMainForm& form = *m_form;
        QCOMPARE(form.ToolButton8->toolTip(), QStringLiteral("Оформление (Ctrl+L)"));
        QList<QWidget*> order;
        for (QAction* action : form.ToolBar1->actions())
            order << form.ToolBar1->widgetForAction(action);
        QCOMPARE(order.indexOf(form.ToolButton8), order.indexOf(form.ToolButton4) + 1);
        QVERIFY(!form.LayoutDialog1->isVisible());
        openAt(libraryBook(QStringLiteral("Книга"), "text"));
        QTest::mouseClick(form.ToolButton8, Qt::LeftButton);
        QVERIFY(form.LayoutDialog1->isVisible());
        QVERIFY(!form.LayoutDialog1->isModal());
        // Editing shows the book in its layout too: what is edited is what is read.
        form.ToolButton7Click();
        QVERIFY(form.ToolButton8->isEnabled());
        QVERIFY(form.LayoutDialog1->isVisible());
        form.ToolButton7Click();
        QVERIFY(form.ToolButton8->isEnabled());
        // The dialog belongs to the reader: back in the library, it is gone with it.
        QTest::keyClick(form.View, Qt::Key_Escape);
        QVERIFY(!form.isVisible());
        QVERIFY(!form.LayoutDialog1->isVisible());
    }

    // The choices and a preset's colours act at once and come back in the next run; an
    // older reading.dat reads as the plain look.
    void choicesSurviveARestart() {
        TMainForm& first = openAt(libraryBook(QStringLiteral("Книга"), "text"));
        QCOMPARE(first.bookLayout(), BookLayout());
        QTest::mouseClick(first.ToolButton8, Qt::LeftButton);
        first.LayoutDialog1->presetButton(QStringLiteral("Книжная"))->click();
        first.LayoutDialog1->marginsBox()->setValue(40);
        first.LayoutDialog1->presetButton(QStringLiteral("Сепия"))->click();
        BookLayout book = *LayoutPreset::all()[1].layout;
        book.margins = 40;
        QCOMPARE(first.bookLayout(), book);
        const QByteArray file = TestFiles::read(libraryFile(QStringLiteral("reading.dat")));
        QVERIFY(file.contains("TextColour=#5b4636\r\nBackground=#f4ecd8\r\nTextWidth=66\r\n"
                              "Margins=40\r\n"));

        TMainForm& next = restart();
        QCOMPARE(next.bookLayout(), book);
        QCOMPARE(next.View->textColour(), QColor(0x5b, 0x46, 0x36));
        QCOMPARE(next.View->backgroundColour(), QColor(0xf4, 0xec, 0xd8));
        QCOMPARE(next.View->bookLayout(), book);
        QTest::mouseClick(next.ToolButton8, Qt::LeftButton);
        QCOMPARE(next.LayoutDialog1->bookLayout(), book);
        // The colour dialog still works on top of a preset, and offers its colour.
        QTest::mouseClick(next.ToolButton5, Qt::LeftButton);
        QCOMPARE(dialogs().colourOffered, QColor(0xf4, 0xec, 0xd8));

        next.LayoutDialog1->presetButton(QStringLiteral("Как в редакторе"))->click();
        QCOMPARE(next.bookLayout(), BookLayout());
        QCOMPARE(restart().bookLayout(), BookLayout());
        QCOMPARE(m_form->View->textColour(), QColor(Qt::black));
        QCOMPARE(m_form->View->backgroundColour(), QColor(Qt::white));
    }

    // Panel 2, 60 pixels at the right: how far the first visible line is into the book.
    void progressPanel() {
        TMainForm& form = openAt(libraryBook(QStringLiteral("Книга"), longBook(2000)));
        QCOMPARE(form.StatusBar->panelCount(), 3);
        QCOMPARE(form.StatusBar->panel(2)->width(), 60);
        QCOMPARE(form.StatusBar->panel(0)->width(), 150);
        QVERIFY(form.StatusBar->panel(1)->width() > form.width() - 300);
        QCOMPARE(form.StatusBar->panelText(2), QStringLiteral("0 %"));
        QScrollBar* bar = form.View->verticalScrollBar();
        bar->setValue(bar->maximum() / 2);
        const int percent = form.StatusBar->panelText(2).chopped(2).toInt();
        QVERIFY2(percent > 40 && percent < 60, qPrintable(form.StatusBar->panelText(2)));
        // The last page is the end of the book, in viewing and in editing alike.
        bar->setValue(bar->maximum());
        QCOMPARE(form.StatusBar->panelText(2), QStringLiteral("100 %"));
        QTest::keyClick(form.View, Qt::Key_PageUp);
        QVERIFY(form.StatusBar->panelText(2).chopped(2).toInt() < 100);
        QTest::mouseClick(form.ToolButton7, Qt::LeftButton);
        QTest::keyClick(form.Editor, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(form.StatusBar->panelText(2), QStringLiteral("100 %"));
    }

    // In pages the panel shows the page of the pages: about which of about how many while
    // they are counted, then «стр. 1 из N»; a turn shows the next.
    void progressPanelInPages() {
        TMainForm& form = openAt(libraryBook(QStringLiteral("Книга"), longBook(2000)));
        form.LayoutDialog1->pagesBox()->setCurrentIndex(int(BookLayout::Pages::Page));
        QVERIFY(form.View->paged());
        const QString first = form.StatusBar->panelText(2);
        QVERIFY2(first.startsWith(QStringLiteral("стр. ")), qPrintable(first));
        // (The count as it stands: the window may still be taking its size.)
        const QLocale russian(QLocale::Russian, QLocale::Russia);
        const auto page = [&](int number) {
            const int count = form.View->pageCount();
            return QStringLiteral("стр. %1 из %2")
                .arg(russian.toString(number < 0 ? count : number), russian.toString(count));
        };
        QTRY_VERIFY(form.View->pageCount() > 0 && form.StatusBar->panelText(2) == page(1));
        QTest::keyClick(form.View, Qt::Key_PageDown);
        QCOMPARE(form.StatusBar->panelText(2), page(2));
        QTest::keyClick(form.View, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(form.StatusBar->panelText(2), page(-1));
        // While counting, «стр. ≈N из ≈M (P %)».
        form.LayoutDialog1->lineSpacingBox()->setValue(1.5);
        if (form.View->pageCount() < 0)
            QVERIFY2(form.StatusBar->panelText(2).contains(QStringLiteral(" из ≈")),
                     qPrintable(form.StatusBar->panelText(2)));
    }

    // «Книжная» in «Разворот» sets its face for two columns where the window has room
    // for them at the least size; a narrow window shows one page in the larger face.
    void aSpreadSizesTheFaceForTwoColumns_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("spread");
        QTest::newRow("1920") << 1920 << true;
        QTest::newRow("1280") << 1280 << true;
        QTest::newRow("800") << 800 << false;
    }
    void aSpreadSizesTheFaceForTwoColumns() {
        QFETCH(int, width);
        QFETCH(bool, spread);
        TMainForm& form = openAt(libraryBook(QStringLiteral("Книга"), longBook(200)));
        form.setWindowState(Qt::WindowNoState);
        form.resize(width, 700);
        QTRY_COMPARE(form.View->width(), width);
        form.LayoutDialog1->presetButton(QStringLiteral("Книжная"))->click();
        form.LayoutDialog1->pagesBox()->setCurrentIndex(int(BookLayout::Pages::Spread));
        QCOMPARE(form.View->spread(), spread);
        const int size = QFontInfo(form.View->textFont()).pixelSize();
        QVERIFY(size >= BookLayout::kMinFaceSize && size <= BookLayout::kMaxFaceSize);
    }

    // The plain look is the view's own: a reader that never chose a layout, and one that
    // went back to «Как в редакторе», show the same lines in the same places.
    void theDefaultsLookAsBefore() {
        const QString path = libraryBook(QStringLiteral("Проза"), prose(60));
        const QList<QRect> plain = shownLines(openAt(path));
        QVERIFY(plain.size() > 10);
        QTest::mouseClick(m_form->ToolButton8, Qt::LeftButton);
        m_form->LayoutDialog1->presetButton(QStringLiteral("Книжная"))->click();
        QVERIFY(shownLines(*m_form) != plain);
        m_form->LayoutDialog1->presetButton(QStringLiteral("Как в редакторе"))->click();
        QCOMPARE(shownLines(*m_form), plain);
        QCOMPARE(m_form->View->columnLeft(), 4.0);
    }

    // «Книжная»: a centred column of 66 average characters; every line but a paragraph's
    // last fills it exactly, some ending in a hyphen inside a word; the first lines are
    // indented. The text, find and copy never see the hyphens.
    void bookLayoutLines_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<double>("place"); // where the page is, as a share of the book
        QTest::newRow("paragraphs") << prose(40) << 0.0;
        // Laid out in pieces: some start inside a word broken at a line's end.
        QByteArray one = prose(120);
        one.replace("\r\n", " ");
        QTest::newRow("one paragraph, the middle") << one << 0.5;
    }
    void bookLayoutLines() {
        QFETCH(QByteArray, bytes);
        QFETCH(double, place);
        TMainForm& form = openAt(libraryBook(QStringLiteral("Проза"), bytes));
        form.resize(1200, 800);
        QTest::mouseClick(form.ToolButton8, Qt::LeftButton);
        form.LayoutDialog1->presetButton(QStringLiteral("Книжная"))->click();
        // In the text's font, which puts more lines on the page than the book's face.
        form.LayoutDialog1->bookFaceBox()->click();
        BookView* view = form.View;
        view->scrollOffsetToTop(qsizetype(place * double(bytes.size())));
        // Once the lines are counted: a piece shown before may have ended short.
        QTRY_VERIFY(view->linesCounted());
        const qreal average = QFontMetricsF(view->textFont()).averageCharWidth();
        QVERIFY(qAbs(view->columnWidth() - 66 * average) < 0.5);
        const qreal left = view->columnLeft(), right = left + view->columnWidth();
        QVERIFY(qAbs(left - (view->viewport()->width() - right)) < 1);
        const qreal hyphen = QFontMetricsF(view->textFont()).horizontalAdvance(QLatin1Char('-'));
        const qreal indent = 1.5 * QFontInfo(view->textFont()).pixelSize();

        const QString text = view->text(0, view->textLength());
        QCOMPARE(text, Cp1251::decode(bytes));
        QVERIFY(!text.contains(QChar(0xad)));
        int hyphenated = 0, full = 0, indented = 0;
        for (qsizetype at = view->firstVisibleOffset(); at < view->textLength();) {
            const auto [start, end] = view->lineRange(at);
            const QRect first = view->characterRect(start);
            if (first.isNull() || end >= view->textLength())
                break;
            const bool paragraphStart = start == 0 || text[start - 1] == QLatin1Char('\n');
            indented += paragraphStart;
            QVERIFY2(qAbs(first.left() - (left + (paragraphStart ? indent : 0))) <= 1,
                     qPrintable(QStringLiteral("%1 %2 %3 «%4»")
                                    .arg(start)
                                    .arg(first.left())
                                    .arg(left)
                                    .arg(text.mid(start, end - start))));
            qsizetype last = end - 1;
            while (last > start && text[last].isSpace())
                --last;
            if (text[end - 1] != QLatin1Char('\n')) {
                const bool broken = text[end - 1].isLetter() && text[end].isLetter();
                hyphenated += broken;
                ++full;
                const qreal edge = view->characterRect(last).right() + 1 + (broken ? hyphen : 0);
                QVERIFY2(qAbs(edge - right) <= 2,
                         qPrintable(QStringLiteral("%1 %2 «%3»")
                                        .arg(edge)
                                        .arg(right)
                                        .arg(text.mid(start, end - start))));
            }
            at = end;
        }
        QVERIFY(place > 0 || indented >= 2);
        QVERIFY2(full > 20, qPrintable(QString::number(full)));
        QVERIFY2(hyphenated >= 3, qPrintable(QString::number(hyphenated)));
    }

    // Each choice keeps the place: the character first on screen stays in the top line;
    // the caret panel counts the lines as shown.
    void aChoiceKeepsThePlace() {
        TMainForm& form = openAt(libraryBook(QStringLiteral("Проза"), prose(400)));
        BookView* view = form.View;
        view->scrollOffsetToTop(view->textLength() / 2);
        const qsizetype first = view->firstVisibleOffset();
        view->setSelectionStart(first + 3);
        const QString plainPanel = form.StatusBar->panelText(0);
        QTest::mouseClick(form.ToolButton8, Qt::LeftButton);
        LayoutDialog* dialog = form.LayoutDialog1;
        const QList<std::function<void()>> changes{
            [&] { dialog->presetButton(QStringLiteral("Книжная"))->click(); },
            [&] { dialog->marginsBox()->setValue(120); },
            [&] { dialog->lineSpacingBox()->setValue(2.0); },
            [&] { dialog->indentBox()->setValue(3); },
            [&] { dialog->widthBox()->setValue(45); },
            [&] { dialog->hyphenateBox()->click(); },
            [&] { dialog->justifyBox()->click(); },
            [&] { dialog->widthBox()->setValue(dialog->widthBox()->minimum()); },
            [&] { dialog->presetButton(QStringLiteral("Как в редакторе"))->click(); },
        };
        for (const auto& change : changes) {
            change();
            const auto [start, end] = view->lineRange(view->firstVisibleOffset());
            QVERIFY2(start <= first && first < end,
                     qPrintable(QStringLiteral("%1 [%2, %3)").arg(first).arg(start).arg(end)));
            QTRY_VERIFY(!form.StatusBar->panelText(0).contains(QLatin1String("...")));
            const int line = view->lineOfChar(first + 3);
            QCOMPARE(form.StatusBar->panelText(0),
                     QString::asprintf("Строка: %3d   Символ: %3d", line + 1,
                                       int(first + 3 - view->lineStartOf(first + 3)) + 1));
        }
        QCOMPARE(view->firstVisibleOffset(), first);
        QCOMPARE(form.StatusBar->panelText(0), plainPanel);
    }

    // With hyphenation on, a word broken across lines is found, selected and copied whole.
    void hyphensAreForTheEyesOnly() {
        const QByteArray bytes = prose(30);
        TMainForm& form = openAt(libraryBook(QStringLiteral("Проза"), bytes));
        QTest::mouseClick(form.ToolButton8, Qt::LeftButton);
        form.LayoutDialog1->presetButton(QStringLiteral("Книжная"))->click();
        BookView* view = form.View;
        const QString text = Cp1251::decode(bytes);
        // The first line that ends inside a word.
        qsizetype broken = -1;
        for (qsizetype at = 0; at < text.size() && broken < 0;) {
            const qsizetype end = view->lineRange(at).second;
            if (end <= at || end >= text.size())
                break;
            if (text[end - 1].isLetter() && text[end].isLetter())
                broken = end;
            at = end;
        }
        QVERIFY(broken > 0);
        qsizetype wordStart = broken, wordEnd = broken;
        while (text[wordStart - 1].isLetter())
            --wordStart;
        while (text[wordEnd].isLetter())
            ++wordEnd;
        const QString word = text.mid(wordStart, wordEnd - wordStart);
        view->setSelectionStart(0);
        form.FindDialog1->setFindText(word);
        form.FindDialog1->findChild<QCheckBox*>(QStringLiteral("wholeWord"))->setChecked(true);
        qsizetype found = -1;
        for (int i = 0; i < 200 && view->selectionStart() != wordStart; ++i)
            form.FindDialog1Find();
        found = view->selectionStart();
        QCOMPARE(found, wordStart);
        QCOMPARE(view->selectionLength(), word.size());
        QCOMPARE(view->selectedText(), word);
        view->copySelection();
        QCOMPARE(QGuiApplication::clipboard()->text(), word);
        // The caret steps over the line end one character at a time.
        view->setSelectionStart(broken - 1);
        QTest::keyClick(view, Qt::Key_Right);
        QCOMPARE(view->caret(), broken);
        QTest::keyClick(view, Qt::Key_Right);
        QCOMPARE(view->caret(), broken + 1);
        // End stands after the broken word's last letter on its own line, and Shift+End
        // from the line's start takes every letter of it.
        const qsizetype lineStart = view->lineStartOf(broken - 1);
        view->setSelectionStart(lineStart + 1);
        QTest::keyClick(view, Qt::Key_End);
        QCOMPARE(view->caret(), broken);
        QCOMPARE(view->lineOfChar(broken), view->lineOfChar(lineStart));
        QVERIFY2(form.StatusBar->panelText(0).endsWith(
                     QString::asprintf("Символ: %3d", int(broken - lineStart) + 1)),
                 qPrintable(form.StatusBar->panelText(0)));
        QTest::keyClick(view, Qt::Key_Home);
        QCOMPARE(view->caret(), lineStart);
        QTest::keyClick(view, Qt::Key_End, Qt::ShiftModifier);
        QCOMPARE(view->selectedText(), text.mid(lineStart, broken - lineStart));
        // A step right leaves the line end for the next line's second letter.
        QTest::keyClick(view, Qt::Key_End);
        QTest::keyClick(view, Qt::Key_Right);
        QCOMPARE(view->caret(), broken + 1);
        QCOMPARE(view->lineOfChar(broken + 1), view->lineOfChar(lineStart) + 1);
    }

    // A damaged hyphenation dictionary costs the window nothing: the book is laid out at
    // once, without hyphens until the patterns are read, then again with what they give;
    // a pattern longer than any real one is left out.
    void aDamagedDictionary_data() {
        QTest::addColumn<QByteArray>("patterns");
        QTest::addColumn<bool>("breaks");
        std::mt19937 random(29);
        QByteArray noise(Hyphenator::kMaxFile, Qt::Uninitialized);
        for (char& c : noise)
            c = char(random());
        QByteArray longest;
        for (int i = 0; i < 1200; ++i) {
            longest += char(0xc0 + random() % 32);
            if (i % 3 == 1)
                longest += char('1' + random() % 5);
        }
        const QByteArray system = TestFiles::read(Hyphenator::defaultPatterns());
        QVERIFY(!system.isEmpty());
        QTest::newRow("random bytes") << noise << false;
        QTest::newRow("one pattern of 1,200 letters") << "KOI8-R\n" + longest + '\n' << false;
        QTest::newRow("the system's patterns and one of 1,200 letters")
            << system + '\n' + longest + '\n'
            << true;
    }
    void aDamagedDictionary() {
        QFETCH(QByteArray, patterns);
        QFETCH(bool, breaks);
        const QString path = m_library->filePath(QStringLiteral("hyph.dic"));
        TestFiles::write(path, patterns);
        Hyphenator::reload(path);
        const auto restore = qScopeGuard([] {
            Hyphenator::reload(Hyphenator::defaultPatterns());
            QTRY_VERIFY_WITH_TIMEOUT(Hyphenator::loaded(), 30000);
        });
        TMainForm& form = openAt(libraryBook(QStringLiteral("Проза"), prose(40)));
        form.resize(1200, 800);
        QTest::mouseClick(form.ToolButton8, Qt::LeftButton);
        form.LayoutDialog1->presetButton(QStringLiteral("Книжная"))->click();
        BookView* view = form.View;
        const auto brokenWords = [view] {
            const QString text = view->text(0, view->textLength());
            int broken = 0;
            for (qsizetype at = 0; at < view->textLength();) {
                const qsizetype end = view->lineRange(at).second;
                if (end <= at || end >= view->textLength())
                    break;
                broken += text[end - 1].isLetter() && text[end].isLetter();
                at = end;
            }
            return broken;
        };
        if (!Hyphenator::loaded())
            QCOMPARE(brokenWords(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(Hyphenator::loaded(), 30000);
        QCOMPARE(Hyphenator::loaded()->marked(QStringLiteral("библиотека")),
                 breaks ? QStringLiteral("биб-лио-те-ка") : QStringLiteral("библиотека"));
        if (breaks) {
            QTRY_VERIFY(brokenWords() > 0);
        } else {
            QCoreApplication::processEvents();
            QCOMPARE(brokenWords(), 0);
        }
    }

    // A tab is a place to break a line and a tab stop: words break only where they may be
    // hyphenated, and no line runs past the column's edge.
    void tabs_data() {
        QTest::addColumn<bool>("narrowJustified");
        QTest::newRow("the default layout") << false;
        QTest::newRow("a narrow justified column") << true;
    }
    void tabs() {
        QFETCH(bool, narrowJustified);
        QString paragraph;
        for (int i = 0; i < 60; ++i)
            paragraph += QStringLiteral("электрификация\tсоциалистического хозяйства\t\tплан%1 ")
                             .arg(i % 2 ? QStringLiteral("\t") : QString());
        const QByteArray bytes = TestFiles::cp1251(paragraph + QStringLiteral("\r\n") + paragraph);
        TMainForm& form = openAt(libraryBook(QStringLiteral("Таблица"), bytes));
        form.resize(1000, 800);
        BookView* view = form.View;
        if (narrowJustified) {
            QTest::mouseClick(form.ToolButton8, Qt::LeftButton);
            form.LayoutDialog1->presetButton(QStringLiteral("Книжная"))->click();
            form.LayoutDialog1->widthBox()->setValue(form.LayoutDialog1->widthBox()->minimum());
            QTRY_VERIFY(Hyphenator::loaded());
        }
        const QString text = view->text(0, view->textLength());
        const qreal right = view->columnLeft() + view->columnWidth();
        int lines = 0;
        for (qsizetype at = view->firstVisibleOffset(); at < view->textLength(); ++lines) {
            const auto [start, end] = view->lineRange(at);
            const QRect first = view->characterRect(start);
            if (first.isNull() || first.bottom() > view->viewport()->height() || end <= start)
                break;
            for (qsizetype i = start; i < end; ++i)
                if (!text[i].isSpace())
                    QVERIFY2(view->characterRect(i).right() <= right + 1,
                             qPrintable(text.mid(start, end - start)));
            if (end < text.size() && text[end - 1].isLetter() && text[end].isLetter()) {
                qsizetype word = end;
                while (word > 0 && text[word - 1].isLetter())
                    --word;
                qsizetype wordEnd = end;
                while (wordEnd < text.size() && text[wordEnd].isLetter())
                    ++wordEnd;
                const std::vector<int> points =
                    Hyphenator::russian().points(QStringView(text).mid(word, wordEnd - word));
                QVERIFY2(narrowJustified && std::find(points.begin(), points.end(),
                                                      int(end - word)) != points.end(),
                         qPrintable(text.mid(start, end - start) + QStringLiteral(" / ") +
                                    text.mid(end, 20)));
            }
            at = end;
        }
        QVERIFY(lines > 10);
    }

    // Paragraphs that bring their own indent as leading blanks, with blank lines between
    // them: under an indent the blanks are not drawn and a blank line is the paragraph
    // spacing; without one, both show as before. The text and its offsets stay the book's.
    void leadingBlanks_data() {
        QTest::addColumn<double>("indent");
        QTest::addColumn<double>("spacing");
        QTest::newRow("no indent") << 0.0 << 0.0;
        QTest::newRow("an indent") << 1.5 << 0.0;
        QTest::newRow("an indent and spacing") << 1.5 << 1.0;
    }
    void leadingBlanks() {
        QFETCH(double, indent);
        QFETCH(double, spacing);
        QByteArray bytes;
        for (int p = 0; p < 8; ++p)
            bytes += (p % 2 ? "\t " : "     ") + prose(1).trimmed() + "\r\n \r\n";
        TMainForm& form = openAt(libraryBook(QStringLiteral("Отступы"), bytes));
        form.resize(1000, 900);
        QTest::mouseClick(form.ToolButton8, Qt::LeftButton);
        form.LayoutDialog1->indentBox()->setValue(indent);
        form.LayoutDialog1->paragraphSpacingBox()->setValue(spacing);
        BookView* view = form.View;
        const QString text = view->text(0, view->textLength());
        QCOMPARE(text, Cp1251::decode(bytes));
        const qreal line = QFontMetricsF(view->textFont()).height();
        const qreal em = indent * QFontInfo(view->textFont()).pixelSize();
        int paragraphs = 0;
        qreal lastTop = -1;
        for (qsizetype at = 0; at < view->textLength();) {
            const auto [start, end] = view->lineRange(at);
            const QRect rect = view->characterRect(start);
            if (rect.isNull() || end <= start)
                break;
            const bool blank = text.mid(start, end - start).trimmed().isEmpty();
            if (!blank && (start == 0 || text[start - 1] == QLatin1Char('\n'))) {
                ++paragraphs;
                qsizetype letter = start;
                while (text[letter].isSpace())
                    ++letter;
                const qreal x = view->characterRect(letter).left() - view->columnLeft();
                if (indent > 0)
                    QVERIFY(qAbs(x - em) <= 1);
                else
                    QVERIFY(x > 2 * QFontMetricsF(view->textFont()).horizontalAdvance(' '));
                // The blank line above: a line, or the paragraph spacing.
                if (lastTop >= 0) {
                    const qreal gap = rect.top() - lastTop;
                    const qreal expected =
                        indent > 0 ? (1 + spacing + std::max(spacing, 0.25)) * line : 2 * line;
                    QVERIFY2(qAbs(gap - expected) <= 1.5,
                             qPrintable(QStringLiteral("%1 %2").arg(gap).arg(expected)));
                }
            }
            if (!blank)
                lastTop = rect.top();
            at = end;
        }
        QVERIFY(paragraphs >= 3);
        // The caret and the selection go by the book's offsets, blanks included.
        view->setSelectionStart(2);
        QCOMPARE(view->selectionStart(), 2);
    }

    // «Книжная» sets a serif made for Cyrillic, sized for about 66 characters a line;
    // «Ночная» keeps it and changes the colours; a font the user chooses wins, also after
    // a restart; without the book's face the text's font comes back.
    void theBookFace() {
        TMainForm& form = openAt(libraryBook(QStringLiteral("Проза"), prose(20)));
        form.resize(1400, 900);
        BookView* view = form.View;
        const QFont plain = view->textFont();
        QTest::mouseClick(form.ToolButton8, Qt::LeftButton);
        LayoutDialog* dialog = form.LayoutDialog1;
        dialog->presetButton(QStringLiteral("Книжная"))->click();
        const QString serif = QFontDatabase::families().contains(QStringLiteral("PT Serif"))
                                  ? QStringLiteral("PT Serif")
                                  : QStringLiteral("Liberation Serif");
        QCOMPARE(view->textFont().family(), serif);
        QVERIFY(dialog->bookFaceBox()->isChecked());
        const int size = view->textFont().pixelSize();
        QVERIFY(size >= BookLayout::kMinFaceSize && size <= BookLayout::kMaxFaceSize);
        const qreal room = view->viewport()->width();
        const qreal line = 66 * QFontMetricsF(view->textFont()).averageCharWidth();
        QVERIFY(line <= room || size == BookLayout::kMinFaceSize);
        // The text's size keys make the face bigger and bring it back.
        auto* bigger = form.findChild<QShortcut*>(QStringLiteral("BiggerKey"));
        auto* original = form.findChild<QShortcut*>(QStringLiteral("OriginalSizeKey"));
        QVERIFY(bigger && original);
        Q_EMIT bigger->activated();
        QCOMPARE(view->textFont().family(), serif);
        QVERIFY(view->textFont().pixelSize() > size);
        Q_EMIT original->activated();
        QCOMPARE(view->textFont().pixelSize(), size);
        dialog->presetButton(QStringLiteral("Ночная"))->click();
        QCOMPARE(view->textFont().family(), serif);
        QVERIFY(form.bookLayout().bookFace);
        dialog->bookFaceBox()->click();
        QCOMPARE(view->textFont().family(), plain.family());
        dialog->bookFaceBox()->click();
        QCOMPARE(view->textFont().family(), serif);

        QFont chosen(QStringLiteral("DejaVu Sans"));
        chosen.setPixelSize(19);
        (*m_dialogs)->fonts.enqueue({chosen, QColor(Qt::black)});
        QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
        QCOMPARE(view->textFont().family(), chosen.family());
        dialog->presetButton(QStringLiteral("Книжная"))->click();
        QCOMPARE(view->textFont().family(), chosen.family());
        restart();
        TMainForm& again = openAt(libraryBook(QStringLiteral("Проза 2"), prose(20)));
        QVERIFY(again.bookLayout().bookFace);
        QCOMPARE(again.View->textFont().family(), chosen.family());
    }

    // The count of justified lines, made by two threads from both ends of the book, is
    // the count of each piece in order: for paragraphs of one piece and of many.
    void justifiedLinesCountedFromBothEnds() {
        QByteArray bytes;
        for (int i = 0; i < 300; ++i)
            bytes += i % 25 == 0 ? prose(12).replace("\r\n", " ") + "\r\n" : prose(1 + i % 3);
        const auto text = std::make_shared<const BookDocument>(BookDocument::fromBytes(bytes));
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(15);
        LineRules rules;
        rules.hyphenator = &Hyphenator::russian();
        rules.hyphenWidth = 5;
        rules.optimal = true;
        const auto lines =
            std::make_shared<const BookLines>(text, CharWidths(font, *text), 420, rules);
        QVERIFY(lines->pieceCount() > lines->text().paragraphCount());
        LineCounter counter;
        counter.start(lines);
        QTRY_VERIFY_WITH_TIMEOUT(counter.finished(), 60000);
        int total = 0;
        for (int n = 0; n < lines->pieceCount(); ++n) {
            QCOMPARE(counter.linesBefore(n), total);
            total += lines->lineCount(lines->piece(n));
        }
    }

    // Justified lines as the view draws them are the lines the breaker chose (which the
    // line counter counts), tight ones included, and none is wider than the column: at
    // many widths, in the book's face and the text's, with hyphens and without.
    void justifiedLinesAsBroken() {
        // Dashes bound to the words beside them by no-break spaces, as typeset prose has
        // them: a line neither ends nor starts at one, and the layout widens and narrows
        // them with the other spaces.
        const auto text = std::make_shared<const BookDocument>(BookDocument::fromBytes(
            prose(30).replace("\r\n", " ").replace(" \xE8 ", "\xA0\x97\xA0\xE8 "))); // «и»
        int tight = 0, checked = 0;
        for (const QFont& base : {BookLayout::bookFont(1900), QFont(QStringLiteral("Arial"))}) {
            QFont font = base;
            if (font.pixelSize() <= 0)
                font.setPixelSize(15);
            font.setKerning(false);
            const CharWidths widths(font, *text);
            const QFontMetricsF metrics(font);
            for (const int breaking : {0, 1, 2}) // greedy; total fit without, with hyphens
                for (int column = 300; column <= 1000; column += 70) {
                    LineRules rules;
                    rules.indent = 1.5 * font.pixelSize();
                    rules.hyphenator = breaking == 2 ? &Hyphenator::russian() : nullptr;
                    rules.hyphenWidth = metrics.horizontalAdvance(QLatin1Char('-'));
                    rules.holdShortWords = true;
                    rules.optimal = breaking > 0;
                    const BookLines lines(text, widths, column - 2, rules);
                    ParagraphStyle style;
                    style.font = font;
                    style.width = column;
                    style.lineHeight = metrics.height();
                    style.indent = rules.indent;
                    style.justify = true;
                    for (int n = 0; n < lines.pieceCount(); ++n) {
                        const BookLines::Piece piece = lines.piece(n);
                        const std::vector<qsizetype> starts = lines.lineStarts(piece);
                        const ParagraphLayout layout(text->text(piece.from, piece.to), piece.from,
                                                     starts, piece.lastOfParagraph, style,
                                                     piece.index == 0,
                                                     lines.hyphenatedEnds(piece, starts));
                        QCOMPARE(layout.lineCount(), int(starts.size()));
                        QCOMPARE(lines.lineCount(piece), int(starts.size()));
                        for (int i = 0; i < layout.lineCount(); ++i) {
                            QCOMPARE(layout.lineStart(i), starts[size_t(i)]);
                            const qsizetype s = starts[size_t(i)];
                            QVERIFY(i == 0 || (text->at(s) != 0xA0 && text->at(s - 1) != 0xA0));
                            // From the layout's left edge, the indent included; the hyphen
                            // stands after endX.
                            const qreal hyphen = layout.hyphenated(i) ? rules.hyphenWidth : 0;
                            QVERIFY2(layout.endX(i) + hyphen <= column + 1,
                                     qPrintable(QStringLiteral("%1 > %2")
                                                    .arg(layout.endX(i) + hyphen)
                                                    .arg(column)));
                            ++checked;
                        }
                        // Lines narrower than their natural width.
                        for (size_t i = 0; i + 1 < starts.size(); ++i) {
                            const QString line = text->text(starts[i], starts[i + 1]).trimmed();
                            const qreal room =
                                column - 2 - (i == 0 && piece.index == 0 ? rules.indent : 0);
                            tight += metrics.horizontalAdvance(line) > room;
                        }
                    }
                }
        }
        QVERIFY(checked > 1000);
        QVERIFY2(tight > 10, qPrintable(QString::number(tight)));
    }

    // Space between paragraphs: lines of a paragraph a line height apart, paragraphs that
    // much more; a click finds the line under it, and the book's end is reached whole.
    void spaceBetweenParagraphs() {
        TMainForm& form = openAt(libraryBook(QStringLiteral("Проза"), prose(60)));
        QTest::mouseClick(form.ToolButton8, Qt::LeftButton);
        form.LayoutDialog1->lineSpacingBox()->setValue(1.5);
        form.LayoutDialog1->paragraphSpacingBox()->setValue(1.0);
        BookView* view = form.View;
        const qreal line = 1.5 * QFontMetricsF(view->textFont()).height();
        const QString text = view->text(0, view->textLength());
        int gaps = 0;
        qsizetype at = view->firstVisibleOffset();
        QRect previous = view->characterRect(at);
        for (;;) {
            const qsizetype next = view->lineRange(at).second;
            const QRect rect = view->characterRect(next);
            if (rect.isNull() || next >= view->textLength())
                break;
            const bool newParagraph = text[next - 1] == QLatin1Char('\n');
            gaps += newParagraph;
            QVERIFY(qAbs(rect.top() - previous.top() - (newParagraph ? 2 : 1) * line) <= 1.01);
            // A click in the middle of a line wholly shown lands on it.
            if (rect.top() + line <= view->viewport()->height())
                QCOMPARE(view->lineRange(view->offsetAt(rect.center())).first, next);
            previous = rect;
            at = next;
        }
        QVERIFY(gaps >= 1);
        QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
        const QRect last = view->characterRect(view->textLength() - 1);
        QVERIFY(!last.isNull());
        QVERIFY(last.bottom() < view->viewport()->height());
    }

private:
    RecordingDialogs& dialogs() { return **m_dialogs; }

    // Russian prose of long words in paragraphs of several lines, code page 1251.
    static QByteArray prose(int paragraphs) {
        const QStringList words =
            QStringLiteral(
                "в кабинете полном дыма шел разговор о войне которая была объявлена манифестом о "
                "наборе манифеста еще никто не читал но все знали о его появлении граф сидел на "
                "оттоманке между двумя курившими и разговаривавшими соседями и с видимым "
                "удовольствием смотрел на куривших и слушал разговор двух соседей своих которых он "
                "стравил между собой один из говоривших был штатский с морщинистым желчным и "
                "бритым "
                "худым лицом человек уже приближавшийся к старости")
                .split(QLatin1Char(' '));
        QString text;
        for (int p = 0; p < paragraphs; ++p) {
            QString paragraph;
            for (int w = 0; w < 60 + p % 23; ++w)
                paragraph += words[(p * 7 + w * 3) % words.size()] + QLatin1Char(' ');
            paragraph[0] = paragraph[0].toUpper();
            text += paragraph.trimmed() + QStringLiteral(".\r\n");
        }
        return TestFiles::cp1251(text);
    }
    // Where the view shows its first lines: the rectangle of each line's first character.
    static QList<QRect> shownLines(TMainForm& form) {
        QList<QRect> lines;
        BookView* view = form.View;
        for (qsizetype at = view->firstVisibleOffset(); lines.size() < 30;) {
            const auto [start, end] = view->lineRange(at);
            lines << view->characterRect(start);
            if (end <= at || end >= view->textLength())
                break;
            at = end;
        }
        return lines;
    }
};

QTEST_MAIN(TestReaderLayout)
#include "test_reader_layout.moc"

#include "core/base/cp1251.h"
#include "core/library/reading_state.h"
#include "support/reader_library.h"
#include "support/recording_dialogs.h"
#include "support/test_files.h"
#include "ui/bookview/book_view.h"
#include "ui/controls/status_panels.h"
#include "ui/dialogs/find_dialog.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/reader/layout_dialog.h"
#include "ui/reader/reader_window.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <functional>

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
        // Editing has no layout: the button rests and the dialog goes until viewing again.
        form.ToolButton7Click();
        QVERIFY(!form.ToolButton8->isEnabled());
        QVERIFY(!form.LayoutDialog1->isVisible());
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
        BookView* view = form.View;
        view->scrollOffsetToTop(qsizetype(place * double(bytes.size())));
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
            QVERIFY(qAbs(first.left() - (left + (paragraphStart ? indent : 0))) <= 1);
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

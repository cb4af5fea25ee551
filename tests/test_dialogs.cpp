// The real message boxes and Qt's own translations, on real widgets.
#include "core/book/book_document.h"
#include "support/test_files.h"
#include "ui/app/application.h"
#include "ui/dialogs/dialogs.h"
#include "ui/dialogs/font_dialog.h"
#include "ui/print/print_job.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontComboBox>
#include <QFontInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestDialogs : public QObject {
    Q_OBJECT

    struct SeenBox {
        QStringList buttons;
        QRect frame;
        QString text;
    };

    // Runs a real box, reads what it shows once it is up, and presses the button given.
    template <typename Run> SeenBox inspect(Run run, const QString& press) {
        SeenBox seen;
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            QTRY_VERIFY(box->isVisible());
            for (QAbstractButton* button : box->buttons())
                seen.buttons << button->text();
            seen.frame = box->frameGeometry();
            seen.text = box->text();
            for (QAbstractButton* button : box->buttons())
                if (button->text() == press)
                    button->click();
        });
        run();
        return seen;
    }

private Q_SLOTS:
    // First: no translator may be installed before it.
    void qtsOwnTextsAreRussianInAnEnglishSession() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        setUpApplication(*qApp);
        QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Open);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Отмена"));
        // What Qt's own translations lack: the file dialog's type of a folder.
        QCOMPARE(QFileIconProvider().type(QFileInfo(QDir::tempPath())), QStringLiteral("Папка"));
        QLocale::setDefault(QLocale::system());
    }

    void russianSessionGetsQtsOwnTextsInRussian() {
        QVERIFY(installQtTranslations(*qApp, QLocale(QLocale::Russian, QLocale::Russia)));
        QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Open);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Отмена"));
        QCOMPARE(buttons.button(QDialogButtonBox::Open)->text(), QStringLiteral("Открыть"));

        // The program's own boxes keep their "OK" and "Cancel".
        Dialogs real;
        bool answer = true;
        const SeenBox seen = inspect(
            [&] { answer = real.confirm(nullptr, QStringLiteral("Выйти из программы Tomeria?")); },
            QStringLiteral("Cancel"));
        QCOMPARE(seen.buttons, (QStringList{"OK", "Cancel"}));
        QVERIFY(!answer);
    }

    void aLocaleWithoutTranslationsKeepsQtsTexts() {
        QVERIFY(!installQtTranslations(*qApp, QLocale(QLocale::C)));
    }

    void messagesAreCentredOnTheScreenNotOnTheirWindow() {
        QWidget parent;
        parent.setGeometry(10, 10, 200, 100); // in the upper left corner
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        Dialogs real;
        const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
        const SeenBox message =
            inspect([&] { real.message(&parent, QStringLiteral("Файл книги не найден.")); },
                    QStringLiteral("OK"));
        QCOMPARE(message.buttons, QStringList{"OK"});
        QVERIFY2((message.frame.center() - screenCentre).manhattanLength() <= 2,
                 qPrintable(QStringLiteral("box at %1,%2")
                                .arg(message.frame.center().x())
                                .arg(message.frame.center().y())));
        const SeenBox error =
            inspect([&] { real.error(&parent, QStringLiteral("Stream write error.")); },
                    QStringLiteral("OK"));
        QVERIFY((error.frame.center() - screenCentre).manhattanLength() <= 2);
    }

    // The program's own yes-or-no questions name their action and «Отмена» in Russian;
    // the confirmations of old keep "OK" and "Cancel".
    void ownQuestionsNameTheirAction() {
        Dialogs real;
        const QString text = QStringLiteral("Заменить его вашей версией?");
        bool given = false;
        SeenBox seen = inspect([&] { given = real.confirm(nullptr, text, "Заменить"); },
                               QStringLiteral("Заменить"));
        QCOMPARE(QSet<QString>(seen.buttons.begin(), seen.buttons.end()),
                 (QSet<QString>{"Заменить", "Отмена"}));
        QVERIFY(given);
        seen = inspect([&] { given = real.confirm(nullptr, text, "Заменить"); },
                       QStringLiteral("Отмена"));
        QVERIFY(!given);
        seen = inspect([&] { given = real.confirm(nullptr, text); }, QStringLiteral("Cancel"));
        QCOMPARE(QSet<QString>(seen.buttons.begin(), seen.buttons.end()),
                 (QSet<QString>{"OK", "Cancel"}));
        QVERIFY(!given);
    }

    // The question about unsaved edits: Russian buttons, centred like every other box,
    // each button its own answer.
    void theUnsavedEditsQuestionSpeaksRussian_data() {
        QTest::addColumn<QString>("press");
        QTest::addColumn<int>("answer");
        QTest::newRow("Да") << QStringLiteral("Да") << int(Dialogs::Answer::Yes);
        QTest::newRow("Нет") << QStringLiteral("Нет") << int(Dialogs::Answer::No);
        QTest::newRow("Отмена") << QStringLiteral("Отмена") << int(Dialogs::Answer::Cancel);
    }
    void theUnsavedEditsQuestionSpeaksRussian() {
        QFETCH(QString, press);
        QFETCH(int, answer);
        QWidget parent;
        parent.setGeometry(600, 10, 200, 100); // near the top right
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        Dialogs real;
        Dialogs::Answer given = Dialogs::Answer::Yes;
        const SeenBox seen = inspect(
            [&] {
                given = real.ask(&parent, QStringLiteral("В книге «Б» есть несохранённые "
                                                         "изменения. Сохранить их?"));
            },
            press);
        // In the order the desktop's style puts them.
        QCOMPARE(QSet<QString>(seen.buttons.begin(), seen.buttons.end()),
                 (QSet<QString>{"Да", "Нет", "Отмена"}));
        QCOMPARE(seen.buttons.size(), 3);
        QCOMPARE(int(given), answer);
        const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY((seen.frame.center() - screenCentre).manhattanLength() <= 2);
    }

    void fontSizesConvertLikeTheScreenDoes() {
        QCOMPARE(FontDialog::pointsFromPixels(11, 96), 8);
        QCOMPARE(FontDialog::pointsFromPixels(14, 96), 11); // 10.5: half away from zero
        QCOMPARE(FontDialog::pixelsFromPoints(8, 96), 11);
        QCOMPARE(FontDialog::pixelsFromPoints(12, 96), 16);
        QCOMPARE(FontDialog::pixelsFromPoints(11, 96), 15);
        QCOMPARE(FontDialog::pixelsFromPoints(9, 120), 15);
        QCOMPARE(FontDialog::pointsFromPixels(13, 120), 8); // 7.8
    }

    // The font dialog on the reader's first font: the face it resolves to, sizes in
    // points, and the choice in pixels.
    void fontDialogShowsTheResolvedFaceInPoints() {
        if (QGuiApplication::primaryScreen()->logicalDotsPerInchY() != 96)
            QSKIP("the screen's logical resolution is not 96 dpi");
        QFont layoutFont(QStringLiteral("MS Sans Serif"));
        layoutFont.setPixelSize(11);
        const QString resolved = QFontInfo(layoutFont).family();
        QVERIFY(resolved != QStringLiteral("MS Sans Serif"));

        FontDialog dialog({layoutFont, Qt::black});
        auto* family = dialog.findChild<QFontComboBox*>(QStringLiteral("family"));
        auto* size = dialog.findChild<QComboBox*>(QStringLiteral("size"));
        QPushButton* ok = nullptr;
        for (QAbstractButton* button : dialog.findChild<QDialogButtonBox*>()->buttons())
            if (button->text() == QStringLiteral("OK"))
                ok = qobject_cast<QPushButton*>(button);
        QVERIFY(ok);
        QCOMPARE(family->currentText(), resolved);
        QCOMPARE(family->currentFont().family(), resolved);
        QCOMPARE(size->currentText(), QStringLiteral("8"));
        QVERIFY(size->findText(QStringLiteral("72")) >= 0);
        // Untouched, the choice is the font given.
        QCOMPARE(dialog.choice().font.family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(dialog.choice().font.pixelSize(), 11);

        size->setCurrentIndex(size->findText(QStringLiteral("12")));
        QCOMPARE(dialog.choice().font.pixelSize(), 16);
        size->setEditText(QStringLiteral("7"));
        QCOMPARE(dialog.choice().font.pixelSize(), 9);
        QVERIFY(ok->isEnabled());
        for (const QString& bad : {QString(), QStringLiteral("0")}) {
            size->setEditText(bad);
            QVERIFY2(!ok->isEnabled(), qPrintable(bad));
        }
        size->setEditText(QStringLiteral("8"));
        QVERIFY(ok->isEnabled());
        QCOMPARE(dialog.choice().font.pixelSize(), 11);

        family->setCurrentFont(QFont(QStringLiteral("Liberation Serif")));
        QCOMPARE(dialog.choice().font.family(), QStringLiteral("Liberation Serif"));

        // A pixel size with no whole point size of its own comes back as it was, and
        // so does a face missing from the list.
        QFont odd(QStringLiteral("Face Nobody Has"));
        odd.setPixelSize(14);
        odd.setBold(true);
        FontDialog second({odd, QColor(128, 0, 0)});
        QCOMPARE(second.findChild<QFontComboBox*>(QStringLiteral("family"))->currentText(),
                 QFontInfo(odd).family());
        QCOMPARE(second.findChild<QComboBox*>(QStringLiteral("size"))->currentText(),
                 QStringLiteral("11"));
        const FontChoice back = second.choice();
        QCOMPARE(back.font.family(), QStringLiteral("Face Nobody Has"));
        QCOMPARE(back.font.pixelSize(), 14);
        QVERIFY(back.font.bold());
        QCOMPARE(back.colour, QColor(128, 0, 0));
    }

    // The print dialog to a PDF file: the range and the copies chosen there are what
    // comes out; it offers no selection and no current page.
    void printDialogRangeAndCopiesReachThePdfFile() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("poppler-utils is not installed");
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("book.pdf"));
        QString text;
        for (int i = 0; i < 100; ++i)
            text += QStringLiteral("Строка %1\r\n").arg(i);
        const BookDocument book = BookDocument::fromText(text);
        QFont font(QStringLiteral("Liberation Serif"));
        font.setPixelSize(24);

        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        bool offersSelection = true;
        bool offersCurrentPage = true;
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(qobject_cast<QPrintDialog*>(QApplication::activeModalWidget()));
            QWidget* dialog = QApplication::activeModalWidget();
            auto* selection = dialog->findChild<QRadioButton*>(QStringLiteral("printSelection"));
            auto* current = dialog->findChild<QRadioButton*>(QStringLiteral("printCurrentPage"));
            offersSelection = selection && selection->isVisibleTo(dialog);
            offersCurrentPage = current && current->isVisibleTo(dialog);
            dialog->findChild<QRadioButton*>(QStringLiteral("printRange"))->click();
            dialog->findChild<QSpinBox*>(QStringLiteral("to"))->setValue(3);
            dialog->findChild<QSpinBox*>(QStringLiteral("from"))->setValue(2);
            dialog->findChild<QSpinBox*>(QStringLiteral("copies"))->setValue(2);
            dialog->findChild<QCheckBox*>(QStringLiteral("collate"))->setChecked(false);
            auto* buttons = dialog->findChild<QDialogButtonBox*>();
            for (QAbstractButton* button : buttons->buttons())
                if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole)
                    button->click();
        });
        QVERIFY(Dialogs().choosePrinter(nullptr, printer));
        QVERIFY(!offersSelection);
        QVERIFY(!offersCurrentPage);
        PrintJob::print(printer, book, font, Qt::black, QStringLiteral("text"), nullptr);

        const QStringList pages = TestFiles::pdfPages(pdf);
        QCOMPARE(pages.size(), 4);
        QVERIFY2(!pages[0].split(QLatin1Char('\n')).contains(QStringLiteral("Строка 0")),
                 qPrintable(pages[0]));
        QCOMPARE(pages[0], pages[1]);
        QCOMPARE(pages[2], pages[3]);
        QVERIFY(pages[0] != pages[2]);
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"

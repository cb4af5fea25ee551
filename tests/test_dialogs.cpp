// The real message boxes and Qt's own translations, on real widgets.
#include "ui/app/application.h"
#include "ui/dialogs/dialogs.h"
#include "ui/editor/rich_text_editor.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLineEdit>
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

    // The print dialog to a PDF file: the range and the copies chosen there are what
    // comes out; it offers no selection and no current page.
    void printDialogRangeAndCopiesReachThePdfFile() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("poppler-utils is not installed");
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("book.pdf"));
        RichTextEditor editor;
        QString text;
        for (int i = 0; i < 100; ++i)
            text += QStringLiteral("Строка %1\n").arg(i);
        editor.setPlainText(text);
        QFont font(QStringLiteral("Liberation Serif"));
        font.setPixelSize(24);
        editor.SetTextFont(font, Qt::black);

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
        editor.PrintText(printer, QStringLiteral("text"));

        QProcess pdftotext;
        pdftotext.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QVERIFY(pdftotext.waitForFinished());
        const QStringList pages =
            QString::fromUtf8(pdftotext.readAllStandardOutput()).split(QLatin1Char('\f'));
        QCOMPARE(pages.size(), 5); // four pages and what follows the last form feed
        QVERIFY2(!pages[0].contains(QStringLiteral("Строка 0\n")), qPrintable(pages[0]));
        QCOMPARE(pages[0], pages[1]);
        QCOMPARE(pages[2], pages[3]);
        QVERIFY(pages[0] != pages[2]);
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"

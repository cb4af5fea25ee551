// The real message boxes and Qt's own translations, on real widgets.
#include "ui/app/application.h"
#include "ui/dialogs/dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
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
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"

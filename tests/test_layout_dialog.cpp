#include "ui/reader/layout_dialog.h"
#include "ui/reader/toolbar_images.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

Q_DECLARE_METATYPE(BookLayout)

// The «Оформление» dialog: each choice announced at once, the presets.
class TestLayoutDialog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void choicesActAtOnce() {
        LayoutDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Оформление"));
        QCOMPARE(dialog.bookLayout(), BookLayout());
        QCOMPARE(dialog.widthBox()->text(), QStringLiteral("во всё окно"));
        QSignalSpy spy(&dialog, &LayoutDialog::layoutChanged);
        BookLayout expected;
        const auto step = [&](auto change) {
            change();
            QCOMPARE(spy.size(), 1);
            QCOMPARE(spy.takeFirst().at(0).value<BookLayout>(), expected);
        };
        step([&] {
            dialog.widthBox()->stepUp();
            expected.width = 40;
        });
        QCOMPARE(dialog.widthBox()->text(), QStringLiteral("40 симв."));
        step([&] {
            dialog.marginsBox()->setValue(250);
            expected.margins = 200;
        });
        step([&] {
            dialog.lineSpacingBox()->stepUp();
            expected.lineSpacing = 1.1;
        });
        QCOMPARE(dialog.lineSpacingBox()->text(), QStringLiteral("1,1"));
        step([&] {
            dialog.indentBox()->stepUp();
            expected.indent = 0.5;
        });
        step([&] {
            dialog.paragraphSpacingBox()->setValue(0.5);
            expected.paragraphSpacing = 0.5;
        });
        step([&] {
            dialog.justifyBox()->click();
            expected.justify = true;
        });
        step([&] {
            dialog.hyphenateBox()->click();
            expected.hyphenate = true;
        });
        step([&] {
            dialog.widthBox()->setValue(dialog.widthBox()->minimum());
            expected.width = 0;
        });
        QCOMPARE(dialog.pagesBox()->count(), 3);
        QCOMPARE(dialog.pagesBox()->itemText(0), QStringLiteral("Лента"));
        QCOMPARE(dialog.pagesBox()->itemText(1), QStringLiteral("Страница"));
        QCOMPARE(dialog.pagesBox()->itemText(2), QStringLiteral("Разворот"));
        step([&] {
            dialog.pagesBox()->setCurrentIndex(2);
            expected.pages = BookLayout::Pages::Spread;
        });
        step([&] {
            dialog.pagesBox()->setCurrentIndex(0);
            expected.pages = BookLayout::Pages::Ribbon;
        });
        // Shown from the reading state without a word back.
        dialog.setBookLayout(BookLayout());
        QCOMPARE(spy.size(), 0);
        QCOMPARE(dialog.bookLayout(), BookLayout());
    }

    void presets() {
        LayoutDialog dialog;
        QSignalSpy layouts(&dialog, &LayoutDialog::layoutChanged);
        QSignalSpy colours(&dialog, &LayoutDialog::coloursChosen);
        dialog.presetButton(QStringLiteral("Книжная"))->click();
        QCOMPARE(layouts.size(), 1);
        const BookLayout book = dialog.bookLayout();
        QCOMPARE(book.width, 66);
        QCOMPARE(book.lineSpacing, 1.3);
        QCOMPARE(book.indent, 1.5);
        QVERIFY(book.justify && book.hyphenate);
        QCOMPARE(book.margins, 0);
        QCOMPARE(colours.size(), 0);

        dialog.presetButton(QStringLiteral("Ночная"))->click();
        QCOMPARE(layouts.size(), 1); // the choices stay
        QCOMPARE(colours.takeFirst(),
                 (QVariantList{QColor(0xc8, 0xc8, 0xc8), QColor(0x1e, 0x1e, 0x1e)}));
        dialog.presetButton(QStringLiteral("Сепия"))->click();
        QCOMPARE(colours.takeFirst(),
                 (QVariantList{QColor(0x5b, 0x46, 0x36), QColor(0xf4, 0xec, 0xd8)}));
        QCOMPARE(dialog.bookLayout(), book);

        dialog.presetButton(QStringLiteral("Как в редакторе"))->click();
        QCOMPARE(layouts.size(), 2);
        QCOMPARE(layouts.last().at(0).value<BookLayout>(), BookLayout());
        QCOMPARE(colours.takeFirst(), (QVariantList{QColor(Qt::black), QColor(Qt::white)}));

        // Pages are the reader's own choice: a preset sets the type around them.
        dialog.pagesBox()->setCurrentIndex(int(BookLayout::Pages::Spread));
        dialog.presetButton(QStringLiteral("Книжная"))->click();
        BookLayout spread = BookLayout::bookish();
        spread.pages = BookLayout::Pages::Spread;
        QCOMPARE(layouts.last().at(0).value<BookLayout>(), spread);
        dialog.presetButton(QStringLiteral("Как в редакторе"))->click();
        QCOMPARE(layouts.last().at(0).value<BookLayout>().pages, BookLayout::Pages::Spread);
    }

    // The new picture is drawn, and differs from the others.
    void pageWithLines() {
        const auto image = [](int index) {
            QImage image(16, 16, QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            ToolbarImages::paint(painter, index);
            return image;
        };
        const QImage page = image(ToolbarImages::kCount - 1);
        QVERIFY(page != image(ToolbarImages::kCount)); // past the last: nothing
        for (int i = 0; i + 1 < ToolbarImages::kCount; ++i)
            QVERIFY(page != image(i));
    }
};

QTEST_MAIN(TestLayoutDialog)
#include "test_layout_dialog.moc"

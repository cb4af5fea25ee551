#include "ui/controls/color_btn.h"
#include "ui/controls/gl_bevel.h"
#include "ui/controls/status_panels.h"

#include <QApplication>
#include <QBitmap>
#include <QLabel>
#include <QPainter>
#include <QSet>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>

namespace {

constexpr QRgb kUnpainted = 0xFFFF00FF;

QImage render(TglBevel& bevel) {
    QImage image(bevel.size(), QImage::Format_RGB32);
    image.fill(kUnpainted);
    QPainter painter(&image);
    bevel.paintOn(painter);
    return image;
}

// A bevel set up as the library window's header.
void header(TglBevel& bevel, int width, int height = 41) {
    bevel.resize(width, height);
    bevel.setBevelInner(bvNone);
    bevel.Gradient().setFromColor(clSilver);
    bevel.Gradient().setActive(true);
    bevel.Gradient().setOrientation(fgdHorizontal);
}

bool rowIs(const QImage& image, int y, QRgb colour) {
    for (int x = 0; x < image.width(); ++x)
        if (image.pixel(x, y) != colour)
            return false;
    return true;
}

QRgb grey(int level) {
    return qRgb(level, level, level);
}

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

class TestControls : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void mulDivRoundsHalvesAwayFromZero() {
        QCOMPARE(MulDiv(1, -192, 40), -5);
        QCOMPARE(MulDiv(1, 41, 2), 21);
        QCOMPARE(MulDiv(5, 1, 2), 3);
        QCOMPARE(MulDiv(-5, 1, 2), -3);
        QCOMPARE(MulDiv(1, 1, 0), -1);
    }

    void headerRows_data() {
        QTest::addColumn<int>("width");
        QTest::newRow("designed width") << 765;
        QTest::newRow("narrow") << 37;
    }
    void headerRows() {
        QFETCH(int, width);
        const QList<int> levels{0xC0, 0xBB, 0xB6, 0xB2, 0xAD, 0xA8, 0xA3, 0x9E, 0x9A, 0x95, 0x90,
                                0x8B, 0x86, 0x82, 0x7D, 0x78, 0x73, 0x6E, 0x6A, 0x65, 0x60, 0x5B,
                                0x56, 0x52, 0x4D, 0x48, 0x43, 0x3E, 0x3A, 0x35, 0x30, 0x2B, 0x26,
                                0x22, 0x1D, 0x18, 0x13, 0x0E, 0x0A, 0x05, 0x00};
        TglBevel bevel;
        header(bevel, width);
        const QImage image = render(bevel);
        for (int y = 0; y < 41; ++y)
            QVERIFY2(rowIs(image, y, grey(levels[y])), qPrintable(QString::number(y)));
    }

    void bandCounts() {
        TglBevel bevel;
        header(bevel, 20);
        bevel.Gradient().setSteps(2);
        QImage image = render(bevel);
        for (int y = 0; y < 41; ++y)
            QVERIFY(rowIs(image, y, y <= 20 ? grey(192) : grey(0)));

        bevel.Gradient().setSteps(0);
        QCOMPARE(bevel.Gradient().Steps(), 1);
        image = render(bevel);
        QVERIFY(rowIs(image, 0, kUnpainted) && rowIs(image, 40, kUnpainted));
        bevel.Gradient().setSteps(1000);
        QCOMPARE(bevel.Gradient().Steps(), 255);

        TglBevel tall;
        header(tall, 4, 300);
        tall.Gradient().setFromColor(clBlack);
        tall.Gradient().setToColor(rgbColour(255, 255, 255));
        image = render(tall);
        QSet<QRgb> colours;
        for (int y = 0; y < 300; ++y) {
            QVERIFY(rowIs(image, y, image.pixel(0, y)));
            colours.insert(image.pixel(0, y));
        }
        QCOMPARE(colours.size(), 255);

        TglBevel one;
        header(one, 10, 1);
        QVERIFY(rowIs(render(one), 0, grey(192)));
    }

    void percentFilling() {
        TglBevel bevel;
        header(bevel, 10);
        bevel.Gradient().setPercentFilling(50);
        const QImage image = render(bevel);
        for (int y = 0; y <= 21; ++y)
            QVERIFY(!rowIs(image, y, kUnpainted));
        for (int y = 22; y < 41; ++y)
            QVERIFY(rowIs(image, y, kUnpainted));
    }

    void convergentAndRectangleModes() {
        TglBevel bevel;
        header(bevel, 10);
        bevel.Gradient().setOrientation(fgdHorzConvergent);
        QImage image = render(bevel);
        QVERIFY(rowIs(image, 0, grey(192)));
        QVERIFY(rowIs(image, 40, grey(192)));
        QVERIFY(rowIs(image, 20, grey(0)));
        QCOMPARE(bevel.Gradient().Orientation(), fgdHorzConvergent);

        bevel.resize(41, 10);
        bevel.Gradient().setOrientation(fgdVertConvergent);
        image = render(bevel);
        QCOMPARE(image.pixel(0, 5), grey(192));
        QCOMPARE(image.pixel(40, 5), grey(192));
        QCOMPARE(image.pixel(20, 5), grey(0));

        bevel.resize(60, 40);
        bevel.Gradient().setOrientation(fgdRectangle);
        image = render(bevel);
        QCOMPARE(image.pixel(0, 0), grey(192));
        QCOMPARE(image.pixel(59, 39), grey(192));
        QCOMPARE(image.pixel(30, 20), grey(0));
    }

    void biasModesStartInTheirCorner() {
        TglBevel bevel;
        header(bevel, 60, 40);
        bevel.Gradient().setOrientation(fgdLeftBias);
        QImage image = render(bevel);
        QCOMPARE(image.pixel(0, 1), grey(192));
        QVERIFY(qRed(image.pixel(58, 38)) < 20);
        bevel.Gradient().setOrientation(fgdRightBias);
        image = render(bevel);
        QCOMPARE(image.pixel(59, 0), grey(192));
        QVERIFY(qRed(image.pixel(1, 38)) < 20);
    }

    void hatchedAndBufferedDrawing() {
        TglBevel bevel;
        header(bevel, 32);
        bevel.Gradient().setBrushStyle(bsCross);
        QImage image = render(bevel);
        int hatch = 0, gaps = 0;
        for (int y = 0; y < 41; ++y)
            for (int x = 0; x < 32; ++x)
                (image.pixel(x, y) == kUnpainted ? gaps : hatch) += 1;
        QVERIFY(hatch > 0 && gaps > 0); // hatch lines in the band colour, gaps left as they were
        bevel.Gradient().setBrushStyle(bsSolid);
        const QImage direct = render(bevel);
        bevel.Gradient().setBufferedDraw(true);
        QCOMPARE(render(bevel), direct);
    }

    void freshBevelShowsItsLoweredInnerLines() {
        TglBevel bevel;
        QCOMPARE(bevel.size(), QSize(50, 50));
        QVERIFY(!bevel.Gradient().Active());
        const QImage image = render(bevel);
        const QRgb shadow = resolveColour(clBtnShadow).rgb();
        const QRgb highlight = resolveColour(clBtnHighlight).rgb();
        QCOMPARE(image.pixel(0, 10), shadow);
        QCOMPARE(image.pixel(10, 0), shadow);
        QCOMPARE(image.pixel(49, 10), highlight);
        QCOMPARE(image.pixel(10, 49), highlight);
        QCOMPARE(image.pixel(49, 49), highlight);
        QCOMPARE(image.pixel(10, 10), kUnpainted);
    }

    void dividerLinesAreGrooves() {
        TglBevel bevel;
        bevel.resize(40, 20);
        bevel.setBevelInner(bvNone);
        bevel.VertLines().setCount(1);
        const QImage image = render(bevel);
        QCOMPARE(image.pixel(20, 10), resolveColour(clBtnShadow).rgb());
        QCOMPARE(image.pixel(21, 10), resolveColour(clBtnHighlight).rgb());
    }

    void noGradientOnAShallowSurface() {
        TglBevel bevel;
        header(bevel, 16, 16);
        QBitmap bitmap(16, 16);
        bitmap.clear();
        QPainter painter(&bitmap);
        bevel.paintOn(painter);
        painter.end();
        const QImage image = bitmap.toImage();
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                QCOMPARE(image.pixelIndex(x, y), 0);
    }

    void settersNotifyOnlyOnChange() {
        TGradient gradient;
        int notified = 0;
        gradient.setChangeHook([&] { ++notified; });
        gradient.setFromColor(clGray);
        gradient.setActive(false);
        gradient.setSteps(255);
        QCOMPARE(notified, 0);
        gradient.setOrientation(fgdVertical); // inactive: no repaint
        QCOMPARE(notified, 0);
        gradient.setActive(true);
        gradient.setOrientation(fgdHorizontal);
        gradient.setBrushStyle(bsSolid); // always notifies
        gradient.setBufferedDraw(true);  // never does
        QCOMPARE(notified, 3);

        TglBevel bevel;
        QVERIFY(!bevel.testAttribute(Qt::WA_OpaquePaintEvent));
        bevel.Gradient().setActive(true);
        bevel.afterLoad();
        QVERIFY(bevel.testAttribute(Qt::WA_OpaquePaintEvent));
    }

    // ---- Colour button --------------------------------------------------------------

    void captionPlacement() {
        QWidget window;
        auto* button = new TColorBtn(&window);
        button->setGeometry(0, 0, 126, 21);
        button->setText(QStringLiteral("Сохранить"));
        QFont font = button->font();
        for (int px = 8; px < 20; ++px) {
            font.setPixelSize(px);
            if (QFontMetrics(font).height() == 13)
                break;
        }
        if (QFontMetrics(font).height() != 13)
            QSKIP("no font size with a 13-pixel line");
        button->setFont(font);
        QCOMPARE(button->captionRect(false).top(), 4);
        QCOMPARE(button->captionRect(true).top(), 5);
        const int w = QFontMetrics(font).horizontalAdvance(button->text());
        QVERIFY(qAbs(button->captionRect(false).left() - (1 + (124 - w + 1) / 2)) <= 1);
    }

    void focusRectangleOnlyWhileActiveAndFocused() {
        QWidget window;
        auto* button = new TColorBtn(&window);
        auto* other = new QPushButton(QStringLiteral("x"), &window);
        other->move(0, 40);
        button->setGeometry(0, 0, 126, 21);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        other->setFocus();
        QTRY_VERIFY(!button->activeState());
        QImage plain(button->size(), QImage::Format_RGB32);
        button->render(&plain);
        button->setFocus();
        QTRY_VERIFY(button->activeState());
        QImage focused(button->size(), QImage::Format_RGB32);
        button->render(&focused);
        // The frame outline on the border, and the focus rectangle (4, 4, 122, 17).
        QCOMPARE(focused.pixel(0, 10), resolveColour(clWindowFrame).rgb());
        bool changed = false;
        for (int y = 4; y < 17; ++y)
            changed |= plain.pixel(4, y) != focused.pixel(4, y);
        QVERIFY(changed);
    }

    void pressedLookAndDisabledCaption() {
        QWidget window;
        auto* button = new TColorBtn(&window);
        auto* other = new QPushButton(QStringLiteral("x"), &window);
        other->move(0, 40);
        button->setGeometry(0, 0, 126, 21);
        button->setText(QStringLiteral("Отмена"));
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        button->setFocus();
        QTRY_VERIFY(button->activeState());
        button->setDown(true);
        QImage image(button->size(), QImage::Format_RGB32);
        button->render(&image);
        QCOMPARE(image.pixel(0, 0), resolveColour(clWindowFrame).rgb());
        QCOMPARE(image.pixel(1, 5), resolveColour(clBtnShadow).rgb());
        QCOMPARE(image.pixel(10, 3), resolveColour(clBtnFace).rgb());
        button->setDown(false);

        other->setFocus();
        QTRY_VERIFY(!button->activeState());
        button->setEnabled(false);
        button->render(&image);
        bool highlight = false, shadow = false;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                highlight |=
                    image.pixel(x, y) == resolveColour(clBtnHighlight).rgb() && x > 10 && x < 115;
                shadow |= image.pixel(x, y) == resolveColour(clBtnShadow).rgb() && x > 10 &&
                          x < 115 && y > 3 && y < 17;
            }
        QVERIFY(highlight && shadow);
        QSignalSpy clicks(button, &QPushButton::clicked);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(clicks.count(), 0);
    }

    void clicksKeysAndMnemonics() {
        QWidget window;
        auto* button = new TColorBtn(&window);
        button->setGeometry(0, 0, 126, 21);
        button->setText(QStringLiteral("&Save"));
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy clicks(button, &QPushButton::clicked);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(clicks.count(), 1);
        QVERIFY(button->hasFocus()); // a press gives the button focus first
        // A double click arrives as press, release, double click, release: two clicks.
        QTest::mousePress(button, Qt::LeftButton);
        QTest::mouseRelease(button, Qt::LeftButton);
        QTest::mouseDClick(button, Qt::LeftButton);
        QTest::mouseRelease(button, Qt::LeftButton);
        QCOMPARE(clicks.count(), 3);
        QTest::keyClick(button, Qt::Key_Space);
        QCOMPARE(clicks.count(), 4);
        QTest::keyClick(button, Qt::Key_Return);
        QCOMPARE(clicks.count(), 5);
        QCOMPARE(button->shortcut(), QKeySequence(Qt::ALT | Qt::Key_S));
        QTest::keyClick(window.windowHandle(), Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(clicks.count(), 6); // a mnemonic press animates the click first
    }

    void repaintsOnlyForAChangedColour() {
        QWidget window;
        auto* button = new TColorBtn(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCoreApplication::processEvents();
        PaintCounter counter;
        button->installEventFilter(&counter);
        button->setButtonColor(clBtnFace);
        button->setFrame3D(true);
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 0);
        button->setButtonColor(rgbColour(255, 0, 0));
        QTRY_VERIFY(counter.paints > 0);
        QCOMPARE(button->ButtonColor(), rgbColour(255, 0, 0));
    }

    // A fixed panel shows a long text whole, then narrows back; the filling one stays put.
    void statusPanelWidensForItsText() {
        QWidget window;
        window.resize(600, 19);
        auto* panels = new StatusPanels({{150, Qt::AlignLeft, StatusPanels::Bevel::Lowered},
                                         {50, Qt::AlignLeft, StatusPanels::Bevel::Lowered, true}},
                                        19, &window);
        panels->resize(600, 19);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QLabel* line = panels->panel(0);
        const auto fits = [line] {
            return line->contentsRect().width() >=
                   line->fontMetrics().horizontalAdvance(line->text()) + line->indent();
        };
        for (const char* text :
             {"Строка:   1   Символ:   1", "Строка: 1234567   Символ: 123456", "1"}) {
            panels->setPanelText(0, QString::fromUtf8(text));
            QCoreApplication::processEvents();
            QVERIFY2(fits(), text);
            QCOMPARE(line->width(), std::max(150, line->width()));
        }
        QCOMPARE(line->width(), 150);
        QCOMPARE(panels->panel(1)->geometry().right(), panels->width() - 1);
    }
};

QTEST_MAIN(TestControls)
#include "test_controls.moc"

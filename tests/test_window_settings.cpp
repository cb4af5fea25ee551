#include "support/recording_dialogs.h"
#include "support/test_files.h"
#include "ui/library/library_window.h"
#include "ui/settings/window_settings_store.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

class TestWindowSettings : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DialogsScope> m_dialogs;
    std::unique_ptr<TForm1> m_form;
    QString m_previousFolder;

    QString ini() const { return m_dir->filePath(QStringLiteral("tomeria.ini")); }
    TForm1& start() {
        m_form = std::make_unique<TForm1>();
        m_form->show();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(m_form.get());
        QCoreApplication::processEvents();
        return *m_form;
    }
    void exit() {
        (*m_dialogs)->confirmations.enqueue(true);
        m_form->close();
        m_form.reset();
    }
    QStringList keys() const {
        QStringList out;
        for (const QByteArray& line : TestFiles::read(ini()).split('\n'))
            if (line.contains('='))
                out << QString::fromLatin1(line.left(line.indexOf('=')));
        return out;
    }
    QString value(const QString& key) const {
        for (const QByteArray& line : TestFiles::read(ini()).split('\n'))
            if (line.startsWith(key.toLatin1() + '='))
                return QString::fromLatin1(line.mid(key.size() + 1)).trimmed();
        return QStringLiteral("<none>");
    }
    QPoint centred() const {
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        return available.center() -
               QPoint(m_form->frameGeometry().width() / 2, m_form->frameGeometry().height() / 2);
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_previousFolder = QDir::currentPath();
        QDir::setCurrent(m_dir->path());
        TestFiles::write(m_dir->filePath(QStringLiteral("books.dat")), "\r\n");
        m_dialogs = std::make_unique<DialogsScope>();
        WindowSettingsStore::screenSize = [] { return QSize(1024, 768); };
        WindowSettingsStore::pixelsPerInch = [] { return 96; };
    }
    void cleanup() {
        m_form.reset();
        m_dialogs.reset();
        QDir::setCurrent(m_previousFolder);
        m_dir.reset();
    }

    void firstRunOpensCentredAndWritesTenKeys() {
        TForm1& form = start();
        QCOMPARE(form.frameGeometry().topLeft(), centred());
        QCOMPARE(form.Panel4->width(), 151);
        const QRect frame = form.frameGeometry();
        exit();
        QCOMPARE(keys(), (QStringList{"FormVersion", "Flags", "ShowCmd", "PixelsPerInch",
                                      "MinMaxPos(1024x768)", "MinMaxPos", "NormPos(1024x768)",
                                      "NormPos", "Visible", "Panel4_Width"}));
        QCOMPARE(value("FormVersion"), QStringLiteral("0"));
        QCOMPARE(value("ShowCmd"), QStringLiteral("1"));
        QCOMPARE(value("Visible"), QStringLiteral("0"));
        QCOMPARE(value("Panel4_Width"), QStringLiteral("151"));
        QCOMPARE(value("PixelsPerInch"), QStringLiteral("96"));
        QCOMPARE(value("MinMaxPos"), QStringLiteral("-1,-1,-4,-4"));
        QCOMPARE(value("NormPos"), QStringLiteral("%1,%2,%3,%4")
                                       .arg(frame.left())
                                       .arg(frame.top())
                                       .arg(frame.left() + frame.width())
                                       .arg(frame.top() + frame.height()));
        QVERIFY(TestFiles::read(ini()).startsWith("[TForm1]\r\n"));
    }

    void cancelWritesNothing() {
        start();
        (*m_dialogs)->confirmations.enqueue(false);
        QVERIFY(!m_form->close());
        QVERIFY(!QFile::exists(ini()));
    }

    void placementAndPaneWidthComeBack() {
        TForm1& form = start();
        form.Panel4->setWidth(240);
        form.setGeometry(100, 80, 700, 500);
        const QRect frame = form.frameGeometry();
        exit();
        QCOMPARE(value("Panel4_Width"), QStringLiteral("240"));
        TForm1& again = start();
        QCOMPARE(again.Panel4->width(), 240);
        QCOMPARE(again.frameGeometry(), frame);
    }

    void maximisedComesBackMaximised() {
        TForm1& form = start();
        form.showMaximized();
        QTRY_VERIFY(form.isMaximized());
        exit();
        QCOMPARE(value("ShowCmd"), QStringLiteral("3"));
        TForm1& again = start();
        QTRY_VERIFY(again.isMaximized());
    }

    void maximisedWithAnAbsurdPaneWidthFitsTheScreen() {
        TestFiles::write(ini(), "[TForm1]\r\nShowCmd=3\r\nNormPos=0,0,99999,99999\r\n"
                                "Panel4_Width=99999\r\n");
        TForm1& form = start();
        QTRY_VERIFY(form.isMaximized());
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(form.frameGeometry().width() <= available.width());
        QVERIFY(form.frameGeometry().height() <= available.height());
        // The pane takes what the window leaves after the splitter and the right side.
        QCOMPARE(form.Panel4->width(), form.width() - 3 - 30);
        // Back to normal, the window fits as well.
        form.showNormal();
        QTRY_VERIFY(!form.isMaximized());
        QVERIFY(form.frameGeometry().width() <= available.width());
        QCOMPARE(form.Panel4->width(), form.width() - 3 - 30);
        const QByteArray paneWidth = QByteArray::number(form.Panel4->width());
        exit();
        QCOMPARE(value("Panel4_Width").toLatin1(), paneWidth);
    }

    // Frame margins measured while the window manager is still framing the window (the
    // client already inside a frame not sized yet) are no frame, and correct nothing:
    // they once doubled a window fitted to the screen.
    void framesThatCannotBe_data() {
        QTest::addColumn<QMargins>("margins");
        QTest::addColumn<bool>("plausible");
        QTest::newRow("title bar and borders") << QMargins(1, 23, 1, 4) << true;
        QTest::newRow("no frame") << QMargins() << true;
        QTest::newRow("a frame of 1 x 1 around 1280 x 1024")
            << QMargins(0, 0, -1279, -1023) << false;
        QTest::newRow("one side negative") << QMargins(-4, 20, 4, 4) << false;
        QTest::newRow("wider than the client") << QMargins(700, 20, 700, 4) << false;
        QTest::newRow("taller than the client") << QMargins(4, 600, 4, 600) << false;
    }
    void framesThatCannotBe() {
        QFETCH(QMargins, margins);
        QFETCH(bool, plausible);
        QCOMPARE(WindowSettingsStore::plausibleFrame(margins, QSize(1280, 1024)), plausible);
    }

    // A place stored for another screen size comes wholly onto this screen; one stored
    // for this screen keeps hanging off it as the user left it.
    void aPlaceFromAnotherScreenComesWhollyOnScreen_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("wholly");
        QTest::newRow("another screen") << "NormPos" << true;
        QTest::newRow("this screen") << "NormPos(1024x768)" << false;
    }
    void aPlaceFromAnotherScreenComesWhollyOnScreen() {
        QFETCH(QString, key);
        QFETCH(bool, wholly);
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        const int left = available.left() + 10;
        const int top = available.bottom() - 80;
        TestFiles::write(ini(), QStringLiteral("[TForm1]\r\n%1=%2,%3,%4,%5\r\n")
                                    .arg(key)
                                    .arg(left)
                                    .arg(top)
                                    .arg(left + 500)
                                    .arg(top + 400)
                                    .toLatin1());
        TForm1& form = start();
        QTRY_COMPARE(form.frameGeometry().height(), 400);
        if (wholly)
            QVERIFY(available.contains(form.frameGeometry()));
        else
            QCOMPARE(form.frameGeometry().top(), top);
    }

    void anotherScreenSizeUsesThePlainKeysAndAddsItsOwn() {
        TestFiles::write(ini(),
                         "[TForm1]\r\nFormVersion=0\r\nFlags=0\r\nShowCmd=1\r\nPixelsPerInch=96\r\n"
                         "MinMaxPos(1024x768)=-1,-1,-4,-4\r\nMinMaxPos=-1,-1,-4,-4\r\n"
                         "NormPos(1024x768)=10,20,710,520\r\nNormPos=30,40,730,540\r\nVisible=0\r\n"
                         "Panel4_Width=151\r\n");
        WindowSettingsStore::screenSize = [] { return QSize(1280, 1024); };
        TForm1& form = start();
        QCOMPARE(form.frameGeometry(), QRect(30, 40, 700, 500));
        exit();
        const QByteArray after = TestFiles::read(ini());
        QVERIFY(after.contains("NormPos(1024x768)=10,20,710,520\r\n"));
        QVERIFY(after.endsWith("Panel4_Width=151\r\nMinMaxPos(1280x1024)=-1,-1,-4,-4\r\nNormPos("
                               "1280x1024)=30,40,730,540\r\n"));
        QVERIFY(after.contains("\r\nNormPos=30,40,730,540\r\n"));
    }

    void otherPixelsPerInchRestoresStateButNotPlace() {
        TestFiles::write(ini(),
                         "[TForm1]\r\nShowCmd=3\r\nPixelsPerInch=120\r\nNormPos=30,40,730,540\r\n"
                         "Panel4_Width=200\r\n");
        TForm1& form = start();
        QTRY_VERIFY(form.isMaximized());
        QCOMPARE(form.Panel4->width(), 200);
        form.showNormal();
        QTRY_VERIFY(!form.isMaximized());
        QVERIFY(form.frameGeometry() != QRect(30, 40, 700, 500));
    }

    void lowerVersionRestoresNothing() {
        TestFiles::write(
            ini(), "[TForm1]\r\nFormVersion=-1\r\nNormPos=30,40,730,540\r\nPanel4_Width=200\r\n");
        TForm1& form = start();
        QCOMPARE(form.Panel4->width(), 151);
        QCOMPARE(form.frameGeometry().topLeft(), centred());
        exit();
        QCOMPARE(value("FormVersion"), QStringLiteral("0"));
    }

    void partialPositionsTakeDefaults() {
        TestFiles::write(ini(), "[tform1]\r\nnormpos=100, ,50\r\npanel4_width=\r\n");
        TForm1& form = start();
        QCOMPARE(form.frameGeometry().topLeft(), QPoint(100, 50));
        // An empty width is no width: the pane keeps its smallest width.
        QCOMPARE(form.Panel4->width(), DockPanel::kMinimumSide);
        QCOMPARE(form.Panel4->Width(), DockPanel::kMinimumSide);

        m_form.reset();
        TestFiles::write(ini(), "[TForm1]\r\nMinMaxPos=-1,-1,-4,-4\r\n");
        TForm1& designed = start();
        QCOMPARE(designed.frameGeometry().topLeft(), QPoint(20, 34));
    }

    void readOnlySettingsFileIsReportedTwice() {
        TestFiles::write(ini(), "[TForm1]\r\nPanel4_Width=160\r\n");
        TestFiles::setReadOnly(ini(), true);
        start();
        exit();
        TestFiles::setReadOnly(ini(), false);
        const QString message = QStringLiteral("Unable to write to %1.").arg(ini());
        QCOMPARE((*m_dialogs)->texts("error"), (QStringList{message, message}));
        QCOMPARE(TestFiles::read(ini()), QByteArray("[TForm1]\r\nPanel4_Width=160\r\n"));
    }

    void destroyWithoutExitSavesVisible() {
        start();
        m_form.reset(); // destroyed without a confirmed exit
        QCOMPARE(value("Visible"), QStringLiteral("1"));
    }
};

QTEST_MAIN(TestWindowSettings)
#include "test_window_settings.moc"

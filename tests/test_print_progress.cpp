// Printing shows its progress and stops at the next page when the user cancels it or
// the session ends.
#include "support/test_files.h"
#include "ui/app/termination.h"
#include "ui/dialogs/dialogs.h"
#include "ui/dialogs/print_progress.h"
#include "ui/editor/rich_text_editor.h"

#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <functional>

class TestPrintProgress : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    RichTextEditor m_editor;
    QPrinter m_printer;
    int m_job = 0;

    // Prints the editor's text to a new PDF file; `onPage` is called with the progress
    // window each time the page it shows changes. Returns the pages shown.
    QList<int> print(const std::function<void(PrintProgress&, int)>& onPage, QString* pdf) {
        *pdf = m_dir.filePath(QStringLiteral("job%1.pdf").arg(++m_job));
        m_printer.setOutputFileName(*pdf);
        QList<int> shown;
        QTimer watch;
        watch.setInterval(0);
        connect(&watch, &QTimer::timeout, &watch, [&] {
            auto* progress = m_editor.findChild<PrintProgress*>(QStringLiteral("PrintProgress"));
            if (!progress || !progress->isVisible())
                return;
            const QString text = progress->findChild<QLabel*>(QStringLiteral("page"))->text();
            const int page =
                QRegularExpression(QStringLiteral("(\\d+)")).match(text).captured(1).toInt();
            if (shown.isEmpty() || shown.last() != page) {
                shown << page;
                onPage(*progress, page);
            }
        });
        watch.start();
        m_editor.PrintText(m_printer, QStringLiteral("text"));
        return shown;
    }

private Q_SLOTS:
    void initTestCase() {
        QString text;
        for (int i = 0; i < 2000; ++i)
            text += QStringLiteral("Строка номер %1\n").arg(i);
        m_editor.setPlainText(text + QStringLiteral("Конец"));
        QFont font(QStringLiteral("Liberation Serif"));
        font.setPixelSize(24);
        m_editor.SetTextFont(font, Qt::black);
        m_printer.setOutputFormat(QPrinter::PdfFormat);
    }

    void aWholePrintShowsEveryPage() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty())
            QSKIP("poppler-utils is not installed");
        QString pdf;
        QString title;
        QString button;
        const QList<int> shown = print(
            [&](PrintProgress& progress, int) {
                title = progress.windowTitle();
                button = progress.findChild<QPushButton*>(QStringLiteral("cancel"))->text();
            },
            &pdf);
        QCOMPARE(title, QStringLiteral("Печать"));
        QCOMPARE(button, QStringLiteral("Отмена"));
        const QStringList pages = TestFiles::pdfPages(pdf);
        QVERIFY(pages.size() > 10);
        QVERIFY(pages.last().endsWith(QStringLiteral("Конец")));
        QCOMPARE(shown.first(), 1);
        QVERIFY(shown.last() >= pages.size() - 1);
        QVERIFY(!m_editor.findChild<PrintProgress*>()); // gone with the print
    }

    // «Отмена», Esc or closing the window: no page after the next one, no PDF left, and
    // the next print is whole again.
    void cancellingStopsAtTheNextPage_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("button") << QStringLiteral("button");
        QTest::newRow("Esc") << QStringLiteral("Esc");
        QTest::newRow("window closed") << QStringLiteral("close");
    }
    void cancellingStopsAtTheNextPage() {
        QFETCH(QString, how);
        QString pdf;
        const QList<int> shown = print(
            [&](PrintProgress& progress, int page) {
                if (page != 3)
                    return;
                if (how == QLatin1String("button"))
                    QTest::mouseClick(progress.findChild<QPushButton*>(QStringLiteral("cancel")),
                                      Qt::LeftButton);
                else if (how == QLatin1String("Esc"))
                    QTest::keyClick(&progress, Qt::Key_Escape);
                else
                    progress.close();
            },
            &pdf);
        QVERIFY2(!shown.isEmpty() && shown.last() <= 4, qPrintable(QString::number(shown.size())));
        QVERIFY(!QFile::exists(pdf));
        QVERIFY(!m_editor.printing());
        const QList<int> whole = print([](PrintProgress&, int) {}, &pdf);
        QVERIFY(whole.last() > 10);
        QVERIFY(QFile::exists(pdf));
    }

    // SIGTERM while pages go out: the print stops at the next page. Last: the session
    // stays ended for the rest of this process.
    void theSessionsEndStopsAtTheNextPage() {
        Termination::install();
        QString pdf;
        const QList<int> shown = print(
            [&](PrintProgress&, int page) {
                if (page == 2)
                    ::raise(SIGTERM);
            },
            &pdf);
        QVERIFY(Dialogs::sessionEnding());
        QVERIFY2(shown.last() <= 3, qPrintable(QString::number(shown.last())));
        QVERIFY(!QFile::exists(pdf));
        // A print begun after the end of the session prints nothing and shows nothing.
        const QList<int> after = print([](PrintProgress&, int) {}, &pdf);
        QVERIFY(after.isEmpty());
        QVERIFY(!QFile::exists(pdf));
    }
};

QTEST_MAIN(TestPrintProgress)
#include "test_print_progress.moc"

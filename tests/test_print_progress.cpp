// Printing shows its progress and stops at the next page when the user cancels it or
// the session ends.
#include "core/book/book_document.h"
#include "support/test_files.h"
#include "ui/app/termination.h"
#include "ui/dialogs/dialogs.h"
#include "ui/dialogs/print_progress.h"
#include "ui/print/print_job.h"

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
    QWidget m_owner; // the window printing
    BookDocument m_book;
    QFont m_font;
    QPrinter m_printer;
    int m_job = 0;

    // Prints the book to a new PDF file; `onPage` is called with the progress
    // window each time the page it shows changes. Returns the pages shown.
    QList<int> print(const std::function<void(PrintProgress&, int)>& onPage, QString* pdf) {
        *pdf = m_dir.filePath(QStringLiteral("job%1.pdf").arg(++m_job));
        m_printer.setOutputFileName(*pdf);
        QList<int> shown;
        QTimer watch;
        watch.setInterval(0);
        connect(&watch, &QTimer::timeout, &watch, [&] {
            auto* progress = m_owner.findChild<PrintProgress*>(QStringLiteral("PrintProgress"));
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
        PrintJob::print(m_printer, m_book, m_font, Qt::black, QStringLiteral("text"), &m_owner);
        return shown;
    }

private Q_SLOTS:
    void initTestCase() {
        QString text;
        for (int i = 0; i < 2000; ++i)
            text += QStringLiteral("Строка номер %1\r\n").arg(i);
        m_book = BookDocument::fromText(text + QStringLiteral("Конец"));
        m_font = QFont(QStringLiteral("Liberation Serif"));
        m_font.setPixelSize(24);
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
        QVERIFY(!m_owner.findChild<PrintProgress*>()); // gone with the print
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
        QVERIFY(!m_owner.findChild<PrintProgress*>());
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

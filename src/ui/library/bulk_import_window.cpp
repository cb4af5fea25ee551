#include "ui/library/bulk_import_window.h"

#include "core/library/bulk_import.h"
#include "ui/dialogs/dialogs.h"
#include "ui/dialogs/guard.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

BulkImportWindow::BulkImportWindow(Library& library, const QStringList& paths, QWidget* parent)
    : QDialog(parent), m_import(new BulkImport(library, paths, this)) {
    setObjectName(QStringLiteral("BulkImportWindow"));
    setWindowTitle(QStringLiteral("Добавление книг"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setRange(0, 0); // files are still being looked for
    layout->addWidget(progressBar);
    countsLabel = new QLabel(countsText(BulkImport::Counts()), this);
    countsLabel->setObjectName(QStringLiteral("countsLabel"));
    layout->addWidget(countsLabel);
    currentLabel = new QLabel(this);
    currentLabel->setObjectName(QStringLiteral("currentLabel"));
    currentLabel->setTextFormat(Qt::PlainText);
    currentLabel->setMinimumWidth(420);
    currentLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(currentLabel);
    reportText = new QPlainTextEdit(this);
    reportText->setObjectName(QStringLiteral("reportText"));
    reportText->setReadOnly(true);
    reportText->setLineWrapMode(QPlainTextEdit::NoWrap);
    reportText->hide();
    layout->addWidget(reportText, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    stopButton = new QPushButton(QStringLiteral("Остановить"), this);
    stopButton->setObjectName(QStringLiteral("stopButton"));
    buttons->addWidget(stopButton);
    closeButton = new QPushButton(QStringLiteral("Закрыть"), this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    closeButton->hide();
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);
    resize(520, 160);

    connect(stopButton, &QPushButton::clicked, m_import, &BulkImport::stop);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
    connect(m_import, &BulkImport::progress, this, &BulkImportWindow::showProgress);
    connect(m_import, &BulkImport::finished, this, &BulkImportWindow::showReport);
}

BulkImportWindow::~BulkImportWindow() {
    // The import ends before the window's parts go.
    delete m_import;
}

void BulkImportWindow::start() {
    m_import->start();
}

QString BulkImportWindow::countsText(const BulkImport::Counts& counts) {
    QString text = QStringLiteral("Добавлено: %1, повторов: %2, не книг: %3")
                       .arg(counts.added)
                       .arg(counts.duplicates)
                       .arg(counts.notBooks);
    // Files that could not be read are no verdict on what they hold: counted apart.
    if (counts.readErrors > 0)
        text += QStringLiteral(", ошибок чтения: %1").arg(counts.readErrors);
    return text;
}

void BulkImportWindow::showProgress() {
    const BulkImport::Counts& counts = m_import->counts();
    if (counts.found >= 0) {
        progressBar->setRange(0, qMax(1, counts.found));
        progressBar->setValue(counts.found == 0 ? 1 : counts.done);
    }
    countsLabel->setText(countsText(counts));
    const QString current = m_import->currentFile();
    currentLabel->setText(
        currentLabel->fontMetrics().elidedText(current, Qt::ElideMiddle, currentLabel->width()));
    currentLabel->setToolTip(current);
    stopButton->setEnabled(!m_import->isStopped());
}

void BulkImportWindow::showReport() {
    showProgress();
    currentLabel->hide();
    QStringList lines;
    if (!m_import->error().isEmpty())
        lines.append(
            QStringLiteral("Добавление остановлено: %1").arg(errorBoxText(m_import->error())));
    else if (m_import->isStopped())
        lines.append(QStringLiteral("Добавление остановлено."));
    const QList<BulkImport::NotAdded> notAdded = m_import->notAdded();
    if (!notAdded.isEmpty())
        lines.append(QStringLiteral("Не добавлены:"));
    for (const BulkImport::NotAdded& entry : notAdded)
        lines.append(QStringLiteral("%1 — %2").arg(entry.source, BulkImport::reasonText(entry)));
    reportText->setPlainText(lines.join(QLatin1Char('\n')));
    reportText->setVisible(!lines.isEmpty());
    stopButton->hide();
    closeButton->show();
    closeButton->setDefault(true);
    if (!lines.isEmpty())
        resize(width(), qMax(height(), 360));
    if (!m_import->error().isEmpty())
        showError(m_import->error());
}

void BulkImportWindow::closeEvent(QCloseEvent* event) {
    // Closed while running: the import stops and the report follows.
    if (!m_import->isFinished()) {
        m_import->stop();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void BulkImportWindow::reject() {
    if (!m_import->isFinished()) {
        m_import->stop();
        return;
    }
    QDialog::reject();
}

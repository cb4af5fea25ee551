#include "ui/dialogs/print_progress.h"

#include "ui/dialogs/dialogs.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

PrintProgress::PrintProgress(QWidget* parent)
    : QDialog(parent), m_label(new QLabel(this)), m_cancel(new QPushButton(this)) {
    setObjectName(QStringLiteral("PrintProgress"));
    setWindowTitle(QStringLiteral("Печать"));
    // The rest of the program stays usable while the pages go out.
    setWindowModality(Qt::NonModal);
    m_label->setObjectName(QStringLiteral("page"));
    m_label->setMinimumWidth(220);
    m_cancel->setObjectName(QStringLiteral("cancel"));
    m_cancel->setText(QStringLiteral("Отмена"));
    connect(m_cancel, &QPushButton::clicked, this, &PrintProgress::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    layout->addLayout(buttons);
    setPage(1);
}

void PrintProgress::setPage(int page) {
    m_label->setText(QStringLiteral("Печатается страница %1").arg(page));
    if (!isVisible() && !Dialogs::sessionEnding()) {
        show();
        raise();
    }
    QCoreApplication::processEvents();
}

bool PrintProgress::stopRequested() const {
    return m_cancelled || Dialogs::sessionEnding();
}

void PrintProgress::reject() {
    m_cancelled = true;
    QDialog::reject();
}

#include "ui/library/about_dialog.h"

#include "ui/library/logo.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

QString AboutDialog::creditLine() {
    return QStringLiteral("Tomeria 1.00 — личная библиотека текстовых книг");
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutDialog"));
    setWindowTitle(QStringLiteral("О программе Tomeria"));
    auto* logo = new QLabel(this);
    logo->setPixmap(QPixmap::fromImage(makeLogo()));
    logo->setAlignment(Qt::AlignCenter);
    auto* name = new QLabel(QStringLiteral("<b>Tomeria</b>"), this);
    name->setObjectName(QStringLiteral("name"));
    name->setAlignment(Qt::AlignCenter);
    auto* credit = new QLabel(creditLine(), this);
    credit->setObjectName(QStringLiteral("credit"));
    credit->setAlignment(Qt::AlignCenter);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(logo);
    layout->addWidget(name);
    layout->addWidget(credit);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

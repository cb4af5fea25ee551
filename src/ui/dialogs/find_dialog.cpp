#include "ui/dialogs/find_dialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

FindDialog::FindDialog(QWidget* parent)
    : QDialog(parent), m_text(new QLineEdit(this)),
      m_wholeWord(new QCheckBox(QStringLiteral("Только слово целиком"), this)),
      m_matchCase(new QCheckBox(QStringLiteral("С учетом регистра"), this)),
      m_up(new QRadioButton(QStringLiteral("Вверх"), this)),
      m_down(new QRadioButton(QStringLiteral("Вниз"), this)) {
    setObjectName(QStringLiteral("FindDialog1"));
    setWindowTitle(QStringLiteral("Найти"));
    setModal(false);
    m_text->setObjectName(QStringLiteral("findText"));
    m_text->setMaxLength(255);
    m_wholeWord->setObjectName(QStringLiteral("wholeWord"));
    m_matchCase->setObjectName(QStringLiteral("matchCase"));
    m_up->setObjectName(QStringLiteral("up"));
    m_down->setObjectName(QStringLiteral("down"));
    m_down->setChecked(true);

    auto* findButton = new QPushButton(QStringLiteral("Найти далее"), this);
    findButton->setObjectName(QStringLiteral("findNext"));
    findButton->setDefault(true);
    auto* cancelButton = new QPushButton(QStringLiteral("Отмена"), this);
    connect(findButton, &QPushButton::clicked, this, &FindDialog::findNext);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    findButton->setEnabled(false);
    connect(m_text, &QLineEdit::textChanged, findButton,
            [findButton](const QString& text) { findButton->setEnabled(!text.isEmpty()); });

    auto* direction = new QGroupBox(QStringLiteral("Направление"), this);
    auto* directionLayout = new QHBoxLayout(direction);
    directionLayout->addWidget(m_up);
    directionLayout->addWidget(m_down);

    auto* fieldRow = new QHBoxLayout;
    fieldRow->addWidget(new QLabel(QStringLiteral("Что:"), this));
    fieldRow->addWidget(m_text);
    auto* options = new QVBoxLayout;
    options->addWidget(m_wholeWord);
    options->addWidget(m_matchCase);
    auto* optionsRow = new QHBoxLayout;
    optionsRow->addLayout(options);
    optionsRow->addWidget(direction);
    auto* left = new QVBoxLayout;
    left->addLayout(fieldRow);
    left->addLayout(optionsRow);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(findButton);
    buttons->addWidget(cancelButton);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString FindDialog::findText() const {
    return m_text->text();
}
void FindDialog::setFindText(const QString& text) {
    m_text->setText(text);
}

bool FindDialog::wholeWord() const {
    return m_wholeWord->isChecked();
}
bool FindDialog::matchCase() const {
    return m_matchCase->isChecked();
}
bool FindDialog::searchDown() const {
    return m_down->isChecked();
}

void FindDialog::hideEvent(QHideEvent* event) {
    m_place = pos();
    QDialog::hideEvent(event);
}

void FindDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_place)
        move(*m_place);
}

#include "ui/reader/layout_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// Numbers read the Russian way («1,3») whatever the session's language.
QDoubleSpinBox* decimalBox(double low, double high, double step, const QString& suffix,
                           QWidget* parent) {
    auto* box = new QDoubleSpinBox(parent);
    box->setLocale(QLocale(QLocale::Russian, QLocale::Russia));
    box->setRange(low, high);
    box->setSingleStep(step);
    box->setDecimals(1);
    box->setSuffix(suffix);
    box->setKeyboardTracking(false);
    return box;
}

} // namespace

LayoutDialog::LayoutDialog(QWidget* parent)
    : QDialog(parent), m_width(new QSpinBox(this)), m_margins(new QSpinBox(this)),
      m_lineSpacing(decimalBox(BookLayout::kMinLineSpacing, BookLayout::kMaxLineSpacing, 0.1,
                               QString(), this)),
      m_indent(decimalBox(0, BookLayout::kMaxIndent, 0.5, QStringLiteral(" кегля"), this)),
      m_paragraphSpacing(
          decimalBox(0, BookLayout::kMaxParagraphSpacing, 0.1, QStringLiteral(" строки"), this)),
      m_justify(new QCheckBox(QStringLiteral("По ширине"), this)),
      m_hyphenate(new QCheckBox(QStringLiteral("Переносы"), this)),
      m_bookFace(new QCheckBox(QStringLiteral("Книжный шрифт"), this)),
      m_pages(new QComboBox(this)) {
    setObjectName(QStringLiteral("LayoutDialog"));
    setWindowTitle(QStringLiteral("Оформление"));
    setModal(false);

    // The least value of the width stands for the whole window.
    m_width->setObjectName(QStringLiteral("textWidth"));
    m_width->setRange(BookLayout::kMinWidth - 1, BookLayout::kMaxWidth);
    m_width->setSpecialValueText(QStringLiteral("во всё окно"));
    m_width->setSuffix(QStringLiteral(" симв."));
    m_width->setKeyboardTracking(false);
    m_margins->setObjectName(QStringLiteral("margins"));
    m_margins->setRange(0, BookLayout::kMaxMargins);
    m_margins->setSingleStep(10);
    m_margins->setSuffix(QStringLiteral(" пикс."));
    m_margins->setKeyboardTracking(false);
    m_lineSpacing->setObjectName(QStringLiteral("lineSpacing"));
    m_indent->setObjectName(QStringLiteral("indent"));
    m_paragraphSpacing->setObjectName(QStringLiteral("paragraphSpacing"));
    m_justify->setObjectName(QStringLiteral("justify"));
    m_hyphenate->setObjectName(QStringLiteral("hyphenate"));
    m_bookFace->setObjectName(QStringLiteral("bookFace"));
    m_pages->setObjectName(QStringLiteral("pages"));
    m_pages->addItems(
        {QStringLiteral("Лента"), QStringLiteral("Страница"), QStringLiteral("Разворот")});
    m_bookFace->setToolTip(
        QStringLiteral("PT Serif по ширине строки; выбранный шрифт текста важнее"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Ширина строки"), m_width);
    form->addRow(QStringLiteral("Поля"), m_margins);
    form->addRow(QStringLiteral("Межстрочный интервал"), m_lineSpacing);
    form->addRow(QStringLiteral("Отступ абзаца"), m_indent);
    form->addRow(QStringLiteral("Интервал между абзацами"), m_paragraphSpacing);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(m_justify);
    boxes->addWidget(m_hyphenate);
    boxes->addWidget(m_bookFace);
    boxes->addStretch();
    form->addRow(boxes);
    form->addRow(QStringLiteral("Страницы"), m_pages);

    auto* presets = new QGroupBox(QStringLiteral("Готовое оформление"), this);
    auto* presetRow = new QHBoxLayout(presets);
    for (const LayoutPreset& preset : LayoutPreset::all()) {
        auto* button = new QPushButton(preset.name, presets);
        button->setAutoDefault(false);
        presetRow->addWidget(button);
        m_presets.push_back(button);
        connect(button, &QPushButton::clicked, this, [this, &preset] { applyPreset(preset); });
    }

    auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::hide);
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch();
    closeRow->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(presets);
    layout->addLayout(closeRow);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_width, &QSpinBox::valueChanged, this, &LayoutDialog::changed);
    connect(m_margins, &QSpinBox::valueChanged, this, &LayoutDialog::changed);
    connect(m_lineSpacing, &QDoubleSpinBox::valueChanged, this, &LayoutDialog::changed);
    connect(m_indent, &QDoubleSpinBox::valueChanged, this, &LayoutDialog::changed);
    connect(m_paragraphSpacing, &QDoubleSpinBox::valueChanged, this, &LayoutDialog::changed);
    connect(m_justify, &QCheckBox::toggled, this, &LayoutDialog::changed);
    connect(m_hyphenate, &QCheckBox::toggled, this, &LayoutDialog::changed);
    connect(m_bookFace, &QCheckBox::toggled, this, &LayoutDialog::changed);
    connect(m_pages, &QComboBox::currentIndexChanged, this, &LayoutDialog::changed);
    setBookLayout(BookLayout());
}

void LayoutDialog::setBookLayout(const BookLayout& value) {
    const BookLayout layout = value.clamped();
    m_quiet = true;
    m_width->setValue(layout.width == 0 ? m_width->minimum() : layout.width);
    m_margins->setValue(layout.margins);
    m_lineSpacing->setValue(layout.lineSpacing);
    m_indent->setValue(layout.indent);
    m_paragraphSpacing->setValue(layout.paragraphSpacing);
    m_justify->setChecked(layout.justify);
    m_hyphenate->setChecked(layout.hyphenate);
    m_bookFace->setChecked(layout.bookFace);
    m_pages->setCurrentIndex(int(layout.pages));
    m_quiet = false;
}

BookLayout LayoutDialog::bookLayout() const {
    BookLayout layout;
    layout.width = m_width->value() == m_width->minimum() ? 0 : m_width->value();
    layout.margins = m_margins->value();
    layout.lineSpacing = m_lineSpacing->value();
    layout.indent = m_indent->value();
    layout.paragraphSpacing = m_paragraphSpacing->value();
    layout.justify = m_justify->isChecked();
    layout.hyphenate = m_hyphenate->isChecked();
    layout.bookFace = m_bookFace->isChecked();
    layout.pages = BookLayout::Pages(std::max(0, m_pages->currentIndex()));
    return layout.clamped();
}

QPushButton* LayoutDialog::presetButton(const QString& name) const {
    for (QPushButton* button : m_presets)
        if (button->text() == name)
            return button;
    return nullptr;
}

void LayoutDialog::changed() {
    if (!m_quiet)
        Q_EMIT layoutChanged(bookLayout());
}

void LayoutDialog::applyPreset(const LayoutPreset& preset) {
    if (preset.layout) {
        // A preset sets the type; pages or ribbon stay the reader's choice.
        BookLayout layout = *preset.layout;
        layout.pages = bookLayout().pages;
        setBookLayout(layout);
        Q_EMIT layoutChanged(bookLayout());
    }
    if (preset.text && preset.background)
        Q_EMIT coloursChosen(*preset.text, *preset.background);
}

void LayoutDialog::hideEvent(QHideEvent* event) {
    m_place = pos();
    QDialog::hideEvent(event);
}

void LayoutDialog::showEvent(QShowEvent* event) {
    if (m_place)
        move(*m_place);
    QDialog::showEvent(event);
}

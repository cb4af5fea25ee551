#include "ui/dialogs/font_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QSpinBox>
#include <QVBoxLayout>

const QList<QPair<QString, QColor>>& FontDialog::basicColours() {
    static const QList<QPair<QString, QColor>> colours = {
        {QStringLiteral("Чёрный"), QColor(0, 0, 0)},
        {QStringLiteral("Бордовый"), QColor(128, 0, 0)},
        {QStringLiteral("Зелёный"), QColor(0, 128, 0)},
        {QStringLiteral("Оливковый"), QColor(128, 128, 0)},
        {QStringLiteral("Тёмно-синий"), QColor(0, 0, 128)},
        {QStringLiteral("Фиолетовый"), QColor(128, 0, 128)},
        {QStringLiteral("Сине-зелёный"), QColor(0, 128, 128)},
        {QStringLiteral("Серый"), QColor(128, 128, 128)},
        {QStringLiteral("Серебристый"), QColor(192, 192, 192)},
        {QStringLiteral("Красный"), QColor(255, 0, 0)},
        {QStringLiteral("Лимонный"), QColor(0, 255, 0)},
        {QStringLiteral("Жёлтый"), QColor(255, 255, 0)},
        {QStringLiteral("Синий"), QColor(0, 0, 255)},
        {QStringLiteral("Фуксия"), QColor(255, 0, 255)},
        {QStringLiteral("Морская волна"), QColor(0, 255, 255)},
        {QStringLiteral("Белый"), QColor(255, 255, 255)},
    };
    return colours;
}

FontDialog::FontDialog(const FontChoice& initial, QWidget* parent)
    : QDialog(parent), m_family(new QFontComboBox(this)), m_size(new QSpinBox(this)),
      m_bold(new QCheckBox(QStringLiteral("Полужирный"), this)),
      m_italic(new QCheckBox(QStringLiteral("Курсив"), this)),
      m_underline(new QCheckBox(QStringLiteral("Подчёркнутый"), this)),
      m_strikeOut(new QCheckBox(QStringLiteral("Зачёркнутый"), this)),
      m_colour(new QComboBox(this)), m_sample(new QLabel(QStringLiteral("АаБбВв AaBbYyZz"), this)) {
    setWindowTitle(QStringLiteral("Шрифт"));
    setObjectName(QStringLiteral("FontDialog1"));
    m_family->setObjectName(QStringLiteral("family"));
    m_size->setObjectName(QStringLiteral("size"));
    m_colour->setObjectName(QStringLiteral("colour"));
    m_size->setRange(1, 400);
    m_size->setSuffix(QStringLiteral(" пикс."));

    for (const auto& [name, colour] : basicColours()) {
        QPixmap swatch(16, 16);
        swatch.fill(colour);
        m_colour->addItem(QIcon(swatch), name, colour);
    }
    int index = m_colour->findData(initial.colour);
    if (index < 0) {
        QPixmap swatch(16, 16);
        swatch.fill(initial.colour);
        m_colour->addItem(QIcon(swatch), initial.colour.name(), initial.colour);
        index = m_colour->count() - 1;
    }
    m_colour->setCurrentIndex(index);

    m_family->setCurrentFont(initial.font);
    m_size->setValue(initial.font.pixelSize() > 0 ? initial.font.pixelSize()
                                                  : qRound(initial.font.pointSizeF() * 96 / 72));
    m_bold->setChecked(initial.font.bold());
    m_italic->setChecked(initial.font.italic());
    m_underline->setChecked(initial.font.underline());
    m_strikeOut->setChecked(initial.font.strikeOut());

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Шрифт:"), m_family);
    form->addRow(QStringLiteral("Размер:"), m_size);
    auto* style = new QHBoxLayout;
    style->addWidget(m_bold);
    style->addWidget(m_italic);
    form->addRow(QStringLiteral("Начертание:"), style);

    auto* effects = new QGroupBox(QStringLiteral("Видоизменение"), this);
    auto* effectsLayout = new QFormLayout(effects);
    effectsLayout->addRow(m_underline);
    effectsLayout->addRow(m_strikeOut);
    effectsLayout->addRow(QStringLiteral("Цвет:"), m_colour);

    m_sample->setMinimumHeight(48);
    m_sample->setAlignment(Qt::AlignCenter);
    m_sample->setFrameShape(QFrame::StyledPanel);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(effects);
    layout->addWidget(m_sample);
    layout->addWidget(buttons);

    connect(m_family, &QFontComboBox::currentFontChanged, this, &FontDialog::updateSample);
    connect(m_size, &QSpinBox::valueChanged, this, &FontDialog::updateSample);
    for (QCheckBox* box : {m_bold, m_italic, m_underline, m_strikeOut})
        connect(box, &QCheckBox::toggled, this, &FontDialog::updateSample);
    connect(m_colour, &QComboBox::currentIndexChanged, this, &FontDialog::updateSample);
    updateSample();
}

FontChoice FontDialog::choice() const {
    QFont font(m_family->currentFont().family());
    font.setPixelSize(m_size->value());
    font.setBold(m_bold->isChecked());
    font.setItalic(m_italic->isChecked());
    font.setUnderline(m_underline->isChecked());
    font.setStrikeOut(m_strikeOut->isChecked());
    return {font, m_colour->currentData().value<QColor>()};
}

void FontDialog::updateSample() {
    const FontChoice c = choice();
    m_sample->setFont(c.font);
    QPalette palette = m_sample->palette();
    palette.setColor(QPalette::WindowText, c.colour);
    m_sample->setPalette(palette);
}

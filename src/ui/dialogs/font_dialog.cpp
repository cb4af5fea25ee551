#include "ui/dialogs/font_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QFontInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

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

int FontDialog::pointsFromPixels(int pixels, qreal dpi) {
    return int(std::lround(pixels * 72.0 / dpi));
}

int FontDialog::pixelsFromPoints(int points, qreal dpi) {
    return int(std::lround(points * dpi / 72.0));
}

FontDialog::FontDialog(const FontChoice& initial, QWidget* parent)
    : QDialog(parent), m_family(new QFontComboBox(this)), m_size(new QComboBox(this)),
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
    m_dpi = screen() ? screen()->logicalDotsPerInchY() : 96.0;
    m_size->setEditable(true);
    m_size->setInsertPolicy(QComboBox::NoInsert);
    m_size->setValidator(new QIntValidator(1, 300, m_size));
    for (int points : {8, 9, 10, 11, 12, 14, 16, 18, 20, 22, 24, 26, 28, 36, 48, 72})
        m_size->addItem(QString::number(points));

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

    // A face missing from the list (the layout's "MS Sans Serif") shows as the face
    // the font system gives for it.
    m_initialFamily = initial.font.family();
    m_family->setCurrentFont(QFont(QFontInfo(initial.font).family()));
    m_resolvedFamily = m_family->currentFont().family();
    m_initialPixels = initial.font.pixelSize() > 0
                          ? initial.font.pixelSize()
                          : pixelsFromPoints(qRound(initial.font.pointSizeF()), m_dpi);
    m_initialPoints = QString::number(pointsFromPixels(m_initialPixels, m_dpi));
    m_size->setCurrentText(m_initialPoints);
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
    m_ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(effects);
    layout->addWidget(m_sample);
    layout->addWidget(buttons);

    connect(m_family, &QFontComboBox::currentFontChanged, this, &FontDialog::updateSample);
    connect(m_size, &QComboBox::currentTextChanged, this, &FontDialog::updateSample);
    for (QCheckBox* box : {m_bold, m_italic, m_underline, m_strikeOut})
        connect(box, &QCheckBox::toggled, this, &FontDialog::updateSample);
    connect(m_colour, &QComboBox::currentIndexChanged, this, &FontDialog::updateSample);
    updateSample();
}

int FontDialog::pixelSize() const {
    // The size shown at the start stands for the pixel size given, whatever the rounding.
    const QString points = m_size->currentText().trimmed();
    if (points == m_initialPoints)
        return m_initialPixels;
    QString text = points;
    int pos = 0;
    if (m_size->validator()->validate(text, pos) != QValidator::Acceptable)
        return 0;
    return std::max(1, pixelsFromPoints(points.toInt(), m_dpi));
}

FontChoice FontDialog::choice() const {
    const QString family = m_family->currentFont().family();
    QFont font(family == m_resolvedFamily ? m_initialFamily : family);
    font.setPixelSize(std::max(1, pixelSize()));
    font.setBold(m_bold->isChecked());
    font.setItalic(m_italic->isChecked());
    font.setUnderline(m_underline->isChecked());
    font.setStrikeOut(m_strikeOut->isChecked());
    return {font, m_colour->currentData().value<QColor>()};
}

void FontDialog::updateSample() {
    m_ok->setEnabled(pixelSize() > 0);
    const FontChoice c = choice();
    m_sample->setFont(c.font);
    QPalette palette = m_sample->palette();
    palette.setColor(QPalette::WindowText, c.colour);
    m_sample->setPalette(palette);
}

#include "ui/controls/status_panels.h"

#include <QHBoxLayout>
#include <QLabel>

#include <algorithm>

StatusPanels::StatusPanels(const std::vector<Panel>& panels, int height, QWidget* parent)
    : QWidget(parent) {
    setFixedHeight(height);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    const bool anyFills =
        std::any_of(panels.begin(), panels.end(), [](const Panel& p) { return p.fill; });
    for (std::size_t i = 0; i < panels.size(); ++i) {
        const Panel& p = panels[i];
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("panel%1").arg(i));
        label->setAlignment(p.alignment | Qt::AlignVCenter);
        label->setTextFormat(Qt::PlainText);
        label->setIndent(2);
        switch (p.bevel) {
        case Bevel::None:
            label->setFrameStyle(QFrame::NoFrame);
            break;
        case Bevel::Raised:
            label->setFrameStyle(QFrame::Panel | QFrame::Raised);
            break;
        case Bevel::Lowered:
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            break;
        }
        if (anyFills ? p.fill : i + 1 == panels.size()) {
            label->setMinimumWidth(p.width);
            label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            layout->addWidget(label, 1);
            m_widths.push_back(0);
        } else {
            label->setFixedWidth(p.width);
            layout->addWidget(label);
            m_widths.push_back(p.width);
        }
        m_labels.push_back(label);
    }
}

QString StatusPanels::panelText(int index) const {
    return m_labels.at(index)->text();
}

void StatusPanels::setPanelText(int index, const QString& text) {
    QLabel* label = m_labels.at(index);
    label->setText(text);
    const int own = m_widths.at(index);
    if (own == 0)
        return;
    const int needed = label->fontMetrics().horizontalAdvance(text) + 2 * label->indent() +
                       2 * label->frameWidth() + 2;
    const int width = std::max(own, needed);
    if (label->width() != width || label->minimumWidth() != width)
        label->setFixedWidth(width);
}

#include "ui/library/dock_panel.h"

#include <QMouseEvent>

#include <algorithm>

void DockPanel::setWidth(int width) {
    m_wanted = width;
    fitToWindow();
}

int DockPanel::storedWidth() const {
    // The splitter bar beside the panel takes 3 pixels of the rest.
    const int largest = std::max(kMinimumSide, window()->width() - 3 - kMinimumSide);
    return std::clamp(m_wanted, kMinimumSide, largest);
}

void DockPanel::fitToWindow() {
    const int largest =
        std::max(kMinimumSide, window()->width() - 3 - std::max(kMinimumSide, m_roomBeside));
    m_shown = std::min(storedWidth(), largest);
    setFixedWidth(m_shown);
}

void DockPanel::setRoomBeside(int room) {
    m_roomBeside = room;
    fitToWindow();
}

SplitterBar::SplitterBar(DockPanel* target, QWidget* parent) : QWidget(parent), m_target(target) {
    setFixedWidth(3);
    setCursor(Qt::SplitHCursor);
}

void SplitterBar::mousePressEvent(QMouseEvent* event) {
    m_pressX = qRound(event->globalPosition().x());
    m_startWidth = m_target->Width();
}

void SplitterBar::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const int width = m_startWidth + qRound(event->globalPosition().x()) - m_pressX;
    m_target->setWidth(width);
}

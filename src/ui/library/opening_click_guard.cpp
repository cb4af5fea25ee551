#include "ui/library/opening_click_guard.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QStyleHints>
#include <QWidget>
#include <QWindow>

namespace {

bool isPress(QEvent::Type type) {
    return type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
}

} // namespace

void OpeningClickGuard::watchOpener(QWidget* opener) {
    opener->installEventFilter(this);
}

void OpeningClickGuard::guard(QWindow* window) {
    if (!window)
        return;
    if (m_window != window) {
        if (m_window)
            m_window->removeEventFilter(this);
        m_window = window;
        window->installEventFilter(this);
    }
    m_armed = m_havePress;
    // The opening press is still held: its release belongs to the gesture too.
    m_held = QGuiApplication::mouseButtons() != Qt::NoButton;
}

bool OpeningClickGuard::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window)
        return swallowOnWindow(event);
    if (isPress(event->type())) {
        m_lastPress = static_cast<QMouseEvent*>(event)->timestamp();
        m_lastPressAt = static_cast<QMouseEvent*>(event)->globalPosition();
        m_havePress = true;
        m_armed = false;
    }
    return false;
}

bool OpeningClickGuard::swallowOnWindow(QEvent* event) {
    const QEvent::Type type = event->type();
    if (isPress(type)) {
        const auto* press = static_cast<QMouseEvent*>(event);
        const ulong time = press->timestamp();
        const QStyleHints* hints = QGuiApplication::styleHints();
        const auto interval = ulong(hints->mouseDoubleClickInterval());
        const bool soon = time >= m_lastPress && time - m_lastPress < interval;
        const bool near = (press->globalPosition() - m_lastPressAt).manhattanLength() <=
                          qreal(hints->mouseDoubleClickDistance());
        if (m_armed && soon && near) {
            m_lastPress = time; // the next press may continue the burst
            m_lastPressAt = press->globalPosition();
            m_held = true;
            return true;
        }
        m_armed = false;
        m_held = false;
        return false;
    }
    if (!m_held || (type != QEvent::MouseButtonRelease && type != QEvent::MouseMove))
        return false;
    if (static_cast<QMouseEvent*>(event)->buttons() == Qt::NoButton)
        m_held = false;
    // The move that ends it carries no button and harms nothing; it is passed on.
    return type == QEvent::MouseButtonRelease || m_held;
}

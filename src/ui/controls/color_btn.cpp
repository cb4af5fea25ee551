#include "ui/controls/color_btn.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>

TColorBtn::TColorBtn(QWidget* parent) : QPushButton(parent) {
    resize(75, 21);
    setAutoDefault(false);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { activeStateChanged(now); });
}

void TColorBtn::keyPressEvent(QKeyEvent* event) {
    // Enter clicks the active button, as on the platform's push buttons.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier && m_active) {
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void TColorBtn::setButtonColor(TColor value) {
    if (value == m_buttonColor)
        return;
    m_buttonColor = value;
    update();
}

void TColorBtn::activeStateChanged(QWidget* now) {
    // Recorded only: the active state changes neither the button's style nor its picture.
    m_active = now == this || (now && !qobject_cast<QAbstractButton*>(now) && isDefault());
}

namespace {

// Windows-style rectangle helpers: (left, top, right, bottom) with right and bottom
// outside the rectangle.
struct Box {
    int left, top, right, bottom;
    Box shrunk(int d) const { return {left + d, top + d, right - d, bottom - d}; }
    QRect rect() const { return QRect(left, top, right - left, bottom - top); }
};

} // namespace

QRect TColorBtn::captionRect(bool pressed) const {
    Box r{0, 0, width(), height()};
    const bool focusOutline = m_active || hasFocus();
    if (focusOutline)
        r = r.shrunk(1);
    r = pressed ? r.shrunk(1) : r.shrunk(2); // the outline, or the push-button edge
    r = r.shrunk(-1);
    if (m_active)
        r = Box{0, 0, width(), height()}.shrunk(1);
    if (pressed)
        r = {r.left + 1, r.top + 1, r.right + 1, r.bottom + 1};
    const QRect measured = QFontMetrics(font()).boundingRect(
        QRect(0, 0, 32767, 32767), Qt::TextShowMnemonic | Qt::AlignLeft | Qt::AlignTop, text());
    const int w = measured.width();
    const int h = measured.height();
    const int x = r.left + (r.right - r.left - w + 1) / 2;
    const int y = r.top + (r.bottom - r.top - h + 1) / 2;
    return QRect(x, y, w, h);
}

void TColorBtn::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const bool pressed = isDown();
    const bool focused = hasFocus();
    const bool disabled = !isEnabled();

    Box r{0, 0, width(), height()};
    auto outline = [&painter](const Box& box, const QColor& colour) {
        painter.setPen(QPen(colour, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(
            QRect(box.left, box.top, box.right - box.left - 1, box.bottom - box.top - 1));
    };
    auto frame = [this, &painter, disabled](const Box& box, bool sunken) {
        QStyleOptionButton option;
        option.initFrom(this);
        option.rect = box.rect();
        option.state = disabled ? QStyle::State_None : QStyle::State_Enabled;
        option.state |= sunken ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &painter, this);
    };

    if (m_active || focused) {
        outline(r, resolveColour(clWindowFrame));
        r = r.shrunk(1);
    }
    if (!pressed) {
        frame(r, false);
        r = r.shrunk(2);
    } else {
        outline(r, resolveColour(clBtnShadow));
        r = r.shrunk(1);
        if (m_frame3D) {
            frame(r, true);
            r = r.shrunk(2);
        }
    }
    painter.fillRect(r.rect(), resolveColour(m_buttonColor));

    painter.setFont(font());
    const QRect textRect = captionRect(pressed);
    const int flags = Qt::AlignCenter | Qt::TextShowMnemonic;
    if (disabled) {
        painter.setPen(resolveColour(clBtnHighlight));
        painter.drawText(textRect.translated(1, 1), flags, text());
        painter.setPen(resolveColour(clBtnShadow));
        painter.drawText(textRect, flags, text());
    } else {
        painter.setPen(palette().color(QPalette::ButtonText));
        painter.drawText(textRect, flags, text());
    }

    if (m_active && focused) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = Box{0, 0, width(), height()}.shrunk(4).rect();
        // Drawn whenever the button is active and focused, not only after a key press.
        option.state |= QStyle::State_KeyboardFocusChange | QStyle::State_HasFocus;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

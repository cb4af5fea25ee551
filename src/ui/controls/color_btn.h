#pragma once

#include "ui/controls/colour_value.h"

#include <QPushButton>

// A push button that draws itself, so that its face can have any colour. Apart from
// drawing it behaves as the platform's push button.
class TColorBtn : public QPushButton {
    Q_OBJECT
public:
    explicit TColorBtn(QWidget* parent = nullptr);

    TColor ButtonColor() const { return m_buttonColor; }
    void setButtonColor(TColor value);
    bool Frame3D() const { return m_frame3D; }
    void setFrame3D(bool value) { m_frame3D = value; }
    // The last value of the active-state notification: true while this button
    // receives the focus (or is the default button and a non-button has it).
    bool activeState() const { return m_active; }

    // The rectangle the caption is drawn in, for the given state.
    QRect captionRect(bool pressed) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void activeStateChanged(QWidget* now);

    bool m_active = false;
    bool m_frame3D = false;
    TColor m_buttonColor = clBtnFace;
};

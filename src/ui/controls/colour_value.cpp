#include "ui/controls/colour_value.h"

#include <QGuiApplication>
#include <QPalette>

QColor resolveColour(TColor value) {
    if ((value & 0x80000000u) == 0)
        return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
    const QPalette palette = QGuiApplication::palette();
    switch (value & 0xFF) {
    case 6: // window frame
        return QColor(0, 0, 0);
    case 8: // window text
        return palette.color(QPalette::WindowText);
    case 15: // button face
        return palette.color(QPalette::Button);
    case 16: // button shadow
        return palette.color(QPalette::Dark);
    case 20: // button highlight
        return palette.color(QPalette::Light);
    case 21: // 3-D dark shadow
        return palette.color(QPalette::Shadow);
    case 27: // gradient of the active caption
        return palette.color(QPalette::Highlight).lighter(150);
    default:
        return palette.color(QPalette::Window);
    }
}

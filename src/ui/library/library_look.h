#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QString>
#include <QWidget>

// The library window's look, shared by its panels.
namespace LibraryLook {

inline const QColor kWindowColour(240, 202, 166);
inline const QColor kAqua(0, 255, 255);

inline QFont sansSerif(int pixelSize, bool bold) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

inline void paint(QWidget* widget, const QColor& background, const QColor& text = QColor()) {
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::Base, background);
    if (text.isValid()) {
        palette.setColor(QPalette::WindowText, text);
        palette.setColor(QPalette::Text, text);
    }
    widget->setPalette(palette);
}

// An aqua bold caption at its place on a panel.
inline QLabel* caption(const QString& text, QWidget* parent, int x, int y) {
    auto* label = new QLabel(text, parent);
    label->setFont(sansSerif(11, true));
    paint(label, Qt::transparent, kAqua);
    label->setAutoFillBackground(false);
    label->move(x, y);
    label->adjustSize();
    return label;
}

} // namespace LibraryLook

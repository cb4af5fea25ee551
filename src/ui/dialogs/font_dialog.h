#pragma once

#include "ui/dialogs/dialogs.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QFontComboBox;
class QLabel;
class QSpinBox;

// The font dialog of the reader: face, size, style and the effects group
// (underline, strike-out and the text colour, one of the sixteen basic colours
// or any other through the colour dialog).
class FontDialog : public QDialog {
    Q_OBJECT
public:
    explicit FontDialog(const FontChoice& initial, QWidget* parent = nullptr);
    FontChoice choice() const;

    static const QList<QPair<QString, QColor>>& basicColours();

private:
    void updateSample();

    QFontComboBox* m_family;
    QSpinBox* m_size;
    QCheckBox* m_bold;
    QCheckBox* m_italic;
    QCheckBox* m_underline;
    QCheckBox* m_strikeOut;
    QComboBox* m_colour;
    QLabel* m_sample;
};

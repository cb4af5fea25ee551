#pragma once

#include "ui/dialogs/dialogs.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QFontComboBox;
class QLabel;
class QPushButton;

// The font dialog of the reader: face, size, style and the effects group
// (underline, strike-out and the text colour, one of the sixteen basic colours
// or any other through the colour dialog). A face the font list does not hold opens as
// the face it resolves to. Sizes show in points at the screen's logical resolution; the
// choice keeps its size in pixels, and an untouched size comes back as it was.
class FontDialog : public QDialog {
    Q_OBJECT
public:
    explicit FontDialog(const FontChoice& initial, QWidget* parent = nullptr);
    FontChoice choice() const;

    static const QList<QPair<QString, QColor>>& basicColours();

    // Pixels to points and back at `dpi` dots per inch, rounded half away from zero.
    static int pointsFromPixels(int pixels, qreal dpi);
    static int pixelsFromPoints(int points, qreal dpi);

private:
    void updateSample();
    int pixelSize() const;

    QFontComboBox* m_family;
    QComboBox* m_size;
    QPushButton* m_ok;
    QString m_initialFamily;  // as the caller named it
    QString m_resolvedFamily; // the face shown for it
    int m_initialPixels;
    QString m_initialPoints;
    qreal m_dpi;
    QCheckBox* m_bold;
    QCheckBox* m_italic;
    QCheckBox* m_underline;
    QCheckBox* m_strikeOut;
    QComboBox* m_colour;
    QLabel* m_sample;
};

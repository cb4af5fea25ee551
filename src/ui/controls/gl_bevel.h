#pragma once

#include "ui/controls/colour_value.h"

#include <QWidget>

#include <functional>

class QPainter;

enum TglGradientDir {
    fgdHorizontal,
    fgdVertical,
    fgdLeftBias,
    fgdRightBias,
    fgdRectangle,
    fgdHorzConvergent,
    fgdVertConvergent
};
enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum TglSide { fsdLeft = 1, fsdTop = 2, fsdRight = 4, fsdBottom = 8 };
using TglSides = int; // a set of TglSide bits; all four = 15
enum TglOrigin { forLeftTop, forRightBottom };
enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TBrushStyle {
    bsSolid,
    bsClear,
    bsHorizontal,
    bsVertical,
    bsFDiagonal,
    bsBDiagonal,
    bsCross,
    bsDiagCross
};

// The platform's MulDiv: a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c);

// The gradient fill of a bevel.
class TGradient {
public:
    TGradient();

    TColor FromColor() const { return m_fromColor; }
    void setFromColor(TColor value);
    TColor ToColor() const { return m_toColor; }
    void setToColor(TColor value);
    bool Active() const { return m_active; }
    void setActive(bool value);
    bool BufferedDraw() const { return m_bufferedDraw; }
    void setBufferedDraw(bool value) { m_bufferedDraw = value; }
    TglGradientDir Orientation() const { return m_orientation; }
    void setOrientation(TglGradientDir value);
    int Steps() const { return m_steps; }
    void setSteps(int value);
    int PercentFilling() const { return m_percentFilling; }
    void setPercentFilling(int value);
    TBrushStyle BrushStyle() const { return m_brushStyle; }
    void setBrushStyle(TBrushStyle value);

    void setChangeHook(std::function<void()> hook) { m_onChange = std::move(hook); }

    // Paints the gradient into the rectangle (left, top, right, bottom exclusive).
    void paint(QPainter& painter, const QRect& area, int penWidth, TPenStyle penStyle);

private:
    void notify();
    void paintBands(QPainter& painter, int L, int T, int R, int B, int penWidth, TPenStyle penStyle,
                    TglGradientDir orientation);

    TColor m_fromColor = clGray;
    TColor m_toColor = clBlack;
    QColor m_from;
    QColor m_to;
    bool m_active = false;
    bool m_bufferedDraw = false;
    TglGradientDir m_orientation = fgdHorizontal;
    int m_steps = 255;
    int m_percentFilling = 100;
    TBrushStyle m_brushStyle = bsSolid;
    std::function<void()> m_onChange;
};

// Evenly spaced divider lines of a bevel.
class TglBevelLines {
public:
    quint32 Count() const { return m_count; }
    void setCount(quint32 value) {
        m_count = value;
        notify();
    }
    quint32 Step() const { return m_step; }
    void setStep(quint32 value) {
        m_step = value;
        notify();
    }
    TglOrigin Origin() const { return m_origin; }
    void setOrigin(TglOrigin value) {
        m_origin = value;
        notify();
    }
    TBevelCut Style() const { return m_style; }
    void setStyle(TBevelCut value) {
        m_style = value;
        notify();
    }
    bool Bold() const { return m_bold; }
    void setBold(bool value) {
        m_bold = value;
        notify();
    }
    quint8 Thickness() const { return m_thickness; }
    void setThickness(quint8 value) {
        m_thickness = value;
        notify();
    }
    bool IgnoreBorder() const { return m_ignoreBorder; }
    void setIgnoreBorder(bool value) {
        m_ignoreBorder = value;
        notify();
    }

    void setChangeHook(std::function<void()> hook) { m_onChange = std::move(hook); }

private:
    void notify() {
        if (m_onChange)
            m_onChange();
    }

    quint32 m_count = 0;
    quint32 m_step = 0;
    TglOrigin m_origin = forLeftTop;
    TBevelCut m_style = bvLowered;
    bool m_bold = false;
    quint8 m_thickness = 1;
    bool m_ignoreBorder = false;
    std::function<void()> m_onChange;
};

// A decorative control: a colour gradient, bevel lines along its edges and divider
// lines, painted on its parent's surface. It takes no input.
class TglBevel : public QWidget {
    Q_OBJECT
public:
    explicit TglBevel(QWidget* parent = nullptr);

    TBevelCut BevelInner() const { return m_bevelInner; }
    void setBevelInner(TBevelCut value);
    TBevelCut BevelOuter() const { return m_bevelOuter; }
    void setBevelOuter(TBevelCut value);
    TglSides BevelSides() const { return m_bevelSides; }
    void setBevelSides(TglSides value);
    bool BevelBold() const { return m_bevelBold; }
    void setBevelBold(bool value);
    TPenStyle BevelPenStyle() const { return m_bevelPenStyle; }
    void setBevelPenStyle(TPenStyle value);
    quint16 BevelPenWidth() const { return m_bevelPenWidth; }
    void setBevelPenWidth(quint16 value);
    quint16 InteriorOffset() const { return m_interiorOffset; }
    void setInteriorOffset(quint16 value);

    TGradient& Gradient() { return m_gradient; }
    TglBevelLines& VertLines() { return m_vertLines; }
    TglBevelLines& HorLines() { return m_horLines; }

    // Run once after the window has applied its settings: an active gradient covers
    // the whole control, so the parent need not paint beneath it.
    void afterLoad();

    // Paints the whole picture onto a painter whose device is width x height.
    void paintOn(QPainter& painter);

    // Draws a bevel box on (L, T, R, B), right and bottom being last-pixel coordinates;
    // returns the interior rectangle in the same convention.
    static QRect drawBevelBox(QPainter& painter, QRect box, TglSides sides, TBevelCut outer,
                              TBevelCut inner, bool bold, int penWidth, TPenStyle penStyle);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    template <class T> void setAndInvalidate(T& field, T value) {
        if (field == value)
            return;
        field = value;
        update();
    }
    void drawLines(QPainter& painter, TglBevelLines& lines, bool vertical, const QRect& interior);

    TBevelCut m_bevelInner = bvLowered;
    TBevelCut m_bevelOuter = bvNone;
    TglSides m_bevelSides = fsdLeft | fsdTop | fsdRight | fsdBottom;
    bool m_bevelBold = false;
    TPenStyle m_bevelPenStyle = psSolid;
    quint16 m_bevelPenWidth = 1;
    quint16 m_interiorOffset = 0;
    TGradient m_gradient;
    TglBevelLines m_vertLines;
    TglBevelLines m_horLines;
};

#include "ui/controls/gl_bevel.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>

#include <cstdlib>

int MulDiv(int a, int b, int c) {
    if (c == 0)
        return -1;
    long long product = static_cast<long long>(a) * b;
    long long divisor = c;
    if (divisor < 0) {
        divisor = -divisor;
        product = -product;
    }
    const long long half = divisor / 2;
    product += product >= 0 ? half : -half;
    return static_cast<int>(product / divisor);
}

namespace {

Qt::PenStyle qtPenStyle(TPenStyle style) {
    switch (style) {
    case psDash:
        return Qt::DashLine;
    case psDot:
        return Qt::DotLine;
    case psDashDot:
        return Qt::DashDotLine;
    case psDashDotDot:
        return Qt::DashDotDotLine;
    case psClear:
        return Qt::NoPen;
    case psSolid:
    case psInsideFrame:
        break;
    }
    return Qt::SolidLine;
}

QPen makePen(const QColor& colour, int width, TPenStyle style) {
    QPen pen(colour, width <= 0 ? 1 : width, qtPenStyle(style), Qt::FlatCap, Qt::MiterJoin);
    if (pen.width() == 1)
        pen.setCosmetic(true);
    return pen;
}

// A line from a to b that includes a and leaves out b: with a flat cap Qt's raster
// engine leaves out the end point itself.
void drawSegment(QPainter& painter, QPoint a, QPoint b) {
    if (a != b)
        painter.drawLine(a, b);
}

QBrush bandBrush(const QColor& colour, TBrushStyle style) {
    switch (style) {
    case bsHorizontal:
        return QBrush(colour, Qt::HorPattern);
    case bsVertical:
        return QBrush(colour, Qt::VerPattern);
    case bsFDiagonal:
        return QBrush(colour, Qt::FDiagPattern);
    case bsBDiagonal:
        return QBrush(colour, Qt::BDiagPattern);
    case bsCross:
        return QBrush(colour, Qt::CrossPattern);
    case bsDiagCross:
        return QBrush(colour, Qt::DiagCrossPattern);
    case bsClear:
        return QBrush(Qt::NoBrush);
    case bsSolid:
        break;
    }
    return QBrush(colour);
}

} // namespace

// ---- TGradient ----------------------------------------------------------------------

TGradient::TGradient() : m_from(resolveColour(m_fromColor)), m_to(resolveColour(m_toColor)) {}

void TGradient::notify() {
    if (m_onChange)
        m_onChange();
}

void TGradient::setFromColor(TColor value) {
    if (value == m_fromColor)
        return;
    m_fromColor = value;
    m_from = resolveColour(value);
    notify();
}

void TGradient::setToColor(TColor value) {
    if (value == m_toColor)
        return;
    m_toColor = value;
    m_to = resolveColour(value);
    notify();
}

void TGradient::setActive(bool value) {
    if (value == m_active)
        return;
    m_active = value;
    notify();
}

void TGradient::setOrientation(TglGradientDir value) {
    if (value == m_orientation)
        return;
    m_orientation = value;
    if (m_active)
        notify();
}

void TGradient::setSteps(int value) {
    value = qBound(1, value, 255);
    if (value == m_steps)
        return;
    m_steps = value;
    notify();
}

void TGradient::setPercentFilling(int value) {
    if (value == m_percentFilling)
        return;
    m_percentFilling = value;
    notify();
}

void TGradient::setBrushStyle(TBrushStyle value) {
    m_brushStyle = value;
    notify();
}

void TGradient::paint(QPainter& painter, const QRect& area, int penWidth, TPenStyle penStyle) {
    if (!m_active || m_steps == 1)
        return;
    if (painter.device() && painter.device()->depth() < 16)
        return;
    const int L = area.left();
    const int T = area.top();
    const int R = area.left() + area.width();
    const int B = area.top() + area.height();
    if (m_bufferedDraw && area.width() > 0 && area.height() > 0) {
        QImage buffer(area.width(), area.height(), QImage::Format_ARGB32_Premultiplied);
        buffer.fill(Qt::transparent);
        QPainter bufferPainter(&buffer);
        paintBands(bufferPainter, 0, 0, area.width(), area.height(), penWidth, penStyle,
                   m_orientation);
        bufferPainter.end();
        painter.drawImage(QPoint(L, T), buffer);
        return;
    }
    paintBands(painter, L, T, R, B, penWidth, penStyle, m_orientation);
}

void TGradient::paintBands(QPainter& painter, int L, int T, int R, int B, int penWidth,
                           TPenStyle penStyle, TglGradientDir orientation) {
    const int W = R - L;
    const int H = B - T;
    if (orientation == fgdHorzConvergent || orientation == fgdVertConvergent) {
        const bool horizontal = orientation == fgdHorzConvergent;
        const TglGradientDir half = horizontal ? fgdHorizontal : fgdVertical;
        if (horizontal)
            paintBands(painter, L, T, R, B - H / 2, penWidth, penStyle, half);
        else
            paintBands(painter, L, T, R - W / 2, B, penWidth, penStyle, half);
        std::swap(m_from, m_to);
        if (horizontal)
            paintBands(painter, L, T + H / 2, R, B, penWidth, penStyle, half);
        else
            paintBands(painter, L + W / 2, T, R, B, penWidth, penStyle, half);
        std::swap(m_from, m_to);
        return;
    }

    int extent = 0;
    switch (orientation) {
    case fgdHorizontal:
        extent = H;
        break;
    case fgdVertical:
        extent = W;
        break;
    case fgdLeftBias:
    case fgdRightBias:
        extent = W + H;
        break;
    default:
        extent = qMin(W / 2, H / 2);
        break;
    }
    const int n = qMin(m_steps, extent);
    if (n < 1)
        return;

    auto channel = [n](int from, int to, int i) {
        return n == 1 ? from : from + MulDiv(i, to - from, n - 1);
    };
    const int p = penWidth <= 0 ? 1 : penWidth;
    QPoint p1(orientation == fgdRightBias ? R : L, T);
    QPoint p2 = p1;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < n; ++i) {
        const QColor colour(channel(m_from.red(), m_to.red(), i),
                            channel(m_from.green(), m_to.green(), i),
                            channel(m_from.blue(), m_to.blue(), i));
        switch (orientation) {
        case fgdHorizontal: {
            const int y0 = T + MulDiv(i, H, n);
            const int y1 = T + MulDiv(i + 1, H, n);
            painter.fillRect(QRect(L, y0, W, y1 - y0), bandBrush(colour, m_brushStyle));
            break;
        }
        case fgdVertical: {
            const int x0 = L + MulDiv(i, W, n);
            const int x1 = L + MulDiv(i + 1, W, n);
            painter.fillRect(QRect(x0, T, x1 - x0, H), bandBrush(colour, m_brushStyle));
            break;
        }
        case fgdRectangle: {
            const int dx = MulDiv(i, W / 2, n);
            const int dy = MulDiv(i, H / 2, n);
            painter.fillRect(QRect(QPoint(L + dx, T + dy), QPoint(R - dx - 1, B - dy - 1)),
                             bandBrush(colour, m_brushStyle));
            break;
        }
        case fgdLeftBias:
        case fgdRightBias: {
            painter.setPen(makePen(colour, p, penStyle));
            const int k = MulDiv(i + 1, W + H, n) - MulDiv(i, W + H, n);
            for (int line = 0; line < k; ++line) {
                if (orientation == fgdLeftBias) {
                    if (p1.y() < B)
                        p1.ry() += p;
                    else
                        p1.rx() += p;
                    if (p2.x() < R)
                        p2.rx() += p;
                    else
                        p2.ry() += p;
                } else {
                    if (p1.x() > L)
                        p1.rx() -= p;
                    else
                        p1.ry() += p;
                    if (p2.y() < B)
                        p2.ry() += p;
                    else
                        p2.rx() -= p;
                }
                drawSegment(painter, p1, p2);
            }
            break;
        }
        default:
            break;
        }
        if (i * 100.0 / n > m_percentFilling)
            break;
    }
    painter.restore();
}

// ---- TglBevel -----------------------------------------------------------------------

TglBevel::TglBevel(QWidget* parent) : QWidget(parent) {
    resize(50, 50);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_gradient.setChangeHook([this] { repaint(); });
    m_vertLines.setChangeHook([this] { repaint(); });
    m_horLines.setChangeHook([this] { repaint(); });
}

void TglBevel::setBevelInner(TBevelCut value) {
    setAndInvalidate(m_bevelInner, value);
}
void TglBevel::setBevelOuter(TBevelCut value) {
    setAndInvalidate(m_bevelOuter, value);
}
void TglBevel::setBevelSides(TglSides value) {
    setAndInvalidate(m_bevelSides, value);
}
void TglBevel::setBevelBold(bool value) {
    setAndInvalidate(m_bevelBold, value);
}
void TglBevel::setBevelPenStyle(TPenStyle value) {
    setAndInvalidate(m_bevelPenStyle, value);
}
void TglBevel::setBevelPenWidth(quint16 value) {
    setAndInvalidate(m_bevelPenWidth, value);
}
void TglBevel::setInteriorOffset(quint16 value) {
    setAndInvalidate(m_interiorOffset, value);
}

void TglBevel::afterLoad() {
    if (m_gradient.Active())
        setAttribute(Qt::WA_OpaquePaintEvent);
}

void TglBevel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintOn(painter);
}

void TglBevel::paintOn(QPainter& painter) {
    const int offset = m_interiorOffset;
    const QRect area(offset, offset, width() - 2 * offset, height() - 2 * offset);
    m_gradient.paint(painter, area, m_bevelPenWidth, m_bevelPenStyle);
    const QRect interior =
        drawBevelBox(painter, QRect(QPoint(0, 0), QPoint(width() - 1, height() - 1)), m_bevelSides,
                     m_bevelOuter, m_bevelInner, m_bevelBold, m_bevelPenWidth, m_bevelPenStyle);
    drawLines(painter, m_horLines, false, interior);
    drawLines(painter, m_vertLines, true, interior);
}

QRect TglBevel::drawBevelBox(QPainter& painter, QRect box, TglSides sides, TBevelCut outer,
                             TBevelCut inner, bool bold, int penWidth, TPenStyle penStyle) {
    const QPen highlight = makePen(resolveColour(clBtnHighlight), penWidth, penStyle);
    const QPen shadow = makePen(resolveColour(clBtnShadow), penWidth, penStyle);
    const QPen dark = makePen(resolveColour(cl3DDkShadow), penWidth, penStyle);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);

    // box holds left, top, right, bottom as last-pixel coordinates.
    int rl = box.left(), rt = box.top(), rr = box.right(), rb = box.bottom();
    auto line = [&painter](const QPen& pen, int x1, int y1, int x2, int y2) {
        painter.setPen(pen);
        drawSegment(painter, QPoint(x1, y1), QPoint(x2, y2));
    };
    for (const TBevelCut style : {outer, inner}) {
        if (style == bvNone)
            continue;
        const int L = rl, T = rt, R = rr, B = rb;
        if (sides & fsdLeft) {
            if (style == bvRaised) {
                line(highlight, L, T, L, B + 1);
                rl += 1;
            } else if (style == bvLowered && bold) {
                line(dark, L, T, L, B);
                line(shadow, L + 1, T + 1, L + 1, B + ((sides & fsdBottom) ? 0 : 1));
                rl += 2;
            } else {
                line(shadow, L, T, L, B);
                rl += 1;
            }
        }
        if (sides & fsdTop) {
            if (style == bvRaised) {
                line(highlight, L, T, R, T);
                rt += 1;
            } else if (style == bvLowered && bold) {
                line(dark, L, T, R, T);
                line(shadow, L + 1, T + 1, R, T + 1);
                rt += 2;
            } else {
                line(shadow, L, T, R, T);
                rt += 1;
            }
        }
        if (sides & fsdRight) {
            if (style == bvLowered) {
                line(highlight, R, T, R, B);
                rr -= 1;
            } else if (style == bvRaised && bold) {
                line(dark, R, T, R, B + 1);
                line(shadow, R - 1, T + 1, R - 1, B + 1);
                rr -= 2;
            } else if (style == bvRaised) {
                line(shadow, R, T, R, B + 1);
                rr -= 1;
            } else {
                line(shadow, R, T, R, B);
                rr -= 1;
            }
        }
        if (sides & fsdBottom) {
            if (style == bvLowered) {
                line(highlight, L, B, R + 1, B);
                rb -= 1;
            } else if (style == bvRaised && bold) {
                line(dark, L, B, R, B);
                line(shadow, L + ((sides & fsdLeft) ? 1 : 0), B - 1, R, B - 1);
                rb -= 2;
            } else if (style == bvRaised) {
                line(shadow, L, B, R, B);
                rb -= 1;
            } else {
                line(shadow, L, B, R + 1, B);
                rb -= 1;
            }
        }
    }
    painter.restore();
    return QRect(QPoint(rl, rt), QPoint(rr, rb));
}

void TglBevel::drawLines(QPainter& painter, TglBevelLines& lines, bool vertical,
                         const QRect& interior) {
    const int c = int(lines.Count());
    const int extra = lines.Bold() ? 1 : 0;
    const TglSides sides = lines.Style() == bvSpace ? (fsdLeft | fsdTop)
                           : vertical               ? (fsdLeft | fsdRight)
                                                    : (fsdTop | fsdBottom);
    for (int j = 1; j <= c; ++j) {
        QRect box;
        if (vertical) {
            const int x = MulDiv(j, width(), c + 1);
            const int top = lines.IgnoreBorder() ? 0 : interior.top();
            const int bottom = lines.IgnoreBorder() ? height() - 1 : interior.bottom();
            box = QRect(QPoint(x, top), QPoint(x + lines.Thickness() + extra, bottom));
        } else {
            const int y = MulDiv(j, height(), c + 1);
            const int left = lines.IgnoreBorder() ? 0 : interior.left();
            const int right = lines.IgnoreBorder() ? width() - 1 : interior.right();
            box = QRect(QPoint(left, y), QPoint(right, y + lines.Thickness() + extra));
        }
        drawBevelBox(painter, box, sides, bvNone, lines.Style(), lines.Bold(), m_bevelPenWidth,
                     m_bevelPenStyle);
    }
}

#include "ui/reader/toolbar_images.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

class PictureEngine : public QIconEngine {
public:
    explicit PictureEngine(int index) : m_index(index) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(rect.topLeft());
        painter->scale(rect.width() / 16.0, rect.height() / 16.0);
        if (mode == QIcon::Disabled)
            painter->setOpacity(0.35);
        ToolbarImages::paint(*painter, m_index);
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }
    QIconEngine* clone() const override { return new PictureEngine(m_index); }

private:
    int m_index;
};

const QColor kOutline(40, 40, 40);

void page(QPainter& p, const QRectF& r) {
    p.setPen(QPen(kOutline, 0.8));
    p.setBrush(Qt::white);
    p.drawRect(r);
    p.setPen(QPen(QColor(120, 120, 120), 0.6));
    for (qreal y = r.top() + 2.5; y < r.bottom() - 1; y += 2)
        p.drawLine(QPointF(r.left() + 1.5, y), QPointF(r.right() - 1.5, y));
}

} // namespace

namespace ToolbarImages {

QIcon icon(int index) {
    return QIcon(new PictureEngine(index));
}

void paint(QPainter& p, int index) {
    switch (index) {
    case 0: { // floppy disk
        p.setPen(QPen(kOutline, 0.8));
        p.setBrush(QColor(30, 60, 160));
        p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 1, 1);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4, 2, 8, 5));
        p.setBrush(QColor(190, 190, 200));
        p.drawRect(QRectF(4.5, 9.5, 7, 5));
        p.setBrush(QColor(30, 60, 160));
        p.drawRect(QRectF(9, 10.5, 1.5, 3));
        break;
    }
    case 1: { // printer
        page(p, QRectF(4, 1.5, 8, 6));
        p.setPen(QPen(kOutline, 0.8));
        p.setBrush(QColor(170, 170, 175));
        p.drawRoundedRect(QRectF(1.5, 6.5, 13, 6), 1, 1);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4, 10.5, 8, 4));
        p.setBrush(QColor(40, 200, 40));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(12.5, 8.5), 0.8, 0.8);
        break;
    }
    case 2: { // curved arrow pointing back
        QPainterPath arc;
        arc.moveTo(4, 7);
        arc.cubicTo(7, 3, 14, 4, 13.5, 9);
        arc.cubicTo(13, 12.5, 9, 14, 6, 13);
        p.setPen(QPen(QColor(30, 80, 170), 2, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawPath(arc);
        QPainterPath head;
        head.moveTo(1, 8.5);
        head.lineTo(6.5, 3.5);
        head.lineTo(7, 9.5);
        head.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 80, 170));
        p.drawPath(head);
        break;
    }
    case 3: { // scissors
        p.setPen(QPen(QColor(120, 120, 130), 1.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4.5, 1), QPointF(10.5, 10));
        p.drawLine(QPointF(11.5, 1), QPointF(5.5, 10));
        p.setPen(QPen(QColor(200, 30, 30), 1.4));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(4.5, 12.5), 2.3, 2.3);
        p.drawEllipse(QPointF(11.5, 12.5), 2.3, 2.3);
        break;
    }
    case 4: // two pages
        page(p, QRectF(1.5, 1.5, 8, 10));
        page(p, QRectF(6.5, 4.5, 8, 10));
        break;
    case 5: { // clipboard with a page
        p.setPen(QPen(kOutline, 0.8));
        p.setBrush(QColor(160, 110, 50));
        p.drawRoundedRect(QRectF(1.5, 2, 10, 13), 1, 1);
        p.setBrush(QColor(200, 200, 200));
        p.drawRect(QRectF(4, 0.8, 5, 2.5));
        page(p, QRectF(6.5, 5.5, 8, 9.5));
        break;
    }
    case 6: { // bulleted list
        for (int i = 0; i < 3; ++i) {
            const qreal y = 3.5 + i * 4.5;
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(30, 60, 160));
            p.drawEllipse(QPointF(2.8, y), 1.5, 1.5);
            p.setPen(QPen(kOutline, 1.3));
            p.drawLine(QPointF(6, y), QPointF(15, y));
        }
        break;
    }
    case 7: { // binoculars
        p.setPen(QPen(kOutline, 0.8));
        p.setBrush(QColor(60, 60, 70));
        p.drawRect(QRectF(2, 3, 4, 6));
        p.drawRect(QRectF(10, 3, 4, 6));
        p.drawRect(QRectF(6, 5, 4, 3));
        p.setBrush(QColor(80, 120, 200));
        p.drawEllipse(QPointF(4, 11.5), 3.2, 3.2);
        p.drawEllipse(QPointF(12, 11.5), 3.2, 3.2);
        break;
    }
    case 8: { // red arrow pointing left
        QPainterPath arrow;
        arrow.moveTo(1, 8);
        arrow.lineTo(8, 1.5);
        arrow.lineTo(8, 5.5);
        arrow.lineTo(15, 5.5);
        arrow.lineTo(15, 10.5);
        arrow.lineTo(8, 10.5);
        arrow.lineTo(8, 14.5);
        arrow.closeSubpath();
        p.setPen(QPen(QColor(120, 0, 0), 0.8));
        p.setBrush(QColor(220, 30, 30));
        p.drawPath(arrow);
        break;
    }
    case 9: { // hand writing on a page with a pencil
        page(p, QRectF(1.5, 1.5, 10, 13));
        p.setPen(QPen(QColor(90, 60, 20), 0.6));
        p.setBrush(QColor(240, 200, 40));
        QPainterPath pencil;
        pencil.moveTo(14.8, 2.6);
        pencil.lineTo(7.6, 9.8);
        pencil.lineTo(6.2, 8.4);
        pencil.lineTo(13.4, 1.2);
        pencil.closeSubpath();
        p.drawPath(pencil);
        p.setBrush(QColor(40, 40, 40));
        QPainterPath tip;
        tip.moveTo(7.6, 9.8);
        tip.lineTo(5.5, 10.5);
        tip.lineTo(6.2, 8.4);
        tip.closeSubpath();
        p.drawPath(tip);
        p.setBrush(QColor(240, 190, 150));
        p.drawEllipse(QPointF(10.5, 11.5), 3, 2.2);
        break;
    }
    case 10: { // yellow sun
        p.setPen(QPen(QColor(240, 170, 0), 1.2, Qt::SolidLine, Qt::RoundCap));
        for (int i = 0; i < 8; ++i) {
            p.save();
            p.translate(8, 8);
            p.rotate(i * 45);
            p.drawLine(QPointF(0, -5.5), QPointF(0, -7.5));
            p.restore();
        }
        p.setPen(QPen(QColor(220, 150, 0), 0.8));
        p.setBrush(QColor(255, 220, 0));
        p.drawEllipse(QPointF(8, 8), 4, 4);
        break;
    }
    case 11: { // magnifying glass with a red plus
        p.setPen(QPen(QColor(90, 60, 30), 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
        p.setPen(QPen(kOutline, 1.2));
        p.setBrush(QColor(210, 230, 255));
        p.drawEllipse(QPointF(6.5, 6.5), 5, 5);
        p.setPen(QPen(QColor(220, 20, 20), 1.6));
        p.drawLine(QPointF(6.5, 4), QPointF(6.5, 9));
        p.drawLine(QPointF(4, 6.5), QPointF(9, 6.5));
        break;
    }
    case 12: { // dark silhouette
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(35, 35, 45));
        p.drawEllipse(QPointF(8, 5), 3.3, 3.5);
        QPainterPath body;
        body.moveTo(1.5, 15.5);
        body.cubicTo(1.5, 10, 5, 9, 8, 9);
        body.cubicTo(11, 9, 14.5, 10, 14.5, 15.5);
        body.closeSubpath();
        p.drawPath(body);
        break;
    }
    case 13: { // page with lines of text, the last one short
        p.setPen(QPen(kOutline, 0.8));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(2.5, 1.5, 11, 13));
        p.setPen(QPen(QColor(30, 60, 160), 1));
        for (int i = 0; i < 5; ++i) {
            const qreal y = 4 + i * 2.2;
            const qreal left = i == 0 || i == 3 ? 6 : 4.5; // indented first lines
            const qreal right = i == 2 || i == 4 ? 8.5 : 11.5;
            p.drawLine(QPointF(left, y), QPointF(right, y));
        }
        break;
    }
    case 14: { // contents: a page with headings, the lower ones indented
        p.setPen(QPen(kOutline, 0.8));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(2.5, 1.5, 11, 13));
        for (int i = 0; i < 4; ++i) {
            const qreal y = 4.5 + i * 2.8;
            const qreal left = i == 0 || i == 3 ? 4.5 : 6.5;
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(30, 60, 160));
            p.drawEllipse(QPointF(left, y), 0.9, 0.9);
            p.setPen(QPen(kOutline, 1));
            p.drawLine(QPointF(left + 2, y), QPointF(11.5, y));
        }
        break;
    }
    case 15: { // bookmark: a red ribbon over a page
        page(p, QRectF(2.5, 1.5, 11, 13));
        QPainterPath ribbon;
        ribbon.moveTo(8, 0.5);
        ribbon.lineTo(12, 0.5);
        ribbon.lineTo(12, 11);
        ribbon.lineTo(10, 9);
        ribbon.lineTo(8, 11);
        ribbon.closeSubpath();
        p.setPen(QPen(QColor(120, 0, 0), 0.7));
        p.setBrush(QColor(210, 30, 30));
        p.drawPath(ribbon);
        break;
    }
    default:
        break;
    }
}

} // namespace ToolbarImages

#include "ui/library/logo.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

QImage makeLogo() {
    QImage image(305, 82, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    QFont title(QStringLiteral("Liberation Serif"));
    title.setPixelSize(52);
    title.setBold(true);
    title.setItalic(true);
    QPainterPath path;
    path.addText(0, 0, title, QStringLiteral("Tomeria"));
    const QRectF bounds = path.boundingRect();
    path.translate(12 - bounds.left(), 8 - bounds.top());
    QLinearGradient gradient(0, 8, 0, 8 + bounds.height());
    gradient.setColorAt(0.0, QColor(255, 255, 0));
    gradient.setColorAt(1.0, QColor(255, 128, 0));
    painter.fillPath(path, gradient);

    QFont small(QStringLiteral("Liberation Sans"));
    small.setPixelSize(13);
    small.setBold(true);
    painter.setFont(small);
    painter.setPen(QColor(255, 255, 0));
    painter.drawText(QRect(240, 2, 60, 16), Qt::AlignRight | Qt::AlignTop, QStringLiteral("1.00"));

    small.setBold(false);
    small.setPixelSize(11);
    painter.setFont(small);
    painter.setPen(QColor(255, 0, 0));
    painter.drawText(QRect(0, 64, 305, 16), Qt::AlignHCenter | Qt::AlignVCenter,
                     QStringLiteral("личная библиотека книг · свободная программа"));
    painter.end();
    return image;
}

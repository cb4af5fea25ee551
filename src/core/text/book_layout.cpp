#include "core/text/book_layout.h"

#include <QFontDatabase>
#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace {

double within(double value, double low, double high, double fallback) {
    return std::isfinite(value) ? std::clamp(value, low, high) : fallback;
}

} // namespace

BookLayout BookLayout::clamped() const {
    BookLayout out = *this;
    out.width = width <= 0 ? 0 : std::clamp(width, kMinWidth, kMaxWidth);
    out.margins = std::clamp(margins, 0, kMaxMargins);
    out.lineSpacing = within(lineSpacing, kMinLineSpacing, kMaxLineSpacing, 1.0);
    out.indent = within(indent, 0, kMaxIndent, 0);
    out.paragraphSpacing = within(paragraphSpacing, 0, kMaxParagraphSpacing, 0);
    if (int(pages) < 0 || int(pages) > int(Pages::Spread))
        out.pages = Pages::Ribbon;
    return out;
}

BookLayout BookLayout::bookish() {
    BookLayout book;
    book.width = 66;
    book.lineSpacing = 1.3;
    book.indent = 1.5;
    book.justify = true;
    book.hyphenate = true;
    book.bookFace = true;
    return book;
}

QFont BookLayout::bookFont(qreal room, int characters) {
    const QString face = QFontDatabase::families().contains(QStringLiteral("PT Serif"))
                             ? QStringLiteral("PT Serif")
                             : QStringLiteral("Liberation Serif");
    QFont font(face);
    font.setKerning(false);
    // The average width grows with the size: the largest size whose line still fits.
    int size = kMinFaceSize;
    for (int candidate = kMaxFaceSize; candidate > kMinFaceSize; --candidate) {
        font.setPixelSize(candidate);
        if (characters * QFontMetricsF(font).averageCharWidth() <= room) {
            size = candidate;
            break;
        }
    }
    font.setPixelSize(size);
    return font;
}

const std::vector<LayoutPreset>& LayoutPreset::all() {
    static const std::vector<LayoutPreset> presets = [] {
        return std::vector<LayoutPreset>{
            {QStringLiteral("Как в редакторе"), BookLayout(), QColor(Qt::black), QColor(Qt::white)},
            {QStringLiteral("Книжная"), BookLayout::bookish(), std::nullopt, std::nullopt},
            {QStringLiteral("Ночная"), std::nullopt, QColor(0xc8, 0xc8, 0xc8),
             QColor(0x1e, 0x1e, 0x1e)},
            {QStringLiteral("Сепия"), std::nullopt, QColor(0x5b, 0x46, 0x36),
             QColor(0xf4, 0xec, 0xd8)},
        };
    }();
    return presets;
}

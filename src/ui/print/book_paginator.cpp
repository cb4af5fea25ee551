#include "ui/print/book_paginator.h"

#include "core/book/book_document.h"

#include <QTextLayout>

BookPaginator::BookPaginator(const BookDocument& book, const QFont& font, QPaintDevice* device,
                             QSizeF page)
    : m_book(book), m_font(font), m_device(device), m_page(page) {}

bool BookPaginator::atEnd(const Position& at) const {
    return at.paragraph >= m_book.paragraphCount();
}

std::shared_ptr<const QTextLayout> BookPaginator::layoutOf(const Position& at, qsizetype* end) {
    for (const Laid* kept : {&m_last, &m_pageFirst})
        if (kept->offset == at.offset && kept->layout) {
            *end = kept->end;
            return kept->layout;
        }
    const qsizetype paragraphEnd = m_book.paragraphEnd(at.paragraph);
    qsizetype to = paragraphEnd;
    if (to - at.offset > kSegment) {
        // A segment ends after a space near its length, else at its length.
        to = at.offset + kSegment;
        for (qsizetype i = to; i > at.offset + kSegment / 2; --i)
            if (m_book.at(i - 1) == u' ') {
                to = i;
                break;
            }
    }
    auto layout = std::make_shared<QTextLayout>(m_book.text(at.offset, to), m_font, m_device);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    layout->beginLayout();
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
        line.setLineWidth(m_page.width());
        line.setPosition(QPointF(0, 0));
    }
    layout->endLayout();
    m_last = {at.offset, to, layout};
    *end = to;
    return layout;
}

std::vector<BookPaginator::Line> BookPaginator::compose(Position& at) {
    std::vector<Line> page;
    Laid first;
    qreal y = 0;
    bool full = false;
    while (!full && !atEnd(at)) {
        qsizetype end = 0;
        const std::shared_ptr<const QTextLayout> layout = layoutOf(at, &end);
        if (!first.layout)
            first = {at.offset, end, layout};
        for (; at.line < layout->lineCount(); ++at.line) {
            const qreal height = layout->lineAt(at.line).height();
            if (!page.empty() && y + height > m_page.height()) {
                full = true;
                break;
            }
            page.push_back({layout, at.line, y});
            y += height;
        }
        if (!full) {
            at.line = 0;
            if (end < m_book.paragraphEnd(at.paragraph)) {
                at.offset = end;
            } else {
                ++at.paragraph;
                at.offset = atEnd(at) ? m_book.length() : m_book.paragraphStart(at.paragraph);
            }
        }
    }
    m_pageFirst = std::move(first);
    return page;
}

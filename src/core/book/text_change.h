#pragma once

#include <QByteArrayView>
#include <QtGlobal>

// One edit of a book's text: `removed` characters at `offset` replaced by `inserted`
// ones. What was kept at a place of the text (a heading, a bookmark) moves with it.
struct TextChange {
    qsizetype offset = 0;
    qsizetype removed = 0;
    qsizetype inserted = 0;

    bool isEmpty() const { return removed == 0 && inserted == 0; }

    // The one change that turns `before` into `after`: what lies between their common
    // start and their common end.
    static TextChange between(QByteArrayView before, QByteArrayView after);

    // Where a place is after the change: before it, it stays; after what was removed,
    // it moves by the difference; inside it, it goes to the change's start.
    qsizetype moved(qsizetype place) const {
        if (place < offset)
            return place;
        if (place >= offset + removed)
            return place - removed + inserted;
        return offset;
    }
    // Whether the change took away characters of [from, to).
    bool touches(qsizetype from, qsizetype to) const {
        return removed > 0 && from < offset + removed && offset < to;
    }
};

#include "ui/bookview/book_view_accessible.h"

#include "core/book/book_text.h"
#include "ui/bookview/book_view.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

// Sentences are looked for this far around the offset.
constexpr qsizetype kSentenceWindow = 4096;

QAccessibleInterface* createInterface(const QString&, QObject* object) {
    if (auto* view = qobject_cast<BookView*>(object))
        return new BookViewAccessible(view);
    return nullptr;
}

} // namespace

BookViewAccessible::BookViewAccessible(BookView* view)
    : QAccessibleWidget(view, QAccessible::EditableText) {}

void BookViewAccessible::install() {
    static const bool installed = [] {
        QAccessible::installFactory(createInterface);
        return true;
    }();
    Q_UNUSED(installed);
}

BookView* BookViewAccessible::view() const {
    return static_cast<BookView*>(widget());
}

void* BookViewAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State BookViewAccessible::state() const {
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.editable = false;
    s.multiLine = true;
    s.selectableText = true;
    s.focusable = true;
    return s;
}

QString BookViewAccessible::text(QAccessible::Text type) const {
    // The book itself is read through the text interface, a piece at a time.
    if (type == QAccessible::Value)
        return QString();
    return QAccessibleWidget::text(type);
}

void BookViewAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || view()->selectionLength() == 0)
        return;
    *startOffset = int(view()->selectionStart());
    *endOffset = int(view()->selectionStart() + view()->selectionLength());
}

int BookViewAccessible::selectionCount() const {
    return view()->selectionLength() > 0 ? 1 : 0;
}

void BookViewAccessible::addSelection(int startOffset, int endOffset) {
    setSelection(0, startOffset, endOffset);
}

void BookViewAccessible::removeSelection(int selectionIndex) {
    if (selectionIndex == 0)
        view()->select(view()->caret(), view()->caret());
}

void BookViewAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    if (selectionIndex == 0)
        view()->select(startOffset, endOffset);
}

int BookViewAccessible::cursorPosition() const {
    return int(view()->caret());
}

void BookViewAccessible::setCursorPosition(int position) {
    view()->setSelectionStart(position);
}

namespace {

// The end of a request from `start`, cut to kMaxText characters and off the middle of a
// surrogate pair.
qsizetype cappedEnd(const BookView* view, qsizetype start, qsizetype end) {
    if (end < 0 || end > view->textLength())
        end = view->textLength();
    if (end - start <= BookViewAccessible::kMaxText)
        return end;
    end = start + BookViewAccessible::kMaxText;
    const QString last = view->text(end - 1, end);
    if (!last.isEmpty() && last.front().isHighSurrogate())
        --end;
    return end;
}

} // namespace

QString BookViewAccessible::text(int startOffset, int endOffset) const {
    return view()->text(startOffset, cappedEnd(view(), startOffset, endOffset));
}

int BookViewAccessible::characterCount() const {
    return int(view()->textLength());
}

std::pair<qsizetype, qsizetype>
BookViewAccessible::unitAt(qsizetype offset, QAccessible::TextBoundaryType type) const {
    BookView* v = view();
    const BookText& book = *v->book();
    const qsizetype length = book.length();
    offset = std::clamp<qsizetype>(offset, 0, length);
    const int paragraph = book.paragraphAt(offset);
    switch (type) {
    case QAccessible::CharBoundary: {
        if (offset >= length)
            return {length, length};
        if (offset >= book.paragraphEnd(paragraph)) // the line break is one unit
            return {book.paragraphEnd(paragraph), book.paragraphEnd(paragraph) + 2};
        return {offset, offset + 1};
    }
    case QAccessible::WordBoundary:
        return v->wordAt(offset);
    case QAccessible::SentenceBoundary: {
        const qsizetype from = std::max(book.paragraphStart(paragraph), offset - kSentenceWindow);
        const qsizetype to = std::min(book.paragraphEnd(paragraph), offset + kSentenceWindow);
        const QString window = book.text(from, to);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Sentence, window);
        finder.setPosition(int(offset - from));
        qsizetype start = finder.isAtBoundary() ? offset - from : finder.toPreviousBoundary();
        finder.setPosition(int(offset - from));
        qsizetype end = finder.toNextBoundary();
        if (start < 0)
            start = 0;
        if (end < 0)
            end = window.size();
        return {from + start, from + end};
    }
    case QAccessible::LineBoundary:
        return v->lineRange(offset);
    case QAccessible::ParagraphBoundary: {
        const qsizetype end =
            paragraph + 1 < book.paragraphCount() ? book.paragraphStart(paragraph + 1) : length;
        return {book.paragraphStart(paragraph), end};
    }
    case QAccessible::NoBoundary:
        break;
    }
    return {0, length};
}

QString BookViewAccessible::unitText(std::pair<qsizetype, qsizetype> unit, int* startOffset,
                                     int* endOffset) const {
    unit.second = std::max(unit.first, cappedEnd(view(), unit.first, unit.second));
    *startOffset = int(unit.first);
    *endOffset = int(unit.second);
    return view()->text(unit.first, unit.second);
}

QString BookViewAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                         int* startOffset, int* endOffset) const {
    return unitText(unitAt(offset, boundaryType), startOffset, endOffset);
}

QString BookViewAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                             int* startOffset, int* endOffset) const {
    const auto at = unitAt(offset, boundaryType);
    if (at.first <= 0) {
        *startOffset = *endOffset = -1;
        return QString();
    }
    return unitText(unitAt(at.first - 1, boundaryType), startOffset, endOffset);
}

QString BookViewAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int* startOffset, int* endOffset) const {
    const auto at = unitAt(offset, boundaryType);
    if (at.second >= view()->textLength()) {
        *startOffset = *endOffset = -1;
        return QString();
    }
    return unitText(unitAt(at.second, boundaryType), startOffset, endOffset);
}

QRect BookViewAccessible::characterRect(int offset) const {
    const QRect rect = view()->characterRect(offset);
    if (rect.isNull())
        return QRect();
    return QRect(view()->viewport()->mapToGlobal(rect.topLeft()), rect.size());
}

int BookViewAccessible::offsetAtPoint(const QPoint& point) const {
    return int(view()->offsetAt(view()->viewport()->mapFromGlobal(point)));
}

void BookViewAccessible::scrollToSubstring(int startIndex, int) {
    if (view()->characterRect(startIndex).isNull())
        view()->centerOffset(startIndex);
}

QString BookViewAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    // One font and colour for the whole book.
    Q_UNUSED(offset);
    *startOffset = 0;
    *endOffset = int(view()->textLength());
    return QString();
}

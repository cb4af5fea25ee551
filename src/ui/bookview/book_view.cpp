#include "ui/bookview/book_view.h"

#include "core/book/book_document.h"
#include "core/book/line_counter.h"
#include "core/text/hyphenator.h"
#include "ui/bookview/book_view_accessible.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// Display lines counted at once on the window's thread, before the worker gets there:
// the characters of at most this many (about a millisecond's work).
constexpr qsizetype kCountAtOnce = 256 * 1024;
// (a spread of short paragraphs, and the next one laid out ahead)
constexpr int kCachedLayouts = 256;
// A word found by a double-click or Ctrl+arrow reaches at most this far.
constexpr qsizetype kLongestWord = 4096;
// Pixels a justified line's natural width stays under the column.
constexpr qreal kJustifySlack = 2;
// The least height of a blank line under an indent, in lines.
constexpr qreal kLeastBlankLine = 0.25;

} // namespace

BookView::BookView(QWidget* parent)
    : QAbstractScrollArea(parent), m_book(std::make_shared<BookDocument>()),
      m_counter(new LineCounter(this)) {
    BookViewAccessible::install();
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_font = font();
    m_font.setKerning(false);
    updateStyle();
    connect(m_counter, &LineCounter::progress, this, [this] {
        if (m_lines && m_counter->lines() == m_lines.get()) {
            dropInexactLayouts();
            if (paged())
                viewport()->update(); // a page's end may be known now
            Q_EMIT linesReady();
        }
    });
    // Hyphenated lines wait for the patterns, loaded in the background: until then the
    // lines are laid out without hyphens, then again with them.
    connect(HyphenatorLoading::instance(), &HyphenatorLoading::ready, this, [this] {
        if (m_lines && m_bookLayout.hyphenate &&
            m_lines->rules().hyphenator != Hyphenator::loaded()) {
            keepTopAnchor();
            relayout();
        }
    });
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this](int action) {
        if (!m_book)
            return;
        if (paged()) {
            if (action == QAbstractSlider::SliderSingleStepAdd ||
                action == QAbstractSlider::SliderPageStepAdd ||
                action == QAbstractSlider::SliderSingleStepSub ||
                action == QAbstractSlider::SliderPageStepSub) {
                const bool forward = action == QAbstractSlider::SliderSingleStepAdd ||
                                     action == QAbstractSlider::SliderPageStepAdd;
                const std::optional<Place> target = forward ? nextTop() : previousTop();
                verticalScrollBar()->setSliderPosition(int(startOf(target ? *target : top())));
            }
            return;
        }
        const int page = std::max(1, visibleLineCount() - 1);
        Place target = top();
        switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
            target = moved(target, 1);
            break;
        case QAbstractSlider::SliderSingleStepSub:
            target = moved(target, -1);
            break;
        case QAbstractSlider::SliderPageStepAdd:
            target = moved(target, page);
            break;
        case QAbstractSlider::SliderPageStepSub:
            target = moved(target, -page);
            break;
        default:
            return; // a drag or a jump: the value says where
        }
        if (startOf(target) > startOf(lastTop()))
            target = lastTop();
        verticalScrollBar()->setSliderPosition(int(startOf(target)));
    });
}

BookView::~BookView() {
    m_counter->stop();
}

// ---- The book and its lines ---------------------------------------------------------

void BookView::setBook(std::shared_ptr<BookDocument> book) {
    m_counter->stop();
    // The widths of the code page's characters serve every book; a wide book has its own.
    if (m_widths.isWide() || (book && book->isWide()))
        m_widthsValid = false;
    m_book = book ? std::move(book) : std::make_shared<BookDocument>();
    m_maybeMove = m_moving = false;
    m_caret = m_anchor = 0;
    m_caretAtLineEnd = false;
    m_preferredX = -1;
    m_topAnchor = 0;
    m_anchorOfLayout = false;
    invalidateLayout();
    updateScrollBar();
    viewport()->update();
    notifySelection();
}

std::shared_ptr<const BookMarkup> BookView::markup() const {
    return m_markupBook.lock() == m_book ? m_markup : nullptr;
}

void BookView::setMarkup(std::shared_ptr<const BookMarkup> markup) {
    if (markup && markup->isEmpty())
        markup.reset();
    const std::shared_ptr<const BookMarkup> shown = this->markup();
    const bool same = shown == markup || (shown && markup && *shown == *markup);
    m_markup = std::move(markup);
    m_markupBook = m_book;
    if (same)
        return; // nothing to lay out anew
    // The marks before the steps of the history are not known with it.
    m_markupStates.clear();
    keepTopAnchor();
    relayout();
}

std::optional<BookText> BookView::settle() {
    beginEdit();
    std::optional<BookText> settled = m_book->settle();
    endEdit({}, m_caret);
    return settled;
}

qsizetype BookView::textLength() const {
    return m_book->length();
}

QString BookView::text(qsizetype from, qsizetype to) const {
    return m_book->text(from, to);
}

void BookView::invalidateLayout() {
    m_lines.reset();
    m_previousLines.reset();
    m_cache.clear();
    m_topValid = false;
    m_lastTopValid = false;
    m_atOnceFor = nullptr;
}

const BookLines& BookView::lines() {
    if (!m_lines) {
        if (!m_widthsValid) {
            m_widths = CharWidths(m_font, *m_book);
            m_widthsValid = true;
        }
        LineRules rules;
        rules.indent = m_style.indent;
        rules.hyphenator = m_bookLayout.hyphenate ? Hyphenator::loaded() : nullptr;
        rules.hyphenWidth = QFontMetricsF(m_font).horizontalAdvance(QLatin1Char('-'));
        rules.holdShortWords = m_bookLayout.justify;
        rules.optimal = m_bookLayout.justify;
        m_style.width = columnWidth();
        // A justified line is stretched to the column by the text layout, which takes no
        // more than the column: the breaker leaves room for its rounding.
        const qreal width = m_style.width - (m_bookLayout.justify ? kJustifySlack : 0);
        // The book's headings and emphasis, measured in their fonts.
        LineMarks marks;
        if (m_markup && m_markupBook.lock() == m_book) {
            marks.index = std::make_shared<const MarkIndex>(*m_markup, *m_book);
            if (!m_markWidths || m_markFont != m_font) {
                m_markWidths = markWidths(m_font, m_widths);
                m_markFont = m_font;
            } else if (auto widths = markWidthsLike(*m_markWidths, m_font, m_widths)) {
                m_markWidths = std::move(widths); // a wide book's new characters
            }
            marks.widths = m_markWidths;
        }
        m_lines = std::make_shared<const BookLines>(
            m_book, m_widths, width, rules, m_previousLines.get(), m_keepPieces, std::move(marks));
        if (m_previousLines && m_counter->lines() == m_previousLines.get()) {
            // After an edit: the layouts kept are those of pieces before it.
            m_counter->resume(m_lines, m_keepPieces, m_resumeParagraph);
        } else {
            m_cache.clear();
            m_counter->start(m_lines);
        }
        m_previousLines.reset();
        m_keepPieces = 0;
    }
    return *m_lines;
}

std::shared_ptr<const ParagraphLayout> BookView::layoutOf(int piece) {
    const BookLines& l = lines();
    for (auto it = m_cache.rbegin(); it != m_cache.rend(); ++it) {
        if (it->piece == piece) {
            auto layout = it->layout;
            if (it != m_cache.rbegin()) {
                m_cache.erase(std::next(it).base());
                m_cache.push_back({piece, layout});
            }
            return layout;
        }
    }
    const BookLines::Piece p = l.piece(piece);
    const std::vector<qsizetype> starts = l.lineStarts(p);
    ParagraphMarks marks;
    if (const MarkIndex* index = l.marks()) {
        marks.headingRank = index->headingRank(p.paragraph);
        // Space above a heading, but not at the top of the book.
        marks.spaceAbove = p.index == 0 && p.paragraph > 0 && index->opensHeading(p.paragraph);
        if (marks.headingRank == 0)
            marks.emphasis = index->runs(p.from, p.to);
    }
    auto layout = std::make_shared<const ParagraphLayout>(
        m_book->text(p.from, p.to), p.from, starts, p.lastOfParagraph, m_style, p.index == 0,
        l.hyphenatedEnds(p, starts), marks);
    if (int(m_cache.size()) >= kCachedLayouts)
        m_cache.erase(m_cache.begin());
    m_cache.push_back({piece, layout});
    return layout;
}

void BookView::syncExact() {
    // Each operation starts from layouts that agree with the counted lines.
    if (m_lines && m_lines->exactPieces() != m_exactSeen) {
        m_exactSeen = m_lines->exactPieces();
        dropInexactLayouts();
    }
}

void BookView::dropInexactLayouts() {
    // A long paragraph's piece shown before the counter reached it may start a little
    // elsewhere now that its start is exact.
    bool changed = false;
    for (auto it = m_cache.begin(); it != m_cache.end();) {
        const BookLines::Piece piece = m_lines->piece(it->piece);
        if (piece.from != it->layout->from() || piece.to != it->layout->to()) {
            it = m_cache.erase(it);
            changed = true;
        } else {
            ++it;
        }
    }
    if (!changed)
        return;
    m_topValid = false;
    m_lastTopValid = false;
    m_atOnceFor = nullptr;
    updateScrollBar();
    viewport()->update();
}

BookView::Place BookView::placeOf(qsizetype offset) {
    const int piece = lines().pieceAt(std::clamp<qsizetype>(offset, 0, textLength())).number;
    return {piece, layoutOf(piece)->lineOf(offset)};
}

qsizetype BookView::startOf(const Place& place) {
    return layoutOf(place.piece)->lineStart(place.line);
}

BookView::Place BookView::moved(Place place, int count) {
    const int pieces = lines().pieceCount();
    while (count > 0) {
        const int inPiece = layoutOf(place.piece)->lineCount();
        if (place.line + count < inPiece) {
            place.line += count;
            break;
        }
        if (place.piece + 1 >= pieces) {
            place.line = inPiece - 1;
            break;
        }
        count -= inPiece - place.line;
        place = {place.piece + 1, 0};
    }
    while (count < 0) {
        if (place.line + count >= 0) {
            place.line += count;
            break;
        }
        if (place.piece == 0) {
            place.line = 0;
            break;
        }
        count += place.line + 1;
        place = {place.piece - 1, layoutOf(place.piece - 1)->lineCount() - 1};
    }
    return place;
}

BookView::Place BookView::lastTop() {
    if (!m_lastTopValid || !m_lines) {
        const int last = lines().pieceCount() - 1;
        const Place end{last, layoutOf(last)->lineCount() - 1};
        // Pages: any line may head a page (the last page may hold one line).
        m_lastTop = paged() ? end : topShowingAtBottom(end);
        m_lastTopValid = true;
    }
    return m_lastTop;
}

const BookView::Place& BookView::top() {
    if (!m_topValid || !m_lines) {
        m_top = placeOf(m_topAnchor);
        if (paged())
            m_top = pageTopOf(m_top);
        else if (startOf(m_top) > startOf(lastTop()))
            m_top = lastTop();
        m_topValid = true;
    }
    return m_top;
}

void BookView::setTop(const Place& place, bool keepAnchor) {
    m_top = place;
    if (paged())
        m_top = pageTopOf(m_top);
    else if (startOf(m_top) > startOf(lastTop()))
        m_top = lastTop();
    m_topValid = true;
    if (!keepAnchor) {
        m_topAnchor = startOf(m_top);
        m_anchorOfLayout = false;
    }
    updateScrollBar();
    viewport()->update();
}

int BookView::visibleLineCount() const {
    return std::max(1, int((viewport()->height() - margin()) / lineHeight()));
}

qreal BookView::heightOf(const Place& place) {
    // A heading's lines are taller (its first with the space above it).
    const MarkIndex* marks = lines().marks();
    if (m_bookLayout.paragraphSpacing <= 0 && m_style.indent <= 0 &&
        !(marks && marks->hasHeadings()))
        return lineHeight();
    const auto layout = layoutOf(place.piece);
    // Under an indent, a blank line between paragraphs is shown as the paragraph spacing
    // (a quarter of a line at least, a place the caret can stand on).
    if (layout->blank())
        return std::max(m_bookLayout.paragraphSpacing, kLeastBlankLine) * lineHeight();
    const bool last = layout->endsParagraph() && place.line == layout->lineCount() - 1;
    return layout->slotHeight(place.line) +
           (last ? m_bookLayout.paragraphSpacing * lineHeight() : 0);
}

BookView::Place BookView::placeAtY(qreal y, bool* inside) {
    // Within the lines wholly shown, as the rows of the mouse are.
    Place at = top();
    qreal t = margin();
    bool within = true;
    for (;;) {
        const qreal h = heightOf(at);
        if (y < t + h)
            break;
        const Place below = moved(at, 1);
        if (below.piece == at.piece && below.line == at.line) {
            within = y < t + lineHeight();
            break;
        }
        if (t + h + lineHeight() > viewport()->height())
            break;
        t += h;
        at = below;
    }
    if (inside)
        *inside = within;
    return at;
}

qreal BookView::yOf(const Place& place) {
    if (rowOf(place) < 0)
        return -1;
    Place at = top();
    qreal t = margin();
    while (at.piece != place.piece || at.line != place.line) {
        if (t > viewport()->height())
            return -1;
        const Place below = moved(at, 1);
        if (below.piece == at.piece && below.line == at.line)
            return -1;
        t += heightOf(at);
        at = below;
    }
    return t;
}

BookView::Place BookView::topShowingAtBottom(Place place) {
    // Lines above it are taken while they fit; the line itself always counts.
    qreal used = lineHeight();
    const qreal room = viewport()->height() - margin();
    for (;;) {
        const Place above = moved(place, -1);
        if (above.piece == place.piece && above.line == place.line)
            return place;
        const qreal h = heightOf(above);
        if (used + h > room + 1e-6)
            return place;
        used += h;
        place = above;
    }
}

int BookView::rowOf(const Place& place) {
    const Place& t = top();
    if (place.piece < t.piece || (place.piece == t.piece && place.line < t.line))
        return -1;
    const int limit = visibleLineCount() + 1;
    int row = 0;
    for (int piece = t.piece; piece < place.piece && row <= limit; ++piece)
        row += layoutOf(piece)->lineCount() - (piece == t.piece ? t.line : 0);
    row += place.line - (place.piece == t.piece ? t.line : 0);
    return std::min(row, limit);
}

void BookView::updateScrollBar() {
    QScrollBar* bar = verticalScrollBar();
    m_settingScroll = true;
    const qsizetype maximum = m_book->isEmpty() ? 0 : startOf(lastTop());
    bar->setRange(0, int(maximum));
    // A screenful of characters, so that the handle shows the share of the book on screen.
    const qreal perLine = std::max<qreal>(
        1, viewport()->width() / std::max<qreal>(1, QFontMetricsF(m_font).averageCharWidth()));
    bar->setPageStep(std::max(1, int(visibleLineCount() * perLine)));
    bar->setSingleStep(std::max(1, int(perLine)));
    if (!bar->isSliderDown())
        bar->setValue(m_book->isEmpty() ? 0 : int(startOf(top())));
    m_settingScroll = false;
}

void BookView::scrollContentsBy(int, int) {
    if (m_settingScroll || !m_book)
        return;
    // The user moved the scroll bar: the line holding that character goes to the top.
    const QScrollBar* bar = verticalScrollBar();
    Place place = placeOf(bar->value());
    if (paged())
        place = pageTopOf(place);
    else if (startOf(place) > startOf(lastTop()))
        place = lastTop();
    m_top = place;
    m_topValid = true;
    m_topAnchor = startOf(place);
    m_anchorOfLayout = false;
    if (!bar->isSliderDown())
        updateScrollBar();
    viewport()->update();
}

// ---- Places -------------------------------------------------------------------------

qsizetype BookView::firstVisibleOffset() {
    syncExact();
    return startOf(top());
}

void BookView::scrollOffsetToTop(qsizetype offset) {
    syncExact();
    // The character asked for stays the one at the top when the width or font changes
    // before the view settles (a window being shown and maximised).
    setTop(placeOf(offset), true);
    m_topAnchor = std::clamp<qsizetype>(offset, 0, textLength());
    m_anchorOfLayout = false;
}

void BookView::centerOffset(qsizetype offset) {
    syncExact();
    if (paged()) {
        setTop(placeOf(offset)); // the page holding it
        return;
    }
    setTop(moved(placeOf(offset), -(visibleLineCount() / 2)));
}

void BookView::ensureCaretVisible() {
    syncExact();
    const Place caret = caretPlace();
    if (paged()) {
        // The page follows the caret.
        QPointF origin;
        if (!originOf(caret, &origin))
            setTop(caret);
        return;
    }
    const qreal y = rowOf(caret) < 0 ? -1 : yOf(caret);
    if (rowOf(caret) < 0)
        setTop(caret);
    else if (y < 0 || y + lineHeight() > viewport()->height())
        setTop(topShowingAtBottom(caret));
}

int BookView::linesBefore(int piece) {
    const BookLines& l = lines();
    const bool counting = m_counter->lines() == &l;
    if (counting && m_counter->counted() >= piece)
        return m_counter->linesBefore(piece);
    int from = 0;
    int base = 0;
    if (counting) {
        from = m_counter->counted();
        base = m_counter->linesBefore(from);
    }
    if (m_atOnceFor == &l && m_atOncePiece <= piece && m_atOncePiece > from) {
        from = m_atOncePiece;
        base = m_atOnceLines;
    }
    if (l.piece(piece).from - l.piece(from).from > kCountAtOnce)
        return -1;
    for (int n = from; n < piece; ++n)
        base += l.lineCount(l.piece(n));
    m_atOnceFor = &l;
    m_atOncePiece = piece;
    m_atOnceLines = base;
    return base;
}

int BookView::lineOfChar(qsizetype offset) {
    syncExact();
    const Place place = placeOfCaretOr(offset);
    const int before = linesBefore(place.piece);
    return before < 0 ? -1 : before + place.line;
}

qsizetype BookView::lineStartOf(qsizetype offset) {
    syncExact();
    return startOf(placeOfCaretOr(offset));
}

std::pair<qsizetype, qsizetype> BookView::lineRange(qsizetype offset) {
    syncExact();
    const Place place = placeOf(offset);
    const Place next = moved(place, 1);
    const qsizetype start = startOf(place);
    if (next.piece == place.piece && next.line == place.line)
        return {start, textLength()};
    return {start, startOf(next)};
}

bool BookView::linesCounted() {
    return m_counter->lines() == &lines() && m_counter->finished();
}

int BookView::lineCount() {
    const int pieces = lines().pieceCount();
    return linesBefore(pieces - 1) < 0
               ? -1
               : linesBefore(pieces - 1) + layoutOf(pieces - 1)->lineCount();
}

// ---- Selection ----------------------------------------------------------------------

namespace {

// An offset inside a line break stands for the end of the line.
qsizetype settled(const BookDocument& book, qsizetype offset) {
    offset = std::clamp<qsizetype>(offset, 0, book.length());
    const int paragraph = book.paragraphAt(offset);
    return std::min(offset, book.paragraphEnd(paragraph));
}

} // namespace

void BookView::notifySelection() {
    if (QAccessible::isActive()) {
        QAccessibleTextCursorEvent cursor(this, int(m_caret));
        QAccessible::updateAccessibility(&cursor);
        QAccessibleTextSelectionEvent selection(this, int(selectionStart()),
                                                int(selectionStart() + selectionLength()));
        selection.setCursorPosition(int(m_caret));
        QAccessible::updateAccessibility(&selection);
    }
    Q_EMIT selectionChanged();
}

void BookView::select(qsizetype anchor, qsizetype caret) {
    m_anchor = settled(*m_book, anchor);
    m_caret = settled(*m_book, caret);
    m_caretAtLineEnd = false;
    m_preferredX = -1;
    viewport()->update();
    notifySelection();
}

void BookView::setSelectionStart(qsizetype offset) {
    select(offset, offset);
    ensureCaretVisible();
}

void BookView::setSelectionLength(qsizetype length) {
    const qsizetype start = selectionStart();
    select(start, start + std::max<qsizetype>(0, length));
    ensureCaretVisible();
}

QString BookView::selectedText() const {
    return m_book->text(selectionStart(), selectionStart() + selectionLength());
}

void BookView::selectAll() {
    select(0, textLength());
}

void BookView::copySelection() const {
    if (selectionLength() > 0)
        QGuiApplication::clipboard()->setText(selectedText());
}

void BookView::moveCaret(qsizetype offset, bool extend, bool atLineEnd) {
    m_caret = settled(*m_book, offset);
    m_caretAtLineEnd = atLineEnd && m_caret == offset;
    if (!extend)
        m_anchor = m_caret;
    ensureCaretVisible();
    viewport()->update();
    notifySelection();
}

qsizetype BookView::nextOffset(qsizetype offset) const {
    const int paragraph = m_book->paragraphAt(offset);
    if (offset >= m_book->paragraphEnd(paragraph))
        return paragraph + 1 < m_book->paragraphCount() ? m_book->paragraphStart(paragraph + 1)
                                                        : textLength();
    ++offset;
    if (m_book->isWide() && offset < textLength() && QChar::isLowSurrogate(m_book->at(offset)))
        ++offset;
    return offset;
}

qsizetype BookView::previousOffset(qsizetype offset) const {
    const int paragraph = m_book->paragraphAt(offset);
    if (offset <= m_book->paragraphStart(paragraph))
        return paragraph > 0 ? m_book->paragraphEnd(paragraph - 1) : 0;
    --offset;
    if (m_book->isWide() && offset > 0 && QChar::isLowSurrogate(m_book->at(offset)))
        --offset;
    return offset;
}

std::pair<qsizetype, qsizetype> BookView::wordAt(qsizetype offset) const {
    const qsizetype length = textLength();
    const auto word = [&](qsizetype i) { return BookText::isWordCharacter(m_book->at(i)); };
    qsizetype at = offset;
    if (!(at < length && word(at))) {
        if (at > 0 && word(at - 1))
            --at;
        else
            return {offset, nextOffset(offset)};
    }
    qsizetype first = at;
    while (first > 0 && at - first < kLongestWord && word(first - 1))
        --first;
    qsizetype last = at;
    while (last < length && last - at < kLongestWord && word(last))
        ++last;
    return {first, last};
}

qsizetype BookView::nextWord(qsizetype offset) const {
    const qsizetype length = textLength();
    const qsizetype limit = std::min(length, offset + kLongestWord);
    qsizetype i = offset;
    while (i < limit && BookText::isWordCharacter(m_book->at(i)))
        ++i;
    while (i < limit && !BookText::isWordCharacter(m_book->at(i)))
        ++i;
    return i == offset ? nextOffset(offset) : i;
}

qsizetype BookView::previousWord(qsizetype offset) const {
    const qsizetype limit = std::max<qsizetype>(0, offset - kLongestWord);
    qsizetype i = offset;
    while (i > limit && !BookText::isWordCharacter(m_book->at(i - 1)))
        --i;
    while (i > limit && BookText::isWordCharacter(m_book->at(i - 1)))
        --i;
    return i == offset ? previousOffset(offset) : i;
}

qsizetype BookView::caretAfterLines(int count, bool* atLineEnd) {
    const Place place = caretPlace();
    *atLineEnd = false;
    if (m_preferredX < 0)
        m_preferredX = m_caretAtLineEnd ? layoutOf(place.piece)->endX(place.line)
                                        : layoutOf(place.piece)->xOf(m_caret);
    const Place target = moved(place, count);
    if (target.piece == place.piece && target.line == place.line) {
        *atLineEnd = m_caretAtLineEnd && std::abs(count) == 1;
        return count < 0 ? (std::abs(count) > 1 ? 0 : m_caret)
                         : (count > 1 ? textLength() : m_caret);
    }
    return layoutOf(target.piece)->offsetAt(target.line, m_preferredX, atLineEnd);
}

BookView::Place BookView::caretPlace() {
    const Place place = placeOf(m_caret);
    if (!m_caretAtLineEnd || startOf(place) != m_caret)
        return place;
    const Place before = moved(place, -1);
    const bool moves = before.piece != place.piece || before.line != place.line;
    return moves && layoutOf(before.piece)->hyphenated(before.line) ? before : place;
}

BookView::Place BookView::placeOfCaretOr(qsizetype offset) {
    return offset == m_caret ? caretPlace() : placeOf(offset);
}

// ---- Look ---------------------------------------------------------------------------

void BookView::setTextFont(const QFont& font, const QColor& colour) {
    m_textColour = colour;
    setFont(font);
    viewport()->update();
}

void BookView::setBackgroundColour(const QColor& colour) {
    m_background = colour;
    viewport()->update();
}

void BookView::setBookLayout(const BookLayout& layout) {
    const BookLayout clamped = layout.clamped();
    if (clamped == m_bookLayout)
        return;
    keepTopAnchor();
    BookLayout otherPages = m_bookLayout;
    otherPages.pages = clamped.pages;
    m_bookLayout = clamped;
    if (otherPages == clamped && m_lines && std::abs(m_style.width - columnWidth()) < 0.01) {
        // Pages or the ribbon at the same width: the same lines, counted once.
        m_topValid = false;
        m_lastTopValid = false;
        updatePageRules();
        updateScrollBar();
        viewport()->update();
        return;
    }
    relayout();
}

void BookView::keepTopAnchor() {
    // The first visible character stays at the top: the top is found again from it.
    // A character kept from an earlier choice stays while it is still in the top line.
    if (m_book) {
        const auto [start, end] = lineRange(firstVisibleOffset());
        if (!m_anchorOfLayout || m_topAnchor < start || m_topAnchor >= end)
            m_topAnchor = start;
        m_anchorOfLayout = true;
    }
}

void BookView::relayout() {
    updateStyle();
    invalidateLayout();
    updatePageRules();
    updateScrollBar();
    viewport()->update();
}

void BookView::updateStyle() {
    const QFontMetricsF metrics(m_font);
    m_style.font = m_font;
    m_style.lineHeight = metrics.height() * m_bookLayout.lineSpacing;
    m_style.leading = (m_style.lineHeight - metrics.height()) / 2;
    m_style.indent = m_bookLayout.indent * QFontInfo(m_font).pixelSize();
    m_style.justify = m_bookLayout.justify;
}

qreal BookView::gutterFor(const QFont& font) {
    return std::max<qreal>(24, 3 * QFontMetricsF(font).averageCharWidth());
}

bool BookView::spread() const {
    if (m_bookLayout.pages != BookLayout::Pages::Spread)
        return false;
    // Two columns of the chosen width (of the least, for the whole window) and a gutter.
    const qreal room = viewport()->width() - 2 * margin() - 2 * m_bookLayout.margins;
    const int characters = m_bookLayout.width > 0 ? m_bookLayout.width : BookLayout::kMinWidth;
    return room >= 2 * characters * QFontMetricsF(m_font).averageCharWidth() + gutter();
}

qreal BookView::columnWidth() const {
    const qreal room = viewport()->width() - 2 * margin() - 2 * m_bookLayout.margins;
    if (spread()) {
        const qreal half = (room - gutter()) / 2;
        return std::max<qreal>(
            1, m_bookLayout.width > 0
                   ? std::min(half, m_bookLayout.width * QFontMetricsF(m_font).averageCharWidth())
                   : half);
    }
    qreal width = room;
    if (m_bookLayout.width > 0)
        width = std::min(room, m_bookLayout.width * QFontMetricsF(m_font).averageCharWidth());
    return std::max<qreal>(1, width);
}

qreal BookView::columnLeft() const {
    const qreal room = viewport()->width() - 2 * margin() - 2 * m_bookLayout.margins;
    if (spread())
        return margin() + m_bookLayout.margins +
               std::max<qreal>(0, (room - 2 * columnWidth() - gutter()) / 2);
    return margin() + m_bookLayout.margins + std::max<qreal>(0, (room - columnWidth()) / 2);
}

void BookView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_font = font();
        m_font.setKerning(false);
        updateStyle();
        m_widthsValid = false;
        invalidateLayout();
        updatePageRules();
        updateScrollBar();
        viewport()->update();
    }
}

// ---- Painting -----------------------------------------------------------------------

void BookView::paintEvent(QPaintEvent*) {
    syncExact();
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), m_background);
    painter.setPen(m_textColour);
    const bool showSelection = selectionLength() > 0 && (!m_hideSelection || hasFocus());
    const qsizetype selFrom = showSelection ? selectionStart() : -1;
    const qsizetype selTo = showSelection ? selectionStart() + selectionLength() : -1;
    const QPalette& p = palette();
    const QColor highlight = p.color(QPalette::Active, QPalette::Highlight);
    const QColor highlighted = p.color(QPalette::Active, QPalette::HighlightedText);
    if (paged()) {
        paintPages(painter, selFrom, selTo);
        return;
    }
    const qreal height = viewport()->height();
    const int pieces = lines().pieceCount();
    Place at = top();
    qreal y = margin();
    const Place caret = hasFocus() ? caretPlace() : Place{-1, -1};
    const Place caretOwn = hasFocus() ? placeOf(m_caret) : caret;
    const bool caretAtEnd = caret.piece != caretOwn.piece || caret.line != caretOwn.line;
    while (y < height && at.piece < pieces) {
        const auto layout = layoutOf(at.piece);
        const int shown = std::min(layout->lineCount() - 1,
                                   at.line + int(std::ceil((height - y) / lineHeight())));
        const QPointF origin(columnLeft(), y - layout->slotTop(at.line));
        layout->draw(&painter, origin, at.line, shown, selFrom, selTo, highlight, highlighted);
        if (m_moving && m_dropAt >= layout->from() && m_dropAt <= layout->to()) {
            const int line = layout->lineOf(m_dropAt);
            if (line >= at.line && line <= shown)
                painter.fillRect(QRectF(origin.x() + layout->xOf(m_dropAt),
                                        origin.y() + layout->lineTop(line), 2,
                                        layout->lineHeight()),
                                 m_textColour);
        }
        if (caret.piece == at.piece && caret.line >= at.line && caret.line <= shown) {
            const qreal x =
                origin.x() + (caretAtEnd ? layout->endX(caret.line) : layout->xOf(m_caret));
            const qreal top = origin.y() + layout->lineTop(caret.line);
            painter.fillRect(QRectF(x, top, 1, layout->lineHeight()), m_textColour);
        }
        y += layout->slotTop(shown) - layout->slotTop(at.line) + heightOf({at.piece, shown});
        at = {at.piece + 1, 0};
    }
}

void BookView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (m_lines && std::abs(m_style.width - columnWidth()) > 0.01)
        invalidateLayout();
    m_lastTopValid = false;
    m_topValid = false;
    updatePageRules();
    updateScrollBar();
}

// ---- Input --------------------------------------------------------------------------

void BookView::keyPressEvent(QKeyEvent* event) {
    syncExact();
    if (event == QKeySequence::Copy ||
        (event->key() == Qt::Key_Insert && event->modifiers() == Qt::ControlModifier)) {
        copySelection();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    if (!m_readOnly && editKey(event))
        return;
    if (paged() && m_readOnly && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // Viewing pages: the page turns, the caret goes to its start.
        switch (event->key()) {
        case Qt::Key_PageDown:
        case Qt::Key_Space:
        case Qt::Key_Right:
            turnPage(true);
            return;
        case Qt::Key_PageUp:
        case Qt::Key_Left:
            turnPage(false);
            return;
        default:
            break;
        }
    }
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    qsizetype target = m_caret;
    switch (event->key()) {
    case Qt::Key_Left:
        if (!extend && selectionLength() > 0 && !ctrl)
            target = selectionStart();
        else
            target = ctrl ? previousWord(m_caret) : previousOffset(m_caret);
        break;
    case Qt::Key_Right:
        if (!extend && selectionLength() > 0 && !ctrl)
            target = selectionStart() + selectionLength();
        else
            target = ctrl ? nextWord(m_caret) : nextOffset(m_caret);
        break;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        const int page = std::max(1, visibleLineCount() - 1);
        const int count = event->key() == Qt::Key_Up       ? -1
                          : event->key() == Qt::Key_Down   ? 1
                          : event->key() == Qt::Key_PageUp ? -page
                                                           : page;
        bool atLineEnd = false;
        target = caretAfterLines(count, &atLineEnd);
        if (std::abs(count) > 1) // the page moves with the caret
            setTop(moved(top(), count));
        const qreal x = m_preferredX;
        moveCaret(target, extend, atLineEnd);
        m_preferredX = x;
        return;
    }
    case Qt::Key_Home:
        target = ctrl ? 0 : lineStartOf(m_caret);
        break;
    case Qt::Key_End:
        if (ctrl) {
            target = textLength();
        } else {
            const Place place = caretPlace();
            bool atLineEnd = false;
            target = layoutOf(place.piece)->offsetAt(place.line, 1e6, &atLineEnd);
            m_preferredX = -1;
            moveCaret(target, extend, atLineEnd);
            return;
        }
        break;
    default:
        event->ignore();
        return;
    }
    m_preferredX = -1;
    moveCaret(target, extend);
}

qsizetype BookView::offsetAt(const QPoint& point) {
    syncExact();
    if (point.y() < 0 || point.y() >= viewport()->height())
        return -1;
    bool inside = false;
    qreal x = 0;
    const Place place = placeAtPoint(point, &x, &inside);
    if (!inside)
        return -1; // past the book's last line
    return layoutOf(place.piece)->offsetAt(place.line, x);
}

void BookView::mousePressEvent(QMouseEvent* event) {
    syncExact();
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    if (pressTurnsPage(event))
        return;
    qreal x = 0;
    const Place place = placeAtPoint(event->position(), &x);
    bool atLineEnd = false;
    const qsizetype offset = layoutOf(place.piece)->offsetAt(place.line, x, &atLineEnd);
    // While editing, a press inside the selection may start dragging it elsewhere.
    if (!m_readOnly && selectionLength() > 0 && !(event->modifiers() & Qt::ShiftModifier) &&
        offset > selectionStart() && offset < selectionStart() + selectionLength()) {
        m_maybeMove = true;
        m_pressAt = event->position().toPoint();
        return;
    }
    m_dragging = true;
    m_preferredX = -1;
    moveCaret(offset, event->modifiers() & Qt::ShiftModifier, atLineEnd);
}

bool BookView::pressTurnsPage(const QMouseEvent* event) {
    // Viewing pages: a click turns a page; a drag from the press selects.
    if (!paged() || !m_readOnly || (event->modifiers() & Qt::ShiftModifier))
        return false;
    m_pagePress = true;
    m_pagePressAt = event->position();
    return true;
}

void BookView::mouseMoveEvent(QMouseEvent* event) {
    syncExact();
    if (m_maybeMove && (event->buttons() & Qt::LeftButton)) {
        if (!m_moving && (event->position().toPoint() - m_pressAt).manhattanLength() <
                             QApplication::startDragDistance())
            return;
        m_moving = true;
        viewport()->setCursor(Qt::DragMoveCursor);
        qreal x = 0;
        const Place place = placeAtPoint(event->position(), &x);
        m_dropAt = layoutOf(place.piece)->offsetAt(place.line, x);
        viewport()->update();
        return;
    }
    if (m_pagePress && (event->buttons() & Qt::LeftButton)) {
        if ((event->position() - m_pagePressAt).manhattanLength() <
            QApplication::startDragDistance())
            return;
        // The press starts a selection after all.
        m_pagePress = false;
        m_dragging = true;
        m_preferredX = -1;
        qreal x = 0;
        const Place place = placeAtPoint(m_pagePressAt, &x);
        bool atLineEnd = false;
        moveCaret(layoutOf(place.piece)->offsetAt(place.line, x, &atLineEnd), false, atLineEnd);
    }
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    const qreal y = event->position().y();
    if (!paged()) { // pages do not scroll under a drag
        if (y < 0)
            setTop(moved(top(), -1));
        else if (y > viewport()->height())
            setTop(moved(top(), 1));
    }
    qreal x = 0;
    const Place place = placeAtPoint(event->position(), &x);
    bool atLineEnd = false;
    const qsizetype offset = layoutOf(place.piece)->offsetAt(place.line, x, &atLineEnd);
    moveCaret(offset, true, atLineEnd);
}

void BookView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    if (m_pagePress) {
        // The right half turns forward, the left half back.
        m_pagePress = false;
        turnPage(event->position().x() >= viewport()->width() / 2.0);
        return;
    }
    if (m_maybeMove) {
        m_maybeMove = false;
        viewport()->setCursor(Qt::IBeamCursor);
        if (m_moving) {
            m_moving = false;
            // Ctrl held copies the text there.
            moveSelection(m_dropAt, event->modifiers() & Qt::ControlModifier);
        } else {
            qreal x = 0;
            const Place place = placeAtPoint(event->position(), &x);
            m_preferredX = -1;
            moveCaret(layoutOf(place.piece)->offsetAt(place.line, x), false);
        }
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection() && selectionLength() > 0)
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void BookView::mouseDoubleClickEvent(QMouseEvent* event) {
    syncExact();
    if (event->button() != Qt::LeftButton)
        return;
    if (pressTurnsPage(event)) // quick clicks turn as many pages
        return;
    qreal x = 0;
    const Place place = placeAtPoint(event->position(), &x);
    const qsizetype offset = layoutOf(place.piece)->offsetAt(place.line, x);
    const auto [first, last] = wordAt(offset);
    select(first, last);
}

void BookView::wheelEvent(QWheelEvent* event) {
    syncExact();
    m_wheelRemainder += event->angleDelta().y();
    if (paged()) {
        // A notch turns a page (a spread).
        const int pages = m_wheelRemainder / 120;
        m_wheelRemainder -= pages * 120;
        for (int i = 0; i < std::abs(pages); ++i)
            if (!turnPage(pages < 0))
                break;
        event->accept();
        return;
    }
    const int steps = m_wheelRemainder / 40; // three lines a notch of 120
    m_wheelRemainder -= steps * 40;
    if (steps != 0)
        setTop(moved(top(), -steps));
    event->accept();
}

void BookView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void BookView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

int BookView::rowAt(qreal y) const {
    return std::clamp(int(std::floor((y - margin()) / lineHeight())), 0, visibleLineCount() - 1);
}

bool BookView::focusNextPrevChild(bool) {
    return false; // Tab stays in the text
}

QRect BookView::characterRect(qsizetype offset) {
    syncExact();
    const Place place = placeOf(offset);
    if (paged()) {
        QPointF origin;
        if (!originOf(place, &origin))
            return QRect();
        QRectF rect = layoutOf(place.piece)->characterRect(offset);
        rect.moveTop(origin.y());
        rect.moveLeft(rect.left() + origin.x());
        return rect.toAlignedRect();
    }
    const int row = rowOf(place);
    if (row < 0 || row > visibleLineCount())
        return QRect();
    const qreal y = yOf(place);
    if (y < 0)
        return QRect();
    const auto layout = layoutOf(place.piece);
    QRectF rect = layout->characterRect(offset);
    rect.moveTop(y);
    rect.moveLeft(rect.left() + columnLeft());
    return rect.toAlignedRect();
}

// ---- Editing ------------------------------------------------------------------------

void BookView::setReadOnly(bool readOnly) {
    if (readOnly == m_readOnly)
        return;
    m_readOnly = readOnly;
    m_book->closeTypingStep();
    setAttribute(Qt::WA_InputMethodEnabled, !readOnly);
    if (hasFocus())
        QGuiApplication::inputMethod()->update(Qt::ImEnabled);
    // Nothing moves: the same lines, the same top, the same selection.
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.readOnly = true;
        changed.editable = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
}

void BookView::beginEdit() {
    m_depthBefore = m_book->undoDepth();
    syncExact();
    m_counter->stop();
    m_topAnchor = firstVisibleOffset();
}

void BookView::endEdit(const std::vector<BookDocument::Change>& changes, qsizetype caret) {
    if (changes.empty()) {
        // Nothing changed: the count goes on.
        const auto lines = m_lines;
        if (lines && m_counter->lines() == lines.get() && !m_counter->finished()) {
            const int paragraph = lines->paragraphOfPiece(m_counter->counted());
            m_counter->resume(lines, lines->firstPieceOf(paragraph), paragraph);
        }
        m_editKind = EditKind::Edit;
        return;
    }
    qsizetype first = changes.front().from;
    for (const BookDocument::Change& c : changes) {
        first = std::min(first, c.from);
        // The top line's character follows the text it is in.
        if (m_topAnchor > c.from)
            m_topAnchor =
                m_topAnchor >= c.from + c.removed ? m_topAnchor + c.inserted - c.removed : c.from;
    }
    m_topAnchor = std::clamp<qsizetype>(m_topAnchor, 0, textLength());
    m_topAnchor = settled(*m_book, m_topAnchor);
    // Characters not measured yet: a book become wide, or new letters in a wide book.
    if (m_book->isWide()) {
        if (!m_widths.isWide()) {
            m_widthsValid = false;
        } else {
            for (const BookDocument::Change& c : changes)
                if (c.inserted > 0)
                    m_widths.measureMissing(m_font, m_book->text(c.from, c.from + c.inserted));
        }
    }
    // What was laid out and counted before the first paragraph changed stays.
    const std::shared_ptr<const BookLines> old = m_widthsValid ? m_lines : nullptr;
    std::vector<Cached> kept;
    int keep = 0;
    int resume = 0;
    if (old) {
        const int paragraph = m_book->paragraphAt(first);
        const int firstPiece =
            old->firstPieceOf(std::min(paragraph, old->text().paragraphCount() - 1));
        const int counted = m_counter->lines() == old.get() ? m_counter->counted() : 0;
        const int k = std::min(counted, firstPiece);
        resume = k >= firstPiece ? paragraph : old->paragraphOfPiece(k);
        keep = k >= firstPiece ? firstPiece : old->firstPieceOf(resume);
        for (const Cached& c : m_cache)
            if (c.piece < firstPiece)
                kept.push_back(c);
    }
    // The headings and emphasis follow the text; an undo of a step that took marks away
    // brings back those before it.
    if (m_markup && m_markupBook.lock() == m_book) {
        const size_t depth = size_t(m_book->undoDepth());
        std::shared_ptr<const BookMarkup> before;
        if (m_editKind == EditKind::Undo && depth < m_markupStates.size())
            before = m_markupStates[depth];
        if (before) {
            m_markup = std::move(before);
        } else {
            bool loses = false;
            BookMarkup markup = *m_markup;
            for (const BookDocument::Change& c : changes) {
                const TextChange change{c.from, c.removed, c.inserted};
                loses = loses || markup.losesBy(change);
                markup.apply(change);
            }
            if (m_editKind == EditKind::Edit && depth > size_t(m_depthBefore)) {
                // A new step: the steps that could be redone are gone.
                m_markupStates.resize(std::min(m_markupStates.size(), size_t(m_depthBefore)));
                if (loses) {
                    m_markupStates.resize(size_t(m_depthBefore) + 1);
                    m_markupStates.back() = m_markup;
                    size_t kept = 0;
                    for (size_t d = m_markupStates.size(); d-- > 0;) {
                        if (!m_markupStates[d])
                            continue;
                        kept +=
                            m_markupStates[d]->headings.size() + m_markupStates[d]->emphasis.size();
                        if (kept > kMostKeptMarks && d + 1 < m_markupStates.size())
                            m_markupStates[d].reset();
                    }
                }
            }
            m_markup = std::make_shared<const BookMarkup>(std::move(markup));
        }
    }
    m_editKind = EditKind::Edit;
    invalidateLayout();
    m_cache = std::move(kept);
    m_previousLines = old;
    m_keepPieces = keep;
    m_resumeParagraph = resume;
    m_anchorOfLayout = false;
    m_anchor = m_caret = settled(*m_book, caret);
    m_caretAtLineEnd = false;
    m_preferredX = -1;
    ensureCaretVisible();
    updateScrollBar();
    viewport()->update();
    notifySelection();
    Q_EMIT textChanged();
}

void BookView::insertText(const QString& text, bool typing) {
    if (m_readOnly)
        return;
    beginEdit();
    const qsizetype from = selectionStart();
    qsizetype to = from + selectionLength();
    // Overwrite takes the next character of the paragraph, never its line break.
    if (m_overwrite && typing && from == to && text != QLatin1String("\r\n") &&
        from < m_book->paragraphEnd(m_book->paragraphAt(from)))
        to = nextOffset(from);
    const qsizetype at = m_book->replace(from, to, text, typing && from == to);
    const auto& changes = m_book->lastChanges();
    endEdit(changes, changes.empty() ? at : at + changes.back().inserted);
}

void BookView::cutSelection() {
    if (m_readOnly || selectionLength() == 0)
        return;
    copySelection();
    insertText(QString());
}

void BookView::paste() {
    if (m_readOnly)
        return;
    const QString text = QGuiApplication::clipboard()->text();
    if (!text.isEmpty())
        insertText(text);
}

bool BookView::canUndo() const {
    return !m_readOnly && m_book->canUndo();
}

bool BookView::canRedo() const {
    return !m_readOnly && m_book->canRedo();
}

void BookView::undo() {
    if (!canUndo())
        return;
    beginEdit();
    m_editKind = EditKind::Undo;
    const std::vector<BookDocument::Change> changes = m_book->undo();
    endEdit(changes, changes.back().from + changes.back().inserted);
}

void BookView::redo() {
    if (!canRedo())
        return;
    beginEdit();
    m_editKind = EditKind::Redo;
    const std::vector<BookDocument::Change> changes = m_book->redo();
    endEdit(changes, changes.back().from + changes.back().inserted);
}

void BookView::moveSelection(qsizetype offset, bool copy) {
    const qsizetype from = selectionStart();
    const qsizetype to = from + selectionLength();
    if (m_readOnly || from == to || offset < 0)
        return;
    if (!copy && offset >= from && offset <= to)
        return;
    beginEdit();
    qsizetype at = 0;
    if (copy)
        at = m_book->replace(offset, offset, m_book->text(from, to));
    else
        at = m_book->move(from, to, offset);
    const std::vector<BookDocument::Change> changes = m_book->lastChanges();
    endEdit(changes, at);
    // The text dragged stays selected where it went.
    if (!changes.empty())
        select(at, at + changes.back().inserted);
}

bool BookView::editKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (event == QKeySequence::Undo) {
        undo();
        return true;
    }
    if (event == QKeySequence::Redo || (event->key() == Qt::Key_Y && mods == Qt::ControlModifier) ||
        (event->key() == Qt::Key_Z && mods == (Qt::ControlModifier | Qt::ShiftModifier))) {
        redo();
        return true;
    }
    if (event == QKeySequence::Cut) {
        cutSelection();
        return true;
    }
    if (event == QKeySequence::Paste) {
        paste();
        return true;
    }
    const bool ctrl = mods & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete: {
        if (mods & ~(Qt::ControlModifier | Qt::ShiftModifier))
            return false;
        if (selectionLength() == 0) {
            const bool back = event->key() == Qt::Key_Backspace;
            const qsizetype other = back ? (ctrl ? previousWord(m_caret) : previousOffset(m_caret))
                                         : (ctrl ? nextWord(m_caret) : nextOffset(m_caret));
            if (other == m_caret)
                return true;
            select(std::min(other, m_caret), std::max(other, m_caret));
        }
        insertText(QString());
        return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (mods & ~Qt::ShiftModifier)
            return false;
        insertText(QStringLiteral("\r\n"), true);
        return true;
    case Qt::Key_Tab:
        if (mods != Qt::NoModifier)
            return false;
        insertText(QStringLiteral("\t"), true);
        return true;
    case Qt::Key_Insert:
        if (mods != Qt::NoModifier)
            return false;
        m_overwrite = !m_overwrite;
        return true;
    default:
        break;
    }
    const QString text = event->text();
    if (text.isEmpty() || (mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return false;
    for (const QChar ch : text)
        if (ch.category() == QChar::Other_Control)
            return false;
    insertText(text, true);
    return true;
}

void BookView::inputMethodEvent(QInputMethodEvent* event) {
    if (m_readOnly) {
        event->ignore();
        return;
    }
    // Dead keys and composed letters arrive as a committed string.
    if (!event->commitString().isEmpty())
        insertText(event->commitString(), true);
    event->accept();
}

QVariant BookView::inputMethodQuery(Qt::InputMethodQuery query) const {
    auto* self = const_cast<BookView*>(this);
    switch (query) {
    case Qt::ImEnabled:
        return !m_readOnly;
    case Qt::ImCursorRectangle:
        return QRectF(self->characterRect(m_caret));
    case Qt::ImCursorPosition:
        return int(m_caret - self->lineRange(m_caret).first);
    case Qt::ImAnchorPosition:
        return int(std::clamp<qsizetype>(m_anchor - self->lineRange(m_caret).first, 0, 1 << 30));
    case Qt::ImSurroundingText: {
        const auto [from, to] = self->lineRange(m_caret);
        return m_book->text(from, to);
    }
    case Qt::ImCurrentSelection:
        return selectionLength() <= 4096 ? selectedText() : QString();
    case Qt::ImHints:
        return int(Qt::ImhMultiLine);
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// ---- Pages --------------------------------------------------------------------------

namespace {

bool same(int pieceA, int lineA, int pieceB, int lineB) {
    return pieceA == pieceB && lineA == lineB;
}

} // namespace

void BookView::updatePageRules() {
    if (!paged()) {
        if (m_pageKey) {
            m_pageKey.reset();
            m_counter->setPageRules(std::nullopt);
        }
        return;
    }
    const std::array<double, 5> key{pageRoom(), lineHeight(), m_bookLayout.paragraphSpacing,
                                    m_style.indent, double(qHash(m_font.key()))};
    if (m_pageKey == key)
        return;
    m_pageKey = key;
    PageRules rules;
    rules.room = pageRoom();
    const double line = lineHeight();
    const double spacing = m_bookLayout.paragraphSpacing;
    const bool indented = m_style.indent > 0;
    // A heading's line height, and the space above its first line, by its rank.
    std::array<double, MarkIndex::kLowestRank + 1> headingLine{};
    std::array<double, MarkIndex::kLowestRank + 1> headingAbove{};
    for (int rank = 1; rank <= MarkIndex::kLowestRank; ++rank) {
        headingLine[size_t(rank)] = headingLineHeight(m_style, rank);
        headingAbove[size_t(rank)] = headingSpaceAbove(m_style, rank);
    }
    // The heights heightOf() gives the lines on screen, from the text and its marks alone
    // (on the counter's thread): a page filled there ends where the counted page ends.
    rules.linesOf = [=](const BookLines& lines, const BookLines::Piece& piece, int count,
                        std::vector<PageLine>& out) {
        const MarkIndex* marks = lines.marks();
        const int rank = std::clamp(lines.headingRank(piece.paragraph), 0, MarkIndex::kLowestRank);
        const double own = rank > 0 ? headingLine[size_t(rank)] : line;
        const double above = rank > 0 && piece.index == 0 && piece.paragraph > 0 && marks &&
                                     marks->opensHeading(piece.paragraph)
                                 ? headingAbove[size_t(rank)]
                                 : 0;
        const bool plain = spacing <= 0 && !indented && !(marks && marks->hasHeadings());
        bool blank = false; // (a heading is never blank: it has no indent)
        if (indented && rank == 0 && piece.index == 0 && piece.lastOfParagraph) {
            blank = true;
            for (qsizetype i = piece.from; i < piece.to && blank; ++i) {
                const char16_t ch = lines.text().at(i);
                blank = ch == u' ' || ch == u'\t';
            }
        }
        for (int i = 0; i < count; ++i) {
            PageLine l;
            l.startsParagraph = piece.index == 0 && i == 0;
            l.endsParagraph = piece.lastOfParagraph && i == count - 1;
            l.heading = rank > 0;
            l.blank = blank;
            l.piece = piece.number;
            l.lineOfPiece = i;
            if (plain)
                l.height = line;
            else if (blank)
                l.height = std::max(spacing, kLeastBlankLine) * line;
            else
                l.height = (own + (i == 0 ? above : 0)) + (l.endsParagraph ? spacing * line : 0);
            out.push_back(l);
        }
    };
    m_counter->setPageRules(std::move(rules));
}

bool BookView::pagesCurrent() {
    return paged() && m_counter->paging() && m_counter->lines() == &lines();
}

int BookView::lineNumber(const Place& place) {
    const int before = linesBefore(place.piece);
    return before < 0 ? -1 : before + place.line;
}

std::optional<BookView::Place> BookView::placeOfLine(int line) {
    if (!pagesCurrent() || line < 0)
        return std::nullopt;
    const int piece = m_counter->pieceOfLine(line);
    if (piece < 0)
        return std::nullopt;
    const int in = line - m_counter->linesBefore(piece);
    return Place{piece, std::clamp(in, 0, layoutOf(piece)->lineCount() - 1)};
}

BookView::Place BookView::pageTopOf(const Place& place) {
    if (!pagesCurrent())
        return place;
    const int line = lineNumber(place);
    int page = line < 0 ? -1 : m_counter->pageOfLine(line);
    if (page < 0)
        return place; // not counted yet: the page starts at the line
    // A spread starts at an even page, as turning from the first page gives.
    if (spread() && page % 2 == 1)
        --page;
    const std::optional<Place> start = placeOfLine(m_counter->pageStart(page));
    return start ? *start : place;
}

BookView::Place BookView::below(const Place& place) {
    const Place next = moved(place, 1);
    return same(next.piece, next.line, place.piece, place.line) ? endPlace() : next;
}

BookView::Place BookView::fillEnd(const Place& start) {
    // As the page breaker fills a page: whole lines while they fit, the first always.
    const qreal room = pageRoom();
    qreal used = 0;
    Place at = start;
    for (bool first = true; !isEnd(at); first = false) {
        const qreal h = heightOf(at);
        if (!first && used + h > room + 1e-6)
            break;
        used += h;
        at = below(at);
    }
    return at;
}

BookView::Place BookView::pageEnd(const Place& start) {
    if (pagesCurrent() && !isEnd(start)) {
        // A counted page ends where the next begins (the rules may send lines on to it).
        // Should the heights of the count and of heightOf() ever differ, its last line
        // is cut at the window's foot rather than left out of every page.
        const int line = lineNumber(start);
        const int page = line < 0 ? -1 : m_counter->pageOfLine(line);
        if (page >= 0 && m_counter->pageStart(page) == line) {
            if (const std::optional<Place> next = placeOfLine(m_counter->pageStart(page + 1)))
                return *next;
        }
    }
    return fillEnd(start);
}

std::vector<BookView::Column> BookView::shownColumns() {
    std::vector<Column> columns;
    Place from = top();
    const int count = spread() ? 2 : 1;
    for (int c = 0; c < count; ++c) {
        const Place to = isEnd(from) ? from : pageEnd(from);
        columns.push_back({from, to, columnLeft() + c * (columnWidth() + gutter())});
        from = to;
    }
    return columns;
}

std::optional<BookView::Place> BookView::nextTop() {
    const Place t = top();
    const int count = spread() ? 2 : 1;
    const int line = lineNumber(t);
    if (pagesCurrent() && line >= 0) {
        int page = m_counter->pageAfter(line);
        if (page >= 0 && count == 2 && page % 2 == 1)
            ++page;
        if (page >= 0) {
            if (const std::optional<Place> start = placeOfLine(m_counter->pageStart(page)))
                return start;
        }
        if (m_counter->pagesFinished())
            return std::nullopt; // the last page (spread) is shown
    }
    // Not counted so far: the pages as they fill from here.
    Place at = t;
    for (int c = 0; c < count; ++c) {
        at = fillEnd(at);
        if (isEnd(at))
            return std::nullopt;
    }
    return at;
}

std::optional<BookView::Place> BookView::previousTop() {
    const Place t = top();
    const int count = spread() ? 2 : 1;
    const int line = lineNumber(t);
    if (line == 0)
        return std::nullopt;
    if (pagesCurrent() && line > 0) {
        int page = m_counter->pageBefore(line);
        if (page >= 0 && count == 2 && page % 2 == 1)
            --page;
        if (page >= 0) {
            if (const std::optional<Place> start = placeOfLine(m_counter->pageStart(page)))
                return start;
        }
    }
    // Not counted so far: the lines above that fill the pages before.
    const qreal room = pageRoom();
    Place at = t;
    for (int c = 0; c < count; ++c) {
        qreal used = 0;
        for (bool first = true;; first = false) {
            const Place above = moved(at, -1);
            if (same(above.piece, above.line, at.piece, at.line))
                break;
            const qreal h = heightOf(above);
            if (!first && used + h > room + 1e-6)
                break;
            used += h;
            at = above;
        }
    }
    if (same(at.piece, at.line, t.piece, t.line))
        return std::nullopt;
    return at;
}

bool BookView::turnPage(bool forward) {
    if (!paged())
        return false;
    syncExact();
    const std::optional<Place> target = forward ? nextTop() : previousTop();
    if (!target)
        return false;
    setTop(*target);
    if (m_readOnly) {
        // Viewing: the caret goes to the page's first character.
        const qsizetype start = startOf(top());
        select(start, start);
    }
    return true;
}

int BookView::pageNumber() {
    if (!paged())
        return -1;
    syncExact();
    if (!pagesCurrent())
        return -1;
    const int line = lineNumber(top());
    return line < 0 ? -1 : m_counter->pageOfLine(line);
}

int BookView::pageCount() {
    if (!pagesCurrent() || !m_counter->pagesFinished())
        return -1;
    return m_counter->pagesKnown();
}

int BookView::estimatedPageCount() {
    if (!paged())
        return -1;
    const qsizetype length = std::max<qsizetype>(1, textLength());
    if (pagesCurrent()) {
        const int known = m_counter->pagesKnown();
        if (m_counter->pagesFinished())
            return known;
        const std::optional<Place> reached = placeOfLine(m_counter->pagedLines() - 1);
        const qsizetype offset = reached ? startOf(*reached) : 0;
        if (known > 1 && offset > 0)
            return std::max<int>(known, int(std::llround(double(known) * length / offset)));
    }
    // Nothing counted yet: as many pages as the one shown holds characters.
    const Place t = top();
    const Place end = pageEnd(t);
    const qsizetype shown =
        std::max<qsizetype>(1, (isEnd(end) ? textLength() : startOf(end)) - startOf(t));
    return int(std::max<qsizetype>(1, (length + shown - 1) / shown));
}

std::vector<qsizetype> BookView::pageStarts() {
    std::vector<qsizetype> starts;
    if (!pagesCurrent())
        return starts;
    const int known = m_counter->pagesKnown();
    for (int page = 0; page < known; ++page)
        if (const std::optional<Place> at = placeOfLine(m_counter->pageStart(page)))
            starts.push_back(startOf(*at));
    return starts;
}

BookView::Place BookView::placeAtPoint(const QPointF& point, qreal* x, bool* inside) {
    if (!paged()) {
        *x = point.x() - columnLeft();
        return placeAtY(point.y(), inside);
    }
    std::vector<Column> columns = shownColumns();
    size_t c = 0;
    if (columns.size() == 2 && point.x() >= columns[1].left - gutter() / 2 &&
        !same(columns[1].from.piece, columns[1].from.line, columns[1].to.piece, columns[1].to.line))
        c = 1;
    const Column& column = columns[c];
    *x = point.x() - column.left;
    Place at = column.from;
    bool within = true;
    if (isEnd(at)) { // a book without lines
        if (inside)
            *inside = false;
        return placeOf(0);
    }
    qreal t = margin();
    for (;;) {
        const qreal h = heightOf(at);
        const Place next = below(at);
        if (point.y() < t + h)
            break;
        if (same(next.piece, next.line, column.to.piece, column.to.line)) {
            within = !isEnd(next); // past the book's last line
            break;
        }
        t += h;
        at = next;
    }
    if (inside)
        *inside = within;
    return at;
}

bool BookView::originOf(const Place& place, QPointF* origin) {
    if (!paged()) {
        const qreal y = rowOf(place) < 0 ? -1 : yOf(place);
        *origin = QPointF(columnLeft(), y);
        return y >= 0;
    }
    for (const Column& column : shownColumns()) {
        if (before(place, column.from) || !before(place, column.to))
            continue;
        qreal t = margin();
        for (Place at = column.from; !same(at.piece, at.line, place.piece, place.line);
             at = below(at))
            t += heightOf(at);
        *origin = QPointF(column.left, t);
        return true;
    }
    return false;
}

void BookView::paintPages(QPainter& painter, qsizetype selFrom, qsizetype selTo) {
    const QPalette& p = palette();
    const QColor highlight = p.color(QPalette::Active, QPalette::Highlight);
    const QColor highlighted = p.color(QPalette::Active, QPalette::HighlightedText);
    const Place caret = hasFocus() ? caretPlace() : Place{-1, -1};
    const Place caretOwn = hasFocus() ? placeOf(m_caret) : caret;
    const bool caretAtEnd = !same(caret.piece, caret.line, caretOwn.piece, caretOwn.line);
    for (const Column& column : shownColumns()) {
        qreal y = margin();
        for (Place at = column.from; before(at, column.to); at = below(at)) {
            const auto layout = layoutOf(at.piece);
            // y is the top of the line's room (a heading's space above included).
            const QPointF origin(column.left, y - layout->slotTop(at.line));
            const qreal lineTop = origin.y() + layout->lineTop(at.line);
            layout->draw(&painter, origin, at.line, at.line, selFrom, selTo, highlight,
                         highlighted);
            if (m_moving && m_dropAt >= layout->from() && m_dropAt <= layout->to() &&
                layout->lineOf(m_dropAt) == at.line)
                painter.fillRect(
                    QRectF(column.left + layout->xOf(m_dropAt), lineTop, 2, layout->lineHeight()),
                    m_textColour);
            if (same(caret.piece, caret.line, at.piece, at.line)) {
                const qreal x =
                    column.left + (caretAtEnd ? layout->endX(caret.line) : layout->xOf(m_caret));
                painter.fillRect(QRectF(x, lineTop, 1, layout->lineHeight()), m_textColour);
            }
            y += heightOf(at);
        }
    }
    if (!m_preparing && m_preparedFor != startOf(top())) {
        m_preparing = true;
        QTimer::singleShot(0, this, &BookView::prepareNextPages);
    }
}

void BookView::prepareNextPages() {
    m_preparing = false;
    if (!paged() || !m_book)
        return;
    syncExact();
    m_preparedFor = startOf(top());
    // The layouts of the pages after those shown (kept while they are not too many).
    const std::vector<Column> columns = shownColumns();
    Place at = columns.back().to;
    int pieces = 0;
    for (size_t c = 0; c < columns.size() && !isEnd(at); ++c) {
        const Place end = pageEnd(at);
        pieces += end.piece - at.piece + 1;
        if (pieces > kCachedLayouts / 3)
            break;
        at = end;
    }
}

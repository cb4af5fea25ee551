#pragma once

#include "core/book/book_document.h"
#include "core/book/book_lines.h"
#include "core/book/book_markup.h"
#include "core/book/line_counter.h"
#include "core/text/book_layout.h"
#include "ui/bookview/paragraph_layout.h"

#include <QAbstractScrollArea>

#include <array>
#include <memory>
#include <optional>
#include <vector>

class BookDocument;
class LineCounter;

// The reader's text area: a book shown, and edited unless read-only, laid out only where
// it is on screen. The book is a BookDocument (its characters and edits, where its
// paragraphs start, its undo history); the display lines come
// from BookLines at the view's width, each paragraph (or piece of a long one) laid out
// in one ParagraphLayout when it is shown, a few dozen kept. The scroll bar runs over
// the book's characters, so any place is reached at once; the number of a far display
// line is counted by a LineCounter on a worker thread.
//
// In pages («Страница», «Разворот» in the layout) the top line is a page's first line
// and the view shows whole lines only: the page, or two side by side where the window
// has room for two columns. The pages are those of the whole book, broken from its
// first line by the LineCounter's page pass; before that pass has reached a place, a
// jump there shows a page starting at the place's line, which falls into the book's
// pages at the next turn (or the next layout) once they are known.
//
// Offsets are the book's: one character one offset, a line break two (CR LF).
class BookView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit BookView(QWidget* parent = nullptr);
    ~BookView() override;

    // Shows the book from its start, the caret there.
    void setBook(std::shared_ptr<BookDocument> book);
    const std::shared_ptr<BookDocument>& book() const { return m_book; }
    // The headings and emphasis of the book shown (kept by an import, or found in a plain
    // text): headings centred and larger, emphasis in italic and bold. They follow the
    // edits made here and go with the book; the stored text is not touched.
    void setMarkup(std::shared_ptr<const BookMarkup> markup);
    // The markup shown, as the edits have moved it (nullptr: none).
    std::shared_ptr<const BookMarkup> markup() const;

    // Viewing (read-only) or editing: the same lines, the same place; editing takes
    // typing, deleting, the clipboard, dragging and undo.
    void setReadOnly(bool readOnly);
    bool isReadOnly() const { return m_readOnly; }
    // Typing replaces the next character rather than inserting (Insert switches).
    bool overwriteMode() const { return m_overwrite; }
    // The selection replaced by `text` as one step of the history (a letter typed
    // joins the typing before it); the caret after the new text.
    void insertText(const QString& text, bool typing = false);
    void cutSelection();
    void paste();
    bool canUndo() const;
    bool canRedo() const;
    void undo();
    void redo();
    // Moves the selected text to `offset` (copies it when `copy`), as one step.
    void moveSelection(qsizetype offset, bool copy);
    qsizetype textLength() const;
    // After a save: the document's text becomes one piece again, in its own memory
    // (BookDocument::settle), the line count paused meanwhile.
    std::optional<BookText> settle();
    // The characters [from, to) as shown, line breaks as CR LF.
    QString text(qsizetype from, qsizetype to) const;

    // The selection: its lower end and length; the caret is the end that moves.
    qsizetype selectionStart() const { return std::min(m_anchor, m_caret); }
    qsizetype selectionLength() const { return std::abs(m_caret - m_anchor); }
    qsizetype caret() const { return m_caret; }
    qsizetype anchor() const { return m_anchor; }
    // The caret at the offset, nothing selected, scrolled into view.
    void setSelectionStart(qsizetype offset);
    // Keeps the start and selects `length` characters from it, scrolled into view.
    void setSelectionLength(qsizetype length);
    // Selects from `anchor` to `caret`, without scrolling.
    void select(qsizetype anchor, qsizetype caret);
    QString selectedText() const;
    void selectAll();
    void copySelection() const;

    // The first visible character: the start of the display line at the top.
    qsizetype firstVisibleOffset();
    // Shows the display line holding the offset at the top (as far as the book reaches
    // below it).
    void scrollOffsetToTop(qsizetype offset);
    // Shows the display line holding the offset in the middle.
    void centerOffset(qsizetype offset);
    void ensureCaretVisible();
    int visibleLineCount() const;

    // The number of the display line holding the offset, from 0; -1 while the lines
    // before it are still being counted (linesReady follows).
    int lineOfChar(qsizetype offset);
    // The start of the display line holding the offset.
    qsizetype lineStartOf(qsizetype offset);
    // The display lines of the whole book, -1 while they are counted.
    int lineCount();
    // Whether the worker has counted every display line at the present width.
    bool linesCounted();

    void setTextFont(const QFont& font, const QColor& colour);
    QFont textFont() const { return m_font; }
    QColor textColour() const { return m_textColour; }
    void setBackgroundColour(const QColor& colour);
    // The text column's width and margins, spacing, indent, justified lines and
    // hyphenation; the first visible character stays at the top.
    void setBookLayout(const BookLayout& layout);
    const BookLayout& bookLayout() const { return m_bookLayout; }
    // The text column: its left edge in the viewport and its width; in a spread, the
    // left page's column (the right one is columnWidth() + gutter() further).
    qreal columnLeft() const;
    qreal columnWidth() const;
    qreal gutter() const { return gutterFor(m_font); }
    // The room between the pages of a spread in a font.
    static qreal gutterFor(const QFont& font);

    // Pages: whether the view turns pages rather than scrolls, and whether two pages show
    // side by side now.
    bool paged() const { return m_bookLayout.paged(); }
    bool spread() const;
    // Turns to the next page (the next spread), or back; false at the book's end or start.
    bool turnPage(bool forward);
    // The first page shown, from 0; -1 while the pages are not counted that far.
    int pageNumber();
    // The book's pages; -1 while they are counted.
    int pageCount();
    // While the pages are counted: how many there will be about, from the share counted.
    int estimatedPageCount();
    // The start of every page's first line, in order (the pages counted so far).
    std::vector<qsizetype> pageStarts();
    QColor backgroundColour() const { return m_background; }
    // Hides the selection while the view does not have the keyboard focus.
    void setHideSelectionWithoutFocus(bool hide) { m_hideSelection = hide; }

    // For accessibility: the character's rectangle in viewport coordinates (empty when
    // it is not on screen), and the offset under a viewport point (-1 outside the text).
    QRect characterRect(qsizetype offset);
    qsizetype offsetAt(const QPoint& point);
    // The display line holding the offset: its start and the next line's start (or the
    // end of the book).
    std::pair<qsizetype, qsizetype> lineRange(qsizetype offset);
    // The word around the offset: [first, second).
    std::pair<qsizetype, qsizetype> wordAt(qsizetype offset) const;

Q_SIGNALS:
    // The caret or the selection moved, whoever moved it.
    void selectionChanged();
    // More display lines are counted: lineOfChar may answer where it could not.
    void linesReady();
    // The text changed (an edit, an undo or a redo).
    void textChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // Before a layout change: the first visible character is the one kept at the top.
    void keepTopAnchor();
    // Lays the book out again (after a change of the layout or its hyphenation).
    void relayout();
    // A display line: a piece of the book and a line of its layout.
    struct Place {
        int piece = 0;
        int line = 0;
    };
    const BookLines& lines();
    // Edits: the counter stops before the text changes; after it, the lines are built
    // again, keeping what was counted before the paragraph first changed.
    void beginEdit();
    void endEdit(const std::vector<BookDocument::Change>& changes, qsizetype caret);
    // Handles an editing key; false for keys that only move.
    bool editKey(QKeyEvent* event);
    std::shared_ptr<const ParagraphLayout> layoutOf(int piece);
    Place placeOf(qsizetype offset);
    qsizetype startOf(const Place& place);
    // The place `count` display lines below (above, for a negative count), stopping at
    // the book's first and last line.
    Place moved(Place place, int count);
    Place lastTop();
    void setTop(const Place& place, bool keepAnchor = false);
    void invalidateLayout();
    void dropInexactLayouts();
    void syncExact();
    void updateScrollBar();
    int linesBefore(int piece);
    // Moves the caret, extending the selection when asked.
    // `atLineEnd`: the offset starts a line, and the caret stands at the end of the line
    // before, after the last letter of its broken word.
    void moveCaret(qsizetype offset, bool extend, bool atLineEnd = false);
    qsizetype caretAfterLines(int count, bool* atLineEnd);
    // The display line the caret stands on: its offset's, or the line before when it
    // stands at the end of a broken word's first part.
    Place caretPlace();
    // The place of an offset, the caret's own line for the caret's offset.
    Place placeOfCaretOr(qsizetype offset);
    qsizetype nextOffset(qsizetype offset) const;
    qsizetype previousOffset(qsizetype offset) const;
    qsizetype nextWord(qsizetype offset) const;
    qsizetype previousWord(qsizetype offset) const;
    void notifySelection();
    qreal margin() const { return 4; }
    // The style and line rules of the font and the book layout.
    void updateStyle();
    const Place& top();
    // The row on screen of a display line (0 at the top); -1 above the top, and at most
    // visibleLineCount() + 1 for a line below the bottom.
    int rowOf(const Place& place);
    qreal lineHeight() const { return m_style.lineHeight; }
    // The space a display line takes: its height, and the paragraph spacing after a
    // paragraph's last line.
    qreal heightOf(const Place& place);
    // The display line at viewport height y (counted from the top line), and whether y
    // falls on it rather than past the book's last line.
    Place placeAtY(qreal y, bool* inside = nullptr);
    // The top of a display line in the viewport, -1 when it is not on screen.
    qreal yOf(const Place& place);
    // The top line that shows `place` as the lowest line wholly on screen.
    Place topShowingAtBottom(Place place);
    // The row on screen at a height in the viewport, within the rows shown.
    int rowAt(qreal y) const;

    // ---- Pages ----
    // Gives the line counter the pages' room and line heights when they changed.
    void updatePageRules();
    // The counter's pages are those of the lines shown.
    bool pagesCurrent();
    qreal pageRoom() const { return viewport()->height() - 2 * margin(); }
    // The number of a display line from the book's start (-1 while not counted) and back.
    int lineNumber(const Place& place);
    std::optional<Place> placeOfLine(int line);
    // The first line of the page (the spread) holding the line: the line itself while the
    // pages have not reached it.
    Place pageTopOf(const Place& place);
    // Past the book's last line.
    Place endPlace() { return {lines().pieceCount(), 0}; }
    bool isEnd(const Place& place) { return place.piece >= lines().pieceCount(); }
    Place below(const Place& place);
    static bool before(const Place& a, const Place& b) {
        return a.piece < b.piece || (a.piece == b.piece && a.line < b.line);
    }
    // The line after the lines from `start` that fill a page; after a counted page's
    // first line, the next page's.
    Place fillEnd(const Place& start);
    Place pageEnd(const Place& start);
    struct Column {
        Place from;
        Place to; // past the column's last line
        qreal left = 0;
    };
    std::vector<Column> shownColumns();
    std::optional<Place> nextTop();
    std::optional<Place> previousTop();
    // A viewport point's display line (and its x in the line's column), in either mode.
    Place placeAtPoint(const QPointF& point, qreal* x, bool* inside = nullptr);
    // The top left corner of a display line on screen; false when it is not shown.
    bool originOf(const Place& place, QPointF* origin);
    void paintPages(QPainter& painter, qsizetype selFrom, qsizetype selTo);
    // Lays out the next spread's paragraphs while the window waits, so that a turn finds
    // them ready.
    void prepareNextPages();
    bool m_preparing = false;
    qsizetype m_preparedFor = -1;
    // What the counter's page rules were made of: room, line height, spacing, indent, font.
    std::optional<std::array<double, 5>> m_pageKey;
    // A press while viewing pages turns a page unless it starts a selection: noted here.
    bool pressTurnsPage(const QMouseEvent* event);
    bool m_pagePress = false;
    QPointF m_pagePressAt;

    std::shared_ptr<BookDocument> m_book;
    std::shared_ptr<const BookLines> m_lines;
    // The markup and the book it was given for; the widths of its looks in m_markFont.
    std::shared_ptr<const BookMarkup> m_markup;
    std::weak_ptr<BookDocument> m_markupBook;
    // The markup before each step of the history that took marks away, by the undo depth
    // before it (null for the others: following the changes back tells their marks again),
    // so that an undo brings back a heading an edit took away. At most kMostKeptMarks
    // marks are kept in all; the oldest go first.
    std::vector<std::shared_ptr<const BookMarkup>> m_markupStates;
    static constexpr size_t kMostKeptMarks = 400'000;
    enum class EditKind { Edit, Undo, Redo };
    EditKind m_editKind = EditKind::Edit;
    int m_depthBefore = 0;
    std::shared_ptr<const MarkWidths> m_markWidths;
    QFont m_markFont;
    bool m_readOnly = true;
    bool m_overwrite = false;
    // The lines before an edit, for the next lines to keep what they counted: pieces
    // below m_keepPieces, the count resumed at paragraph m_resumeParagraph.
    std::shared_ptr<const BookLines> m_previousLines;
    int m_keepPieces = 0;
    int m_resumeParagraph = 0;
    // A press inside the selection while editing may start dragging it.
    bool m_maybeMove = false;
    bool m_moving = false;
    QPoint m_pressAt;
    qsizetype m_dropAt = -1;
    ParagraphStyle m_style;
    BookLayout m_bookLayout;
    CharWidths m_widths;
    bool m_widthsValid = false;
    LineCounter* m_counter;
    struct Cached {
        int piece;
        std::shared_ptr<const ParagraphLayout> layout;
    };
    std::vector<Cached> m_cache; // most recently used last

    // The character the top line should hold: the line is found again at another width.
    qsizetype m_topAnchor = 0;
    // The anchor is the first visible character of a layout choice, kept through further
    // choices while it stays in the top line.
    bool m_anchorOfLayout = false;
    Place m_top;
    bool m_topValid = false;
    Place m_lastTop;
    bool m_lastTopValid = false;
    int m_wheelRemainder = 0;
    int m_exactSeen = -1;
    qsizetype m_caret = 0;
    qsizetype m_anchor = 0;
    qreal m_preferredX = -1; // kept by Up, Down, PageUp and PageDown
    bool m_caretAtLineEnd = false;
    bool m_dragging = false;
    bool m_settingScroll = false;
    bool m_hideSelection = true;
    QFont m_font;
    QColor m_textColour = Qt::black;
    QColor m_background = Qt::white;
    // A count made at once for a near place while the worker has not reached it.
    int m_atOncePiece = -1;
    int m_atOnceLines = 0;
    const BookLines* m_atOnceFor = nullptr;
};

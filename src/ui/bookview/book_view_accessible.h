#pragma once

#include <QAccessibleWidget>

class BookView;

// The reader's text area to assistive technology (a screen reader such as Orca): a
// multi-line text, read-only while viewing, with its caret, its selection, and each character's
// place on screen. Offsets are the book's (a line break counts two), and the text of a line, a word
// or a paragraph is read from the book around the offset asked, never the whole book unless the
// whole book is asked for. One request returns at most kMaxText characters (a few MB would cost the
// program its connection to the accessibility bus): the text asked for is cut at its end. While the
// view edits, it is an editable text too: inserting, deleting and replacing text through it is an
// edit as typing is, one step of the undo history.
class BookViewAccessible : public QAccessibleWidget,
                           public QAccessibleTextInterface,
                           public QAccessibleEditableTextInterface {
public:
    static constexpr qsizetype kMaxText = qsizetype(1) << 19;

    explicit BookViewAccessible(BookView* view);
    // Makes QAccessible create this interface for every BookView.
    static void install();

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text type) const override;

    // QAccessibleTextInterface
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int* startOffset, int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int* startOffset, int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    // QAccessibleEditableTextInterface (while editing)
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString& text) override;
    void replaceText(int startOffset, int endOffset, const QString& text) override;

private:
    BookView* view() const;
    // The unit of the boundary type that holds the offset.
    std::pair<qsizetype, qsizetype> unitAt(qsizetype offset,
                                           QAccessible::TextBoundaryType type) const;
    QString unitText(std::pair<qsizetype, qsizetype> unit, int* startOffset, int* endOffset) const;
};

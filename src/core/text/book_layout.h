#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <optional>
#include <vector>

// How a book's text is set in the reading view: the text column's width and margins,
// line and paragraph spacing, the first-line indent, justified lines and hyphenation,
// and whether the text scrolls or turns in pages.
// The defaults are the view's plain look: text from edge to edge, no spacing, no indent.
struct BookLayout {
    // Characters (of the font's average width) a line holds; 0 is the whole window.
    int width = 0;
    int margins = 0;             // pixels left and right
    double lineSpacing = 1.0;    // times the font's line height
    double indent = 0;           // the first line's indent, in em
    double paragraphSpacing = 0; // space between paragraphs, in lines
    bool justify = false;
    bool hyphenate = false;
    // The book's own face (bookFont()) unless the user chose a font.
    bool bookFace = false;
    // «Лента»: one scrolling ribbon; «Страница»: one page at a time, of whole lines;
    // «Разворот»: two pages side by side where the window has room for two columns.
    enum class Pages { Ribbon = 0, Page = 1, Spread = 2 };
    Pages pages = Pages::Ribbon;
    bool paged() const { return pages != Pages::Ribbon; }

    static constexpr int kMinWidth = 40, kMaxWidth = 120;
    static constexpr int kMaxMargins = 200;
    static constexpr double kMinLineSpacing = 1.0, kMaxLineSpacing = 2.5;
    static constexpr double kMaxIndent = 4;
    static constexpr double kMaxParagraphSpacing = 1.5;

    // The same choices brought into their ranges: a width under the least becomes the
    // least, a number that is not a number the default.
    BookLayout clamped() const;
    bool isDefault() const { return *this == BookLayout(); }
    // The choices of «Книжная»: 66 characters, spacing 1.3, indent 1.5, justified,
    // hyphenated, the book's face.
    static BookLayout bookish();
    // The book's face: PT Serif, a serif made for Cyrillic, or Liberation Serif where it
    // is missing; its size puts about `characters` average characters in `room` pixels
    // (kMinFaceSize to kMaxFaceSize pixels).
    static QFont bookFont(qreal room, int characters = 66);
    static constexpr int kMinFaceSize = 16, kMaxFaceSize = 24;
    bool operator==(const BookLayout&) const = default;
};

// A named set of choices offered together: the layout, the colours, or both.
struct LayoutPreset {
    QString name;
    std::optional<BookLayout> layout;
    // Text and background; both set, or neither («Как в редакторе»: black on white).
    std::optional<QColor> text;
    std::optional<QColor> background;

    // «Как в редакторе», «Книжная», «Ночная», «Сепия».
    static const std::vector<LayoutPreset>& all();
};

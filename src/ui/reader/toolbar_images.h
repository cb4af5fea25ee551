#pragma once

#include <QIcon>

class QPainter;

// The reader's sixteen 16 x 16 pictures, drawn as vectors so they stay crisp at any
// screen scale: 0 floppy disk, 1 printer, 2 curved arrow back, 3 scissors, 4 two pages,
// 5 clipboard with a page, 6 bulleted list, 7 binoculars, 8 red arrow left, 9 hand
// writing with a pencil, 10 yellow sun, 11 magnifying glass with a red plus,
// 12 dark silhouette, 13 page with lines of text, 14 contents (a page with a list of
// headings, the lower ones indented), 15 bookmark (a red ribbon over a page).
namespace ToolbarImages {
constexpr int kCount = 16;
QIcon icon(int index);
// Paints picture `index` into the 16 x 16 square of the painter's coordinates.
void paint(QPainter& painter, int index);
} // namespace ToolbarImages

#pragma once

#include <QWidget>

#include <functional>
#include <vector>

// The small red marks in the view's left margin beside bookmarked lines: a widget laid
// over the view's viewport that lets every mouse event through.
class BookmarkMargin : public QWidget {
    Q_OBJECT
public:
    // `rectOf` gives a character's rectangle in the viewport (empty when not shown);
    // `shown` the range of characters that may be on screen.
    BookmarkMargin(QWidget* viewport, std::function<QRect(qsizetype)> rectOf,
                   std::function<std::pair<qsizetype, qsizetype>()> shown);

    void setPlaces(std::vector<qsizetype> places);
    // The marks' rectangles as painted now, for tests.
    std::vector<QRect> marks() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<QRect(qsizetype)> m_rectOf;
    std::function<std::pair<qsizetype, qsizetype>()> m_shown;
    std::vector<qsizetype> m_places;
};

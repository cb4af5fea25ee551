#include "ui/reader/bookmark_margin.h"

#include <QEvent>
#include <QPainter>

namespace {

constexpr int kWidth = 4;

} // namespace

BookmarkMargin::BookmarkMargin(QWidget* viewport, std::function<QRect(qsizetype)> rectOf,
                               std::function<std::pair<qsizetype, qsizetype>()> shown)
    : QWidget(viewport), m_rectOf(std::move(rectOf)), m_shown(std::move(shown)) {
    setObjectName(QStringLiteral("BookmarkMargin"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(viewport->rect());
    viewport->installEventFilter(this);
    show();
}

void BookmarkMargin::setPlaces(std::vector<qsizetype> places) {
    m_places = std::move(places);
    update();
}

std::vector<QRect> BookmarkMargin::marks() const {
    std::vector<QRect> out;
    if (m_places.empty() || !parentWidget()->isVisible())
        return out;
    const auto [from, to] = m_shown();
    for (qsizetype place : m_places) {
        if (place < from || place > to)
            continue;
        const QRect r = m_rectOf(place);
        if (!r.isEmpty())
            out.push_back(QRect(0, r.top(), kWidth, r.height()));
    }
    return out;
}

void BookmarkMargin::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (const QRect& mark : marks())
        painter.fillRect(mark, QColor(210, 30, 30));
}

bool BookmarkMargin::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    // Painted with the viewport whenever the view repaints (the widget is transparent).
    return QWidget::eventFilter(watched, event);
}

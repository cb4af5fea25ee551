#pragma once

#include <QObject>
#include <QPointF>
#include <QPointer>

class QWidget;
class QWindow;

// Keeps the clicks of the gesture that opened a book away from the window it opened.
// A book opens at the second press of a double-click; when the user clicked once more
// (a click to select, then a double-click) or still holds the button, those presses
// land on the reader, now shown under the pointer, and move its caret. Presses that
// continue the opening gesture, following its last press within the double-click
// interval (by the events' own times, so a busy event loop changes nothing) and within
// the double-click distance of it on the screen, are swallowed there, with their drags
// and releases, as is the opening press's own button until it is let go. A press
// anywhere else, the reader's tool bar included, always counts.
class OpeningClickGuard : public QObject {
    Q_OBJECT
public:
    explicit OpeningClickGuard(QObject* parent) : QObject(parent) {}
    // A widget whose double-click opens a book (a list's viewport): its presses are
    // noted.
    void watchOpener(QWidget* opener);
    // The opener has just shown `window` for the press noted last.
    void guard(QWindow* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool swallowOnWindow(QEvent* event);

    QPointer<QWindow> m_window;
    bool m_armed = false;
    bool m_havePress = false;
    ulong m_lastPress = 0; // time of the last press of the opening gesture
    QPointF m_lastPressAt; // and its place on the screen
    bool m_held = false;   // a swallowed press's button is still down
};

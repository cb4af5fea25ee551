#pragma once

#include <QFrame>

class QMouseEvent;

// A docked panel whose width is a stored setting. The panel and what lies to its
// right both keep at least kMinimumSide pixels of the window's width.
class DockPanel : public QFrame {
    Q_OBJECT
    Q_PROPERTY(int Width READ storedWidth WRITE setWidth)
public:
    explicit DockPanel(QWidget* parent = nullptr) : QFrame(parent) {}
    // The width shown.
    int Width() const { return m_shown; }
    // The width the user chose, within the window: what is stored and restored.
    int storedWidth() const;
    // The width asked for, kept within the limits whenever the window's width changes.
    void setWidth(int width);
    // Applies the limits again, after the window's width changed.
    void fitToWindow();
    // Room the other side needs for the while (the add-book panel's controls): the panel
    // narrows to leave it, and takes its chosen width again when the room is 0.
    void setRoomBeside(int room);

    static constexpr int kMinimumSide = 30;

private:
    int m_wanted = 0;
    int m_shown = 0;
    int m_roomBeside = 0;
};

// The splitter bar: dragging it changes the width of the panel to its left.
class SplitterBar : public QWidget {
    Q_OBJECT
public:
    SplitterBar(DockPanel* target, QWidget* parent);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    DockPanel* m_target;
    int m_pressX = 0;
    int m_startWidth = 0;
};

#pragma once

#include <QObject>

#include <functional>

class QListWidget;

// Enter in the list opens the selected book, as a double-click does; Delete deletes it,
// as «Удалить книгу» does. A name the list's width cuts off shows whole in a tooltip.
// It belongs to the list and knows nothing of the window until a key asks for it.
class ListKeys : public QObject {
public:
    ListKeys(QListWidget* list, std::function<void()> open, std::function<void()> remove);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> m_open;
    std::function<void()> m_remove;
};

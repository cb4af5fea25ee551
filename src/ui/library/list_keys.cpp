#include "ui/library/list_keys.h"

#include "ui/dialogs/guard.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QToolTip>

#include <utility>

ListKeys::ListKeys(QListWidget* list, std::function<void()> open, std::function<void()> remove)
    : QObject(list), m_open(std::move(open)), m_remove(std::move(remove)) {
    list->installEventFilter(this);
    list->viewport()->installEventFilter(this);
}

bool ListKeys::eventFilter(QObject* watched, QEvent* event) {
    // No list while the list is being taken down.
    auto* list = qobject_cast<QListWidget*>(parent());
    if (!list)
        return false;
    if (watched == list && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            guard(m_open);
            return true;
        }
        if (key->key() == Qt::Key_Delete) {
            guard(m_remove);
            return true;
        }
    } else if (watched == list->viewport() && event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QListWidgetItem* item = list->itemAt(help->pos());
        const QRect rect = item ? list->visualItemRect(item) : QRect();
        // An item is as wide as its text: what passes the viewport's edge is cut off.
        if (item && rect.left() + list->fontMetrics().horizontalAdvance(item->text()) >
                        list->viewport()->width()) {
            QToolTip::showText(help->globalPos(), item->text(), list->viewport(), rect);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return false;
}

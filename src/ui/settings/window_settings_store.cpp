#include "ui/settings/window_settings_store.h"

#include "core/settings/profile_file.h"
#include "ui/dialogs/dialogs.h"
#include "ui/dialogs/guard.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <utility>

// How the placement record maps onto a Qt window:
// - NormPos: the window's outer frame rectangle in its normal state, left, top,
//   right, bottom (right = left + frame width), from normalGeometry() plus the frame
//   margins. Applying it moves the frame to left/top and sizes the client area to the
//   frame size less the margins (corrected once after the show, when the window
//   manager has told the margins).
// - ShowCmd: 1 normal, 2 minimised, 3 maximised (Qt::WindowState).
// - Flags: 2 when a minimised window restores to maximised; 1 (minimised position
//   valid) is never set, Qt having no minimised position.
// - MinMaxPos: minimised position -1,-1 (none), maximised position minus the sizing
//   frame; read and kept, but Qt and the window manager place maximised windows.
// - PixelsPerInch and the screen-size suffix come from the primary QScreen.

std::function<QSize()> WindowSettingsStore::screenSize = [] {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize(1024, 768);
};

std::function<int()> WindowSettingsStore::pixelsPerInch = [] {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? qRound(screen->logicalDotsPerInch()) : 96;
};

QString WindowSettingsStore::screenSizeSuffix() {
    const QSize size = screenSize();
    return QStringLiteral("(%1x%2)").arg(size.width()).arg(size.height());
}

WindowSettingsStore::WindowSettingsStore(QWidget* owner, const QString& section,
                                         QStringList storedProps)
    : QObject(owner), m_owner(owner), m_section(section) {
    owner->installEventFilter(this);
    for (const QString& entry : storedProps) {
        const qsizetype dot = entry.indexOf(QLatin1Char('.'));
        if (dot < 0)
            continue;
        const QString component = entry.left(dot).trimmed();
        const QString property = entry.mid(dot + 1).trimmed();
        if (component.isEmpty() || property.isEmpty())
            continue;
        QObject* object = owner->findChild<QObject*>(component);
        if (!object)
            continue;
        // Letter case is ignored; among several matches the writable property wins
        // (a panel's stored Width, not the widget's read-only width).
        const QMetaObject* meta = object->metaObject();
        QString declared;
        for (int i = 0; i < meta->propertyCount(); ++i) {
            const QMetaProperty candidate = meta->property(i);
            const QString name = QString::fromLatin1(candidate.name());
            if (name.compare(property, Qt::CaseInsensitive) != 0)
                continue;
            if (declared.isEmpty() || candidate.isWritable())
                declared = name;
        }
        if (!declared.isEmpty())
            m_props.append({object, declared});
    }
}

bool WindowSettingsStore::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_owner && !m_wantedFrame.isNull() &&
        (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        QTimer::singleShot(0, this, &WindowSettingsStore::fixFrameAfterShow);
    if (watched == m_owner && event->type() == QEvent::Show && !event->spontaneous()) {
        guard([this] { LoadWindowSettings(); });
        if (chainedShow)
            chainedShow();
    }
    return QObject::eventFilter(watched, event);
}

bool WindowSettingsStore::closeQueryHook() {
    const bool allowed = chainedCloseQuery ? chainedCloseQuery() : true;
    if (allowed)
        guard([this] { SaveWindowSettings(); });
    return allowed;
}

void WindowSettingsStore::destroyHook() {
    if (!PlacementSaved) {
        SavingOnDestroy = true;
        guard([this] { SaveWindowSettings(); });
        SavingOnDestroy = false;
    }
    if (chainedDestroy)
        chainedDestroy();
}

namespace {

// The n-th word (1-based) of a text split at commas and blanks; runs of separators
// count as one.
QString word(const QString& text, int n) {
    static const QRegularExpression separators(QStringLiteral("[, ]+"));
    const QStringList words = text.split(separators, Qt::SkipEmptyParts);
    return n - 1 < words.size() ? words[n - 1] : QString();
}

int wordValue(const QString& text, int n, int fallback) {
    bool ok = false;
    const int value = word(text, n).toInt(&ok);
    return ok ? value : fallback;
}

QString readBySuffix(const ProfileFile& file, const QString& section, const QString& key) {
    const QString suffixed =
        file.readText(section, key + WindowSettingsStore::screenSizeSuffix(), QString());
    return suffixed.isEmpty() ? file.readText(section, key, QString()) : suffixed;
}

} // namespace

QRect WindowSettingsStore::normalFrameRect() const {
    const QRect client = m_owner->isMaximized() || m_owner->isMinimized() || m_owner->isFullScreen()
                             ? m_owner->normalGeometry()
                             : m_owner->geometry();
    const QRect frame = m_owner->frameGeometry();
    const QRect geometry = m_owner->geometry();
    const QMargins margins(geometry.left() - frame.left(), geometry.top() - frame.top(),
                           frame.right() - geometry.right(), frame.bottom() - geometry.bottom());
    return client.marginsAdded(margins);
}

void WindowSettingsStore::applyNormalRect(const QRect& frameRect) {
    const QSize extra = m_owner->frameGeometry().size() - m_owner->geometry().size();
    m_owner->move(frameRect.topLeft());
    m_owner->resize(frameRect.size() - extra);
    if (extra.isNull()) {
        // The window manager tells the frame only after the window is shown: the first
        // move or resize that shows a frame corrects the size (see the event filter).
        m_wantedFrame = frameRect;
        QTimer::singleShot(3000, this, [this] { m_wantedFrame = QRect(); });
    }
}

void WindowSettingsStore::fixFrameAfterShow() {
    if (m_wantedFrame.isNull())
        return;
    if (m_owner->windowState() != Qt::WindowNoState) {
        m_wantedFrame = QRect();
        return;
    }
    const QSize extra = m_owner->frameGeometry().size() - m_owner->geometry().size();
    if (extra.isNull())
        return; // no frame known yet
    const QRect wanted = std::exchange(m_wantedFrame, QRect());
    m_owner->resize(wanted.size() - extra);
    m_owner->move(wanted.topLeft());
}

void WindowSettingsStore::LoadWindowSettings() {
    PlacementSaved = false;
    const ProfileFile file(IniFileName);
    if (file.readInteger(m_section, QStringLiteral("FormVersion"), 0) >= Version) {
        // Position.
        const QRect current = normalFrameRect();
        bool found = false;
        const QString minMax = readBySuffix(file, m_section, QStringLiteral("MinMaxPos"));
        if (!minMax.isEmpty())
            found = true; // the minimised and maximised positions have no use in Qt
        QRect normal = current;
        const QString norm = readBySuffix(file, m_section, QStringLiteral("NormPos"));
        if (!norm.isEmpty()) {
            found = true;
            const int left = wordValue(norm, 1, current.left());
            const int top = wordValue(norm, 2, current.top());
            const int right = wordValue(norm, 3, current.left() + current.width());
            const int bottom = wordValue(norm, 4, current.top() + current.height());
            normal = QRect(left, top, right - left, bottom - top);
        }
        if (file.readInteger(m_section, QStringLiteral("PixelsPerInch"), pixelsPerInch()) !=
            pixelsPerInch())
            found = false;
        if (found && normal.width() > 0) {
            m_centreOnShow = false;
            applyNormalRect(normal);
        }

        // State.
        const int showCmd = file.readInteger(m_section, QStringLiteral("ShowCmd"), 0);
        if (showCmd == 2 || showCmd == 6 || showCmd == 7) {
            m_owner->setWindowState(Qt::WindowNoState);
            QTimer::singleShot(0, m_owner, [owner = m_owner] { owner->showMinimized(); });
        } else {
            m_owner->setWindowState(showCmd == 3 ? Qt::WindowMaximized : Qt::WindowNoState);
            m_owner->update();
        }

        PlacementRestored = true;
        for (const StoredProp& prop : m_props) {
            if (!prop.component)
                continue;
            const QString key = prop.component->objectName() + QLatin1Char('_') + prop.property;
            const QString fallback =
                QString::number(prop.component->property(prop.property.toLatin1()).toInt());
            const QString text = file.readText(m_section, key, fallback).trimmed();
            bool ok = false;
            int value = text.toInt(&ok);
            if (!ok)
                value = 0;
            prop.component->setProperty(prop.property.toLatin1(), value);
        }
    }
    PlacementRestored = true;
}

void WindowSettingsStore::SaveWindowSettings() {
    if (!PlacementRestored)
        return;
    // Every key goes into one write of the file: each write is flushed to the disk.
    QList<std::pair<QString, QString>> keys;
    keys.append({QStringLiteral("FormVersion"), QString::number(Version)});

    const Qt::WindowStates state = m_owner->windowState();
    const bool minimised = state & Qt::WindowMinimized;
    const bool maximised = state & Qt::WindowMaximized;
    const int flags = minimised && maximised ? 2 : 0;
    const int showCmd = minimised ? 2 : maximised ? 3 : 1;
    keys.append({QStringLiteral("Flags"), QString::number(flags)});
    keys.append({QStringLiteral("ShowCmd"), QString::number(showCmd)});
    keys.append({QStringLiteral("PixelsPerInch"), QString::number(pixelsPerInch())});

    const QString minMax =
        QStringLiteral("%1,%2,%3,%4").arg(-1).arg(-1).arg(-kSizingFrame).arg(-kSizingFrame);
    keys.append({QStringLiteral("MinMaxPos") + screenSizeSuffix(), minMax});
    keys.append({QStringLiteral("MinMaxPos"), minMax});
    const QRect normal = normalFrameRect();
    const QString norm = QStringLiteral("%1,%2,%3,%4")
                             .arg(normal.left())
                             .arg(normal.top())
                             .arg(normal.left() + normal.width())
                             .arg(normal.top() + normal.height());
    keys.append({QStringLiteral("NormPos") + screenSizeSuffix(), norm});
    keys.append({QStringLiteral("NormPos"), norm});
    keys.append(
        {QStringLiteral("Visible"), SavingOnDestroy ? QStringLiteral("1") : QStringLiteral("0")});

    m_props.removeIf([](const StoredProp& prop) { return prop.component.isNull(); });
    for (const StoredProp& prop : m_props) {
        const QString key = prop.component->objectName() + QLatin1Char('_') + prop.property;
        keys.append(
            {key, QString::number(prop.component->property(prop.property.toLatin1()).toInt())});
    }
    ProfileFile(IniFileName).writeTexts(m_section, keys);
    PlacementSaved = true;
}

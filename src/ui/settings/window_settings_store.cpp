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
#include <QWindow>

#include <qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <memory>

#include <utility>

// How the placement record maps onto a Qt window:
// - NormPos: the window's outer frame rectangle in its normal state, left, top,
//   right, bottom (right = left + frame width), from normalGeometry() plus the frame
//   margins of the normal window. Applying it before the show places the frame's
//   top-left corner (QWindow::setFramePosition) and gives the client area the frame
//   size less the margins; when the window manager tells the margins only after the
//   show, the client size is corrected then, once (the frame is watched for a short
//   while after the show), and until then the wanted rectangle is what a save stores.
//   A restored rectangle is first made fit for the screen's available area.
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
    m_frameWatch.setInterval(20);
    connect(&m_frameWatch, &QTimer::timeout, this, &WindowSettingsStore::checkFrame);
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
    if (watched == m_owner && event->type() == QEvent::Show && !event->spontaneous()) {
        guard([this] { LoadWindowSettings(); });
        if (chainedShow)
            chainedShow();
        watchFrame();
    }
    if (watched == m_owner && event->type() == QEvent::WindowStateChange &&
        m_owner->windowState() == Qt::WindowNoState)
        watchFrame();
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

namespace {

// The frame an X11 window manager put around the window (_NET_FRAME_EXTENTS), read from
// the X server itself: Qt keeps the frame it measured first, which may be from before
// the window manager framed the window. Null when there is no X11 or no frame yet.
QMargins x11FrameExtents(const QWidget* window) {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !x11 ||
        !window->windowHandle() || !window->testAttribute(Qt::WA_WState_Created))
        return QMargins();
    xcb_connection_t* connection = x11->connection();
    if (!connection || xcb_connection_has_error(connection))
        return QMargins();
    static const char name[] = "_NET_FRAME_EXTENTS";
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof name - 1, name),
                              nullptr),
        &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return QMargins();
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, xcb_window_t(window->winId()),
                                                atom->atom, XCB_ATOM_CARDINAL, 0, 4),
                               nullptr),
        &std::free);
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 16)
        return QMargins();
    const auto* extents = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    // left, right, top, bottom; a frame wider than a screen is no frame.
    for (int i = 0; i < 4; ++i) {
        if (extents[i] > 4096)
            return QMargins();
    }
    return QMargins(int(extents[0]), int(extents[2]), int(extents[1]), int(extents[3]));
}

} // namespace

// On X11 the frame is what the window manager says it is: Qt's own measure walks the
// window tree, and while the window manager is still framing the window (the client
// already inside a frame window the manager has not sized yet, 1 x 1) it gives margins
// as negative as the window is large, and a correction by them doubled the window. So
// under X11 only _NET_FRAME_EXTENTS counts, and elsewhere margins no frame can have
// (negative, or larger than the window) count as none yet.
QMargins WindowSettingsStore::frameMargins() const {
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return x11FrameExtents(m_owner);
    const QRect frame = m_owner->frameGeometry();
    const QRect geometry = m_owner->geometry();
    const QMargins margins(geometry.left() - frame.left(), geometry.top() - frame.top(),
                           frame.right() - geometry.right(), frame.bottom() - geometry.bottom());
    return plausibleFrame(margins, geometry.size()) ? margins : QMargins();
}

bool WindowSettingsStore::plausibleFrame(const QMargins& margins, const QSize& client) {
    return margins.left() >= 0 && margins.top() >= 0 && margins.right() >= 0 &&
           margins.bottom() >= 0 && margins.left() + margins.right() <= client.width() &&
           margins.top() + margins.bottom() <= client.height();
}

QRect WindowSettingsStore::normalFrameRect() const {
    const bool normal = m_owner->windowState() == Qt::WindowNoState;
    const QRect client = normal ? m_owner->geometry() : m_owner->normalGeometry();
    // Until the frame is known the wanted rectangle stands, unless the window was
    // resized since it was applied.
    if (!m_wantedFrame.isNull() && client.size() == m_appliedSize)
        return m_wantedFrame;
    if (normal && !frameMargins().isNull())
        m_normalMargins = frameMargins();
    return client.marginsAdded(m_normalMargins);
}

QRect WindowSettingsStore::fitToScreen(qint64 left, qint64 top, qint64 right, qint64 bottom,
                                       const QRect& available) {
    if (right <= left)
        return QRect();
    const qint64 width = std::clamp<qint64>(right - left, kMinimumFrame.width(),
                                            std::max(available.width(), kMinimumFrame.width()));
    const qint64 height = std::clamp<qint64>(bottom - top, kMinimumFrame.height(),
                                             std::max(available.height(), kMinimumFrame.height()));
    // The title bar stays on the area, and at least this much of the window in view.
    const qint64 inView = std::min<qint64>(width, 100);
    const qint64 x = std::clamp<qint64>(left, qint64(available.left()) - width + inView,
                                        qint64(available.right()) + 1 - inView);
    const qint64 y = std::clamp<qint64>(
        top, available.top(),
        std::max<qint64>(available.top(), available.bottom() + 1 - std::min<qint64>(height, 50)));
    return QRect(int(x), int(y), int(width), int(height));
}

void WindowSettingsStore::applyNormalRect(const QRect& frameRect) {
    const QMargins margins = m_normalMargins;
    m_appliedSize = frameRect.marginsRemoved(margins).size();
    m_owner->resize(m_appliedSize);
    m_owner->move(frameRect.topLeft());
    if (QWindow* window = m_owner->windowHandle())
        window->setFramePosition(frameRect.topLeft());
    m_wantedFrame = margins.isNull() ? frameRect : QRect();
}

// Watches the frame for a short while: many window managers tell the frame only after
// the window is mapped and send no move or resize then.
void WindowSettingsStore::watchFrame() {
    m_frameChecks = 0;
    m_frameWatch.start();
}

void WindowSettingsStore::checkFrame() {
    if (m_owner->windowState() != Qt::WindowNoState) {
        m_frameWatch.stop(); // watched again when the window is back to normal
        return;
    }
    const QMargins margins = frameMargins();
    if (margins.isNull()) {
        if (++m_frameChecks >= 150) { // no frame after three seconds: there is none
            m_frameWatch.stop();
            m_wantedFrame = QRect();
        }
        return;
    }
    m_frameWatch.stop();
    m_normalMargins = margins;
    if (m_wantedFrame.isNull())
        return;
    const QRect wanted = std::exchange(m_wantedFrame, QRect());
    if (m_owner->size() != m_appliedSize)
        return; // resized in the meantime
    // The client's own rectangle inside the frame the window manager told: a frame
    // position is turned into the client's by the frame Qt measured itself, which may be
    // one from the framing race, and the window then stood a title bar off its place.
    m_owner->setGeometry(wanted.marginsRemoved(margins));
}

void WindowSettingsStore::LoadWindowSettings() {
    PlacementSaved = false;
    const ProfileFile file(IniFileName); // the file is read once here
    if (file.readInteger(m_section, QStringLiteral("FormVersion"), 0) >= Version) {
        // Position.
        const QRect current = normalFrameRect();
        const int flags = file.readInteger(m_section, QStringLiteral("Flags"), 0);
        bool found = false;
        const QString minMax = readBySuffix(file, m_section, QStringLiteral("MinMaxPos"));
        if (!minMax.isEmpty())
            found = true; // the minimised and maximised positions have no use in Qt
        qint64 left = current.left();
        qint64 top = current.top();
        qint64 right = left + current.width();
        qint64 bottom = top + current.height();
        const QString norm = readBySuffix(file, m_section, QStringLiteral("NormPos"));
        // A place stored for another screen size (the plain key) may hang off this screen
        // at the bottom or the right: such a window comes wholly onto it. A place stored
        // for this screen stays where the user left it.
        const bool otherScreen =
            !norm.isEmpty() &&
            file.readText(m_section, QStringLiteral("NormPos") + screenSizeSuffix(), QString())
                .isEmpty();
        if (!norm.isEmpty()) {
            found = true;
            left = wordValue(norm, 1, current.left());
            top = wordValue(norm, 2, current.top());
            right = wordValue(norm, 3, current.left() + current.width());
            bottom = wordValue(norm, 4, current.top() + current.height());
        }
        if (file.readInteger(m_section, QStringLiteral("PixelsPerInch"), pixelsPerInch()) !=
            pixelsPerInch())
            found = false;
        if (found) {
            const QScreen* screen = QGuiApplication::primaryScreen();
            const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
            QRect normal = fitToScreen(left, top, right, bottom, available);
            if ((WhollyOnScreen || otherScreen) && !normal.isNull()) {
                normal.moveTo(
                    std::clamp(normal.left(), available.left(),
                               std::max(available.left(), available.right() + 1 - normal.width())),
                    std::clamp(
                        normal.top(), available.top(),
                        std::max(available.top(), available.bottom() + 1 - normal.height())));
            }
            if (!normal.isNull()) {
                m_centreOnShow = false;
                applyNormalRect(normal);
            }
        }

        // State.
        const int showCmd = file.readInteger(m_section, QStringLiteral("ShowCmd"), 0);
        if (showCmd == 2 || showCmd == 6 || showCmd == 7) {
            // Minimised from maximised (flag 2) comes back maximised when restored.
            m_owner->setWindowState((flags & 2) ? Qt::WindowMaximized : Qt::WindowNoState);
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
    ProfileFile file(IniFileName);
    file.writeInteger(m_section, QStringLiteral("FormVersion"), Version);

    const Qt::WindowStates state = m_owner->windowState();
    const bool minimised = state & Qt::WindowMinimized;
    const bool maximised = state & Qt::WindowMaximized;
    const int flags = minimised && maximised ? 2 : 0;
    const int showCmd = minimised ? 2 : maximised ? 3 : 1;
    file.writeInteger(m_section, QStringLiteral("Flags"), flags);
    file.writeInteger(m_section, QStringLiteral("ShowCmd"), showCmd);
    file.writeInteger(m_section, QStringLiteral("PixelsPerInch"), pixelsPerInch());

    const QString minMax =
        QStringLiteral("%1,%2,%3,%4").arg(-1).arg(-1).arg(-kSizingFrame).arg(-kSizingFrame);
    file.writeText(m_section, QStringLiteral("MinMaxPos") + screenSizeSuffix(), minMax);
    file.writeText(m_section, QStringLiteral("MinMaxPos"), minMax);
    const QRect normal = normalFrameRect();
    const QString norm = QStringLiteral("%1,%2,%3,%4")
                             .arg(normal.left())
                             .arg(normal.top())
                             .arg(normal.left() + normal.width())
                             .arg(normal.top() + normal.height());
    file.writeText(m_section, QStringLiteral("NormPos") + screenSizeSuffix(), norm);
    file.writeText(m_section, QStringLiteral("NormPos"), norm);
    file.writeFlag(m_section, QStringLiteral("Visible"), SavingOnDestroy);

    m_props.removeIf([](const StoredProp& prop) { return prop.component.isNull(); });
    for (const StoredProp& prop : m_props) {
        const QString key = prop.component->objectName() + QLatin1Char('_') + prop.property;
        file.writeText(m_section, key,
                       QString::number(prop.component->property(prop.property.toLatin1()).toInt()));
    }
    file.save(); // the file is written once, all keys or none
    PlacementSaved = true;
}

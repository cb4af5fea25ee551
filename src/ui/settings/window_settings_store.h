#pragma once

#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QStringList>
#include <QTimer>

#include <functional>

class QWidget;
class ProfileFile;

// Keeps a window's placement (position, size, normal/maximised/minimised state) and a
// list of its components' integer properties in a profile file, section = the window's
// class name. It hooks the window's show (load), close query (save after the window's
// own question allowed the close) and destruction (save once more if no save completed).
class WindowSettingsStore : public QObject {
    Q_OBJECT
public:
    // Attaches to the owner: installs the show hook and resolves StoredProps.
    WindowSettingsStore(QWidget* owner, const QString& section, QStringList storedProps);

    QString IniFileName;
    int Version = 0;
    bool PlacementRestored = false;
    bool PlacementSaved = false;
    bool SavingOnDestroy = false;
    // A restored rectangle is moved wholly onto the screen's available area, not only
    // its title bar (a secondary window such as the search window).
    bool WhollyOnScreen = false;

    // The owner's own handlers that the hooks call.
    std::function<void()> chainedShow;
    std::function<bool()> chainedCloseQuery;
    std::function<void()> chainedDestroy;

    void LoadWindowSettings();
    void SaveWindowSettings();

    // Called by the owner when it is asked to close; true when the close may go on.
    bool closeQueryHook();
    // Called by the owner as it is destroyed.
    void destroyHook();

    // The resolved stored properties: component and declared property name.
    struct StoredProp {
        QPointer<QObject> component;
        QString property;
    };
    const QList<StoredProp>& storedProps() const { return m_props; }

    // Whether the window should still be centred when shown (no stored rectangle applied).
    bool centreOnShow() const { return m_centreOnShow; }
    void setCentreOnShow(bool centre) { m_centreOnShow = centre; }

    // The screen as the store sees it; tests may replace these.
    static std::function<QSize()> screenSize;
    static std::function<int()> pixelsPerInch;
    static QString screenSizeSuffix();

    // Width and height of the sizing frame: the maximised position stored is minus these.
    static constexpr int kSizingFrame = 4;
    // The smallest outer rectangle a restored window gets.
    static constexpr QSize kMinimumFrame{120, 80};

    // A stored outer rectangle made fit for the available area of the screen: no
    // larger than the area, its title bar on it and at least part of it in view.
    // Null when the rectangle is empty (right not greater than left).
    static QRect fitToScreen(qint64 left, qint64 top, qint64 right, qint64 bottom,
                             const QRect& available);

    // The window's outer rectangle in its normal state, as NormPos stores it.
    QRect normalFrameRect() const;

    // Whether frame margins measured around a client area of this size can be a frame's:
    // none negative, and no wider or taller than the client.
    static bool plausibleFrame(const QMargins& margins, const QSize& client);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyNormalRect(const QRect& frameRect);
    QMargins frameMargins() const;
    void watchFrame();
    void checkFrame();

    QWidget* m_owner;
    QString m_section;
    QList<StoredProp> m_props;
    bool m_centreOnShow = true;
    // A restored outer rectangle not yet reached because the window manager had not told
    // the frame when it was applied, and the client size it was given then.
    QRect m_wantedFrame;
    QSize m_appliedSize;
    // The frame of the normal window, once the window manager has told it.
    mutable QMargins m_normalMargins;
    QTimer m_frameWatch;
    int m_frameChecks = 0;
};

#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The window shown while a book prints: the page being printed and «Отмена», which
// stops the print at the next page (Esc and closing the window do the same). The
// printing asks stopRequested() before each page; the end of the session (SIGTERM,
// Dialogs::endSession) stops it too, and then the window is never shown.
class PrintProgress : public QDialog {
    Q_OBJECT
public:
    explicit PrintProgress(QWidget* parent = nullptr);

    // Shows the page now printed (1 for the first) and lets the window's events in.
    void setPage(int page);
    // Whether the print is to stop: cancelled by the user or the session ending.
    bool stopRequested() const;
    bool cancelled() const { return m_cancelled; }

protected:
    void reject() override;

private:
    QLabel* m_label;
    QPushButton* m_cancel;
    bool m_cancelled = false;
};

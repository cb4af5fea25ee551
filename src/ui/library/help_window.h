#pragma once

#include <QStringList>
#include <QWidget>

class QPlainTextEdit;
class QPushButton;

// The help window: a fixed text on purple, closed by its "Ок" button or its close box.
// It asks the window manager for the close box alone; one that minimises it anyway
// (openbox offers it to every dialog) sees it come back at once, since the library
// window stays disabled until help is closed.
class TSpravka : public QWidget {
    Q_OBJECT
public:
    explicit TSpravka(QWidget* parent = nullptr);
    static QStringList helpLines();

Q_SIGNALS:
    // Any close: the library window is re-enabled and the window is destroyed.
    void closing();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Esc and Enter close the window, as «Ок» does.
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QPlainTextEdit* Memo1;
    QPushButton* Button1;
};

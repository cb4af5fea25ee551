#pragma once

#include <QDialog>
#include <QPoint>

#include <optional>

class QCheckBox;
class QLineEdit;
class QRadioButton;

// The reader's modeless find dialog: the text to find (up to 255 characters), the
// whole-word and match-case boxes and the direction, down preset. It keeps its text
// and its place while hidden.
class FindDialog : public QDialog {
    Q_OBJECT
public:
    explicit FindDialog(QWidget* parent = nullptr);

    QString findText() const;
    void setFindText(const QString& text);
    QLineEdit* textField() const { return m_text; }
    bool wholeWord() const;
    bool matchCase() const;
    bool searchDown() const;

protected:
    // The dialog comes back where it was when it was last closed.
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

Q_SIGNALS:
    void findNext();

private:
    QLineEdit* m_text;
    QCheckBox* m_wholeWord;
    QCheckBox* m_matchCase;
    QRadioButton* m_up;
    QRadioButton* m_down;
    std::optional<QPoint> m_place;
};

#pragma once

#include <QDialog>

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

Q_SIGNALS:
    void findNext();

private:
    QLineEdit* m_text;
    QCheckBox* m_wholeWord;
    QCheckBox* m_matchCase;
    QRadioButton* m_up;
    QRadioButton* m_down;
};

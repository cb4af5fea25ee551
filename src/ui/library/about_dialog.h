#pragma once

#include <QDialog>

// The About box: the program's name and a credit line.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent);
    static QString creditLine();
};

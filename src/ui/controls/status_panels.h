#pragma once

#include <QWidget>

#include <vector>

class QLabel;

// A status bar of fixed-width panels; the panel marked `fill` (else the last) takes the
// rest of the width.
class StatusPanels : public QWidget {
    Q_OBJECT
public:
    enum class Bevel { None, Raised, Lowered };
    struct Panel {
        int width;
        Qt::Alignment alignment;
        Bevel bevel;
        bool fill = false;
    };

    StatusPanels(const std::vector<Panel>& panels, int height, QWidget* parent = nullptr);

    QString panelText(int index) const;
    void setPanelText(int index, const QString& text);
    int panelCount() const { return int(m_labels.size()); }
    QLabel* panel(int index) const { return m_labels.at(index); }

private:
    std::vector<QLabel*> m_labels;
};

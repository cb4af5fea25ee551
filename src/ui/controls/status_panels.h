#pragma once

#include <QWidget>

#include <vector>

class QLabel;

// A status bar of fixed-width panels; the panel marked `fill` (else the last) takes the
// rest of the width. A fixed panel whose text does not fit widens to show it whole
// (a six-digit line number), and narrows back to its own width when it fits again.
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
    std::vector<int> m_widths; // each fixed panel's own width; 0 for the one that fills
};

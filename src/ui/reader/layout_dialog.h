#pragma once

#include "core/text/book_layout.h"

#include <QDialog>
#include <QPoint>

#include <optional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QPushButton;
class QSpinBox;

// The reader's small modeless «Оформление» dialog: the text width, margins, line and
// paragraph spacing, indent, justified lines and hyphenation, «Страницы» (ribbon, page or
// spread), and the preset buttons. Every change acts at once (layoutChanged); a preset
// sets its choices and its colours, and leaves the pages as they are.
// It keeps its place while hidden.
class LayoutDialog : public QDialog {
    Q_OBJECT
public:
    explicit LayoutDialog(QWidget* parent = nullptr);

    // Shows `layout` in the choices without announcing it.
    void setBookLayout(const BookLayout& layout);
    BookLayout bookLayout() const;

    QSpinBox* widthBox() const { return m_width; }
    QSpinBox* marginsBox() const { return m_margins; }
    QDoubleSpinBox* lineSpacingBox() const { return m_lineSpacing; }
    QDoubleSpinBox* indentBox() const { return m_indent; }
    QDoubleSpinBox* paragraphSpacingBox() const { return m_paragraphSpacing; }
    QCheckBox* justifyBox() const { return m_justify; }
    QCheckBox* hyphenateBox() const { return m_hyphenate; }
    QCheckBox* bookFaceBox() const { return m_bookFace; }
    // «Лента», «Страница», «Разворот», in the order of BookLayout::Pages.
    QComboBox* pagesBox() const { return m_pages; }
    // The button of a preset, by its name («Книжная»).
    QPushButton* presetButton(const QString& name) const;

Q_SIGNALS:
    void layoutChanged(const BookLayout& layout);
    // A preset's colours: text, background.
    void coloursChosen(const QColor& text, const QColor& background);

protected:
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void changed();
    void applyPreset(const LayoutPreset& preset);

    QSpinBox* m_width;
    QSpinBox* m_margins;
    QDoubleSpinBox* m_lineSpacing;
    QDoubleSpinBox* m_indent;
    QDoubleSpinBox* m_paragraphSpacing;
    QCheckBox* m_justify;
    QCheckBox* m_hyphenate;
    QCheckBox* m_bookFace;
    QComboBox* m_pages;
    std::vector<QPushButton*> m_presets;
    bool m_quiet = false;
    std::optional<QPoint> m_place;
};

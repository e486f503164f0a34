// StatusBar1: a status bar of text panels along the window's bottom edge, one
// of them owner-drawn (the window places ProgressBar1 over it).
#pragma once

#include <QRect>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

namespace rombolt::qt {

class TStatusBar : public QWidget {
    Q_OBJECT
public:
    struct Panel {
        int width = 50;
        QString text;
        bool ownerDrawn = false;
    };

    explicit TStatusBar(QWidget* parent = nullptr);

    void AddPanel(int width, bool ownerDrawn = false);
    int PanelCount() const { return static_cast<int>(panels_.size()); }
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString& text);
    int PanelWidth(int index) const;
    // The rectangle panel `index` occupies; the last panel runs to the right edge.
    QRect PanelRect(int index) const;

    // Called for each owner-drawn panel on every paint, with its rectangle.
    std::function<void(int panel, const QRect& rect)> OnDrawPanel;
    // Called after the bar changed size (the panels' rectangles moved).
    std::function<void()> OnResized;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::vector<Panel> panels_;
};

}  // namespace rombolt::qt

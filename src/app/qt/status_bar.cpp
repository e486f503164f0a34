#include "status_bar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace rombolt::qt {

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent) {}

void TStatusBar::AddPanel(int width, bool ownerDrawn) {
    panels_.push_back({width, QString(), ownerDrawn});
    update();
}

QString TStatusBar::PanelText(int index) const {
    if (index < 0 || index >= PanelCount()) return {};
    return panels_[static_cast<size_t>(index)].text;
}

void TStatusBar::SetPanelText(int index, const QString& text) {
    if (index < 0 || index >= PanelCount()) return;
    auto& p = panels_[static_cast<size_t>(index)];
    if (p.text == text) return;
    p.text = text;
    update(PanelRect(index));
}

int TStatusBar::PanelWidth(int index) const {
    if (index < 0 || index >= PanelCount()) return 0;
    return panels_[static_cast<size_t>(index)].width;
}

QRect TStatusBar::PanelRect(int index) const {
    int x = 0;
    for (int i = 0; i < index && i < PanelCount(); ++i) x += panels_[static_cast<size_t>(i)].width;
    int w = PanelWidth(index);
    if (index == PanelCount() - 1) w = std::max(w, width() - x);
    // Panels are separated by a 2-pixel gap and sit 2 pixels below the top edge.
    return QRect(x, 2, std::max(0, w - 2), std::max(0, height() - 2));
}

void TStatusBar::resizeEvent(QResizeEvent*) {
    if (OnResized) OnResized();
}

void TStatusBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    for (int i = 0; i < PanelCount(); ++i) {
        QRect r = PanelRect(i);
        QStyleOptionFrame frame;
        frame.initFrom(this);
        frame.rect = r;
        frame.lineWidth = 1;
        frame.midLineWidth = 0;
        frame.state |= QStyle::State_Sunken;
        frame.frameShape = QFrame::Panel;
        style()->drawPrimitive(QStyle::PE_Frame, &frame, &p, this);
        const auto& panel = panels_[static_cast<size_t>(i)];
        if (panel.ownerDrawn) {
            if (OnDrawPanel) OnDrawPanel(i, r);
            continue;
        }
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        // A text a little too wide for its narrow panel ("EPP" in 25 pixels,
        // in a font wider than the design's) is drawn squeezed to fit.
        QRect textRect = r.adjusted(2, 0, -1, 0);
        const int needed = fontMetrics().horizontalAdvance(panel.text);
        if (needed > textRect.width() && textRect.width() > 0 && textRect.width() * 10 >= needed * 6) {
            const double squeeze = static_cast<double>(textRect.width()) / needed;
            p.save();
            p.translate(textRect.left(), 0);
            p.scale(squeeze, 1.0);
            p.drawText(QRect(0, textRect.top(), needed, textRect.height()),
                       Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, panel.text);
            p.restore();
            continue;
        }
        p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, panel.text);
    }
}

}  // namespace rombolt::qt

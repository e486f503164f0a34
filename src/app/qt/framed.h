// Scroll areas whose frame keeps all four lines at any display scale.
#pragma once

#include <QEvent>
#include <QMargins>
#include <QResizeEvent>
#include <QWidget>
#include <cmath>

namespace rombolt::qt {

// At a fractional display scale (150 %) the content of a scroll area is
// painted over the right and bottom lines of its frame, and they vanish. One
// pixel of margin on those sides keeps them: FrameEdgeGap is that margin for
// the scale `w` is shown at, 0 at whole-number scales.
inline int FrameEdgeGap(const QWidget* w) {
    const qreal ratio = w->devicePixelRatioF();
    return ratio == std::floor(ratio) ? 0 : 1;
}

// A scroll area (list, text box) with that margin.
template <class Base>
class TFramed : public Base {
public:
    using Base::Base;

protected:
    void resizeEvent(QResizeEvent* e) override {
        KeepFrameEdges();
        Base::resizeEvent(e);
    }
    bool event(QEvent* e) override {
        // Moved to a screen of another scale.
        if (e->type() == QEvent::ScreenChangeInternal) KeepFrameEdges();
        return Base::event(e);
    }

private:
    void KeepFrameEdges() {
        const int gap = FrameEdgeGap(this);
        if (this->viewportMargins() != QMargins(0, 0, gap, gap)) this->setViewportMargins(0, 0, gap, gap);
    }
};

}  // namespace rombolt::qt

#include "window_font.h"

#include <QStringList>

namespace rombolt::qt {

namespace {

QFont Make(const QStringList& families) {
    QFont f;
    f.setFamilies(families);
    // 8 points at 96 dpi: 11 pixels, whatever the screen's resolution.
    f.setPixelSize(11);
    return f;
}

}  // namespace

QFont WindowFont() {
    return Make({"MS Sans Serif", "Microsoft Sans Serif", "Arial", "Liberation Sans", "Nimbus Sans",
                 "DejaVu Sans", "sans-serif"});
}

QFont ButtonFont() {
    return Make({"Times New Roman", "Liberation Serif", "Nimbus Roman", "DejaVu Serif", "serif"});
}

}  // namespace rombolt::qt

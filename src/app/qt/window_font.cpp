#include "window_font.h"

#include <QStringList>

namespace rombolt::qt {

namespace {

// Where the design's fonts are missing, their metric-compatible stand-ins
// (fonts-liberation2): the captions were laid out for those widths, and a
// wider fallback clips them. Fontconfig is not asked, since Qt does not use
// every font it would offer (Type 1 fonts).
void SubstituteDesignFonts() {
    static const bool done = [] {
        QFont::insertSubstitutions("Times New Roman", {"Liberation Serif", "Nimbus Roman", "DejaVu Serif"});
        for (const char* sans : {"MS Sans Serif", "Microsoft Sans Serif", "Arial"})
            QFont::insertSubstitutions(sans, {"Liberation Sans", "Nimbus Sans", "DejaVu Sans"});
        return true;
    }();
    (void)done;
}

QFont Make(const QStringList& families) {
    SubstituteDesignFonts();
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

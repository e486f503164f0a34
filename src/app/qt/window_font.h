// The fonts of the window program: the design's fonts where installed, else
// the nearest metric-compatible ones. Sizes are 8 points at 96 dots per inch.
#pragma once

#include <QFont>

namespace rombolt::qt {

// "MS Sans Serif" 8: every control but the six action buttons.
QFont WindowFont();
// "Times New Roman" 8: the action buttons.
QFont ButtonFont();

}  // namespace rombolt::qt

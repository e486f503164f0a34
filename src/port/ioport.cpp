#include "port/ioport.h"

namespace rombolt {

int PortBaseForIndex(int portIndex) {
    switch (portIndex) {
        case 1:
            return 0x278;
        case 2:
            return 0x3BC;
        default:
            return 0x378;
    }
}

}  // namespace rombolt

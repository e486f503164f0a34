#include "port/ioport.h"

#include "app/app_state.h"

namespace rombolt {

int PortBaseForIndex(int portIndex) {
    switch (portIndex) {
        case 1: return 0x278;
        case 2: return 0x3BC;
        default: return 0x378;
    }
}

void ApplyPortSelection(AppState& s) {
    const int base = s.PortBaseOverride != 0 ? s.PortBaseOverride : PortBaseForIndex(s.Config.PortIndex);
    s.Link.DataPort = base;
    s.Link.StatusPort = base + 1;
    s.Link.ControlPort = base + 2;
    s.Link.EppAddressPort = base + 3;
    s.Link.EppDataPort = base + 4;
}

}  // namespace rombolt

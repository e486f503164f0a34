#include "core/state.h"

namespace rombolt {

void ApplyPortSelection(CoreState& s) {
    const int base = s.PortBaseOverride != 0 ? s.PortBaseOverride : PortBaseForIndex(s.Config.PortIndex);
    s.Link.DataPort = base;
    s.Link.StatusPort = base + 1;
    s.Link.ControlPort = base + 2;
    s.Link.EppAddressPort = base + 3;
    s.Link.EppDataPort = base + 4;
}

void IdlePort(CoreState& s) { outportb(*s.Port, s.Link.ControlPort, kCtlIdle); }

}  // namespace rombolt

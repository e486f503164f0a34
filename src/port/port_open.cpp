#include "port/port_open.h"

namespace rombolt {

OpenedPort OpenHardwarePort(const std::string& portOption, int configBase) {
    (void)portOption;
    OpenedPort r;
    r.backend = std::make_unique<NullPort>();
    r.base = configBase;
    r.message = "Parallel port access is not available in this build";
    return r;
}

}  // namespace rombolt

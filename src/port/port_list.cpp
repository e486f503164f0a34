#include "port/port_list.h"

namespace rombolt {

std::vector<ParallelPortInfo> ListParallelPorts() { return {}; }

}  // namespace rombolt

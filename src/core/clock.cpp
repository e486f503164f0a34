#include "core/clock.h"

namespace rombolt {

namespace {

class Steady final : public Clock {
public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
};

}  // namespace

Clock& SteadyClock() {
    static Steady clock;
    return clock;
}

}  // namespace rombolt

// The time source of the waits that measure wall time (the erase time
// floor). Production reads the steady clock; tests hand in their own, so
// that no result depends on how fast the machine runs.
#pragma once

#include <chrono>

namespace rombolt {

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual TimePoint Now() = 0;

protected:
    ~Clock() = default;
};

// std::chrono::steady_clock.
Clock& SteadyClock();

}  // namespace rombolt

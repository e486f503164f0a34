#include "support/sim_fixture.h"

namespace rombolt::test {

SimConfig SimConfigFor(const std::string& model, const std::string& save) {
    SimConfig c;
    c.model = model;
    c.save = save;
    return c;
}

SimFixture::SimFixture(const std::string& model, const std::string& save)
    : SimFixture(SimConfigFor(model, save)) {}

SimFixture::SimFixture(const SimConfig& config)
    : state(std::make_unique<AppState>()), s(*state), ui(s), port(std::make_unique<SimPort>(config)) {
    s.UI = &ui;
    s.Port = port.get();
    ApplyPortSelection(s);
}

}  // namespace rombolt::test

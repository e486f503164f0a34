#include "support/sim_fixture.h"

#include "app/app_state.h"
#include "link/cartbus.h"
#include "link/link.h"

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
    s.EraseTimeFloorMs = 0;
    ApplyPortSelection(s);
}

std::vector<std::uint16_t> ReadCartWords(AppState& s, std::uint32_t a, int n) {
    SetCartAddress(s, a);
    SelectRegister(s, kRegData);
    WriteControl(s, kCtlRead);
    std::vector<std::uint16_t> out(static_cast<std::size_t>(n));
    for (auto& w : out) w = ReadDataWord(s);
    return out;
}

std::uint16_t ReadCartWord(AppState& s, std::uint32_t a) { return ReadCartWords(s, a, 1)[0]; }

}  // namespace rombolt::test

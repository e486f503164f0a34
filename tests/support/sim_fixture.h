// A ready-to-use test bench: a fresh AppState, a scripted FakeFrontend and a
// simulated adapter with cart, wired together so that a test can call
// DetectAdapter, IdentifyFlash and the flash and cart routines at once.
//
//   rombolt::test::SimFixture f("strata-256M", "64K");
//   ASSERT_EQ(DetectAdapter(f.s), 0);
//   f.sim().Flash()[0] ...          // inspect or preset the cart's bytes
//
// For fault injection or other settings build a SimConfig and pass it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "sim/sim_port.h"
#include "support/fake_frontend.h"

namespace rombolt::test {

struct SimFixture {
    explicit SimFixture(const std::string& model = "strata-256M", const std::string& save = "64K");
    explicit SimFixture(const SimConfig& config);

    SimPort& sim() { return *port; }

    // Heap-held so that fixtures can live on the stack of a test.
    std::unique_ptr<AppState> state;
    AppState& s;
    FakeFrontend ui;
    std::unique_ptr<SimPort> port;
};

// A SimConfig for a model and save size, everything else at its defaults.
SimConfig SimConfigFor(const std::string& model, const std::string& save = "64K");

// Read run of n cart words from word address a in the current access mode
// (SetCartAddress, SelectRegister 3, control 0x00, ReadDataWord n times).
std::vector<std::uint16_t> ReadCartWords(AppState& s, std::uint32_t a, int n);
std::uint16_t ReadCartWord(AppState& s, std::uint32_t a);

}  // namespace rombolt::test

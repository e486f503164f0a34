#include "flash/cart_models.h"

namespace rombolt {

namespace {

constexpr std::uint32_t k4M = 0x00400000;
constexpr std::uint32_t k8M = 0x00800000;
constexpr std::uint32_t k16M = 0x01000000;
constexpr std::uint32_t k32M = 0x02000000;

// A plain cart of 4 MiB is laid out by the 16 MiB rule (LayoutPlainCart takes
// anything but one eighth so).
constexpr CartModel kModels[] = {
    {false, 0x17, false, false, k8M, "64M", 1, {false, 1}, "64M", "single-64M"},
    {false, 0x18, false, false, k16M, "128M", 2, {false, 2}, "128M", "single-128M"},
    {false, 0x16, false, false, k4M, "32M", 1, {false, 0}, "", "single-32M"},
    {true, 0x16, false, false, k8M, "Strata 64M", 2, {false, 1}, "", "strata-64M"},
    {true, 0x16, true, false, k16M, "Strata 128M", 3, {false, 2}, "", "strata-128M"},
    {true, 0x17, false, false, k16M, "Strata 128M", 3, {false, 2}, "", "strata-128M-one-pair"},
    {true, 0x18, false, false, k32M, "Strata 256M", 4, {false, 4}, "", "strata-256M"},
    {true, 0x16, false, true, k8M, "Vela 64M", 4, {true, 1}, "Vela64M", "vela-64M"},
    {true, 0x16, true, true, k16M, "Vela 128M", 5, {true, 2}, "Vela128M", "vela-128M"},
    {true, 0x17, false, true, k16M, "Vela 128M", 5, {true, 2}, "", "vela-128M-one-pair"},
    {true, 0x18, false, true, k32M, "Vela 256M", 6, {true, 4}, "Vela256M", "vela-256M"},
};

}  // namespace

std::span<const CartModel> CartModels() { return kModels; }

const CartModel* FindCartModel(const CartInfo& cart) {
    for (const CartModel& m : kModels) {
        if (m.Interleaved == (cart.Interleaved != 0) && m.CapacityBytes == cart.CapacityBytes &&
            m.VelaLine == (cart.VelaLine != 0) && m.TwoPairs == (cart.TwoPairs != 0))
            return &m;
    }
    return nullptr;
}

const CartModel* FindCartChips(bool interleaved, std::uint8_t deviceCode, bool twoPairs) {
    for (const CartModel& m : kModels) {
        if (m.Interleaved == interleaved && m.DeviceCode == deviceCode && m.TwoPairs == twoPairs &&
            !m.VelaLine)
            return &m;
    }
    return nullptr;
}

}  // namespace rombolt

// `rombolt port-test` on the simulated cart: the good case, and the cart.ini
// faults each giving its own failed line and advice.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_test_util.h"

using namespace rombolt::clitest;
namespace fs = std::filesystem;

namespace {

class PortTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string cart = dir / "cart";

    // A cart of `model` and `save`, with one cart.ini key set anew.
    void MakeCart(const std::string& model, const std::string& save, const std::string& key = {},
                  const std::string& value = {}) {
        fs::remove_all(cart);
        RunResult r = Rombolt({"sim", "create", cart, "--model", model, "--save", save}, dir.path().string());
        ASSERT_EQ(r.status, 0) << r.err;
        if (key.empty()) return;
        Bytes ini = ReadFile(cart + "/cart.ini");
        std::string text(ini.begin(), ini.end());
        const std::size_t at = text.find("\n" + key + " ");
        ASSERT_NE(at, std::string::npos) << key;
        text.replace(at + 1, text.find('\n', at + 1) - at - 1, key + " = " + value);
        WriteFile(cart + "/cart.ini", Bytes(text.begin(), text.end()));
    }
    RunResult Test() { return Rombolt({"--sim", cart, "port-test"}, dir.path().string()); }
    // The line of check `name`, which must begin with `start`.
    static void ExpectLine(const RunResult& r, std::size_t i, const std::string& start) {
        const auto lines = r.lines();
        ASSERT_GT(lines.size(), i) << r.out << r.err;
        EXPECT_EQ(lines[i].rfind(start, 0), 0u) << "line " << i << ": " << lines[i];
    }
};

TEST_F(PortTest, GoodCartPassesAndNothingOnItChanges) {
    MakeCart("strata-256M", "64K");
    Bytes save(65536);
    for (std::size_t i = 0; i < save.size(); ++i) save[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
    WriteFile(cart + "/save.bin", save);
    const Bytes flash = ReadFile(cart + "/flash.bin");
    RunResult r = Test();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ASSERT_EQ(r.lines().size(), 6u) << r.out;
    ExpectLine(r, 0, "access: ok - simulated cart in " + cart);
    ExpectLine(r, 1, "port: ok - the data register at 0x378 reads back 0x55, 0xAA, 0x00, 0xFF");
    ExpectLine(r, 2, "mode: ok - simulated port; an EPP read cycle completes");
    ExpectLine(r, 3, "adapter: ok - answers in EPP");
    ExpectLine(r, 4, "cart: ok - flash: Rombolt Strata 256M Found; save memory answers, 64K found");
    ExpectLine(r, 5, "to do: nothing");
    EXPECT_EQ(ReadFile(cart + "/flash.bin"), flash);
    EXPECT_EQ(ReadFile(cart + "/save.bin"), save);
}

TEST_F(PortTest, EachFaultFailsItsOwnCheck) {
    MakeCart("single-32M", "64K", "adapter", "absent");
    RunResult r = Test();
    EXPECT_EQ(r.status, 1);
    ExpectLine(r, 1, "port: ok");
    ExpectLine(r, 3, "adapter: failed - no answer from the adapter's registers in SPP or EPP");
    ExpectLine(r, 4, "cart: skipped - no adapter");
    ExpectLine(r, 5, "to do (adapter): plug the adapter into this port");

    MakeCart("none", "none");
    r = Test();
    EXPECT_EQ(r.status, 1);
    ExpectLine(r, 3, "adapter: ok");
    ExpectLine(r, 4, "cart: failed - no cart: the cart bus floats back its address (empty slot)");
    ExpectLine(r, 5, "to do (cart): insert the cart");

    fs::remove_all(cart);
    WriteFile(dir / "shop.gba", MakeGbaImage(65536, "SHOP", 3));
    ASSERT_EQ(Rombolt({"sim", "create", cart, "--model", "rom", "--save", "32K", "--rom", dir / "shop.gba"},
                      dir.path().string())
                  .status,
              0);
    r = Test();
    EXPECT_EQ(r.status, 1);
    ExpectLine(r, 4, "cart: failed - no flash identifies itself: a mask ROM");
    ExpectLine(r, 5, "to do (cart): a write needs a flash cart");

    // Without save memory a write still works: exit 0, but the line says it.
    MakeCart("single-32M", "none");
    r = Test();
    EXPECT_EQ(r.status, 0) << r.out;
    ExpectLine(r, 4, "cart: failed - flash: Rombolt 32M Found; no save memory answers");
    ExpectLine(r, 5, "to do (cart): save backup and restore need save memory");

    // Nothing to open.
    r = Rombolt({"--sim", dir / "nowhere", "port-test"}, dir.path().string());
    EXPECT_EQ(r.status, 1);
    ExpectLine(r, 0, "access: failed - simulated cart " + (dir / "nowhere"));
    ExpectLine(r, 1, "port: skipped - no access");
    ExpectLine(r, 5, "to do (access): make one with `rombolt sim create");
}

}  // namespace

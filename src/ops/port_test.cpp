#include "ops/port_test.h"

#include <array>
#include <cstdio>

#include "core/operation.h"
#include "flash/identify.h"
#include "link/cartbus.h"
#include "link/detect.h"
#include "link/link.h"
#include "ops/saver.h"

namespace rombolt {

namespace {

constexpr std::uint8_t kCtlIdle = 0x04;
constexpr std::uint8_t kStatusTimeoutBit = 0x01;

std::string Hex2(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", v & 0xFF);
    return b;
}
std::string HexBase(int v) {
    char b[12];
    std::snprintf(b, sizeof b, "0x%X", v);
    return b;
}

PortCheck Skipped(const char* name, const std::string& why) {
    PortCheck c;
    c.name = name;
    c.result = PortCheck::Result::Skipped;
    c.detail = why;
    return c;
}

PortCheck Ok(const char* name, std::string detail) {
    PortCheck c;
    c.name = name;
    c.result = PortCheck::Result::Ok;
    c.detail = std::move(detail);
    return c;
}

PortCheck Failed(const char* name, std::string detail, std::string fix, bool blocksWrite = true) {
    PortCheck c;
    c.name = name;
    c.result = PortCheck::Result::Failed;
    c.detail = std::move(detail);
    c.fix = std::move(fix);
    c.blocksWrite = blocksWrite;
    return c;
}

// The data register holds what was written to it while the control register
// keeps the strobes idle, on every printer port; an address where nothing
// answers reads the floating bus instead.
PortCheck CheckPort(CoreState& s) {
    IdlePort(s);
    const std::array<std::uint8_t, 4> patterns = {0x55, 0xAA, 0x00, 0xFF};
    for (std::uint8_t p : patterns) {
        outportb(*s.Port, s.Link.DataPort, p);
        const std::uint8_t got = inportb(*s.Port, s.Link.DataPort);
        if (got != p)
            return Failed("port",
                          "the data register at " + HexBase(s.Link.DataPort) + " reads " + Hex2(got) +
                              " after " + Hex2(p) + ": no printer port answers at this address",
                          "look up the port's address with `rombolt ports` (a PCI/PCIe card sits at an "
                          "address such as 0xD010) and give it with --port");
    }
    return Ok("port",
              "the data register at " + HexBase(s.Link.DataPort) + " reads back 0x55, 0xAA, 0x00, 0xFF");
}

PortCheck CheckMode(CoreState& s, const PortFacts& f) {
    std::string detail;
    if (f.simulated)
        detail = "simulated port";
    else if (f.kernelListed)
        detail = "kernel modes " + (f.kernelModes.empty() ? std::string("(none listed)") : f.kernelModes);
    else
        detail = "the kernel lists no port here";
    if (!f.ecr.empty()) detail += "; " + f.ecr;

    // The EPP time-out bit, cleared by the status write the link makes
    // before every operation, and what one EPP read cycle leaves in it. On
    // a port without EPP the bit means nothing, so it only informs.
    outportb(*s.Port, s.Link.StatusPort, kStatusTimeoutBit);
    (void)inportb(*s.Port, s.Link.EppDataPort);
    const bool timedOut = (inportb(*s.Port, s.Link.StatusPort) & kStatusTimeoutBit) != 0;
    outportb(*s.Port, s.Link.StatusPort, kStatusTimeoutBit);
    detail += timedOut ? "; after an EPP read cycle the time-out bit is set (nothing answered it, or no EPP)"
                       : "; an EPP read cycle completes (time-out bit clear)";
    if (f.kernelListed && !f.kernelModes.empty() && f.kernelModes.find("EPP") == std::string::npos)
        return Failed("mode", detail + "; no EPP",
                      "transfers run in SPP (slower): set the port to EPP or ECP+EPP in the BIOS setup",
                      false);
    return Ok("mode", detail);
}

// Log lines of the running check, for its detail.
class Capture final : public SilentFrontend {
public:
    explicit Capture(Frontend* inner) : inner_(inner) {}
    void LogLine(std::string_view text) override { lines.emplace_back(text); }
    void SetPanelText(int index, std::string_view text) override {
        if (index == 0) panel0 = text;
    }
    void ProcessMessages() override {
        if (inner_) inner_->ProcessMessages();
    }

    std::vector<std::string> lines;
    std::string panel0;

private:
    Frontend* inner_;
};

std::string Joined(const std::vector<std::string>& lines) {
    std::string t;
    for (const auto& l : lines) t += (t.empty() ? "" : "; ") + l;
    return t;
}

PortCheck CheckAdapter(OpsState& s) {
    const std::uint8_t speed = static_cast<std::uint8_t>(s.Config.SpeedIndex);
    if (DetectAdapter(s) != 0) {
        Capture* ui = static_cast<Capture*>(s.UI);
        std::string seen = Joined(ui->lines);
        return Failed("adapter", "no answer from the adapter's registers in SPP or EPP (" + seen + ")",
                      "plug the adapter into this port and power it (a cart in it, or its supply), check "
                      "the cable, and make sure the port is the one it hangs on (`rombolt ports`)");
    }
    (void)speed;
    const bool spp = static_cast<Capture*>(s.UI)->panel0 == "SPP";
    return Ok("adapter",
              spp ? "answers in SPP (EPP echo failed or not tried: transfers are slower)" : "answers in EPP");
}

// The cart bus of an empty slot floats back the address it was given.
bool BusFloatsAddress(CoreState& s) {
    SetRomAccess(s);
    SetCartAddress(s, 0);
    SelectRegister(s, kRegData);
    WriteControl(s, kCtlRead);
    for (std::uint32_t a = 0; a < 64; ++a)
        if (ReadDataWord(s) != static_cast<std::uint16_t>(a)) return false;
    return true;
}

PortCheck CheckCart(OpsState& s) {
    Capture* ui = static_cast<Capture*>(s.UI);
    ui->lines.clear();
    std::string flash;
    bool flashOk = false;
    if (IdentifyFlash(s, true) == 0) {
        flash = "flash: " + Joined(ui->lines);
        flashOk = true;
    } else if (BusFloatsAddress(s)) {
        return Failed("cart", "no cart: the cart bus floats back its address (empty slot)",
                      "insert the cart firmly (contacts clean), then run the test again");
    } else {
        flash = "no flash identifies itself: a mask ROM (a shop-bought game) or an unknown flash";
    }
    std::string save;
    bool saveOk = ProbeSaveMemory(s) > 0;
    if (saveOk) {
        const int found = FindSaveSize(s);
        save = found >= 0 ? std::string("save memory answers, ") + kSaverSizes[found].item + " found"
               : found == kSaveSizeUnknown ? "save memory answers, its size cannot be told (blank)"
                                           : "save memory answers, but not the same twice";
    } else {
        save = "no save memory answers";
    }
    SetRomAccess(s);
    IdlePort(s);
    const std::string detail = flash + "; " + save;
    if (!flashOk)
        return Failed("cart", detail, "a write needs a flash cart: insert one (this cart can only be read)");
    if (!saveOk)
        return Failed("cart", detail,
                      "save backup and restore need save memory: this cart has none, or its battery or "
                      "contacts fail",
                      false);
    return Ok("cart", detail);
}

}  // namespace

std::vector<PortCheck> RunPortChecks(OpsState& s, const PortFacts& facts) {
    Frontend* outer = s.UI;
    Capture capture(outer);
    s.UI = &capture;
    std::vector<PortCheck> out;
    out.push_back(CheckPort(s));
    const bool port = out.back().result == PortCheck::Result::Ok;
    out.push_back(port ? CheckMode(s, facts) : Skipped("mode", "no port"));
    out.push_back(port ? CheckAdapter(s) : Skipped("adapter", "no port"));
    const bool adapter = out.back().result == PortCheck::Result::Ok;
    out.push_back(adapter ? CheckCart(s) : Skipped("cart", "no adapter"));
    if (ReportPortFailure(s) && out.back().result != PortCheck::Result::Failed)
        out.back() = Failed(out.back().name.c_str(), Joined(capture.lines),
                            "the port's driver refused a call: see the message");
    s.UI = outer;
    return out;
}

std::string PortCheckLine(const PortCheck& c) {
    const char* verdict = c.result == PortCheck::Result::Ok       ? "ok"
                          : c.result == PortCheck::Result::Failed ? "failed"
                                                                  : "skipped";
    return c.name + ": " + verdict + " - " + c.detail;
}

std::string PortTestAdvice(const std::vector<PortCheck>& checks) {
    for (const auto& c : checks)
        if (c.result == PortCheck::Result::Failed) return "to do (" + c.name + "): " + c.fix;
    return "to do: nothing, the port, the adapter and the cart work";
}

bool PortTestPassed(const std::vector<PortCheck>& checks) {
    for (const auto& c : checks) {
        if (c.result == PortCheck::Result::Failed && c.blocksWrite) return false;
        if (c.result == PortCheck::Result::Skipped) return false;
    }
    return !checks.empty();
}

}  // namespace rombolt

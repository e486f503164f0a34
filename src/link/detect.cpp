#include "link/detect.h"

#include "core/operation.h"
#include "link/cartbus.h"
#include "link/link.h"

namespace rombolt {

namespace {
// Reads back registers 2, 1, 0 and compares them with what was written.
int ReadBack(CoreState& s, std::uint8_t r2, std::uint8_t r1, std::uint8_t r0) {
    const std::uint8_t expect[3] = {r2, r1, r0};
    for (int i = 0; i < 3; ++i) {
        SelectRegister(s, static_cast<std::uint8_t>(2 - i));
        WriteControl(s, kCtlRead);
        if (ReadDataByte(s) != expect[i]) return 1;
    }
    return 0;
}
}  // namespace

int EchoTest(CoreState& s) {
    PrepareAdapter(s);
    WriteRegister(s, kRegAddr2, 0x12);
    WriteRegister(s, kRegAddr1, 0x34);
    WriteRegister(s, kRegAddr0, 0x56);
    if (ReadBack(s, 0x12, 0x34, 0x56)) return 1;
    WriteRegister(s, kRegAddr2, 0xFE);
    WriteRegister(s, kRegAddr1, 0xDC);
    WriteRegister(s, kRegAddr0, 0xBA);
    if (ReadBack(s, 0xFE, 0xDC, 0xBA)) return 1;
    IdlePort(s);
    return 0;
}

int DetectLink(CoreState& s) {
    bool sppEcho = false;
    s.Link.SppMode = 1;
    if (EchoTest(s) == 0) {
        sppEcho = true;
        // LPT3 at 0x3BC stays in SPP: EPP is not tried there.
        if (s.Link.DataPort == 0x3BC) return 0;
    }
    s.Link.SppMode = 0;
    if (EchoTest(s) == 0) return 0;
    if (sppEcho) {
        s.Link.SppMode = 1;
        IdlePort(s);
        return 0;
    }
    return 1;
}

bool AdapterStillAnswers(CoreState& s) {
    // Reads of a port whose device calls fail look like an answering adapter
    // over blank flash; the failure itself says more than the echo could.
    if (ReportPortFailure(s)) return false;
    WriteRegister(s, kRegAddr2, 0x5A);
    WriteRegister(s, kRegAddr1, 0xC3);
    WriteRegister(s, kRegAddr0, 0x0F);
    bool answers = ReadBack(s, 0x5A, 0xC3, 0x0F) == 0;
    if (answers) {
        WriteRegister(s, kRegAddr2, 0xA5);
        WriteRegister(s, kRegAddr1, 0x3C);
        WriteRegister(s, kRegAddr0, 0xF0);
        answers = ReadBack(s, 0xA5, 0x3C, 0xF0) == 0;
    }
    if (!answers) LogLine(s, "No Adaptor Found!");
    return answers;
}

int DetectAdapter(CoreState& s) {
    s.BeginAdapterSession();
    // Each operation answers for its own accesses.
    s.Port->ClearFailure();
    if (DetectLink(s) != 0) {
        ReportPortFailure(s);
        LogLine(s, "No Adaptor Found!");
        return 1;
    }
    if (s.Link.SppMode) {
        SetPanelText(s, Panel::PortMode, "SPP");
    } else {
        SetPanelText(s, Panel::PortMode, "EPP");
        // Speed "1": the panel keeps showing EPP, but every later transfer uses SPP.
        if (s.Config.SpeedIndex == 3) s.Link.SppMode = 1;
    }
    PrepareAdapter(s);
    return 0;
}

}  // namespace rombolt

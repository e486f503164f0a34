// The port test (`rombolt port-test`): a diagnosis of the chosen port, one
// check after another, each with a verdict and what to do when it failed.
// It changes nothing on the cart or in the save memory; besides the data
// register patterns of the port check it writes only what the link itself
// writes (the idle control value, the status write that clears an EPP
// time-out, adapter detection, flash identification and save reads).
#pragma once

#include <string>
#include <vector>

#include "ops/ops_state.h"

namespace rombolt {

struct PortCheck {
    enum class Result { Ok, Failed, Skipped };
    std::string name;  // "access", "port", "mode", "adapter", "cart"
    Result result = Result::Skipped;
    std::string detail;       // what was seen
    std::string fix;          // failed: what to do about it
    bool blocksWrite = true;  // failed: a write cannot work (false: it can, more slowly or without saves)
};

// What opening the port told, for the mode check.
struct PortFacts {
    bool simulated = false;
    bool ppdev = false;
    bool kernelListed = false;  // the kernel lists this port (/proc/sys/dev/parport)
    std::string kernelModes;    // its modes there, e.g. "PCSPP,TRISTATE,EPP"
    std::string ecr;            // the ECR found and what was set there; empty when none is known
};

// The checks after "access", in order, over the open port in s.Port (link
// addresses applied). A check whose ground failed is skipped. Log lines of
// the operations it runs go to s.UI as usual.
std::vector<PortCheck> RunPortChecks(OpsState& s, const PortFacts& facts);

// "NAME: ok - detail" (failed, skipped likewise).
std::string PortCheckLine(const PortCheck& c);
// The last line: what to do about the first failure, or that all is well.
std::string PortTestAdvice(const std::vector<PortCheck>& checks);
// Whether everything a write needs works.
bool PortTestPassed(const std::vector<PortCheck>& checks);

}  // namespace rombolt

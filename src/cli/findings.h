// What a write or verify found beyond its log lines, told on standard error
// and in the report: where a verify found the cart different, how many
// comparison passes ran, what a write that ended early left in the cart, what
// the header repair did, and the numbers behind a refused write.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "cli/digest.h"

namespace rombolt::cli {

// The comparison passes of the last write or verify, for example "2 passes
// (each chunk read back after programming, then the whole image again)";
// empty when no image pipeline ran.
std::string VerifyPassesText(const AppState& s);

// Lines about a failed write or verify: the first difference the verify
// found, with the number of words that differ in its chunk. Each line starts
// with its subject ("verify: ...").
std::vector<std::string> FailureFindingLines(const AppState& s);

// The one line that says why a run failed: the status panel's last verdict
// (`status`) with what the cart now holds after a write that ended early, or
// the numbers of a refused write; `lastLogLine` when neither says anything.
std::string FailureLine(const AppState& s, const std::string& status, const std::string& lastLogLine);

// The header repair of the image at cart chunk `chunk`: "repaired (Fix Data):
// file CRC32 ..., sent CRC32 ..." with the file's own checksum; empty
// when the header was sent as the file has it.
std::string HeaderRepairText(const AppState& s, std::int32_t chunk, const DigestText& sent);

// The report's lines of the findings: "verify: ...", the first difference,
// "cart: ..." after a write that ended early, "refused: ..." with the numbers.
void ReportFindings(std::FILE* f, const AppState& s);

}  // namespace rombolt::cli

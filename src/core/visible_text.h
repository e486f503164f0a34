// Text from files and cartridges as it may be shown in the log or on a
// terminal.
#pragma once

#include <string>
#include <string_view>

namespace rombolt {

// Control characters (C0, DEL, and C1 written in UTF-8) and bytes that are
// not part of a UTF-8 character become "\xNN", so a file name or a title
// cannot split a log line, move the cursor or retitle a terminal. Printable
// ASCII and UTF-8 text stay as they are.
std::string VisibleText(std::string_view text);

}  // namespace rombolt

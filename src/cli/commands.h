// Running one command of `rombolt`.
#pragma once

#include <string>
#include <vector>

namespace rombolt::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// The whole program after start-up: parses argv (argv[0] is the program name),
// runs the command, returns the exit status.
int RunCli(const std::vector<std::string>& argv);

}  // namespace rombolt::cli

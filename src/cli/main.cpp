// rombolt: the command-line front end of Rombolt Writer.
#include <string>
#include <vector>

#include "cli/cli_frontend.h"
#include "cli/commands.h"

int main(int argc, char** argv) {
    rombolt::cli::InstallInterruptHandler();
    std::vector<std::string> args(argv, argv + argc);
    return rombolt::cli::RunCli(args);
}

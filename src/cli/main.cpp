// rombolt: the command-line front end of Rombolt Writer.
#include <fcntl.h>

#include <cerrno>
#include <string>
#include <vector>

#include "cli/cli_frontend.h"
#include "cli/commands.h"

int main(int argc, char** argv) {
    // Started with standard input, output or error closed, the first file
    // opened (a trace, a backup) would take its number and the log lines
    // would land in it: keep 0-2 taken.
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    rombolt::cli::InstallInterruptHandler();
    std::vector<std::string> args(argv, argv + argc);
    return rombolt::cli::RunCli(args);
}

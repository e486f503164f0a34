// Helpers of the command-line tests: temporary directories, image files and
// running the built `rombolt` as a child process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace rombolt::clitest {

// A fresh directory (mkdtemp), removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

using Bytes = std::vector<std::uint8_t>;

// A GBA image with a consistent header (logo, fixed byte, complement), the
// given title and pseudo-random contents that differ by seed.
Bytes MakeGbaImage(std::size_t size, const std::string& title, std::uint32_t seed);
// A GB image (logo, title, colour flag at 0x143, header checksum).
Bytes MakeGbImage(std::size_t size, const std::string& title, std::uint8_t colourFlag, std::uint32_t seed);
void WriteFile(const std::string& path, const Bytes& b);
Bytes ReadFile(const std::string& path);

struct RunResult {
    int status = -1;  // exit status, or -1 when the child did not exit normally
    std::string out;
    std::string err;
    std::vector<std::string> lines() const;  // stdout split at '\n'
};

// Runs the built rombolt with args in directory cwd, standard input from /dev/null.
RunResult Rombolt(const std::vector<std::string>& args, const std::string& cwd);

// A running rombolt whose stdout can be read line by line while it runs.
class Child {
public:
    Child(const std::vector<std::string>& args, const std::string& cwd);
    ~Child();
    // Next stdout line (without '\n'); false at end of output.
    bool ReadLine(std::string& line);
    void Signal(int sig);
    // Stops reading standard output (a reader that went away).
    void CloseOutput();
    // Reads the rest of the output and waits; returns the exit status as Rombolt does.
    RunResult Wait();

private:
    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string pending_;
    RunResult result_;
};

}  // namespace rombolt::clitest

// The command line of `rombolt`: what was asked for, parsed and checked
// before anything touches a file or a port.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace rombolt::cli {

struct Session;  // one run of a command (commands.cpp)

// What a command needs before its handler runs: nothing (it reads no
// config.sav), the settings, or the settings and the cart (opened by then).
// Port: it opens the cart or port itself (a diagnosis that reports a port
// it cannot open instead of failing on it).
enum class Needs { Nothing, Settings, Cart, Port };
// What its positional arguments are.
enum class Args { None, ImagesOrList, Images, OneOutput, OneInput, OneDirectory };
// What its --size takes.
enum class SizeArg { None, RomSize, SaveSize };

// One command of `rombolt`. Adding a command is one row of the table
// (Commands(), next to the handlers in commands.cpp), plus its lines in the
// help text, the man page and the bash completion.
struct CommandSpec {
    const char* name;  // as typed; "sim create" is the one of two words
    Args args;
    // The command options (--list, --size, --bank, --model, --save, --rom,
    // --raw, --report) it takes, separated by spaces.
    const char* options;
    // An option it cannot go without, as its usage error names it
    // ("--model MODEL"), or null.
    const char* required;
    SizeArg size;
    Needs needs;
    bool (*run)(Session&);
};

// Every command, in the order the help text lists them.
std::span<const CommandSpec> Commands();

struct Options {
    const CommandSpec* command = nullptr;
    std::string commandName;        // as typed ("sim create" for the two words)
    std::vector<std::string> args;  // positional arguments after the command

    // Where the cartridge is.
    std::optional<std::string> simDir;
    std::optional<std::string> port;
    bool unlistedPort = false;  // --unlisted-port: a --port 0xBASE the kernel does not list, confirmed

    // Settings that override config.sav for this run.
    std::optional<int> speedIndex;  // 0..3 for "4".."1"
    std::optional<bool> verify;
    std::optional<bool> fix;
    std::optional<bool> cut32k;
    std::optional<bool> skipUnchanged;  // write: leave blocks that already match alone
    std::optional<std::string> ips;
    std::optional<std::string> gbaLoader;
    std::optional<std::string> gbLoader;
    std::optional<std::string> trace;
    std::optional<std::string> report;
    bool yes = false;
    bool quiet = false;

    // Command options.
    std::optional<std::string> list;
    std::optional<int> romSizeChunks;  // backup --size, 32..1024
    std::optional<int> saveSizeIndex;  // save-* --size, 0..4
    std::optional<std::string> bank;   // save-* --bank
    int saveStartUnit = 0;             // from --bank and --size
    std::optional<std::string> model;  // sim create
    std::optional<std::string> saveModel;
    std::optional<std::string> romFile;
    bool raw = false;  // backup: no header check

    bool help = false;
    bool version = false;

    bool Is(const char* name) const { return command && commandName == name; }
};

struct ParseResult {
    Options options;
    std::string error;  // non-empty: a usage error, one line
};

ParseResult ParseCommandLine(const std::vector<std::string>& argv);

// Backup sizes "8M".."256M" (case of the M ignored) in 32 KiB chunks, or nullopt.
std::optional<int> ParseRomSize(const std::string& text);
// Item text of a chunk count (32 -> "8M"), or "" for anything else.
std::string RomSizeText(int chunks);

const char* HelpText();
const char* VersionText();

}  // namespace rombolt::cli

#include "cli/options.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "app/version.h"
#include "ops/commands.h"
#include "ops/saver.h"
#include "port/port_open.h"
#include "sim/sim_port.h"

namespace rombolt::cli {

namespace {

std::string Upper(std::string t) {
    for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return t;
}

// Whether the command takes the command option (a word of its options).
bool Takes(const CommandSpec& c, const std::string& opt) {
    const std::string words = std::string(" ") + c.options + " ";
    return words.find(" " + opt + " ") != std::string::npos;
}

const char* ArgsText(Args a) {
    switch (a) {
        case Args::None:
            return "no arguments";
        case Args::OneOutput:
            return "one output file";
        case Args::OneInput:
            return "one input file";
        case Args::OneDirectory:
            return "one directory";
        default:
            return "";
    }
}

std::string JoinedSimModelNames() {
    std::string names;
    for (const std::string& n : SimModelNames()) names += (names.empty() ? "" : ", ") + n;
    return names;
}

}  // namespace

std::optional<int> ParseRomSize(const std::string& text) {
    int i = CartSizeIndexOfItem(Upper(text));
    if (i < 0) return std::nullopt;
    return kCartSizes[static_cast<std::size_t>(i)].chunks;
}

std::string RomSizeText(int chunks) {
    int i = CartSizeIndexOfChunks(chunks);
    return i < 0 ? std::string() : kCartSizes[static_cast<std::size_t>(i)].item;
}

ParseResult ParseCommandLine(const std::vector<std::string>& argv) {
    ParseResult r;
    Options& o = r.options;
    std::vector<std::string> positional;
    std::vector<std::string> commandOptions;  // command options seen, checked once the command is known
    std::string sizeText;

    auto fail = [&](std::string msg) {
        if (r.error.empty()) r.error = std::move(msg);
    };

    static const std::map<std::string, std::optional<std::string> Options::*> kValueOptions = {
        {"--sim", &Options::simDir},
        {"--port", &Options::port},
        {"--ips", &Options::ips},
        {"--gba-loader", &Options::gbaLoader},
        {"--gb-loader", &Options::gbLoader},
        {"--trace", &Options::trace},
        {"--report", &Options::report},
        {"--list", &Options::list},
        {"--bank", &Options::bank},
        {"--model", &Options::model},
        {"--save", &Options::saveModel},
        {"--rom", &Options::romFile},
    };
    static const std::map<std::string, std::pair<std::optional<bool> Options::*, bool>> kSwitches = {
        {"--verify", {&Options::verify, true}},
        {"--no-verify", {&Options::verify, false}},
        {"--fix", {&Options::fix, true}},
        {"--no-fix", {&Options::fix, false}},
        {"--cut32k", {&Options::cut32k, true}},
        {"--no-cut32k", {&Options::cut32k, false}},
        {"--skip-unchanged", {&Options::skipUnchanged, true}},
        {"--no-skip-unchanged", {&Options::skipUnchanged, false}},
    };

    bool optionsEnded = false;
    for (std::size_t i = 1; i < argv.size(); ++i) {
        std::string a = argv[i];
        if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
            positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = a, value;
        bool hasValue = false;
        if (a.rfind("--", 0) == 0) {
            auto eq = a.find('=');
            if (eq != std::string::npos) {
                name = a.substr(0, eq);
                value = a.substr(eq + 1);
                hasValue = true;
            }
        }
        auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= argv.size()) {
                fail("option " + name + " needs a value");
                return false;
            }
            value = argv[++i];
            return true;
        };

        if (name == "-h" || name == "--help") {
            o.help = true;
        } else if (name == "--version") {
            o.version = true;
        } else if (name == "-y" || name == "--yes") {
            o.yes = true;
        } else if (name == "-q" || name == "--quiet") {
            o.quiet = true;
        } else if (name == "--unlisted-port") {
            if (hasValue) fail("option --unlisted-port takes no value");
            o.unlistedPort = true;
        } else if (name == "--raw") {
            if (hasValue) fail("option --raw takes no value");
            o.raw = true;
            commandOptions.push_back(name);
        } else if (auto sw = kSwitches.find(name); sw != kSwitches.end()) {
            if (hasValue) fail("option " + name + " takes no value");
            o.*(sw->second.first) = sw->second.second;
        } else if (name == "--speed") {
            if (!takeValue()) continue;
            if (value.size() == 1 && value[0] >= '1' && value[0] <= '4')
                o.speedIndex = '4' - value[0];
            else
                fail("--speed takes 4, 3, 2 or 1, not '" + value + "'");
        } else if (name == "--size") {
            if (!takeValue()) continue;
            sizeText = value;
            commandOptions.push_back(name);
        } else if (auto vo = kValueOptions.find(name); vo != kValueOptions.end()) {
            if (!takeValue()) continue;
            if (value.empty()) fail("option " + name + " needs a non-empty value");
            o.*(vo->second) = value;
            if (name == "--list" || name == "--bank" || name == "--model" || name == "--save" ||
                name == "--rom" || name == "--report")
                commandOptions.push_back(name);
        } else {
            fail("unknown option '" + a + "'");
        }
    }
    if (!r.error.empty() || o.help || o.version) return r;

    if (positional.empty()) {
        fail("no command given");
        return r;
    }
    std::string cmd = positional[0];
    std::size_t firstArg = 1;
    if (cmd == "sim") {
        if (positional.size() < 2 || positional[1] != "create") {
            fail("'sim' needs the subcommand 'create'");
            return r;
        }
        cmd = "sim create";
        firstArg = 2;
    }
    for (const CommandSpec& c : Commands())
        if (cmd == c.name) o.command = &c;
    if (!o.command) {
        fail("unknown command '" + cmd + "'");
        return r;
    }
    const CommandSpec& c = *o.command;
    o.commandName = cmd;
    o.args.assign(positional.begin() + static_cast<long>(firstArg), positional.end());

    for (const auto& opt : commandOptions)
        if (!Takes(c, opt)) fail(opt + " does not apply to " + o.commandName);
    if (o.simDir && o.port) fail("--sim and --port exclude each other");
    if (o.port && !PortOptionError(*o.port).empty()) fail("--port: " + PortOptionError(*o.port));
    if (o.unlistedPort && (!o.port || o.port->rfind("0x", 0) != 0))
        fail("--unlisted-port goes with --port 0xBASE");
    if (c.needs != Needs::Cart && c.needs != Needs::Port && (o.simDir || o.port || o.trace))
        fail(o.commandName + " does not use a cartridge (--sim, --port, --trace)");
    if (!r.error.empty()) return r;

    switch (c.args) {
        case Args::ImagesOrList:
            if (o.list && !o.args.empty())
                fail(o.commandName + " takes image files or --list FILE, not both");
            else if (!o.list && o.args.empty())
                fail(o.commandName + " needs at least one image file or --list FILE");
            break;
        case Args::Images:
            if (o.args.empty()) fail(o.commandName + " needs at least one image file");
            break;
        case Args::None:
            if (!o.args.empty()) fail(o.commandName + " takes " + ArgsText(c.args));
            break;
        default:
            if (o.args.size() != 1) fail(o.commandName + " takes " + ArgsText(c.args));
            break;
    }
    if (c.required) {
        const std::string opt(c.required, std::strcspn(c.required, " "));
        if (std::find(commandOptions.begin(), commandOptions.end(), opt) == commandOptions.end()) {
            fail(o.commandName + " needs " + c.required);
            return r;
        }
    }
    if (SimModelInfo m; o.model && !LookupSimModel(*o.model, m))
        fail("sim create: unknown model \"" + *o.model + "\" (known: " + JoinedSimModelNames() + ")");
    if (c.size == SizeArg::RomSize && !sizeText.empty()) {
        o.romSizeChunks = ParseRomSize(sizeText);
        if (!o.romSizeChunks)
            fail("backup --size takes 8M, 16M, 32M, 64M, 128M or 256M, not '" + sizeText + "'");
    }
    if (c.size == SizeArg::SaveSize) {
        // save-backup without --size: the size found from the memory's mirroring.
        const int idx = sizeText.empty() ? 0 : SaverSizeIndex(Upper(sizeText));
        if (idx < 0) {
            fail(o.commandName + " --size takes 8K, 32K, 64K, 128K or 256K, not '" + sizeText + "'");
            return r;
        }
        if (!sizeText.empty()) o.saveSizeIndex = idx;
        std::string code = Upper(o.bank.value_or("1"));
        if (!ParseBankCode(code, idx, o.saveStartUnit))
            fail("--bank takes a bank 1-4, then optionally A or B, then optionally 1-4 (like 2B3), not '" +
                 *o.bank + "'");
    }
    return r;
}

const char* VersionText() { return ProductVersionText(); }

const char* HelpText() {
    return R"(Usage: rombolt [OPTIONS] COMMAND [ARGS]

Writes, verifies, backs up and erases GBA flash cartridges on a parallel-port
adapter, and backs up and restores their save memory.

Where the cartridge is (default: the port chosen in ./config.sav):
  --sim DIR               the simulated cartridge in DIR (see 'sim create')
  --port PORT             real hardware: lpt1|lpt2|lpt3, a base address such
                          as 0xd010, or /dev/parportN; a base must be one of
                          the three classic ones or one the kernel lists as a
                          parallel port (see 'ports'); the PC's own devices'
                          addresses are always refused
  --unlisted-port         with --port 0xBASE: drive a base the kernel does
                          not list as a parallel port (you know a card is there)

Settings: ./config.sav is read when present and never written; these
override it for one run:
  --speed 4|3|2|1         link speed ("4" fastest: 16-bit EPP cycles; "1": SPP)
  --verify, --no-verify   compare every chunk after writing it, then the whole
                          image once more
  --fix, --no-fix         repair the GBA header (logo, complement) on the way in
  --cut32k, --no-cut32k   leave out a game's last 32 KiB when they are padding
                          (multi-game write)
  --skip-unchanged, --no-skip-unchanged
                          write: compare each flash block first, leave the
                          blocks that already hold the image alone and program
                          blank ones without erasing them (default off)
  --ips FILE              patch every game written or verified with FILE
                          ("IPS Apply" on)
  --gba-loader FILE       GBA boot loader file (32768 bytes) for multi-game writes
  --gb-loader FILE        GB boot loader file (32768 bytes) for multi-game writes
  --trace FILE            every port access, one line each: "outb 0x37a 0x01",
                          "inb 0x379 0x48", "outw 0x37c 0x1234",
                          "inw 0x37c 0x1234" (hex, lower case)
  --report FILE           after write, verify, backup, save-backup or
                          save-restore: a small text file with the cart model,
                          sizes, timing, CRC32 and SHA-1
  -y, --yes               answer Yes to confirmations (erase)
  -q, --quiet             no progress display
  -h, --help              this text
  --version               print the product and version

Commands:
  info                    detect the adapter and identify the flash
  write IMAGE...          one GBA image: single-game write; several, or any
  write --list FILE       GB/GBC image: multi-game write with boot loaders
  verify IMAGE...         compare the cartridge with the image(s)
  verify --list FILE
  backup OUT [--size 8M|16M|32M|64M|128M|256M] [--raw]
                          copy the cartridge into OUT; default size: the size
                          the program offers (the whole flash when it
                          identifies itself, else the size of the game found).
                          --raw: skip the header check, to copy a damaged
                          cart whose header check fails
  save-backup OUT [--size 8K|32K|64K|128K|256K] [--bank CODE]
  save-restore IN --size 8K|32K|64K|128K|256K [--bank CODE]
                          save memory to OUT / from IN. CODE: a bank digit 1-4,
                          then optionally a half letter A/B, then optionally a
                          quarter digit 1-4 (2B3, 1B, 3); missing parts are the
                          first item; default 1. The memory's size is found
                          from its mirroring when its contents can tell:
                          save-backup takes it when --size is not given, and
                          save-restore refuses a larger file
  erase                   erase the flash (asks first; --yes to confirm)
  layout IMAGE...         the list summary, the "Only for:" note and each
  layout --list FILE      cart model's chunk map; no hardware
  header IMAGE...         type, title, logo and complement status of each
                          image; no hardware
  sim create DIR --model MODEL [--save SIZE] [--rom FILE]
                          make a simulated cartridge in DIR; save memory
                          none|8K|32K|64K|128K|256K, by default none (64K for the
                          Vela models, which need it)
  ports                   parallel ports found on this machine
  port-test               test the port, step by step: access, port, mode,
                          adapter, cart; one line each ("NAME: ok|failed|
                          skipped - detail"), then what to do about the first
                          failure. Exit 0 when a write can work. Changes
                          nothing on the cart. The first thing to run on new
                          hardware

Output: standard output carries exactly the operation log lines, one per line.
Status texts and a progress bar go to standard error, only when it is a
terminal and --quiet is not given. Checksums go to standard error.

Ctrl-C (or Ctrl-\, SIGTERM, SIGHUP) stops the running operation as the Stop button
does; a second one ends the program at once. One program at a time drives a
cartridge or port: a second is refused, naming the first.

Exit status: 0 success; 1 the operation failed, was cancelled or stopped (the
last status text follows on standard error); 2 usage error.
)";
}

}  // namespace rombolt::cli

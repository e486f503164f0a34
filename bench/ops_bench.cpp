// Every cart command on simulated carts at every port and speed setting: port
// accesses per KiB split into data and overhead, the estimate for real
// hardware, host time per access, the longest stretch between event pumps,
// and allocations and log lines while the window is busy.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/game_list.h"
#include "bench_sections.h"
#include "flash/identify.h"
#include "link/detect.h"
#include "ops/commands.h"
#include "sim_session.h"

namespace rombolt::bench {

SimSession::SimSession(const std::string& model, const PortSetting& setting, bool decode)
    : sim(std::make_unique<SimPort>([&] {
          SimConfig c;
          c.model = model;
          c.save = "64K";
          c.sppOnly = setting.sppOnlyPort;
          return c;
      }())),
      state(std::make_unique<AppState>()),
      s(*state),
      ui(s, [this] { return sim->PortAccesses(); }) {
    s.Port = sim.get();
    s.EraseTimeFloorMs = 0;
    if (decode) {
        decoder = std::make_unique<DecodingPort>(*sim, 0x378);
        s.Port = decoder.get();
    }
    s.UI = &ui;
    ApplyPortSelection(s);
    s.Config.SpeedIndex = static_cast<std::int8_t>(setting.speedIndex);
    s.Config.FixRom = 1;
    s.Config.IpsApply = 0;
    s.Config.VerifyAfterWrite = 0;
}

bool ListImage(AppState& s, const std::string& path) {
    const std::filesystem::path p(path);
    s.GameList.clear();
    return AddSelectedFiles(s, p.parent_path().string(), {p.filename().string()}) == 1;
}

namespace {

constexpr int kImageKiB = 1024;  // the matrix moves 1 MiB images
constexpr int kSaveKiB = 64;     // and the whole 64 KiB save memory

struct Cell {
    Op op;
    std::string cart;
    bool interleaved;
    PortSetting setting;
    LinkMode mode;
    RunStats run;
    double kib = 0;              // KiB the operation is about
    long long payloadUnits = 0;  // words (flash) or bytes (save) that cross the link
    long long dataWrites = 0;    // accesses the payload takes at the least: written ...
    long long dataReads = 0;     // ... and read
    long long DataAccesses() const { return dataWrites + dataReads; }
    // The same command through the decoding back end, by adapter cycle.
    long long decoded[DecodingPort::kCategories] = {};
    long long decodedTotal = 0;
};

// Payload of an operation and the port accesses it takes at the least in
// this mode. Flash data moves in words, save memory in bytes. Every pass
// counts: a write with verify programs each word once and reads it twice
// (right after programming its chunk and in the second pass); a backup and a
// save backup read everything twice (read, then compare); a save restore
// writes every byte and reads it back.
void Payload(Cell& c, const LinkCost& cost) {
    const long long words = kImageKiB * 512LL;
    const long long bytes = kSaveKiB * 1024LL;
    switch (c.op) {
        case Op::Identify:
            break;
        case Op::Write:
            c.kib = kImageKiB;
            c.payloadUnits = words;
            c.dataWrites = words * cost.wordWrite;
            break;
        case Op::WriteVerify:
            c.kib = kImageKiB;
            c.payloadUnits = 3 * words;
            c.dataWrites = words * cost.wordWrite;
            c.dataReads = 2 * words * cost.wordRead;
            break;
        case Op::Verify:
            c.kib = kImageKiB;
            c.payloadUnits = words;
            c.dataReads = words * cost.wordRead;
            break;
        case Op::Backup:
            c.kib = kImageKiB;
            c.payloadUnits = 2 * words;
            c.dataReads = 2 * words * cost.wordRead;
            break;
        case Op::SaveBackup:
            c.kib = kSaveKiB;
            c.payloadUnits = 2 * bytes;
            c.dataReads = 2 * bytes * cost.byteRead;
            break;
        case Op::SaveRestore:
            c.kib = kSaveKiB;
            c.payloadUnits = 2 * bytes;
            c.dataWrites = bytes * cost.byteWrite;
            c.dataReads = bytes * cost.byteRead;
            break;
        case Op::Erase:
            break;  // kib set by the caller: the whole flash
    }
}

// Runs one operation as its button would.
int RunCommand(SimSession& ss, Op op, const std::string& image, const std::string& dir) {
    AppState& s = ss.s;
    switch (op) {
        case Op::Identify:
            if (DetectAdapter(s) != 0) return -1;
            return IdentifyFlash(s);
        case Op::Write:
            s.Config.VerifyAfterWrite = 0;
            return WriteClick(s).Ok() ? 0 : -1;
        case Op::WriteVerify:
            s.Config.VerifyAfterWrite = 1;
            return WriteClick(s).Ok() ? 0 : -1;
        case Op::Verify:
            return VerifyClick(s).Ok() ? 0 : -1;
        case Op::Backup:
            ss.ui.file = dir + "/backup.gba";
            ss.ui.cartSizeChunks = kImageKiB / 32;
            return ReadClick(s).Ok() ? 0 : -1;
        case Op::SaveBackup:
            ss.ui.file = dir + "/backup.sav";
            ss.ui.saver = {0, 2};  // 64K from the first bank
            return SReadClick(s).Ok() ? 0 : -1;
        case Op::SaveRestore:
            ss.ui.file = dir + "/backup.sav";
            ss.ui.saver = {0, 2};
            return SWriteClick(s).Ok() ? 0 : -1;
        case Op::Erase:
            return EraseFlashClick(s).Ok() ? 0 : -1;
    }
    (void)image;
    return -1;
}

std::string PerKiB(long long accesses, double kib) {
    return kib > 0 ? Fixed(static_cast<double>(accesses) / kib, 1) : "—";
}

std::string Ms(double seconds) {
    if (seconds >= 10) return Fixed(seconds, 1) + " s";
    return Fixed(seconds * 1000, seconds < 0.1 ? 2 : 0) + " ms";
}

}  // namespace

void RunOpsSection(std::FILE* out, const BenchOptions& opt, const LinkResults& link, Budgets& b) {
    const std::string image = opt.workDir + "/matrix.gba";
    WriteFile(image, MakeImage(kImageKiB * 1024, 7));

    struct CartKind {
        const char* model;
        const char* label;
        bool interleaved;
    };
    const CartKind carts[] = {{"single-128M", "single-128M (one chip)", false},
                              {"strata-256M", "strata-256M (interleaved pair)", true}};

    std::vector<Cell> cells;
    for (const auto& cart : carts) {
        for (const PortSetting& setting : AllPortSettings()) {
            // The commands run twice on fresh carts: straight, for the time,
            // and through the decoding back end, for the kinds of cycles.
            SimSession ss(cart.model, setting);
            SimSession sd(cart.model, setting, true);
            if (!ListImage(ss.s, image) || !ListImage(sd.s, image)) {
                std::fprintf(stderr, "bench: cannot list %s\n", image.c_str());
                return;
            }
            for (Op op : kOps) {
                Cell c{op, cart.label, cart.interleaved, setting, ModeOf(setting), {}};
                c.run = Measure(ss, [&] { return RunCommand(ss, op, image, opt.workDir); });
                long long before[DecodingPort::kCategories];
                for (int k = 0; k < DecodingPort::kCategories; ++k)
                    before[k] = sd.decoder->Count(static_cast<DecodingPort::Category>(k));
                const long long total0 = sd.decoder->Total();
                RunCommand(sd, op, image, opt.workDir);
                for (int k = 0; k < DecodingPort::kCategories; ++k)
                    c.decoded[k] = sd.decoder->Count(static_cast<DecodingPort::Category>(k)) - before[k];
                c.decodedTotal = sd.decoder->Total() - total0;
                if (c.decodedTotal != c.run.accesses)
                    std::fprintf(stderr, "bench: %s on %s, %s: %lld accesses decoded, %lld counted\n",
                                 OpName(op), cart.model, setting.Label().c_str(), c.decodedTotal,
                                 c.run.accesses);
                if (!c.run.ok) {
                    std::fprintf(stderr, "bench: %s on %s, %s failed\n", OpName(op), cart.model,
                                 setting.Label().c_str());
                }
                Payload(c, CostOf(ss.s));
                if (op == Op::Erase) c.kib = ss.sim->Model().capacityBytes / 1024.0;
                // The payload is a floor: the cart must have moved at least that much.
                if (op == Op::Write || op == Op::WriteVerify) {
                    const long long written = c.run.bufferPrograms * 16;
                    if (written != kImageKiB * 512LL)
                        std::fprintf(stderr, "bench: %s programmed %lld words, expected %d\n", OpName(op),
                                     written, kImageKiB * 512);
                }
                cells.push_back(c);
            }
        }
    }

    // An SPP-only port ends up in SPP at every speed; only detection, which
    // tries EPP with the speed's form of register writes, differs. Speed "4"
    // stands for the others when the difference stays that small.
    long long sppSpread = 0;
    for (const Cell& c : cells)
        if (c.setting.sppOnlyPort && c.setting.speedIndex != 0)
            for (const Cell& d : cells)
                if (d.setting.sppOnlyPort && d.setting.speedIndex == 0 && d.op == c.op && d.cart == c.cart)
                    sppSpread = std::max(sppSpread, std::llabs(d.run.accesses - c.run.accesses));
    const bool sppSame = sppSpread <= 100;
    auto shown = [&](const Cell& c) {
        return !(sppSame && c.setting.sppOnlyPort && c.setting.speedIndex != 0);
    };
    auto settingLabel = [&](const Cell& c) {
        if (c.setting.sppOnlyPort && sppSame) return std::string("SPP port, speed 4 (any)");
        if (!c.setting.sppOnlyPort && c.setting.speedIndex == 3)
            return std::string("EPP port, speed 1 (SPP)");
        return c.setting.Label();
    };

    std::fprintf(out, "## Cart operations on the simulated cart\n\n");
    std::fprintf(out,
                 "Each command runs as its button would (detection, identification, dialogs answered, "
                 "files on disk) against the simulated adapter and cart. Images are %d KiB, the save "
                 "memory %d KiB, the backup is offered %d KiB; erase clears the whole flash. Port "
                 "accesses are exact counts.\n\n",
                 kImageKiB, kSaveKiB, kImageKiB);
    std::fprintf(out,
                 "- **data**: the payload words (flash) or bytes (save memory) that have to cross the "
                 "link, every pass counted (write with verify: programmed once, read back twice; backup "
                 "and save backup: read twice; save restore: written, then read back), times the port "
                 "accesses one such transfer takes in that mode (word write/read: EPP speed 4 = 1/1, "
                 "speed 3 = 2/2, speed 2 = 6/2, SPP = 6/12; save byte write/read: EPP 1/1, speed 2 3/1, "
                 "SPP 3/6).\n"
                 "- **overhead**: all other accesses, as a share of all accesses and split by the "
                 "adapter cycle they belong to, decoded from the port accesses: **address loads** "
                 "(selecting and writing the cart address registers 0-2, detection's echo test "
                 "included), **window selection, mode** (selecting the data window, register 3, and "
                 "writing the access mode, register 4), **commands** (writes through the data window "
                 "beyond the payload: flash commands, buffer counts, the cart's unlock sequences), "
                 "**status polls, other reads** (reads through the data window beyond the payload: "
                 "status polls, the identification's query data, the backup's size probe, the save "
                 "probe), **control, detection** (control-only accesses such as the idle value, and "
                 "detection's read-backs). An SPP cycle's preparing accesses count with it.\n"
                 "- **estimate at 1 µs**: every port access taken as one microsecond of bus time; the "
                 "chips' own program and erase times come on top (the simulated chips stay busy for "
                 "1 status read after a program and 16 after an erase).\n"
                 "- **floor**: one port access per payload word or byte (the best a 16-bit EPP link "
                 "could do), same microsecond.\n"
                 "%s\n",
                 sppSame
                     ? ("- An SPP-only port works in SPP at every speed setting; its rows are measured at "
                        "speed \"4\". At the other speeds every command made at most " +
                        std::to_string(sppSpread) +
                        " accesses more or fewer, all in the adapter detection (which tries EPP with the "
                        "speed's form of register writes first).\n")
                           .c_str()
                     : "");

    Table counts({"Operation", "Cart", "Port, speed", "KiB", "port accesses", "per KiB", "data per KiB",
                  "overhead per KiB", "overhead", "address loads", "window selection, mode", "commands",
                  "status polls, other reads", "control, detection", "estimate at 1 µs", "floor"});
    auto share = [](long long part, long long all) {
        return all > 0 ? Fixed(100.0 * static_cast<double>(part) / static_cast<double>(all), 1) + " %"
                       : std::string("—");
    };
    for (const Cell& c : cells) {
        if (!shown(c)) continue;
        const long long all = c.run.accesses;
        const long long overhead = all - c.DataAccesses();
        const long long commands = c.decoded[DecodingPort::WindowWrite] - c.dataWrites;
        const long long polls = c.decoded[DecodingPort::WindowRead] - c.dataReads;
        if (commands < 0 || polls < 0)
            std::fprintf(stderr, "bench: %s: fewer data cycles than the payload needs\n", OpName(c.op));
        counts.Row({OpName(c.op), c.cart, settingLabel(c), c.kib > 0 ? Fixed(c.kib, 0) : "—",
                    c.run.ok ? Thousands(all) : "failed", PerKiB(all, c.kib), PerKiB(c.DataAccesses(), c.kib),
                    PerKiB(overhead, c.kib), share(overhead, all),
                    share(c.decoded[DecodingPort::AddressLoad], all),
                    share(c.decoded[DecodingPort::Select], all), share(commands, all), share(polls, all),
                    share(c.decoded[DecodingPort::Control], all), Ms(static_cast<double>(all) * 1e-6),
                    c.payloadUnits > 0 ? Ms(static_cast<double>(c.payloadUnits) * 1e-6) : "—"});
    }
    std::fprintf(out, "### Port accesses\n\n");
    counts.Print(out);

    Table host({"Operation", "Cart", "Port, speed", "host ns/access, simulated cart",
                "host ns/access, link only", "pumps", "longest stretch between pumps", "stretch budget",
                "allocations per 1000 accesses (busy)", "log lines (busy)"});
    for (const Cell& c : cells) {
        const long long budget = link.StretchBudget(c.mode, c.interleaved);
        const long long over = c.run.maxStretch - budget;
        const std::string where = std::string(OpName(c.op)) + ", " + c.cart + ", " + c.setting.Label();
        if (c.run.maxStretch > b.worstStretch) {
            b.worstStretch = c.run.maxStretch;
            b.worstStretchWhere = where;
        }
        b.worstStretchOver = std::max(b.worstStretchOver, over);
        if (over > 0)
            b.stretchMisses.push_back(where + ": " + Thousands(c.run.maxStretch) + " (budget " +
                                      Thousands(budget) + ")");
        const double allocsPer1000 = c.run.busyAccesses > 0
                                         ? 1000.0 * static_cast<double>(c.run.busyAllocations) /
                                               static_cast<double>(c.run.busyAccesses)
                                         : 0;
        const double logsPer1000 = c.run.busyAccesses > 0 ? 1000.0 * static_cast<double>(c.run.busyLogLines) /
                                                                static_cast<double>(c.run.busyAccesses)
                                                          : 0;
        if (allocsPer1000 > b.worstBusyAllocsPer1000) {
            b.worstBusyAllocsPer1000 = allocsPer1000;
            b.worstBusyAllocsWhere = where;
        }
        b.worstBusyLogsPer1000 = std::max(b.worstBusyLogsPer1000, logsPer1000);
        if (!shown(c)) continue;
        auto ns = link.opNs.find({c.op, c.interleaved, c.mode});
        host.Row({OpName(c.op), c.cart, settingLabel(c),
                  Fixed(c.run.cpu * 1e9 / static_cast<double>(std::max(1LL, c.run.accesses)), 2),
                  ns != link.opNs.end() ? Fixed(ns->second, 2) : "—", Thousands(c.run.pumps),
                  Thousands(c.run.maxStretch) + (over > 0 ? " **over**" : ""), Thousands(budget),
                  c.run.busyAccesses > 0
                      ? Fixed(allocsPer1000, 5) + " (" + Thousands(c.run.busyAllocations) + ")"
                      : "— (no busy phase)",
                  c.run.busyAccesses > 0 ? Thousands(c.run.busyLogLines) : "—"});
    }
    // A Stop that meets a chip which never gets ready: the erase of the first
    // block never ends, Stop is pressed while the program waits for it, and
    // the stop then waits the whole erase budget for the chip before it gives up.
    for (const auto& cart : carts) {
        for (const PortSetting& setting : AllPortSettings()) {
            SimSession ss(cart.model, setting);
            SimConfig stuck;
            stuck.model = cart.model;
            stuck.save = "64K";
            stuck.sppOnly = setting.sppOnlyPort;
            stuck.faultEraseStuckChunk = 0;
            ss.sim = std::make_unique<SimPort>(stuck);
            ss.s.Port = ss.sim.get();
            ss.ui.stopAtPump = 64;  // well inside the wait for the erase
            RunStats run = Measure(ss, [&] { return EraseFlashClick(ss.s); });
            if (run.pumps < ss.ui.stopAtPump)
                std::fprintf(stderr, "bench: the stuck erase on %s, %s ended before Stop\n", cart.model,
                             setting.Label().c_str());
            const LinkMode mode = ModeOf(setting);
            const long long budget = link.StretchBudget(mode, cart.interleaved);
            const long long over = run.maxStretch - budget;
            const std::string where =
                "erase stopped, chip never ready, " + std::string(cart.label) + ", " + setting.Label();
            if (run.maxStretch > b.worstStretch) {
                b.worstStretch = run.maxStretch;
                b.worstStretchWhere = where;
            }
            b.worstStretchOver = std::max(b.worstStretchOver, over);
            if (over > 0)
                b.stretchMisses.push_back(where + ": " + Thousands(run.maxStretch) + " (budget " +
                                          Thousands(budget) + ")");
            Cell shape{Op::Erase, cart.label, cart.interleaved, setting, mode, {}};
            if (!shown(shape)) continue;
            host.Row({"erase stopped, chip never ready", cart.label, settingLabel(shape),
                      Fixed(run.cpu * 1e9 / static_cast<double>(std::max(1LL, run.accesses)), 2), "—",
                      Thousands(run.pumps), Thousands(run.maxStretch) + (over > 0 ? " **over**" : ""),
                      Thousands(budget),
                      Fixed(1000.0 * static_cast<double>(run.busyAllocations) /
                                static_cast<double>(std::max(1LL, run.busyAccesses)),
                            5) +
                          " (" + Thousands(run.busyAllocations) + ")",
                      Thousands(run.busyLogLines)});
        }
    }
    std::fprintf(out, "### Host time, event pumps, allocations\n\n");
    std::fprintf(out,
                 "Host time is the CPU time of the whole command (file reads included) divided by its "
                 "port accesses; \"link only\" is the same operation's transfer routines over the "
                 "answering back end (previous section). A stretch is the number of port accesses "
                 "between two calls of the event pump (the command's start and end count as pumps); "
                 "its budget is the longer of one 32 KiB chunk read and 1024 polls for a free write "
                 "buffer in that mode. Allocations and log lines are counted while the window is busy "
                 "(from `BeginOperation` to `EndOperation`), with the count in parentheses; "
                 "identification has no busy phase of its own. The simulated cart's own work counts in "
                 "its host time: an erase clears 128 KiB of memory per chip, which is why erase "
                 "shows tens of nanoseconds per access. \"erase stopped, chip never ready\": the "
                 "erase of the first block never ends, Stop is pressed while it is awaited, and the "
                 "stop waits the whole erase budget (524,288 polls) for the chip before it gives "
                 "up.\n\n");
    host.Print(out);
}

}  // namespace rombolt::bench

#include "cli/commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/app_state.h"
#include "app/config.h"
#include "app/game_list.h"
#include "app/port_session.h"
#include "cli/cli_frontend.h"
#include "cli/digest.h"
#include "cli/findings.h"
#include "cli/header_report.h"
#include "cli/options.h"
#include "cli/path_guard.h"
#include "cli/port_test_cli.h"
#include "cli/prepared_digest.h"
#include "core/operation.h"
#include "core/visible_text.h"
#include "flash/identify.h"
#include "link/detect.h"
#include "ops/commands.h"
#include "ops/game_rows.h"
#include "ops/layout.h"
#include "ops/loaders.h"
#include "ops/saver.h"
#include "port/port_list.h"
#include "port/port_lock.h"
#include "port/port_open.h"
#include "port/trace_port.h"
#include "sim/cart_dir.h"
#include "sim/sim_port.h"

namespace rombolt::cli {

namespace {

namespace fs = std::filesystem;

// Messages carry file names: never let one reach the terminal raw.
void Error(const std::string& text) { std::fprintf(stderr, "rombolt: %s\n", VisibleText(text).c_str()); }

// Text from a file name, a header or a list file, for the terminal.
std::string Shown(const std::string& text) { return VisibleText(text); }

std::string Hex(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", v);
    return buf;
}

// Size of a regular file, or -1.
long long RegularFileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}

// Checks that a named input is a readable regular file; says why not.
bool ReadableFile(const std::string& path, const std::string& what) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        Error(what + " " + path + ": " + std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        Error(what + " " + path + ": not a regular file");
        return false;
    }
    if (::access(path.c_str(), R_OK) != 0) {
        Error(what + " " + path + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

// A loader file must be exactly 32768 bytes. The multi-game write finds out
// only when the loader's turn comes, with games already written before it.
bool LoaderFileSized(const std::string& path, const std::string& what) {
    const long long size = RegularFileSize(path);
    if (size == kLoaderSize) return true;
    Error(what + " " + path + ": " + std::to_string(size) + " bytes, a loader file holds " +
          std::to_string(kLoaderSize));
    return false;
}

// The loader files (from config.sav or the command line) that the
// multi-game write of this list will open: each must be of the right size
// before the cart is touched. Paths that open no file mean the built-in ones.
bool ListLoadersUsable(AppState& s) {
    const bool multi = s.GameList.size() > 1 || s.GbRowCount > 0;
    if (!multi) return true;
    struct Loader {
        bool needed;
        std::string path;
        const char* what;
    };
    for (const Loader& l : {Loader{s.GbaRowCount >= 2, s.Config.GbaLoaderFile.str(), "GBA loader file"},
                            Loader{s.GbRowCount > 0, s.Config.GbLoaderFile.str(), "GB loader file"}}) {
        std::error_code ec;
        if (!l.needed || l.path.empty() || fs::is_directory(l.path, ec)) continue;
        std::FILE* f = std::fopen(l.path.c_str(), "rb");
        if (f == nullptr) continue;
        std::fclose(f);
        if (!LoaderFileSized(l.path, l.what)) return false;
    }
    return true;
}

// One piece of data an operation moved, with its checksums.
struct Item {
    std::string name;
    std::string where;  // "at chunk 3", "saved", ...
    DigestText digest;
    std::int32_t chunk = -1;  // where a write or verify put it
};

// The checksums of the data an operation sent to the cart, item by item, in
// the order it sent them.
class SentDigests final : public SentDataSink {
public:
    void Item(std::int32_t) override { items_.emplace_back(); }
    void Data(const std::uint8_t* bytes, std::size_t n) override {
        if (!items_.empty()) items_.back().Update(bytes, n);
    }
    std::size_t Count() const { return items_.size(); }
    DigestText Take(std::size_t i) { return Finish(items_[i]); }

private:
    std::vector<Digest> items_;
};

}  // namespace

// Everything one run needs.
struct Session {
    Options opt;
    NullPort idle;  // the port until a cart is opened
    std::unique_ptr<AppState> state = std::make_unique<AppState>();
    std::unique_ptr<CliFrontend> ui;
    // The cart: its lock, back end and trace (the trace is flushed before the
    // back end goes, a simulated cart writes its files back before the lock
    // is given back).
    PortSession port;
    SimPort* sim = nullptr;      // the back end, when it is a simulated cart
    TracePort* trace = nullptr;  // the trace, when there is one
    SentDigests sent;
    OperationResult result;  // how the cart command ended
    std::string portText;
    std::vector<Item> items;
    std::vector<std::string> builtinLoaders;  // options of the loader files a multi-game write went without
    std::vector<std::string> notes;           // said on standard error once the run has ended
    AppState& s() { return *state; }
};

namespace {

// ---------------------------------------------------------------- settings

// config.sav of the working directory when present (never written), then the
// command-line overrides. False (message given) when an option cannot be used.
bool LoadSettings(Session& ss) {
    AppState& s = ss.s();
    const Options& o = ss.opt;
    std::error_code ec;
    std::string cwd = fs::current_path(ec).string();
    s.Config = DefaultConfig(cwd);
    s.ConfigPath = ConfigPath(cwd);
    s.ConfigWritable = false;
    if (fs::exists(s.ConfigPath, ec)) LoadConfig(s);
    RememberConfig(s);

    if (o.speedIndex) s.Config.SpeedIndex = static_cast<std::int8_t>(*o.speedIndex);
    if (o.verify) s.Config.VerifyAfterWrite = *o.verify ? 1 : 0;
    if (o.fix) s.Config.FixRom = *o.fix ? 1 : 0;
    if (o.cut32k) s.Config.Cut32K = *o.cut32k ? 1 : 0;
    if (o.skipUnchanged) s.SkipUnchanged = *o.skipUnchanged;
    if (o.ips) {
        if (!ReadableFile(*o.ips, "IPS file")) return false;
        // Asked for by name: a patch that cannot be used must not turn into an
        // unpatched write that reports success.
        std::string why;
        if (!IpsPatchUsable(*o.ips, why)) {
            Error("IPS file " + *o.ips + " cannot be used: " + why);
            return false;
        }
        s.Config.IpsApply = 1;
        s.PatchRequired = true;
    } else if (s.Config.IpsApply == 1 && (o.Is("write") || o.Is("verify"))) {
        std::fprintf(stderr,
                     "rombolt: \"IPS Apply\" is on in config.sav but no --ips FILE was given: no patch\n");
    }
    struct LoaderOption {
        const std::optional<std::string>& value;
        PathField& field;
        const char* what;
    };
    for (const LoaderOption& l : {LoaderOption{o.gbaLoader, s.Config.GbaLoaderFile, "GBA loader file"},
                                  LoaderOption{o.gbLoader, s.Config.GbLoaderFile, "GB loader file"}}) {
        if (!l.value) continue;
        if (!ReadableFile(*l.value, l.what) || !LoaderFileSized(*l.value, l.what)) return false;
        if (!l.field.set(*l.value)) {
            Error(std::string(l.what) + " " + *l.value + ": path longer than 259 characters");
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------- the cart

bool OpenCart(Session& ss) {
    AppState& s = ss.s();
    const Options& o = ss.opt;
    PortRequest request;
    request.simDir = o.simDir.value_or("");
    request.port = o.port.value_or("");
    request.trace = o.trace.value_or("");
    request.unlistedPort = o.unlistedPort;
    // The cart's lock first: a simulated cart's files are loaded under it and
    // written back before it is given back, and a real port is not touched
    // while another program holds it.
    ss.port = PortSession::Open(request, PortBaseForIndex(s.Config.PortIndex));
    PortSession& p = ss.port;
    if (!p.busy.empty()) {
        Error(o.simDir ? "simulated cart in " + *o.simDir + ": " + p.busy
                       : "port " + Hex(p.hardwareBase) + ": " + p.busy);
        return false;
    }
    switch (p.failed) {
        case PortSession::Step::None:
            break;
        case PortSession::Step::SimCreate:
        case PortSession::Step::SimOpen:
            Error("simulated cart " + *o.simDir + ": " + p.fatal);
            return false;
        case PortSession::Step::Trace:
            Error("trace file " + *o.trace + ": " + p.fatal);
            return false;
    }
    for (const std::string* line : {&p.message, &p.warning, &p.note})
        if (!line->empty()) LogLine(s, *line);
    ss.sim = p.sim;
    ss.trace = p.trace;
    ss.portText = o.simDir ? "simulated cart in " + *o.simDir : p.backend->Name();
    p.ApplyTo(s);
    ApplyPortSelection(s);
    return true;
}

// ---------------------------------------------------------------- game list

// The images of the command line, or the --list file, into the game list.
bool LoadGameList(Session& ss) {
    AppState& s = ss.s();
    const Options& o = ss.opt;
    if (o.list) {
        if (!ReadableFile(*o.list, "list file")) return false;
        int refused = 0;
        int rows = ReadListFile(s, *o.list, true, &refused);
        if (rows < 0) {
            Error("list file " + *o.list +
                  (rows == kListFileTooLarge ? ": larger than 16 MiB, not a list file" : " cannot be read"));
            return false;
        }
        // Every row asked for is written, or none: a row left out would
        // leave the cart without a game the list names.
        if (refused > 0) {
            Error("list file " + *o.list + ": " + std::to_string(refused) +
                  (refused == 1 ? " row was" : " rows were") + " refused (see the log)");
            return false;
        }
        if (s.GameList.empty()) {
            Error("list file " + *o.list + " holds no games");
            return false;
        }
    } else {
        for (const std::string& image : o.args) {
            if (!ReadableFile(image, "image")) return false;
            if (image.find_first_of("\r\n") != std::string::npos) {
                Error("image " + image + ": a name with a line break cannot go in the game list");
                return false;
            }
            std::error_code ec;
            fs::path p = fs::absolute(image, ec);
            if (ec) p = image;
            if (AddSelectedFiles(s, p.parent_path().string(), {p.filename().string()}) != 1) {
                Error("image " + image + " is not a cartridge image (shorter than 512 bytes, or unreadable)");
                return false;
            }
        }
    }
    UpdateListSize(s);
    return true;
}

// A --trace or --report path that is one of the files this run reads or
// writes, as a usage message; "" when there is none.
std::string RunFilesClash(Session& ss) {
    const Options& o = ss.opt;
    const AppState& s = ss.s();
    std::vector<NamedPath> outputs, files;
    if (o.trace) outputs.push_back({"--trace", *o.trace});
    if (o.report) outputs.push_back({"--report", *o.report});
    if (outputs.empty()) return "";
    for (const std::string& a : o.args) files.push_back({"file", a});
    for (const auto& [what, value] : {std::pair{"IPS file", &o.ips}, std::pair{"list file", &o.list}})
        if (*value) files.push_back({what, **value});
    files.push_back({"GBA loader file", s.Config.GbaLoaderFile.str()});
    files.push_back({"GB loader file", s.Config.GbLoaderFile.str()});
    files.push_back({"settings file", s.ConfigPath});
    for (const GameRow& r : s.GameList) files.push_back({"image", JoinPath(r.DirectoryPath, r.Name)});
    if (o.simDir)
        for (const char* name : {"cart.ini", "flash.bin", "save.bin", "flash.bin.tmp", "save.bin.tmp"})
            files.push_back({"simulated cart's file", (fs::path(*o.simDir) / name).string()});
    return PathClash(outputs, files);
}

// ---------------------------------------------------------------- results

// The report's "result:" line: a run that failed after the operation
// succeeded (the cart not saved, say) failed.
const char* ResultText(const Session& ss, bool ok) {
    if (g_interrupts) return "stopped";
    if (ok) return "ok";
    return ss.result.Ok() ? "failed" : OutcomeName(ss.result.Kind);
}

// The built-in loaders only show what the cart holds; a user who believes the
// cart now has a working menu learns otherwise before trying it.
void NoteBuiltinLoaders(const Session& ss) {
    if (ss.builtinLoaders.empty()) return;
    std::string options;
    for (const std::string& o : ss.builtinLoaders) options += (options.empty() ? "" : ", ") + o;
    std::fprintf(stderr,
                 "rombolt: note: the built-in boot loaders list the games on the cartridge but cannot start "
                 "them; write again with the loader files that came with the cartridge (%s)\n",
                 options.c_str());
}

void PrintItems(Session& ss) {
    for (const Item& it : ss.items) {
        std::fprintf(stderr, "%s: %llu bytes %s: CRC32 %s SHA-1 %s\n", Shown(it.name).c_str(),
                     static_cast<unsigned long long>(it.digest.bytes), it.where.c_str(),
                     it.digest.crc32.c_str(), it.digest.sha1.c_str());
        if (const std::string h = HeaderRepairText(ss.s(), it.chunk, it.digest); !h.empty())
            std::fprintf(stderr, "%s: header %s\n", Shown(it.name).c_str(), h.c_str());
    }
}

// Whether the log lines on standard output could not all be written (a full
// disk, /dev/full). A pipe whose reader went away (`| head -1`) is not a
// failure: the operation goes on, as a user who stopped reading wants.
bool LogWriteFailed() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return false;
    struct stat st {};
    return !(::fstat(1, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)));
}

// The report is written after the operation: a path it cannot be written to
// is found before the cart is touched.
bool ReportWritable(const std::string& path) {
    struct stat st {};
    std::string why;
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            why = "not a regular file";
        else if (::access(path.c_str(), W_OK) != 0)
            why = std::strerror(errno);
    } else if (errno != ENOENT) {
        why = std::strerror(errno);
    } else {
        std::error_code ec;
        fs::path folder = fs::absolute(path, ec).parent_path();
        if (::access(folder.c_str(), W_OK | X_OK) != 0) why = folder.string() + ": " + std::strerror(errno);
    }
    if (why.empty()) return true;
    Error("report file " + path + ": " + why);
    return false;
}

bool WriteReport(Session& ss, bool ok) {
    if (!ss.opt.report) return true;
    AppState& s = ss.s();
    std::FILE* f = std::fopen(ss.opt.report->c_str(), "w");
    if (!f) {
        Error("report file " + *ss.opt.report + ": " + std::strerror(errno));
        return false;
    }
    const CliFrontend& ui = *ss.ui;
    const std::string model = ss.result.CartModel.empty() ? "" : ss.result.CartModel + " Found";
    std::fprintf(f, "program: %s\n", VersionText());
    std::fprintf(f, "command: %s\n", ss.opt.commandName.c_str());
    std::fprintf(f, "result: %s\n", ResultText(ss, ok));
    std::fprintf(f, "port: %s, base %s, %s\n", ss.portText.c_str(), Hex(s.Link.DataPort).c_str(),
                 ui.PortMode().empty() ? "no adapter" : ui.PortMode().c_str());
    std::fprintf(f, "cart model: %s\n", model.empty() ? "not identified" : model.c_str());
    if (!model.empty())
        std::fprintf(
            f, "cart capacity: %u bytes%s\n", s.Cart.CapacityBytes,
            s.Cart.Interleaved ? (s.Cart.VelaLine ? ", two chips, Vela line" : ", two chips") : ", one chip");
    if (ss.opt.Is("backup") && ui.OfferedCartSizeIndex() >= 0)
        std::fprintf(f, "size offered: %s\nsize read: %s\n",
                     RomSizeText(32 << ui.OfferedCartSizeIndex()).c_str(),
                     RomSizeText(s.ChosenCartSize).c_str());
    std::fprintf(f, "time: %d Sec (%.3f s)\n", s.ElapsedSeconds, ui.BusySeconds());
    for (const Item& it : ss.items) {
        std::fprintf(f, "data: %s, %llu bytes %s, crc32 %s, sha1 %s\n", Shown(it.name).c_str(),
                     static_cast<unsigned long long>(it.digest.bytes), it.where.c_str(),
                     it.digest.crc32.c_str(), it.digest.sha1.c_str());
        if (const std::string h = HeaderRepairText(s, it.chunk, it.digest); !h.empty())
            std::fprintf(f, "header: %s, %s\n", Shown(it.name).c_str(), h.c_str());
    }
    ReportFindings(f, s);
    bool good = std::fclose(f) == 0;
    if (!good) Error("report file " + *ss.opt.report + ": write failed");
    return good;
}

// Bytes of the image file the pipeline has open (whole chunks), for the speed shown.
long long CurrentImagePassBytes(const AppState& s) {
    long long n = RegularFileSize(s.CurrentFilePath);
    if (n <= 0) return kChunkBytes;
    return (n + kChunkBytes - 1) / kChunkBytes * kChunkBytes;
}

// ---------------------------------------------------------------- commands

// A query, not a transfer: no operation frame, the record is kept by hand.
bool CmdInfo(Session& ss) {
    AppState& s = ss.s();
    s.Result = OperationResult{};
    BeginLogSection(s);
    ResetProgress(s);
    const bool detected = DetectAdapter(s) == 0;
    bool found = detected && IdentifyFlash(s) == 0;
    if (detected && !found) LogLine(s, "Flash not found!!!");
    if (detected) EndOperation(s);
    ss.result = s.Result;
    ss.result.Kind = found && !s.Result.PortFailed ? OutcomeKind::Ok : OutcomeKind::Failed;
    if (!detected) return false;
    // With speed "1" the port mode shown stays "EPP" while every transfer uses SPP cycles.
    std::fprintf(stderr, "adapter: found on %s, %s port, transfers in %s cycles\n", ss.portText.c_str(),
                 ss.ui->PortMode().c_str(), s.Link.SppMode ? "SPP" : "EPP");
    if (found)
        std::fprintf(stderr, "flash: %u MiB, %s\n", s.Cart.CapacityBytes >> 20,
                     s.Cart.Interleaved
                         ? (s.Cart.VelaLine ? "two chips interleaved, Vela line" : "two chips interleaved")
                         : "one chip");
    return found;
}

// Checksums of every image (and loader) that the write or verify moved, as
// they went to the cart, named in the order the operation sent them.
void CollectWriteItems(Session& ss, bool multi) {
    AppState& s = ss.s();
    std::size_t next = 0;
    auto add = [&](const std::string& name, int chunk) {
        if (next >= ss.sent.Count()) {
            Error("checksum of " + name + ": its data were not sent");
            return;
        }
        ss.items.push_back({name, "at chunk " + std::to_string(chunk), ss.sent.Take(next++), chunk});
    };
    if (!multi) {
        add(s.GameList[0].Name, 0);
        return;
    }
    for (const MapItem& item : MapItems(s)) {
        const int c = item.chunk;
        const std::uint8_t v = item.value;
        if (item.IsLoader()) {
            // Named as the write chose it: the loader file when it opens.
            const bool gba = v == ChunkGbaLoader;
            const std::string path = gba ? s.Config.GbaLoaderFile.str() : s.Config.GbLoaderFile.str();
            std::error_code ec;
            std::FILE* f = nullptr;
            if (!path.empty() && !fs::is_directory(path, ec)) f = std::fopen(path.c_str(), "rb");
            if (f) std::fclose(f);
            if (!f) ss.builtinLoaders.push_back(gba ? "--gba-loader FILE" : "--gb-loader FILE");
            add(std::string(gba ? "GBA Loader" : "GB Loader") + (f ? " " + path : " (built-in)"), c);
            continue;
        }
        if (v >= s.GameList.size()) continue;
        add(s.GameList[v].Name, c);
    }
}

// The game list is loaded before the cart is opened (see Run).
bool CmdWriteVerify(Session& ss, bool verify) {
    AppState& s = ss.s();
    ss.ui->SetPassBytes([&s] { return CurrentImagePassBytes(s); });
    const bool multi = s.GameList.size() > 1 || s.GbRowCount > 0;
    s.SentData = &ss.sent;
    ss.result = verify ? VerifyClick(s) : WriteClick(s);
    s.SentData = nullptr;
    const bool ok = ss.result.Ok();
    if (ok) CollectWriteItems(ss, multi);
    return ok;
}

bool CmdBackup(Session& ss) {
    AppState& s = ss.s();
    s.RawBackup = ss.opt.raw;
    ss.ui->SetPassBytes([&s] { return static_cast<long long>(s.ChosenCartSize) * kChunkBytes; });
    s.SentData = &ss.sent;  // the sums of the data as they were written
    ss.result = ReadClick(s);
    s.SentData = nullptr;
    const bool ok = ss.result.Ok();
    if (ok && ss.sent.Count() == 1) ss.items.push_back({ss.opt.args[0], "saved", ss.sent.Take(0)});
    return ok;
}

// Bank code of a save memory unit as the dialog shows it: 1A1 .. 4B4.
std::string UnitCode(int unit) {
    return {static_cast<char>('1' + unit / 8), static_cast<char>('A' + (unit / 4) % 2),
            static_cast<char>('1' + unit % 4)};
}

// After a save restore that failed or was stopped: which units now hold the
// file's data, so the user knows what the save memory holds.
std::string RestoredUnitsNote(const AppState& s, const std::string& file) {
    const int first = s.Saver.StartUnit;
    const int done = s.RestoredUnits;
    if (done == 0 && !s.RestoredPartOfUnit) return "save memory: no unit was changed";
    std::string text = "save memory: ";
    if (done > 0)
        text += (done == 1 ? "unit " + UnitCode(first)
                           : "units " + UnitCode(first) + "-" + UnitCode(first + done - 1)) +
                " hold the first " + std::to_string(done * 8) + " KiB of " + file;
    if (s.RestoredPartOfUnit)
        text += std::string(done > 0 ? "; " : "") + "unit " + UnitCode(first + done) +
                " may hold part of the next 8 KiB";
    if (s.RestoreMismatchUnit >= 0)
        text += "; but unit " + UnitCode(first + s.RestoreMismatchUnit) + " did not read back as the file";
    return text + "; the other units are unchanged";
}

bool CmdSave(Session& ss, bool restore) {
    AppState& s = ss.s();
    ss.ui->SetPassBytes([&s] { return static_cast<long long>(s.Saver.UnitCount) * 8192; });
    s.SentData = &ss.sent;
    ss.result = restore ? SWriteClick(s) : SReadClick(s);
    s.SentData = nullptr;
    const int idx = *ss.opt.saveSizeIndex;
    const bool ok = ss.result.Ok();
    const std::string& file = ss.opt.args[0];
    if (ok && restore && ss.sent.Count() == 1) {
        ss.items.push_back({file, "written", ss.sent.Take(0)});
        // A file shorter than the size chosen fills only the first units.
        const long long units = RegularFileSize(file) / 8192;
        const int chosen = kSaverSizes[static_cast<std::size_t>(idx)].units;
        if (units > 0 && units < chosen)
            ss.notes.push_back("save memory: " + file + " filled " + std::to_string(units * 8) +
                               " KiB from unit " + UnitCode(s.Saver.StartUnit) + "; the other " +
                               std::to_string((chosen - units) * 8) + " KiB of the " +
                               kSaverSizes[static_cast<std::size_t>(idx)].item + " were left as they were");
    } else if (ok && !restore && ss.sent.Count() == 1) {
        ss.items.push_back({file, "saved", ss.sent.Take(0)});
    } else if (restore) {
        ss.notes.push_back(RestoredUnitsNote(s, file));
    }
    return ok;
}

bool CmdErase(Session& ss) {
    AppState& s = ss.s();
    ss.ui->SetPassBytes([&s] { return static_cast<long long>(s.Cart.CapacityBytes); });
    ss.result = EraseFlashClick(s);
    return ss.result.Ok();
}

// ---------------------------------------------------------------- no hardware

const char* LayoutFailure(int r) {
    switch (r) {
        case -1:
            return "too large for this cart, or 100 games or more";
        case kLayoutTooManyGba:
            return "too many GBA games for this cart";
        case kLayoutNoPlace:
            return "a game finds no place";
        default:
            return "does not fit";
    }
}

void PrintChunkMap(const AppState& s) {
    int c = 0;
    while (c < kMapChunks && s.ChunkMap[c] != ChunkEnd) {
        const std::uint8_t v = s.ChunkMap[c];
        int e = c;
        while (e + 1 < kMapChunks && s.ChunkMap[e + 1] == v) ++e;
        std::string range = c == e ? std::to_string(c) : std::to_string(c) + "-" + std::to_string(e);
        std::string what;
        if (v == ChunkFree)
            what = "free";
        else if (v == ChunkGbaLoader)
            what = "GBA Loader";
        else if (v == ChunkGbLoader)
            what = "GB Loader";
        else if (v < s.GameList.size())
            what = "row " + std::to_string(v + 1) + " " + Shown(s.GameList[v].Name);
        else
            what = "row " + std::to_string(v + 1);
        std::printf("  %-11s %s\n", range.c_str(), what.c_str());
        c = e + 1;
    }
}

bool CmdLayout(Session& ss) {
    AppState& s = ss.s();
    if (!LoadGameList(ss)) return false;
    std::printf("Games:\n");
    for (std::size_t i = 0; i < s.GameList.size(); ++i) {
        const GameRow& r = s.GameList[i];
        std::string inCart = i < 100 ? std::to_string(s.RowSizes[i]) : "-";
        std::printf("  %zu. %s  size %s  in cart %s  %s  %s\n", i + 1, Shown(r.Name).c_str(),
                    Shown(r.Size).c_str(), inCart.c_str(),
                    r.GType.empty() ? "(no known header)" : Shown(r.GType).c_str(),
                    Shown(r.GameName).c_str());
    }
    std::printf("%s\n", ListSizePanelText(s).c_str());
    std::printf("%s\n", s.FitNote.empty() ? "Fits none of the cart models" : s.FitNote.c_str());
    for (const CartModel& m : CartModels()) {
        if (*m.LayoutName == '\0') continue;
        int r = LayoutCart(s, m.Layout);
        if (r != 0) {
            std::printf("%s: does not fit (%s)\n", m.LayoutName, LayoutFailure(r));
            continue;
        }
        std::printf("%s:\n", m.LayoutName);
        PrintChunkMap(s);
    }
    return true;
}

bool CmdHeader(Session& ss) {
    bool allGood = true;
    for (const std::string& image : ss.opt.args) {
        HeaderReport h = ReadHeaderReport(image);
        std::printf("%s\n", FormatHeaderReport(image, h).c_str());
        if (!h.Good()) allGood = false;
    }
    return allGood;
}

bool CmdSimCreate(Session& ss) {
    const Options& o = ss.opt;
    if (o.romFile && !ReadableFile(*o.romFile, "ROM file")) return false;
    std::string error;
    if (!CreateSimCart(o.args[0], *o.model, o.saveModel.value_or(""), o.romFile.value_or(""), error)) {
        Error("sim create " + o.args[0] + ": " + error);
        return false;
    }
    return true;
}

bool CmdPorts(Session&) {
    auto ports = ListParallelPorts();
    if (ports.empty()) {
        std::fprintf(
            stderr,
            "No parallel ports found: load the drivers (`sudo modprobe parport_pc ppdev`), then look "
            "again\n");
        return true;
    }
    for (const auto& p : ports)
        std::printf("LPT%d  %s  %s  %s\n", p.number, p.base ? Hex(p.base).c_str() : "-",
                    p.device.empty() ? "-" : p.device.c_str(), p.modes.empty() ? "-" : p.modes.c_str());
    return true;
}

int Run(Session& ss) {
    const Options& o = ss.opt;
    const CommandSpec& c = *o.command;
    if (c.needs == Needs::Nothing || c.needs == Needs::Port) return c.run(ss) ? kExitOk : kExitFailed;

    const bool progress = !o.quiet && isatty(2);
    CliFrontend::Answers answers;
    answers.yes = o.yes;
    answers.ipsFile = o.ips;
    answers.cartSizeChunks = o.romSizeChunks;
    if (c.args == Args::OneOutput) answers.saveFile = o.args[0];
    if (c.args == Args::OneInput) answers.openFile = o.args[0];
    if (c.size == SizeArg::SaveSize) answers.saver = {o.saveStartUnit, o.saveSizeIndex.value_or(-1)};
    answers.saveBackup = o.Is("save-backup");
    // A command without a cart prints a report on stdout; its log goes to stderr.
    ss.ui = std::make_unique<CliFrontend>(ss.s(), answers, progress, c.needs == Needs::Settings);
    AppState& s = ss.s();
    s.UI = ss.ui.get();
    s.Port = &ss.idle;
    if (!LoadSettings(ss)) return kExitFailed;

    if (c.needs == Needs::Settings) return c.run(ss) ? kExitOk : kExitFailed;

    // Images and loader files are checked before the port is touched.
    if (c.args == Args::ImagesOrList && (!LoadGameList(ss) || !ListLoadersUsable(ss.s()))) return kExitFailed;
    if (const std::string clash = RunFilesClash(ss); !clash.empty()) {
        Error(clash);
        return kExitUsage;
    }
    if (o.report && !ReportWritable(*o.report)) return kExitFailed;
    if (o.Is("backup") || o.Is("save-backup"))
        if (const std::string why = BackupOutputRefusal(o.args[0]); !why.empty()) {
            Error(why);
            return kExitFailed;
        }
    if (!OpenCart(ss)) return kExitFailed;
    bool ok = c.run(ss);
    // The cart's files are written back while the lock is still held.
    std::string notSaved;
    if (ss.sim && !ss.sim->Flush(notSaved)) {
        ok = false;
        // Nothing of the run reached the cart's files: no note may say otherwise.
        if (o.Is("save-restore"))
            ss.notes = {"save memory: unchanged, the simulated cart's files were not written"};
    }
    if (g_interrupts || ss.result.PortFailed) ok = false;
    ss.ui->ClearProgressLine(ok);
    if (!notSaved.empty()) Error("simulated cart " + *o.simDir + " not saved: " + notSaved);
    // A script sees why the run failed in one line: the status panel's last
    // verdict, or the operation's last message, with the numbers behind it.
    if (!ok) {
        for (const std::string& l : FailureFindingLines(s)) Error(l);
        if (const std::string why = FailureLine(s, ss.result.Status, ss.ui->LastLogLine()); !why.empty())
            Error(why);
    }
    for (const std::string& note : ss.notes) Error(note);
    if (ok) PrintItems(ss);
    if (const std::string v = VerifyPassesText(s); !v.empty())
        std::fprintf(stderr, "verify: %s\n", v.c_str());
    if (ok && o.Is("write")) NoteBuiltinLoaders(ss);
    if (LogWriteFailed() && ok) {
        Error("standard output: the log could not be written");
        ok = false;
    }
    if (ss.trace && !ss.trace->Close()) {
        Error("trace file " + *o.trace + ": write failed");
        ok = false;
    }
    if (!WriteReport(ss, ok)) ok = false;
    return ok ? kExitOk : kExitFailed;
}

}  // namespace

std::span<const CommandSpec> Commands() {
    // clang-format off
    static constexpr CommandSpec kCommands[] = {
        {"info", Args::None, "", nullptr, SizeArg::None, Needs::Cart, CmdInfo},
        {"write", Args::ImagesOrList, "--list --report", nullptr, SizeArg::None, Needs::Cart,
         [](Session& ss) { return CmdWriteVerify(ss, false); }},
        {"verify", Args::ImagesOrList, "--list --report", nullptr, SizeArg::None, Needs::Cart,
         [](Session& ss) { return CmdWriteVerify(ss, true); }},
        {"backup", Args::OneOutput, "--size --raw --report", nullptr, SizeArg::RomSize, Needs::Cart, CmdBackup},
        {"save-backup", Args::OneOutput, "--size --bank --report", nullptr,
         SizeArg::SaveSize, Needs::Cart, [](Session& ss) { return CmdSave(ss, false); }},
        {"save-restore", Args::OneInput, "--size --bank --report", "--size 8K|32K|64K|128K|256K",
         SizeArg::SaveSize, Needs::Cart, [](Session& ss) { return CmdSave(ss, true); }},
        {"erase", Args::None, "", nullptr, SizeArg::None, Needs::Cart, CmdErase},
        {"layout", Args::ImagesOrList, "--list", nullptr, SizeArg::None, Needs::Settings, CmdLayout},
        {"header", Args::Images, "", nullptr, SizeArg::None, Needs::Nothing, CmdHeader},
        {"sim create", Args::OneDirectory, "--model --save --rom", "--model MODEL", SizeArg::None, Needs::Nothing,
         CmdSimCreate},
        {"ports", Args::None, "", nullptr, SizeArg::None, Needs::Nothing, CmdPorts},
        {"port-test", Args::None, "", nullptr, SizeArg::None, Needs::Port,
         [](Session& ss) { return RunPortTest(ss.opt) == 0; }},
    };
    // clang-format on
    return kCommands;
}

int RunCli(const std::vector<std::string>& argv) {
    ParseResult p = ParseCommandLine(argv);
    if (!p.error.empty()) {
        Error(p.error + " (see 'rombolt --help')");
        return kExitUsage;
    }
    if (p.options.help) {
        std::fputs(HelpText(), stdout);
        return kExitOk;
    }
    if (p.options.version) {
        std::printf("%s\n", VersionText());
        return kExitOk;
    }
    Session ss;
    ss.opt = std::move(p.options);
    int rc = Run(ss);
    // The log is the run's account: when it could not be written, the run
    // did not succeed (standard output on a full disk, /dev/full).
    if (LogWriteFailed() && rc == kExitOk) {
        Error("standard output: the log could not be written");
        rc = kExitFailed;
    }
    return rc;
}

}  // namespace rombolt::cli

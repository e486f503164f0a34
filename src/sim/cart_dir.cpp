#include "sim/cart_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>

#include "port/exit_cleanup.h"

namespace rombolt {

namespace {

constexpr std::uint64_t kMaxCartIniBytes = 65536;

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// Decimal, or hex with a 0x prefix; optional leading minus.
bool ParseNumber(const std::string& text, long long& out) {
    std::string t = Trim(text);
    bool neg = false;
    if (!t.empty() && t[0] == '-') {
        neg = true;
        t = t.substr(1);
    }
    if (t.empty()) return false;
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t = t.substr(2);
    }
    long long v = 0;
    for (char ch : t) {
        int d;
        if (ch >= '0' && ch <= '9')
            d = ch - '0';
        else if (base == 16 && ch >= 'a' && ch <= 'f')
            d = ch - 'a' + 10;
        else if (base == 16 && ch >= 'A' && ch <= 'F')
            d = ch - 'A' + 10;
        else
            return false;
        v = v * base + d;
        if (v > (1LL << 40)) return false;
    }
    out = neg ? -v : v;
    return true;
}

bool ParseBool(const std::string& v, bool& out) {
    if (v == "yes" || v == "true" || v == "on" || v == "1") {
        out = true;
        return true;
    }
    if (v == "no" || v == "false" || v == "off" || v == "0") {
        out = false;
        return true;
    }
    return false;
}

std::string Join(const std::vector<std::string>& v) {
    std::string out;
    for (auto& s : v) out += (out.empty() ? "" : ", ") + s;
    return out;
}

std::string Hex(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(v));
    return buf;
}

const char* const kKeys[] = {"model",
                             "save",
                             "bases",
                             "spp_only",
                             "epp_only",
                             "adapter",
                             "busy_program",
                             "busy_erase",
                             "fault_program_error_chunk",
                             "fault_erase_stuck_chunk",
                             "fault_locked_chunk",
                             "fault_flip_every",
                             "fault_vanish_after",
                             "noise_seed"};

// Whether a ROM file of `size` bytes suits the cart: a mask ROM holds 1 byte
// to 32 MiB, a flash cart at most its capacity.
bool CheckRomSize(const std::string& romFile, std::uintmax_t size, const std::string& model,
                  const SimModelInfo& info, std::string& error) {
    if (info.kind == SimModelInfo::Kind::Rom && (size == 0 || size > 0x2000000)) {
        error = romFile + ": a mask ROM must hold 1 byte to 32 MiB";
        return false;
    }
    if (info.kind == SimModelInfo::Kind::Flash && size > info.capacityBytes) {
        error = romFile + ": " + std::to_string(size) + " bytes do not fit a " + model + " cart (" +
                std::to_string(info.capacityBytes) + " bytes)";
        return false;
    }
    return true;
}

}  // namespace

bool ParseCartIni(const std::string& text, SimConfig& config, std::string& error) {
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    std::set<std::string> seen;
    auto fail = [&](const std::string& msg) {
        error = "cart.ini line " + std::to_string(lineNo) + ": " + msg;
        return false;
    };
    while (std::getline(in, line)) {
        ++lineNo;
        const std::string t = Trim(line);
        if (t.empty() || t[0] == '#' || t[0] == ';') continue;
        const auto eq = t.find('=');
        if (eq == std::string::npos) return fail("expected `key = value`, got \"" + t + "\"");
        const std::string key = Trim(t.substr(0, eq));
        const std::string value = Trim(t.substr(eq + 1));
        if (!seen.insert(key).second) return fail("key '" + key + "' given twice");

        auto number = [&](long long lo, long long hi, long long& out) {
            if (!ParseNumber(value, out) || out < lo || out > hi) {
                fail(key + " = \"" + value + "\": expected a number from " + std::to_string(lo) + " to " +
                     std::to_string(hi));
                return false;
            }
            return true;
        };
        long long n = 0;
        if (key == "model") {
            SimModelInfo info;
            if (!LookupSimModel(value, info))
                return fail("unknown model \"" + value + "\" (known: " + Join(SimModelNames()) + ")");
            config.model = value;
        } else if (key == "save") {
            if (SaveSizeBytes(value) < 0)
                return fail("unknown save size \"" + value + "\" (known: " + Join(SimSaveNames()) + ")");
            config.save = value;
        } else if (key == "bases") {
            std::vector<int> bases;
            std::string item;
            std::istringstream list(value);
            while (std::getline(list, item, ',')) {
                item = Trim(item);
                if (item.empty()) continue;
                long long b;
                if (!ParseNumber(item, b) || b < 0 || b > 0xFFFB)
                    return fail("bases: \"" + item + "\" is not a port address");
                bases.push_back(static_cast<int>(b));
            }
            if (bases.empty() || bases.size() > 8) return fail("bases: give one to eight port addresses");
            config.bases = bases;
        } else if (key == "spp_only") {
            if (!ParseBool(value, config.sppOnly))
                return fail("spp_only = \"" + value + "\": expected yes or no");
        } else if (key == "epp_only") {
            if (!ParseBool(value, config.eppOnly))
                return fail("epp_only = \"" + value + "\": expected yes or no");
        } else if (key == "adapter") {
            if (value == "present")
                config.adapterPresent = true;
            else if (value == "absent")
                config.adapterPresent = false;
            else
                return fail("adapter = \"" + value + "\": expected present or absent");
        } else if (key == "busy_program") {
            if (!number(0, 100000000, n)) return false;
            config.busyProgram = static_cast<int>(n);
        } else if (key == "busy_erase") {
            if (!number(0, 100000000, n)) return false;
            config.busyErase = static_cast<int>(n);
        } else if (key == "fault_program_error_chunk") {
            if (!number(-1, 1023, n)) return false;
            config.faultProgramErrorChunk = static_cast<int>(n);
        } else if (key == "fault_erase_stuck_chunk") {
            if (!number(-1, 1023, n)) return false;
            config.faultEraseStuckChunk = static_cast<int>(n);
        } else if (key == "fault_locked_chunk") {
            if (!number(-1, 1023, n)) return false;
            config.faultLockedChunk = static_cast<int>(n);
        } else if (key == "fault_flip_every") {
            if (!number(0, 1LL << 40, n)) return false;
            config.faultFlipEvery = static_cast<long>(n);
        } else if (key == "fault_vanish_after") {
            if (!number(0, 1LL << 40, n)) return false;
            config.faultVanishAfter = static_cast<long>(n);
        } else if (key == "noise_seed") {
            if (!number(1, 0xFFFFFFFFLL, n)) return false;
            config.noiseSeed = static_cast<std::uint32_t>(n);
        } else {
            std::vector<std::string> keys(std::begin(kKeys), std::end(kKeys));
            return fail("unknown key '" + key + "' (known keys: " + Join(keys) + ")");
        }
    }
    if (!seen.count("model")) {
        lineNo = 0;
        error = "cart.ini: no `model = ...` line (known models: " + Join(SimModelNames()) + ")";
        return false;
    }
    if (config.sppOnly && config.eppOnly) {
        lineNo = 0;
        error = "cart.ini: spp_only and epp_only together leave the adapter no way to answer";
        return false;
    }
    if (!seen.count("save")) config.save = "none";
    return true;
}

bool LoadCartIni(const std::string& path, SimConfig& config, std::string& error) {
    std::vector<std::uint8_t> bytes;
    bool found = false;
    if (!ReadWholeFile(path, bytes, found, error, kMaxCartIniBytes)) return false;
    if (!found) {
        error = path + ": no such file (create a simulated cart first)";
        return false;
    }
    if (!ParseCartIni(std::string(bytes.begin(), bytes.end()), config, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

std::string CartIniText(const SimConfig& c) {
    std::string out;
    out += "# Simulated Rombolt cart. Keys are described in docs/simulator.md.\n";
    out += "model = " + c.model + "\n";
    out += "save = " + c.save + "\n";
    std::string bases;
    for (int b : c.bases) bases += (bases.empty() ? "" : ", ") + Hex(b);
    out += "bases = " + bases + "\n";
    out += std::string("spp_only = ") + (c.sppOnly ? "yes" : "no") + "\n";
    out += std::string("epp_only = ") + (c.eppOnly ? "yes" : "no") + "\n";
    out += std::string("adapter = ") + (c.adapterPresent ? "present" : "absent") + "\n";
    out += "busy_program = " + std::to_string(c.busyProgram) + "\n";
    out += "busy_erase = " + std::to_string(c.busyErase) + "\n";
    out += "fault_program_error_chunk = " + std::to_string(c.faultProgramErrorChunk) + "\n";
    out += "fault_erase_stuck_chunk = " + std::to_string(c.faultEraseStuckChunk) + "\n";
    out += "fault_locked_chunk = " + std::to_string(c.faultLockedChunk) + "\n";
    out += "fault_flip_every = " + std::to_string(c.faultFlipEvery) + "\n";
    out += "fault_vanish_after = " + std::to_string(c.faultVanishAfter) + "\n";
    return out;
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, bool& found, std::string& error,
                   std::uint64_t maxBytes) {
    found = false;
    bytes.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (errno == ENOENT) return true;
        error = path + ": " + std::strerror(errno);
        return false;
    }
    found = true;
    const std::string tooLarge = path + ": larger than " + std::to_string(maxBytes) + " bytes";
    // Sized before it is read: a huge (or sparse) file must not be taken
    // into memory. A device has no size; its reading stops at the limit.
    struct stat st {};
    if (::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        std::fclose(f);
        error = tooLarge;
        return false;
    }
    std::uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        bytes.insert(bytes.end(), buf, buf + n);
        if (bytes.size() > maxBytes) {
            std::fclose(f);
            bytes.clear();
            error = tooLarge;
            return false;
        }
    }
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) {
        error = path + ": read error";
        return false;
    }
    return true;
}

bool ReadFileInto(const std::string& path, std::uint8_t* data, std::size_t size, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    int err = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, data + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            err = got < 0 ? errno : 0;
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    char extra = 0;
    const bool longer = done == size && ::read(fd, &extra, 1) == 1;
    ::close(fd);
    if (done == size && !longer) return true;
    error = path + ": " + (err != 0 ? std::strerror(err) : "changed its length while being read");
    return false;
}

namespace {

// Makes the side file `tmp` as a new file of its own: never through a link
// planted under its name, never into a file someone else made there. A plain
// file of this user with no other name is a leftover of a run that was
// killed, and is replaced; anything else under the name is refused.
std::FILE* CreateSideFile(const std::string& tmp, std::string& error) {
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(tmp.c_str(), kFlags, 0666);
    if (fd < 0 && errno == EEXIST) {
        struct stat st {};
        if (::lstat(tmp.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
            st.st_uid == ::geteuid() && ::unlink(tmp.c_str()) == 0) {
            fd = ::open(tmp.c_str(), kFlags, 0666);
        } else {
            error = tmp + ": something else is already there (" +
                    (S_ISLNK(st.st_mode) ? std::string("a link") : std::string("not a leftover file")) +
                    "); remove it";
            return nullptr;
        }
    }
    if (fd < 0) {
        error = tmp + ": " + std::strerror(errno);
        return nullptr;
    }
    std::FILE* f = ::fdopen(fd, "wb");
    if (f == nullptr) {
        error = tmp + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(tmp.c_str());
    }
    return f;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                         std::string& error) {
    const std::string tmp = path + ".tmp";
    std::FILE* f = CreateSideFile(tmp, error);
    if (!f) return false;
    struct Unregister {
        int slot;
        ~Unregister() { UnregisterExit(slot); }
    } exitUnlink{RegisterExitUnlink(tmp)};
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fflush(f) == 0 && ok;
    ok = ::fsync(::fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        error = tmp + ": write failed: " + std::strerror(errno);
        std::remove(tmp.c_str());
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        error = path + ": " + ec.message();
        std::remove(tmp.c_str());
        return false;
    }
    // The new name lasts too, not only the new data.
    const std::string dir = std::filesystem::path(path).parent_path().string();
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return true;
}

bool CreateSimCart(const std::string& dir, const std::string& model, const std::string& save,
                   const std::string& romFile, std::string& error) {
    SimModelInfo info;
    if (!LookupSimModel(model, info)) {
        error = "unknown model \"" + model + "\" (known: " + Join(SimModelNames()) + ")";
        return false;
    }
    // The Vela line test reads save memory: a Vela cart without it would
    // pass for a Strata one.
    const std::string saveSize = save.empty() ? (info.vela ? "64K" : "none") : save;
    if (info.vela && saveSize == "none") {
        error = model + " needs save memory (its line test reads it): give --save 32K..256K";
        return false;
    }
    const long saveBytes = SaveSizeBytes(saveSize);
    if (saveBytes < 0) {
        error = "unknown save size \"" + saveSize + "\" (known: " + Join(SimSaveNames()) + ")";
        return false;
    }
    if (info.kind == SimModelInfo::Kind::Rom && romFile.empty()) {
        error = "a `rom` cart needs a ROM file";
        return false;
    }
    std::vector<std::uint8_t> rom;
    if (!romFile.empty()) {
        // Sized before it is read: a file too large for the cart is refused
        // without taking it into memory.
        std::error_code ec;
        const std::uintmax_t size = std::filesystem::file_size(romFile, ec);
        if (!ec && !CheckRomSize(romFile, size, model, info, error)) return false;
        bool found = false;
        if (!ReadWholeFile(romFile, rom, found, error)) return false;
        if (!found) {
            error = romFile + ": no such file";
            return false;
        }
        if (!CheckRomSize(romFile, rom.size(), model, info, error)) return false;
    }

    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = dir + ": " + ec.message();
        return false;
    }
    if (std::filesystem::exists(dir + "/cart.ini", ec)) {
        error = dir + ": already holds a simulated cart (cart.ini exists)";
        return false;
    }

    if (info.kind == SimModelInfo::Kind::Flash) {
        std::vector<std::uint8_t> flash(info.capacityBytes, 0xFF);
        std::copy(rom.begin(), rom.end(), flash.begin());
        if (!WriteFileAtomically(dir + "/flash.bin", flash, error)) return false;
    } else if (info.kind == SimModelInfo::Kind::Rom) {
        if (!WriteFileAtomically(dir + "/flash.bin", rom, error)) return false;
    }
    if (saveBytes > 0) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(saveBytes), 0xFF);
        if (!WriteFileAtomically(dir + "/save.bin", bytes, error)) return false;
    }
    SimConfig config;
    config.model = model;
    config.save = saveSize;
    const std::string ini = CartIniText(config);
    // cart.ini last: a directory with a cart.ini is a complete cart.
    return WriteFileAtomically(dir + "/cart.ini", std::vector<std::uint8_t>(ini.begin(), ini.end()), error);
}

}  // namespace rombolt

#include "app/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/operation.h"
#include "port/ioport.h"

namespace rombolt {

namespace {

namespace off = config_offset;

void PutI32(ConfigBytes& b, int at, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(u >> (8 * i));
}

std::int32_t GetI32(const ConfigBytes& b, int at) {
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u |= static_cast<std::uint32_t>(b[at + i]) << (8 * i);
    return static_cast<std::int32_t>(u);
}

void PutField(ConfigBytes& b, int at, const PathField& f) {
    for (int i = 0; i < kPathFieldSize; ++i) b[at + i] = static_cast<std::uint8_t>(f.bytes[i]);
}

void GetField(const ConfigBytes& b, int at, PathField& f) {
    for (int i = 0; i < kPathFieldSize; ++i) f.bytes[i] = static_cast<char>(b[at + i]);
}

// A string field copied up to and including its terminator; the bytes after
// it in the target stay as they are.
void CopyString(PathField& to, const PathField& from) { to.set(from.str()); }

// Stores text in a field, or records the field as refused when it does not fit.
void StorePath(PathField& f, const std::string& text, const char* name, RefusedFields& refused) {
    if (!f.set(text)) refused.emplace_back(name);
}

bool PathExists(const std::string& p) {
    if (p.empty()) return false;
    std::error_code ec;
    return std::filesystem::exists(p, ec);
}

bool IsDirectory(const std::string& p) {
    std::error_code ec;
    return std::filesystem::is_directory(p, ec);
}

}  // namespace

ConfigBytes SerializeConfig(const ConfigRecord& r) {
    ConfigBytes b{};
    b[off::PortIndex] = r.PortIndex;
    PutField(b, off::LastOpenFile, r.LastOpenFile);
    PutField(b, off::LastSaveFile, r.LastSaveFile);
    for (int i = 0; i < 3; ++i) b[off::Reserved1 + i] = r.Reserved1[i];
    PutI32(b, off::WindowHeight, r.WindowHeight);
    PutI32(b, off::WindowWidth, r.WindowWidth);
    b[off::SpeedIndex] = static_cast<std::uint8_t>(r.SpeedIndex);
    PutField(b, off::GbaLoaderFile, r.GbaLoaderFile);
    b[off::IpsApply] = r.IpsApply;
    b[off::VerifyAfterWrite] = r.VerifyAfterWrite;
    b[off::FixRom] = r.FixRom;
    PutField(b, off::CurrentDirectory, r.CurrentDirectory);
    b[off::Cut32K] = r.Cut32K;
    PutField(b, off::GbLoaderFile, r.GbLoaderFile);
    for (int i = 0; i < 3; ++i) b[off::Reserved2 + i] = r.Reserved2[i];
    for (int i = 0; i < 5; ++i) PutI32(b, off::ColumnWidths + 4 * i, r.ColumnWidths[i]);
    return b;
}

void ParseConfig(ConfigRecord& r, const std::uint8_t* data, std::size_t n) {
    // A short read leaves the rest of the record as it was: overlay the bytes
    // read on the record's current image and take every field from that.
    ConfigBytes b = SerializeConfig(r);
    if (n > b.size()) n = b.size();
    for (std::size_t i = 0; i < n; ++i) b[i] = data[i];
    r.PortIndex = b[off::PortIndex];
    GetField(b, off::LastOpenFile, r.LastOpenFile);
    GetField(b, off::LastSaveFile, r.LastSaveFile);
    for (int i = 0; i < 3; ++i) r.Reserved1[i] = b[off::Reserved1 + i];
    r.WindowHeight = GetI32(b, off::WindowHeight);
    r.WindowWidth = GetI32(b, off::WindowWidth);
    r.SpeedIndex = static_cast<std::int8_t>(b[off::SpeedIndex]);
    GetField(b, off::GbaLoaderFile, r.GbaLoaderFile);
    r.IpsApply = b[off::IpsApply];
    r.VerifyAfterWrite = b[off::VerifyAfterWrite];
    r.FixRom = b[off::FixRom];
    GetField(b, off::CurrentDirectory, r.CurrentDirectory);
    r.Cut32K = b[off::Cut32K];
    GetField(b, off::GbLoaderFile, r.GbLoaderFile);
    for (int i = 0; i < 3; ++i) r.Reserved2[i] = b[off::Reserved2 + i];
    for (int i = 0; i < 5; ++i) r.ColumnWidths[i] = GetI32(b, off::ColumnWidths + 4 * i);
}

ConfigRecord DefaultConfig(const std::string& workingDirectory) {
    ConfigRecord r;
    static const std::uint8_t kZeros[kConfigSize] = {};
    ParseConfig(r, kZeros, kConfigSize);
    r.PortIndex = 0;
    r.SpeedIndex = 0;
    r.IpsApply = 0;
    r.VerifyAfterWrite = 0;
    r.FixRom = 1;
    r.Cut32K = 1;
    r.WindowHeight = 606;
    r.WindowWidth = 553;
    r.ColumnWidths = {135, 140, 60, 95, 50};
    // A working directory too long for a field leaves these empty.
    r.LastOpenFile.set(workingDirectory);
    r.LastSaveFile.set(workingDirectory);
    r.GbaLoaderFile.set(workingDirectory);
    r.GbLoaderFile.set(workingDirectory);
    return r;
}

std::string ConfigPath(const std::string& workingDirectory) {
    std::string p = workingDirectory;
    if (p.empty() || p.back() != '/') p += '/';
    return p + "config.sav";
}

bool LoadConfig(AppState& s) {
    std::FILE* f = std::fopen(s.ConfigPath.c_str(), "rb");
    if (f == nullptr) return false;
    std::uint8_t buf[kConfigSize];
    const std::size_t got = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    ParseConfig(s.Config, buf, got);
    return got == static_cast<std::size_t>(kConfigSize);
}

bool ConfigUnchanged(const AppState& s) {
    const ConfigRecord& a = s.Config;
    const ConfigRecord& b = s.SavedConfig;
    return a.PortIndex == b.PortIndex && a.SpeedIndex == b.SpeedIndex && a.IpsApply == b.IpsApply &&
           a.VerifyAfterWrite == b.VerifyAfterWrite && a.FixRom == b.FixRom && a.Cut32K == b.Cut32K &&
           a.WindowHeight == b.WindowHeight && a.WindowWidth == b.WindowWidth &&
           a.LastOpenFile.str() == b.LastOpenFile.str() && a.LastSaveFile.str() == b.LastSaveFile.str() &&
           a.GbaLoaderFile.str() == b.GbaLoaderFile.str() &&
           a.CurrentDirectory.str() == b.CurrentDirectory.str() &&
           a.GbLoaderFile.str() == b.GbLoaderFile.str() && a.ColumnWidths == b.ColumnWidths;
}

void RememberConfig(AppState& s) {
    const ConfigRecord& a = s.Config;
    ConfigRecord& b = s.SavedConfig;
    b.PortIndex = a.PortIndex;
    CopyString(b.LastOpenFile, a.LastOpenFile);
    CopyString(b.LastSaveFile, a.LastSaveFile);
    b.WindowHeight = a.WindowHeight;
    b.WindowWidth = a.WindowWidth;
    b.SpeedIndex = a.SpeedIndex;
    CopyString(b.GbaLoaderFile, a.GbaLoaderFile);
    b.IpsApply = a.IpsApply;
    b.VerifyAfterWrite = a.VerifyAfterWrite;
    b.FixRom = a.FixRom;
    CopyString(b.CurrentDirectory, a.CurrentDirectory);
    b.Cut32K = a.Cut32K;
    CopyString(b.GbLoaderFile, a.GbLoaderFile);
    b.ColumnWidths = a.ColumnWidths;
}

RefusedFields CaptureWindowState(AppState& s, const WindowState& w) {
    RefusedFields refused;
    StorePath(s.Config.LastOpenFile, w.OpenDialogFile, "LastOpenFile", refused);
    StorePath(s.Config.LastSaveFile, w.SaveDialogFile, "LastSaveFile", refused);
    s.Config.WindowHeight = w.Height;
    s.Config.WindowWidth = w.Width;
    StorePath(s.Config.CurrentDirectory, w.CurrentDirectory, "CurrentDirectory", refused);
    s.Config.ColumnWidths = w.ColumnWidths;
    return refused;
}

RefusedFields SaveConfig(AppState& s, const WindowState& w) {
    RefusedFields refused = CaptureWindowState(s, w);
    if (ConfigUnchanged(s)) return refused;
    RememberConfig(s);
    if (!s.ConfigWritable) return refused;
    std::FILE* f = std::fopen(s.ConfigPath.c_str(), "wb");
    if (f == nullptr) {
        s.ConfigWritable = false;
        return refused;
    }
    const ConfigBytes b = SerializeConfig(s.Config);
    const std::size_t put = std::fwrite(b.data(), 1, b.size(), f);
    // The record sits in the stream's buffer until the close: a failing close
    // is a short write too.
    const bool closed = std::fclose(f) == 0;
    if (put != b.size() || !closed) s.ConfigWritable = false;
    return refused;
}

ConfigAccess ProbeConfigAccess(const std::string& path) {
    if (::access(path.c_str(), F_OK) != 0) {
        // Only a file that is really not there may be created; anything else
        // (a directory on the way we may not search) is left alone.
        return errno == ENOENT ? ConfigAccess::Missing : ConfigAccess::Unreadable;
    }
    // access(2) grants root everything, whatever the mode: a file whose mode
    // lets nobody read (or write) it is taken as unreadable (or read-only).
    struct stat st {};
    const bool stated = ::stat(path.c_str(), &st) == 0;
    if (::access(path.c_str(), R_OK) != 0 || (stated && (st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) == 0))
        return ConfigAccess::Unreadable;
    if (::access(path.c_str(), W_OK) != 0 || (stated && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0))
        return ConfigAccess::ReadOnly;
    return ConfigAccess::ReadWrite;
}

StartupResult StartupConfig(AppState& s, const WindowState& designed, const std::string& workingDirectory,
                            const ConfigAccessProbe& probe) {
    StartupResult result;

    // 1-3: defaults, the window as designed, the file's place.
    s.ConfigWritable = false;
    s.Config = DefaultConfig(workingDirectory);
    static const std::uint8_t kZeros[kConfigSize] = {};
    ParseConfig(s.SavedConfig, kZeros, kConfigSize);
    s.Config.WindowHeight = designed.Height;
    s.Config.WindowWidth = designed.Width;
    s.Config.ColumnWidths = designed.ColumnWidths;
    if (workingDirectory.size() >= static_cast<std::size_t>(kPathFieldSize)) {
        for (const char* name : {"LastOpenFile", "LastSaveFile", "GbaLoaderFile", "GbLoaderFile"})
            result.Refused.emplace_back(name);
    }
    s.ConfigPath = ConfigPath(workingDirectory);

    // 4: read, create or leave alone, by what the file allows.
    try {
        switch (probe(s.ConfigPath)) {
            case ConfigAccess::Missing:
                s.ConfigWritable = true;
                for (auto& r : SaveConfig(s, designed)) result.Refused.push_back(r);
                break;
            case ConfigAccess::Unreadable:
                break;
            case ConfigAccess::ReadOnly:
                LoadConfig(s);
                break;
            case ConfigAccess::ReadWrite:
                s.ConfigWritable = true;
                if (!LoadConfig(s)) {
                    for (auto& r : SaveConfig(s, designed)) result.Refused.push_back(r);
                }
                break;
        }
    } catch (...) {
        LogLine(s, "config file error");
        result.ConfigError = true;
    }

    // 5: the window takes the remembered size and column widths, as far as
    // a window can take them.
    auto within = [](std::int32_t v, std::int32_t lo, std::int32_t hi, std::int32_t otherwise) {
        return v >= lo && v <= hi ? v : otherwise;
    };
    result.Window.Height = within(s.Config.WindowHeight, kMinWindowSize, kMaxWindowSize, designed.Height);
    result.Window.Width = within(s.Config.WindowWidth, kMinWindowSize, kMaxWindowSize, designed.Width);
    for (std::size_t c = 0; c < result.Window.ColumnWidths.size(); ++c)
        result.Window.ColumnWidths[c] =
            within(s.Config.ColumnWidths[c], 0, kMaxColumnWidth, designed.ColumnWidths[c]);

    // 6: paths naming nothing that exists any more are emptied.
    for (PathField* f : {&s.Config.LastOpenFile, &s.Config.LastSaveFile, &s.Config.GbaLoaderFile,
                         &s.Config.GbLoaderFile, &s.Config.CurrentDirectory}) {
        if (!PathExists(f->str())) f->set("");
    }

    // 7: what the dialogs and the directory list start with.
    result.Window.OpenDialogFile = s.Config.LastOpenFile.str();
    result.Window.SaveDialogFile = s.Config.LastSaveFile.str();
    result.Window.CurrentDirectory = s.Config.CurrentDirectory.str();
    s.SaveDialogFile = result.Window.SaveDialogFile;

    // 8.
    RememberConfig(s);
    ApplyPortSelection(s);
    return result;
}

RefusedFields CloseConfig(AppState& s, const WindowState& w) {
    RefusedFields refused = SaveConfig(s, w);
    ApplyPortSelection(s);
    return refused;
}

std::string LoaderLabelText(const AppState& s, LoaderKind kind) {
    return kind == LoaderKind::Gba ? s.Config.GbaLoaderFile.str() : s.Config.GbLoaderFile.str();
}

LoaderChoiceResult ChooseLoaderFile(AppState& s, LoaderKind kind, const std::optional<std::string>& chosen) {
    const char* cancelText = kind == LoaderKind::Gba ? kGbaLoaderCancelText : kGbLoaderCancelText;
    PathField& field = kind == LoaderKind::Gba ? s.Config.GbaLoaderFile : s.Config.GbLoaderFile;
    LoaderChoiceResult r;
    if (!chosen) {
        r.FirstLabel = cancelText;
        return r;
    }
    // A directory is no loader file, whatever the platform's fopen says.
    std::FILE* f = IsDirectory(*chosen) ? nullptr : std::fopen(chosen->c_str(), "rb");
    if (f == nullptr) {
        r.FirstLabel = "File Open Error!!!";
        return r;
    }
    long long size = -1;
    if (fseeko(f, 0, SEEK_END) == 0) size = ftello(f);
    std::fclose(f);
    if (size != kChunkBytes) {
        r.FirstLabel = "File Size Error!!!";
        r.SecondLabel = cancelText;
        return r;
    }
    if (!field.set(*chosen)) {
        // Cutting the path would make it name some other file: keep the old one.
        r.FirstLabel = kLoaderPathTooLongText;
        r.SecondLabel = cancelText;
        r.TooLong = true;
        return r;
    }
    r.FirstLabel = *chosen;
    r.Changed = true;
    return r;
}

}  // namespace rombolt

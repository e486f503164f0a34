// The settings file "config.sav": the 1340-byte record, its defaults, reading
// and writing it, the start-up decision and the loader-file choice of the
// Config dialog. Front-end neutral: the window (or a test) hands in what it
// shows through WindowState and gets back what it should show.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"

namespace rombolt {

// Byte offsets of the fields inside config.sav.
namespace config_offset {
inline constexpr int PortIndex = 0;
inline constexpr int LastOpenFile = 1;
inline constexpr int LastSaveFile = 261;
inline constexpr int Reserved1 = 521;
inline constexpr int WindowHeight = 524;
inline constexpr int WindowWidth = 528;
inline constexpr int SpeedIndex = 532;
inline constexpr int GbaLoaderFile = 533;
inline constexpr int IpsApply = 793;
inline constexpr int VerifyAfterWrite = 794;
inline constexpr int FixRom = 795;
inline constexpr int CurrentDirectory = 796;
inline constexpr int Cut32K = 1056;
inline constexpr int GbLoaderFile = 1057;
inline constexpr int Reserved2 = 1317;
inline constexpr int ColumnWidths = 1320;
}  // namespace config_offset

using ConfigBytes = std::array<std::uint8_t, kConfigSize>;

// The record as the file holds it, field by field, little-endian.
ConfigBytes SerializeConfig(const ConfigRecord& r);
// Fills r from the first n bytes of data (n may be short: later fields keep
// their values, a field cut in the middle gets the bytes that are there).
void ParseConfig(ConfigRecord& r, const std::uint8_t* data, std::size_t n);

// The window state that SaveConfig captures and start-up hands back: the
// front end fills it from its widgets (tests fill it by hand).
struct WindowState {
    std::int32_t Height = 606;
    std::int32_t Width = 553;
    std::array<std::int32_t, 5> ColumnWidths{135, 140, 60, 95, 50};
    std::string OpenDialogFile;    // OpenDialog1's file name ("" when unset)
    std::string SaveDialogFile;    // SaveDialog1's file name ("" when unset)
    std::string CurrentDirectory;  // the directory list's directory
};

// The defaults in force when no file is read; loader and last-file paths are
// the working directory.
ConfigRecord DefaultConfig(const std::string& workingDirectory);

// workingDirectory + "/config.sav" ("/" only when not already there).
std::string ConfigPath(const std::string& workingDirectory);

// Reads up to 1340 bytes of s.ConfigPath into s.Config; true only when all 1340 were read.
bool LoadConfig(AppState& s);
// Every field of s.Config equals s.SavedConfig (strings up to their terminators; reserved bytes ignored).
bool ConfigUnchanged(const AppState& s);
// s.SavedConfig := s.Config, field by field.
void RememberConfig(AppState& s);

// Names of the fields whose new value was too long for its 259-character field
// and so was not stored (the old value stays).
using RefusedFields = std::vector<std::string>;

// Copies the window state into s.Config. Returns the fields refused as too long.
RefusedFields CaptureWindowState(AppState& s, const WindowState& w);

// Captures w, then writes the whole record in one write when it differs from
// the saved one and the file is writable. A failed open or short write clears
// s.ConfigWritable. Returns the fields refused as too long (nothing else is reported).
RefusedFields SaveConfig(AppState& s, const WindowState& w);

// How the start-up sees config.sav.
enum class ConfigAccess { Missing, Unreadable, ReadOnly, ReadWrite };
// Decides by existence and access rights (access(2)); may be replaced in tests.
using ConfigAccessProbe = std::function<ConfigAccess(const std::string& path)>;
ConfigAccess ProbeConfigAccess(const std::string& path);

// Window sizes handed to the front end lie in these bounds; a stored height,
// width or column width outside them (a damaged file, or one written on a far
// larger screen) gives the designed value instead.
inline constexpr std::int32_t kMinWindowSize = 150;
inline constexpr std::int32_t kMaxWindowSize = 16384;
inline constexpr std::int32_t kMaxColumnWidth = 16384;

// What the front end applies after start-up.
struct StartupResult {
    WindowState Window;        // height, width, column widths, dialog names, directory
    RefusedFields Refused;     // paths that did not fit their field (e.g. a deep working directory)
    bool ConfigError = false;  // "config file error" was logged
};

// The whole start-up sequence: defaults from `designed` and the working
// directory, the file decision, emptying of paths that name nothing existing,
// RememberConfig and ApplyPortSelection. `designed` is the window as created
// (dialog names empty, the directory list's directory).
StartupResult StartupConfig(AppState& s, const WindowState& designed, const std::string& workingDirectory,
                            const ConfigAccessProbe& probe = ProbeConfigAccess);

// Closing the main window: SaveConfig, then ApplyPortSelection.
RefusedFields CloseConfig(AppState& s, const WindowState& w);

// The two loader buttons of the Config dialog.
enum class LoaderKind { Gba, Gb };

struct LoaderChoiceResult {
    std::string FirstLabel;   // Label1 / Label3
    std::string SecondLabel;  // Label2 / Label4
    bool Changed = false;     // the loader path now names the chosen file
    bool TooLong = false;     // the chosen path did not fit the field and was refused
};

// Text the first label shows when the dialog opens: the current loader path.
std::string LoaderLabelText(const AppState& s, LoaderKind kind);

// The button's logic after its file dialog: chosen is nullopt when cancelled.
// A file of exactly 32768 bytes becomes the loader path; nothing is logged.
LoaderChoiceResult ChooseLoaderFile(AppState& s, LoaderKind kind, const std::optional<std::string>& chosen);

// Texts of the loader buttons.
inline constexpr const char* kGbaLoaderCancelText = "Set GBA Multi-Boot File Cancel";
inline constexpr const char* kGbLoaderCancelText = "Set GB Multi-Boot File Cancel";
inline constexpr const char* kLoaderPathTooLongText = "File Path Too Long!!!";

}  // namespace rombolt

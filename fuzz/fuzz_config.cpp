// config.sav of any length and content, read at start-up and saved on close.
#include <sys/stat.h>

#include <filesystem>

#include "app/config.h"
#include "fuzz_support.h"

using namespace rombolt;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    fuzz::FreshState f;
    AppState& s = f.s;
    const std::string dir = fuzz::ScratchDir();
    fuzz::WriteScratchFile("config.sav", data, size);
    WindowState designed;
    designed.CurrentDirectory = dir;
    StartupResult r = StartupConfig(s, designed, dir);
    if (s.Link.DataPort != 0x378 && s.Link.DataPort != 0x278 && s.Link.DataPort != 0x3BC) __builtin_trap();
    // Whatever the file says, the window gets a size it can take.
    if (r.Window.Height < kMinWindowSize || r.Window.Height > kMaxWindowSize ||
        r.Window.Width < kMinWindowSize || r.Window.Width > kMaxWindowSize)
        __builtin_trap();
    for (std::int32_t c : r.Window.ColumnWidths)
        if (c < 0 || c > kMaxColumnWidth) __builtin_trap();
    // Close with a changed window size: the record must be written whole.
    WindowState w = r.Window;
    w.Height += 1;
    CloseConfig(s, w);
    struct stat st {};
    if (s.ConfigWritable && (stat((dir + "/config.sav").c_str(), &st) != 0 || st.st_size != kConfigSize))
        __builtin_trap();
    return 0;
}

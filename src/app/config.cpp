#include "app/config.h"

namespace rombolt {

ConfigBytes SerializeConfig(const ConfigRecord&) { return {}; }
void ParseConfig(ConfigRecord&, const std::uint8_t*, std::size_t) {}
ConfigRecord DefaultConfig(const std::string&) { return {}; }
std::string ConfigPath(const std::string& wd) { return wd + "/config.sav"; }
bool LoadConfig(AppState&) { return false; }
bool ConfigUnchanged(const AppState&) { return true; }
void RememberConfig(AppState& s) { s.SavedConfig = s.Config; }
RefusedFields CaptureWindowState(AppState&, const WindowState&) { return {}; }
RefusedFields SaveConfig(AppState&, const WindowState&) { return {}; }
ConfigAccess ProbeConfigAccess(const std::string&) { return ConfigAccess::Unreadable; }
StartupResult StartupConfig(AppState&, const WindowState& designed, const std::string&,
                            const ConfigAccessProbe&) {
    return {designed, {}, false};
}
RefusedFields CloseConfig(AppState&, const WindowState&) { return {}; }
std::string LoaderLabelText(const AppState&, LoaderKind) { return {}; }
LoaderChoiceResult ChooseLoaderFile(AppState&, LoaderKind, const std::optional<std::string>&) { return {}; }

}  // namespace rombolt

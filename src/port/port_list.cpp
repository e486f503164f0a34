#include "port/port_list.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

#include "port/platform.h"

namespace rombolt {

namespace {

const char kProcDir[] = "/proc/sys/dev/parport";
const char kSysDir[] = "/sys/class/ppdev";

// N for "parportN", -1 for anything else (the /proc directory also holds "default").
int PortNumberOf(const std::string& name, const std::string& prefix = "parport") {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
    int n = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || n > 100000) return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// Accepts only addresses a port can have; 0 for anything else.
int ToBase(unsigned long long v) { return v > 0 && v <= 0x7FFFFFFF ? static_cast<int>(v) : 0; }

// "888\t1912\n": the base and the ECP block (0: none), in decimal.
int BaseFromProc(Platform& platform, const std::string& name, int* ecpBase = nullptr) {
    std::string text;
    if (!platform.ReadFile(std::string(kProcDir) + "/" + name + "/base-addr", text)) return 0;
    const char* p = text.c_str();
    char* end = nullptr;
    const unsigned long long v = std::strtoull(p, &end, 10);
    if (end == p) return 0;
    if (ecpBase) {
        char* end2 = nullptr;
        const unsigned long long hi = std::strtoull(end, &end2, 10);
        *ecpBase = end2 == end ? 0 : ToBase(hi);
    }
    return ToBase(v);
}

// The device behind the port's ppdev node: a Plug-and-Play port lists
// "io 0x378-0x37f", a PCI card its I/O windows as "start end flags" lines.
int BaseFromSys(Platform& platform, const std::string& name) {
    const std::string dev = std::string(kSysDir) + "/" + name + "/device/";
    std::string text;
    if (platform.ReadFile(dev + "resources", text)) {
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            line = Trim(line);
            if (line.rfind("io ", 0) != 0) continue;
            const unsigned long long v = std::strtoull(line.c_str() + 3, nullptr, 16);
            if (ToBase(v)) return ToBase(v);
        }
    }
    if (platform.ReadFile(dev + "resource", text)) {
        std::istringstream in(text);
        unsigned long long start = 0, end = 0, flags = 0;
        while (in >> std::hex >> start >> end >> flags) {
            if ((flags & 0x100) && ToBase(start)) return ToBase(start);  // an I/O port window
        }
    }
    return 0;
}

}  // namespace

namespace {
bool ModesName(const std::string& modes, const std::string& mode) {
    std::istringstream in(modes);
    std::string m;
    while (std::getline(in, m, ','))
        if (Trim(m) == mode) return true;
    return false;
}
}  // namespace

bool ModesOfferEpp(const std::string& modes) { return ModesName(modes, "EPP"); }
bool ModesOfferEcp(const std::string& modes) { return ModesName(modes, "ECP"); }

std::vector<ParallelPortInfo> ListParallelPorts(Platform& platform) {
    std::map<int, ParallelPortInfo> byNumber;
    std::vector<std::string> devNames = platform.ListDir("/dev");
    auto add = [&](const std::vector<std::string>& names) {
        for (const auto& name : names) {
            const int n = PortNumberOf(name);
            if (n >= 0) byNumber[n].name = name;
        }
    };
    add(platform.ListDir(kProcDir));
    add(platform.ListDir(kSysDir));
    add(devNames);

    std::vector<ParallelPortInfo> ports;
    for (auto& [n, info] : byNumber) {
        info.base = BaseFromProc(platform, info.name, &info.ecpBase);
        if (info.base == 0) info.base = BaseFromSys(platform, info.name);
        std::string modes;
        if (platform.ReadFile(std::string(kProcDir) + "/" + info.name + "/modes", modes))
            info.modes = Trim(modes);
        if (std::find(devNames.begin(), devNames.end(), info.name) != devNames.end())
            info.device = "/dev/" + info.name;
        info.number = static_cast<int>(ports.size()) + 1;
        ports.push_back(info);
    }
    return ports;
}

std::vector<ParallelPortInfo> ListParallelPorts() { return ListParallelPorts(SystemPlatform()); }

std::string PortNameOfDevice(const std::string& device) {
    const std::string prefix = "/dev/";
    if (device.compare(0, prefix.size(), prefix) != 0) return {};
    const std::string name = device.substr(prefix.size());
    return PortNumberOf(name) >= 0 ? name : std::string();
}

std::string PortHolder(Platform& platform, const std::string& name, const std::string& device) {
    std::string text;
    if (name.empty() || !platform.ReadFile(std::string(kProcDir) + "/" + name + "/devices/active", text))
        return {};
    const std::string holder = Trim(text);
    if (holder.empty() || holder == "none") return {};
    // The kernel names only the driver; which program uses it shows in the
    // descriptors under /proc (those of other users only to root).
    std::string programs;
    int found = 0;
    const std::string self = platform.ReadLink("/proc/self");
    for (const auto& pid : platform.ListDir("/proc")) {
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        bool uses = false;
        for (const auto& fd : platform.ListDir(fdDir))
            if (platform.ReadLink(fdDir + "/" + fd) == device) {
                uses = true;
                break;
            }
        if (!uses) continue;
        std::string comm;
        platform.ReadFile("/proc/" + pid + "/comm", comm);
        comm = Trim(comm);
        if (found++) programs += ", ";
        programs += (comm.empty() ? "" : "program " + comm + ", ") + "PID " + pid;
        if (found == 3) break;
    }
    return programs.empty() ? holder : holder + " (" + programs + ")";
}

bool KernelHasParallelPorts(Platform& platform) {
    for (const auto& name : platform.ListDir(kProcDir))
        if (PortNumberOf(name) >= 0) return true;
    return false;
}

bool PpdevDriverLoaded(Platform& platform) {
    // "Character devices:" lines such as " 99 ppdev".
    std::string text;
    if (!platform.ReadFile("/proc/devices", text)) return false;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string major, driver;
        if (fields >> major >> driver && driver == "ppdev") return true;
    }
    return false;
}

std::vector<std::string> ListUsbPrinters(Platform& platform) {
    std::vector<std::pair<int, std::string>> found;
    for (const auto& name : platform.ListDir("/dev/usb")) {
        const int n = PortNumberOf(name, "lp");
        if (n >= 0) found.emplace_back(n, "/dev/usb/" + name);
    }
    for (const auto& name : platform.ListDir("/dev")) {
        const int n = PortNumberOf(name, "usblp");
        if (n >= 0) found.emplace_back(1000 + n, "/dev/" + name);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& f : found) paths.push_back(std::move(f.second));
    return paths;
}

}  // namespace rombolt

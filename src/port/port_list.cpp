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

// "888\t1912\n": the base and the ECP block, in decimal.
int BaseFromProc(Platform& platform, const std::string& name) {
    std::string text;
    if (!platform.ReadFile(std::string(kProcDir) + "/" + name + "/base-addr", text)) return 0;
    const char* p = text.c_str();
    char* end = nullptr;
    const unsigned long long v = std::strtoull(p, &end, 10);
    return end == p ? 0 : ToBase(v);
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

bool ModesOfferEpp(const std::string& modes) {
    std::istringstream in(modes);
    std::string m;
    while (std::getline(in, m, ','))
        if (Trim(m) == "EPP") return true;
    return false;
}

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
        info.base = BaseFromProc(platform, info.name);
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

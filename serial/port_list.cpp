#include "serial/port_list.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string_view>

#include "serial/virtual_ports.h"

namespace zuz {
namespace {

// True when `name` is `prefix` followed by one or more digits.
bool IsNumbered(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
    }
    return true;
}

// Reads a sysfs number ("4", "0x3F8"); false when the file is missing or holds no number.
bool ReadNumber(const std::string& path, unsigned long* value) {
    std::ifstream in(path);
    std::string text;
    if (!(in >> text)) return false;
    char* end = nullptr;
    *value = std::strtoul(text.c_str(), &end, 0);
    return end != text.c_str() && *end == '\0';
}

bool UartExists(const std::string& ttyFolder) {
    unsigned long value = 0;
    if (ReadNumber(ttyFolder + "/type", &value)) return value != 0;
    for (const char* attribute : {"port", "iomem_base"}) {
        if (ReadNumber(ttyFolder + "/" + attribute, &value) && value != 0) return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> ListRealSerialPorts(const std::string& sysClassTty) {
    std::vector<std::string> ports;
    DIR* dir = opendir(sysClassTty.c_str());
    if (dir == nullptr) return ports;
    while (const dirent* item = readdir(dir)) {
        const std::string name = item->d_name;
        const bool usb = IsNumbered(name, "ttyUSB") || IsNumbered(name, "ttyACM");
        const bool uart = IsNumbered(name, "ttyS");
        if (!usb && !uart) continue;
        const std::string folder = sysClassTty + "/" + name;
        struct stat st {};
        if (stat((folder + "/device").c_str(), &st) != 0) continue;
        if (uart && !UartExists(folder)) continue;
        ports.push_back("/dev/" + name);
    }
    closedir(dir);
    return ports;
}

std::vector<std::string> ListSerialPorts(const std::string& sysClassTty,
                                         const std::string& virtualFolder) {
    // The first entry is the one selected at start, so it should be the likeliest master
    // controller: USB adapters, then a running simulator, then the on-board UARTs (often a
    // console or nothing at all).
    std::vector<std::string> ports = ListRealSerialPorts(sysClassTty);
    const auto uarts = std::stable_partition(ports.begin(), ports.end(), [](const std::string& p) {
        return !std::string_view(p).starts_with("/dev/ttyS");
    });
    std::vector<std::string> onBoard(std::make_move_iterator(uarts), std::make_move_iterator(ports.end()));
    ports.erase(uarts, ports.end());
    for (std::string& device : ListVirtualPorts(virtualFolder)) ports.push_back(std::move(device));
    for (std::string& device : onBoard) ports.push_back(std::move(device));
    return ports;
}

std::vector<std::string> ListSerialPorts() {
    return ListSerialPorts(kSysClassTty, VirtualPortFolder());
}

}  // namespace zuz

#include "serial/port_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "serial/virtual_ports.h"
#include "temp_dir.h"

namespace zuz {
namespace {

using test::TempDir;

// One tty entry of a fake sysfs tree.
struct TtyEntry {
    std::string name;
    bool device;                                   // has a "device" link
    std::vector<std::pair<std::string, std::string>> attributes;  // file name, content
    bool listed;
};

void MakeTree(const std::string& root, const std::vector<TtyEntry>& entries) {
    mkdir(root.c_str(), 0755);
    const std::string devices = root + "/../devices";
    mkdir(devices.c_str(), 0755);
    for (const TtyEntry& e : entries) {
        // As in sysfs, the class entry is a link to the device's folder.
        const std::string real = devices + "/" + e.name;
        mkdir(real.c_str(), 0755);
        symlink(real.c_str(), (root + "/" + e.name).c_str());
        if (e.device) {
            const std::string parent = devices + "/" + e.name + "-parent";
            mkdir(parent.c_str(), 0755);
            symlink(parent.c_str(), (real + "/device").c_str());
        }
        for (const auto& [file, content] : e.attributes) {
            std::ofstream(real + "/" + file) << content;
        }
    }
}

pid_t DeadPid() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

const std::vector<TtyEntry> kTree = {
    {"ttyS0", true, {{"type", "4\n"}, {"port", "0x3F8\n"}}, true},
    {"ttyS1", true, {{"type", "0\n"}, {"port", "0x2F8\n"}}, false},  // no UART behind it
    {"ttyS2", true, {{"port", "0x3E8\n"}}, true},                    // no type: port decides
    {"ttyS3", true, {{"port", "0x0\n"}, {"iomem_base", "0x0\n"}}, false},
    {"ttyS4", true, {{"iomem_base", "0xFE215040\n"}}, true},
    {"ttyS5", true, {}, false},                      // nothing tells the UART exists
    {"ttyS6", false, {{"type", "4\n"}}, false},      // no device
    {"ttyS12", true, {{"type", "1\n"}}, true},
    {"ttyUSB0", true, {}, true},
    {"ttyUSB1", false, {}, false},
    {"ttyUSB10", true, {}, true},
    {"ttyACM0", true, {}, true},
    {"ttyUSB", true, {}, false},   // not numbered
    {"ttyUSBa", true, {}, false},
    {"tty0", true, {}, false},     // virtual consoles
    {"tty12", true, {}, false},
    {"console", false, {}, false},
    {"ptmx", false, {}, false},
    {"ttyprintk", false, {}, false},
};

std::vector<std::string> Expected(const std::vector<TtyEntry>& tree) {
    std::vector<std::string> ports;
    for (const TtyEntry& e : tree) {
        if (e.listed) ports.push_back("/dev/" + e.name);
    }
    return ports;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST(PortListTest, RealPortsFromSysfs) {
    TempDir tmp;
    const std::string root = tmp / "class-tty";
    MakeTree(root, kTree);
    const std::vector<std::string> ports = ListRealSerialPorts(root);
    // The directory's order is kept; only the membership is fixed.
    EXPECT_EQ(Sorted(ports), Sorted(Expected(kTree)));
    EXPECT_EQ(ListRealSerialPorts(root), ports) << "the same tree lists the same way";
}

TEST(PortListTest, AdaptersComeFirstThenSimulatorsThenUartsAndStaleOnesAreLeftOut) {
    TempDir tmp;
    const std::string root = tmp / "class-tty";
    MakeTree(root, kTree);
    const std::string folder = tmp / "ports";
    mkdir(folder.c_str(), 0700);
    const std::string simulated = tmp / "pts-sim";
    std::ofstream(simulated) << "";
    std::ofstream(folder + "/" + std::to_string(DeadPid()) + ".port") << simulated << "\n";
    const std::string entry = PublishVirtualPort(simulated, folder);
    ASSERT_FALSE(entry.empty());

    const std::vector<std::string> ports = ListSerialPorts(root, folder);
    const std::vector<std::string> real = Expected(kTree);
    ASSERT_EQ(ports.size(), real.size() + 1);
    // ttyUSB0, ttyUSB10, ttyACM0 in some order; the simulator; the four UARTs.
    const auto sim = std::find(ports.begin(), ports.end(), simulated);
    ASSERT_EQ(sim - ports.begin(), 3);
    for (auto it = ports.begin(); it != sim; ++it) EXPECT_EQ(it->find("/dev/ttyS"), std::string::npos) << *it;
    for (auto it = sim + 1; it != ports.end(); ++it) EXPECT_EQ(it->find("/dev/ttyS"), 0u) << *it;
    std::vector<std::string> others(ports.begin(), sim);
    others.insert(others.end(), sim + 1, ports.end());
    EXPECT_EQ(Sorted(others), Sorted(real));
    WithdrawVirtualPort(entry);
    EXPECT_EQ(Sorted(ListSerialPorts(root, folder)), Sorted(real));
}

TEST(PortListTest, MissingSourcesListNothing) {
    TempDir tmp;
    EXPECT_TRUE(ListSerialPorts(tmp / "no-sysfs", tmp / "no-ports").empty());
    EXPECT_TRUE(ListRealSerialPorts(tmp / "no-sysfs").empty());
}

TEST(PortListTest, ThisMachineListsOnlyDeviceNodes) {
    // Whatever this machine has, every entry is a /dev path of a kind the list accepts.
    for (const std::string& port : ListRealSerialPorts()) {
        EXPECT_EQ(port.rfind("/dev/tty", 0), 0u) << port;
    }
}

}  // namespace
}  // namespace zuz

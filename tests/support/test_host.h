// A monitor host for tests: fake timers, a simulated bus as the port, and every status line
// and message box kept for inspection.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/core/monitor_core.h"
#include "fake_loop.h"
#include "sim_bus.h"

namespace zuz::test {

struct ShownMessage {
    std::string text, caption;
    MessageIcon icon;
};

class TestHost : public IMonitorHost {
public:
    TestHost() : TestHost(FakeLoop()) {}
    // A host whose clock starts at another wall-clock time.
    explicit TestHost(FakeLoop startLoop) : loop(std::move(startLoop)), core(*this, loop) {
        core.SetPort(&bus);
        bus.onArrival = [this] { core.OnSerialEvent(EV_RXCHAR, 0); };
        core.portName = "/dev/ttyFAKE0";
    }

    void StartTimer(unsigned id, unsigned periodMs) override { loop.StartTimer(id, periodMs); }
    void StopTimer(unsigned id) override { loop.StopTimer(id); }
    void ShowStatusLine(const std::string& line) override { statusLines.push_back(line); }
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
        messages.push_back({text, caption, icon});
    }
    long OpenPort(const std::string& name) override {
        openedPort = name;
        return openError;
    }
    std::string PortErrorText(long error) const override { return "error " + std::to_string(error); }
    void SetupPort(unsigned baud) override { baudRate = baud; }
    void ClosePort() override { ++closeCount; }
    void ShowConnectionState(bool connected) override { shownConnected = connected; }
    void SetSaveDataBox(bool ticked) override { saveBoxShown = ticked; }

    void Run(FakeLoop::Ms ms) { loop.Run(ms, [this](unsigned id) { core.OnTimer(id); }); }
    // The status texts without their time prefix.
    std::vector<std::string> StatusTexts() const;
    std::string LastStatus() const { return statusLines.empty() ? "" : StatusTexts().back(); }

    FakeLoop loop;
    SimBus bus{loop};
    MonitorCore core;
    std::vector<std::string> statusLines;
    std::vector<ShownMessage> messages;
    std::string openedPort;
    long openError = 0;
    unsigned baudRate = 0;
    int closeCount = 0;
    bool shownConnected = false;
    bool saveBoxShown = false;
};

}  // namespace zuz::test

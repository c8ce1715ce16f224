#include "app/core/monitor_core.h"

#include <algorithm>
#include <ctime>

namespace zuz {

unsigned BaudRateForEntry(int entry) {
    if (entry < 0 || entry >= int(std::size(kBaudRates))) return 9600;
    return kBaudRates[entry];
}

bool IsValidChannelCount(unsigned count) {
    return std::find(std::begin(kChannelCounts), std::end(kChannelCounts), count) != std::end(kChannelCounts);
}

std::string FormatStatusLine(std::chrono::system_clock::time_point when, const std::string& text) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&t, &local);
    char prefix[40];
    const std::size_t n = std::strftime(prefix, sizeof prefix, "%Y-%m-%d %H:%M:%S -- ", &local);
    return std::string(prefix, n) + text;
}

MonitorCore::MonitorCore(IMonitorHost& host, const IClock& clock) : host_(host), clock_(clock) {}

void MonitorCore::ShowStatus(const std::string& text) {
    host_.ShowStatusLine(FormatStatusLine(clock_.Now(), text));
}

void MonitorCore::ToggleConnection(int baudEntry) {
    if (bus.connected)
        Disconnect();
    else
        Connect(baudEntry);
}

bool MonitorCore::Connect(int baudEntry) {
    if (portName.empty()) {
        ShowStatus("不存在有效端口，请先插入主控设备");
        return false;
    }
    if (const long error = host_.OpenPort(portName); error != 0) {
        // Say why: a user who is not allowed to open the port otherwise has no clue.
        ShowStatus("打开串口失败: " + portName + " (" + host_.PortErrorText(error) + ")");
        return false;
    }
    bus.connected = true;
    portLost_ = false;
    host_.SetupPort(BaudRateForEntry(baudEntry));
    host_.ShowConnectionState(true);
    if (bus.fixedAddressMode) LoadFixedAddresses();  // a missing file keeps the old table
    bus.BeginFinding();
    ShowStatus("连接串口成功，正在扫描设备");
    return true;
}

void MonitorCore::Disconnect() {
    if (saveDataTicked) {
        saveDataTicked = false;
        host_.SetSaveDataBox(false);
        ToggleRecording(false);
    }
    bus.StopTimers();
    host_.ShowConnectionState(false);
    // Cleared before the port closes, so a notification still queued is ignored.
    bus.connected = false;
    host_.ClosePort();
    ShowStatus("断开串口成功");
    for (unsigned i = 0; i < bus.foundCount && i < kMaxChannels; ++i) channels[i].Reset();
}

long MonitorCore::OnSerialEvent(std::uint32_t wParam, std::intptr_t lParam) {
    bus.OnSerialEvent(wParam, lParam);  // bytes that came before the port went still count
    if ((wParam >> 16) & CE_PORT_GONE) PortLost("端口已移除或挂断");
    return 0;
}

void MonitorCore::PortLost(const std::string& reason) {
    if (!bus.connected || portLost_) return;
    portLost_ = true;
    bus.StopTimers();
    ShowStatus("串口连接丢失: " + portName + " (" + reason + ")");
    host_.OnPortLost();
}

void MonitorCore::OnTimer(unsigned id) {
    switch (id) {
        case TIMER_RECORD: WriteDataRow(); break;
        case TIMER_SCAN: bus.ScanStep(); break;
        case TIMER_POLL: bus.PollStep(); break;
        default: break;
    }
}

void MonitorCore::OnRotationComplete() {
    if (saveDataTicked && saveInterval == 0) WriteDataRow();
}

bool MonitorCore::SetFixedAddressBox(bool ticked) {
    if (!ticked) {
        bus.fixedAddressMode = false;
        return false;
    }
    if (LoadFixedAddresses()) {
        bus.fixedAddressMode = true;
    } else {
        host_.ShowMessage("配置文件不存在！", "固定地址", MessageIcon::Warning);
        bus.fixedAddressMode = false;
    }
    return bus.fixedAddressMode;
}

}  // namespace zuz

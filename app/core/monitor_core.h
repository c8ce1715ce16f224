// The monitor's state and behaviour, without any window: the channels, the scan and poll
// cycle, the connection steps, the settings file and the recording. The desktop window and the
// headless logger each host one; tests host one with a fake clock and a simulated bus.
//
// Call on the host's one thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/core/monitor_host.h"
#include "display/channel_reading.h"
#include "protocol/bus_cycle.h"

namespace zuz {

struct SettingsFields;  // storage/settings_file.h

// Baud rates by the position of the baud list's selected entry; any other position gives 9600.
inline constexpr unsigned kBaudRates[] = {9600, 19200, 38400, 57600, 115200};
inline constexpr int kDefaultBaudEntry = 4;
unsigned BaudRateForEntry(int entry);

// The channel counts one may choose.
inline constexpr std::uint8_t kChannelCounts[] = {2, 4, 6, 8, 9, 10, 12, 15, 16, 20};
bool IsValidChannelCount(unsigned count);

// "YYYY-mm-dd HH:MM:SS -- " and the text, in local time.
std::string FormatStatusLine(std::chrono::system_clock::time_point when, const std::string& text);

class MonitorCore : private IBusCycleHost {
public:
    MonitorCore(IMonitorHost& host, const IClock& clock);
    MonitorCore(const MonitorCore&) = delete;
    MonitorCore& operator=(const MonitorCore&) = delete;

    void SetPort(IBytePort* port) { bus.SetPort(port); }

    ChannelReading& Channel(unsigned i) override { return channels[i]; }
    void ShowStatus(const std::string& text) override;

    // Connect button: connects when disconnected, disconnects otherwise. baudEntry is the
    // position of the baud list's selected entry (-1 for none).
    void ToggleConnection(int baudEntry);
    // Returns true when the port opened.
    bool Connect(int baudEntry);
    void Disconnect();

    // Timer messages: 17 writes a row, 18 scans, 20 polls; other identifiers do nothing.
    void OnTimer(unsigned id);
    // The serial notification: event bits in the low 16 bits of wParam, line-error flags above.
    // Bytes are read first; a port that has gone (CE_PORT_GONE) then ends the scan and poll.
    long OnSerialEvent(std::uint32_t wParam, std::intptr_t lParam);
    // The port is gone while connected (unplugged, far end closed, failing reads): the scan and
    // poll stop, the status line says why and the host is told. The connection stays until
    // Disconnect, which closes the port as usual.
    void PortLost(const std::string& reason);

    // Settings file: fills the address table and the remarks from Settings.ini in the working
    // directory. False (and a status text) when the file is missing.
    bool LoadFixedAddresses();
    // Fixed address box just toggled to `ticked`. Returns the mode now in force.
    bool SetFixedAddressBox(bool ticked);

    // The settings dialog's "读出配置" and "写入配置" over its forty fields, on Settings.ini in
    // the working directory; outcomes go to the host's message boxes.
    void ReadSettingsDialogFields(SettingsFields& fields);
    void WriteSettingsDialogFields(const SettingsFields& fields);

    // Save data box just toggled to `ticked` (the host has already changed the box).
    void ToggleRecording(bool ticked);
    // Appends one row of every channel's value text to the recording file.
    void WriteDataRow();

    // State, named as the monitor's window keeps it. The bus cycle holds the channel count,
    // the scan and poll counters, the address table, the connected flag, the fixed-address
    // mode and the frame receiver.
    std::array<ChannelReading, kMaxChannels> channels;
    BusCycle bus{*this};
    std::string portName;
    std::uint8_t saveInterval = 0;
    std::string savePath;
    std::uint32_t recordCounter = 0;
    bool saveDataTicked = false;  // the Save data box

private:
    // IBusCycleHost, passed through to the host.
    void StartTimer(unsigned id, unsigned periodMs) override { host_.StartTimer(id, periodMs); }
    void StopTimer(unsigned id) override { host_.StopTimer(id); }
    void OnRotationComplete() override;
    void OnFindingOver() override { host_.OnFindingOver(); }
    void OnChannelUpdated(unsigned channel, std::uint8_t command) override {
        host_.OnChannelUpdated(channel, command);
    }

    IMonitorHost& host_;
    const IClock& clock_;
    bool portLost_ = false;  // said once per connection
};

}  // namespace zuz

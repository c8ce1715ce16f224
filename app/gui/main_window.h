// The monitor window: hosts the MonitorCore (which holds every rule of the monitor) and gives it
// controls, panels, a status line, timers, message boxes and the serial port. The window adds
// no behaviour of its own beyond what is on the screen: the buttons, the layout of the panels
// for the channel count, the Fixed address box's message, and the question on close.
//
// Controls carry their numeric identifiers as object names ("1000" port list ... "1027" last
// panel), so code and tests find them by number.
//
// GUI thread only (the serial port's notification arrives here through a queued call).
#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/monitor_core.h"
#include "app/gui/dialog_units.h"
#include "app/gui/window_timers.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QStatusBar;

namespace zuz::gui {

class CDisp;
class CSerialMFC;

// Control identifiers.
enum ControlId : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDC_PORT_LIST = 1000,
    IDC_BAUD_LIST = 1001,
    IDC_STATE_ICON = 1002,
    IDC_CONNECT = 1003,
    IDC_SETTINGS = 1004,
    IDC_ABOUT = 1005,
    IDC_SAVE_DATA = 1006,
    IDC_FIXED_ADDRESS = 1007,
    IDC_FIRST_PANEL = 1008,
    IDC_STATUS_BAR = 59393,
    IDC_STATUS_PANE = 133,
};

inline constexpr int kStatusBarBackground = 0xD6E7F7;
inline constexpr const char* kCloseQuestion = "数据采集中,确认退出？";
inline constexpr const char* kCloseCaption = "退出提示";

// Window size and panel cells for a channel count, from the panel's outer size W x H.
struct PanelGrid {
    int columns = 0;
    int rows = 0;
    QSize window;                // outer size, frame and title bar included
    std::vector<QPoint> cells;   // top-left corner of channel i's cell, client coordinates
};
PanelGrid GridFor(unsigned channelCount, QSize panel);

class VavaduzidivaRer : public QDialog, public IMonitorHost {
    Q_OBJECT

public:
    explicit VavaduzidivaRer(QWidget* parent = nullptr);
    ~VavaduzidivaRer() override;

    // Runs the initialisation (icons, channel-count dialog, layout, port list, first panel
    // reset, baud entry, status bar). Call once, before the window is shown.
    void OnInitDialog();

    // Hooks, set before OnInitDialog. Unset, the channel count comes from CDlgStart, the port
    // list from the system's serial ports, and Settings runs CDlgConfig.
    std::function<void(VavaduzidivaRer&)> chooseChannelCount;
    std::function<std::vector<std::string>()> listPorts;
    // Replaces the settings dialog (CDlgConfig) that the Settings button runs modally.
    std::function<void(VavaduzidivaRer&)> runSettingsDialog;

    unsigned ChannelCount() const { return core_.bus.channelCount; }
    void SetChannelCount(unsigned count) { core_.bus.channelCount = std::uint8_t(count); }

    MonitorCore& Core() { return core_; }
    CDisp* Panel(unsigned channel) const { return panels_[channel]; }
    // A control by its identifier, nullptr for none.
    QWidget* Control(int id) const;
    QLabel* StatusPane() const { return statusPane_; }
    QStatusBar* StatusBar() const { return statusBar_; }
    WindowTimers& Timers() { return timers_; }
    // W x H: the panel's outer size from its template size.
    QSize PanelSize() const { return panelSize_; }
    // The outer size the layout asked for.
    QSize OuterSize() const { return outerSize_; }
    const DialogUnits& Units() const { return units_; }

    // The status line (UTF-8 text, time prefix added).
    void ShowStatus(const std::string& text) { core_.ShowStatus(text); }
    // Copies the port list's selected text into the core's port name.
    void UpdateData();
    void LayoutPanels();
    void ListSerialPorts();

    // Command handlers.
    void OnConnect();
    void OnSettings();
    void OnAbout();
    void OnSaveData();
    void OnFixedAddress();
    // The serial notification, on this thread.
    void OnSerialEvent(std::uint32_t wParam, std::intptr_t lParam);

    // IMonitorHost
    void StartTimer(unsigned id, unsigned periodMs) override { timers_.Start(id, periodMs); }
    void StopTimer(unsigned id) override { timers_.Stop(id); }
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void ShowStatusLine(const std::string& line) override;
    long OpenPort(const std::string& portName) override;
    std::string PortErrorText(long error) const override;
    void SetupPort(unsigned baudRate) override;
    void ClosePort() override;
    void ShowConnectionState(bool connected) override;
    void SetSaveDataBox(bool ticked) override;

public:
    // Escape and the close box come here: asks while recording, closes the port, ends.
    void reject() override;
    // Enter ends nothing: the window has no default button.
    void accept() override {}

private:
    void CreateControls();
    void CreateStatusBar();

    SystemClock clock_;
    MonitorCore core_;
    WindowTimers timers_;
    DialogUnits units_;
    QSize panelSize_;
    QSize outerSize_;
    std::array<CDisp*, kMaxChannels> panels_{};
    QComboBox* portList_ = nullptr;
    QComboBox* baudList_ = nullptr;
    QLabel* stateIcon_ = nullptr;
    QPushButton* connectButton_ = nullptr;
    QPushButton* settingsButton_ = nullptr;
    QPushButton* aboutButton_ = nullptr;
    QCheckBox* saveDataBox_ = nullptr;
    QCheckBox* fixedAddressBox_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QLabel* statusPane_ = nullptr;
    std::unique_ptr<CSerialMFC> serial_;
};

}  // namespace zuz::gui

// The monitor window's serial port: a CSerialWnd whose notifications, posted on the watcher
// thread, reach the window's thread through a queued call to VavaduzidivaRer::OnSerialEvent,
// one call per notification, in order. The watcher never touches the window.
//
// Open, Setup, Close and the byte port: GUI thread only.
#pragma once

#include <string>
#include <vector>

#include "serial/serial_byte_port.h"
#include "serial/serial_wnd.h"

namespace zuz::gui {

class VavaduzidivaRer;

// The ports to list: real ports, then the simulator's virtual ports.
std::vector<std::string> SystemSerialPorts();

class CSerialMFC : public CSerialWnd, private ISerialNotifySink {
public:
    explicit CSerialMFC(VavaduzidivaRer& window);
    ~CSerialMFC() override;

    // Opens the device with the default notification message; 0 when open and watched.
    long Open(const std::string& device);
    // 8 data bits, no parity, one stop bit at `baudRate`.
    long Setup(unsigned baudRate);
    std::string ErrorText(long error) const;

    // What the monitor core reads and writes through.
    IBytePort& Port() { return bytePort_; }

private:
    // Watcher thread.
    void PostSerialNotification(unsigned message, std::uint32_t wParam, std::intptr_t lParam) override;

    VavaduzidivaRer& window_;
    SerialBytePort bytePort_{*this};
};

}  // namespace zuz::gui

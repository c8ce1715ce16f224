// Everything the monitoring core asks of the program that hosts it: the desktop window, the
// headless logger, or a test. All calls come on the host's one thread.
#pragma once

#include <string>

#include "protocol/host.h"

namespace zuz {

class IMonitorHost : public ITimerHost, public IMessageBoxes {
public:
    // The status line: the whole line, time prefix included (UTF-8).
    virtual void ShowStatusLine(const std::string& line) = 0;

    // Opens the named port (8N1 comes with SetupPort). 0 on success, else an error code whose
    // reason PortErrorText gives.
    virtual long OpenPort(const std::string& portName) = 0;
    virtual std::string PortErrorText(long error) const = 0;
    virtual void SetupPort(unsigned baudRate) = 0;
    virtual void ClosePort() = 0;

    // Connected: connected icon, "断开设备", Settings and Fixed address disabled; and back.
    virtual void ShowConnectionState(bool /*connected*/) {}
    // Ticks or unticks the Save data box on the screen.
    virtual void SetSaveDataBox(bool /*ticked*/) {}

    // Notifications for hosts that print or log (the window repaints through the panels).
    virtual void OnChannelUpdated(unsigned /*channel*/, unsigned char /*command*/) {}
    virtual void OnFindingOver() {}
    // The port has gone while connected; the status line has said so already.
    virtual void OnPortLost() {}
};

}  // namespace zuz

#include "app/gui/serial_mfc.h"

#include <QMetaObject>
#include <QPointer>

#include "app/gui/main_window.h"
#include "serial/port_list.h"
#include "serial/serial_error.h"

namespace zuz::gui {

std::vector<std::string> SystemSerialPorts() { return ListSerialPorts(); }

CSerialMFC::CSerialMFC(VavaduzidivaRer& window) : window_(window) {}

CSerialMFC::~CSerialMFC() { Close(); }

long CSerialMFC::Open(const std::string& device) {
    return CSerialWnd::Open(device.c_str(), this, 0, 0, 0, 0);
}

long CSerialMFC::Setup(unsigned baudRate) {
    return CSerialWnd::Setup(long(baudRate), 8, kParityNone, kStopBitsOne);
}

std::string CSerialMFC::ErrorText(long error) const { return SerialErrorText(error); }

void CSerialMFC::PostSerialNotification(unsigned message, std::uint32_t wParam, std::intptr_t lParam) {
    if (message != CSerialWnd::DefaultComMsg()) return;
    // A queued call: the window's thread runs it from its event loop. The watcher is joined
    // (Close) before the window goes, and Qt drops calls whose context object has been deleted.
    QPointer<VavaduzidivaRer> window(&window_);
    QMetaObject::invokeMethod(
        &window_,
        [window, wParam, lParam] {
            if (window) window->OnSerialEvent(wParam, lParam);
        },
        Qt::QueuedConnection);
}

}  // namespace zuz::gui

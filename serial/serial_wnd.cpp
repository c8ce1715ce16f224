#include "serial/serial_wnd.h"

namespace zuz {

unsigned RegisteredMessage(const char* name) {
    // FNV-1a, 32 bits: fixed, so every process computes the same number for the same name.
    std::uint32_t hash = 2166136261u;
    for (const char* p = name != nullptr ? name : ""; *p != '\0'; ++p) {
        hash ^= static_cast<unsigned char>(*p);
        hash *= 16777619u;
    }
    return 0xC000u + (hash % 0x4000u);
}

unsigned CSerialWnd::DefaultComMsg() {
    static const unsigned message = RegisteredMessage("CSerialWnd_DefaultComMsg");
    return message;
}

CSerialWnd::~CSerialWnd() {
    // The watcher calls HandleEvent of this class: it must end before this part goes.
    sink_.store(nullptr);
    StopWatcher(kInfinite);
}

long CSerialWnd::Open(const char* device, ISerialNotifySink* sink, unsigned message,
                      std::intptr_t value, unsigned inQueue, unsigned outQueue) {
    const long opened = CSerialEx::Open(device, inQueue, outQueue, false);
    if (opened != ERROR_SUCCESS) return opened;
    // The destination is in place before the watcher can report anything.
    sink_.store(sink);
    message_.store(message != 0 ? message : DefaultComMsg());
    value_.store(value);
    const long started = StartWatcher();
    if (started != ERROR_SUCCESS) {
        Close();
        return SetResult(started);
    }
    return SetResult(ERROR_SUCCESS);
}

long CSerialWnd::Close() {
    sink_.store(nullptr);
    message_.store(0);
    return CSerialEx::Close();
}

void CSerialWnd::HandleEvent(std::uint32_t events, std::uint32_t errors) {
    ISerialNotifySink* sink = sink_.load();
    if (sink == nullptr) return;
    const std::uint32_t wParam = (events & 0xFFFFu) | ((errors & 0xFFFFu) << 16);
    sink->PostSerialNotification(message_.load(), wParam, value_.load());
}

}  // namespace zuz

// The serial port that hands its events to an owner as notifications.
//
// Each event the watcher reports becomes one call of the sink's PostSerialNotification, on the
// watcher thread, in order:
//   message: the notification number given to Open (DefaultComMsg() when 0 was given);
//   wParam:  bits 0-15 the events (EV_RXCHAR, EV_BREAK, EV_ERR) masked with the event mask,
//            bits 16-31 the line-error flags (CE_RXOVER ... CE_BREAK; CE_PORT_GONE with EV_ERR
//            when the device has gone, after which no notification follows);
//   lParam:  the value given to Open.
// The sink hands the notification over to its own thread (a queued call in a window, an
// eventfd or pipe in a headless loop) and returns without waiting for it; it must not call the
// port. A notification can still be on its way after Close; the owner then finds nothing to
// read (Read on a closed port fails with ERROR_INVALID_HANDLE and count 0).
#pragma once

#include <atomic>
#include <cstdint>

#include "serial/serial_ex.h"

namespace zuz {

class ISerialNotifySink {
public:
    virtual ~ISerialNotifySink() = default;
    // Called on the watcher thread; must be thread-safe and must not block for long.
    virtual void PostSerialNotification(unsigned message, std::uint32_t wParam,
                                        std::intptr_t lParam) = 0;
};

// A message number for `name` that is the same in every process and every run: a fixed hash
// of the name into 0xC000..0xFFFF, the range of registered window messages.
unsigned RegisteredMessage(const char* name);

class CSerialWnd : public CSerialEx {
public:
    CSerialWnd() = default;
    ~CSerialWnd() override;

    // The number registered under "CSerialWnd_DefaultComMsg".
    static unsigned DefaultComMsg();

    // Opens `device`, remembers the destination (sink may be null: events are then dropped)
    // and starts the watcher. message 0 means DefaultComMsg(). Result 0 means the port is open
    // and the watcher runs; otherwise nothing is open.
    long Open(const char* device, ISerialNotifySink* sink, unsigned message = 0,
              std::intptr_t value = 0, unsigned inQueue = 0, unsigned outQueue = 0);
    // Forgets the destination, stops the watcher (returns after it has ended), closes. 0.
    long Close() override;

    unsigned Message() const { return message_.load(); }

protected:
    void HandleEvent(std::uint32_t events, std::uint32_t errors) override;

private:
    // Opening without a destination would leave the watcher reporting to no one.
    using CSerialEx::Open;

    std::atomic<ISerialNotifySink*> sink_{nullptr};
    std::atomic<unsigned> message_{0};
    std::atomic<std::intptr_t> value_{0};
};

}  // namespace zuz

// The serial port as the logger sees it: open, line setup, close, the bytes, and a descriptor
// for the logger's loop to wait on. The real one sits on the serial library; tests give a fake.
//
// The logger watches the port's descriptor itself rather than being told by a watcher thread:
// at 20 replies a second a second thread costs as many wake-ups again, for nothing the logger
// needs (it reads bytes and notices a hang-up; line errors and breaks change nothing for it).
#pragma once

#include <string>

#include "protocol/byte_port.h"

namespace zuz::cli {

class ILoggerPort : public IBytePort {
public:
    // Opens the device at once; 8N1 comes with Setup. 0 on success, else an error code that
    // ErrorText explains.
    virtual long Open(const std::string& device) = 0;
    virtual void Setup(unsigned baudRate) = 0;
    virtual void Close() = 0;
    virtual std::string ErrorText(long error) const = 0;
    // While open: a descriptor that poll() reports readable when input waits, and hung up
    // (POLLHUP or POLLERR) once the port has gone. -1 when closed.
    virtual int Descriptor() const = 0;
};

}  // namespace zuz::cli

// The byte source and sink that the monitor talks to the master controller through: the serial
// port in the programs, a simulated bus in tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zuz {

class IBytePort {
public:
    virtual ~IBytePort() = default;
    // Returns at once with what has arrived (possibly nothing) in *count. Result: 0 on success,
    // an error code otherwise (and *count is 0).
    virtual long Read(std::uint8_t* buffer, std::size_t length, std::size_t* count) = 0;
    // Returns when the driver has taken every byte. Result: 0 on success, an error code otherwise.
    virtual long Write(const std::uint8_t* data, std::size_t length) = 0;
};

}  // namespace zuz

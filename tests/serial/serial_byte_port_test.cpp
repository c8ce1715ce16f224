#include "serial/serial_byte_port.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "protocol/frame.h"
#include "pty_pair.h"
#include "serial/serial_wnd.h"

namespace zuz {
namespace {

using test::PtyPair;
using test::WaitQueued;

class NullSink : public ISerialNotifySink {
public:
    void PostSerialNotification(unsigned, std::uint32_t, std::intptr_t) override {}
};

TEST(SerialBytePortTest, CarriesFramesBothWays) {
    PtyPair pty;
    if (!pty.Ok()) GTEST_SKIP() << "no pseudo-terminals here: " << std::strerror(errno);
    NullSink sink;
    CSerialWnd serial;
    ASSERT_EQ(serial.Open(pty.SlavePath().c_str(), &sink), ERROR_SUCCESS);
    SerialBytePort port(serial);

    const std::vector<std::uint8_t> request = BuildRequestFrame(CMD_PROBE, 42);
    EXPECT_EQ(port.Write(request.data(), request.size()), ERROR_SUCCESS);
    EXPECT_EQ(pty.Receive(request.size()), request);

    // Drained in chunks as the monitor does, until a read gives nothing.
    const std::vector<std::uint8_t> reply = test::Pattern(230);
    ASSERT_TRUE(pty.Send(reply));
    ASSERT_TRUE(WaitQueued(serial.Handle(), 230));
    std::vector<std::uint8_t> got;
    std::vector<std::size_t> counts;
    for (;;) {
        std::uint8_t chunk[100];
        std::size_t count = 99;
        ASSERT_EQ(port.Read(chunk, sizeof chunk, &count), ERROR_SUCCESS);
        counts.push_back(count);
        if (count == 0) break;
        got.insert(got.end(), chunk, chunk + count);
    }
    EXPECT_EQ(counts, (std::vector<std::size_t>{100, 100, 30, 0}));
    EXPECT_EQ(got, reply);
}

TEST(SerialBytePortTest, ClosedPortGivesTheErrorAndNoBytes) {
    CSerial serial;
    SerialBytePort port(serial);
    std::uint8_t buffer[10];
    std::size_t count = 99;
    EXPECT_EQ(port.Read(buffer, sizeof buffer, &count), ERROR_INVALID_HANDLE);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(port.Write(buffer, sizeof buffer), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace zuz

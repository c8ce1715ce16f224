#include <gtest/gtest.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "notify_recorder.h"
#include "pty_pair.h"
#include "serial/serial.h"
#include "serial/serial_wnd.h"
#include "temp_dir.h"

namespace zuz {
namespace {

using test::kPatience;
using test::Notification;
using test::NotifyRecorder;
using test::Pattern;
using test::PtyPair;
using test::WaitQueued;
using Bytes = std::vector<std::uint8_t>;

// Enough for the watcher to have come round several times if it were spinning, without
// making the suite slow; nothing is asserted about how long anything takes.
void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(150)); }

// Waits for a condition that another thread makes true.
template <typename Predicate>
bool Eventually(Predicate done) {
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A notification count in which a spinning watcher would show as thousands.
constexpr std::uint64_t kFewWakeups = 10;

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!pty.Ok()) GTEST_SKIP() << "no pseudo-terminals here: " << std::strerror(errno);
    }
    const char* Device() const { return pty.SlavePath().c_str(); }

    PtyPair pty;
    NotifyRecorder sink;
};

TEST_F(SerialPortTest, OpenCloseAndOpenAgain) {
    CSerialWnd port;
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Close(), ERROR_SUCCESS) << "closing a closed port does nothing";

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(port.Open(Device(), &sink), ERROR_SUCCESS);
        EXPECT_TRUE(port.IsOpen());
        EXPECT_TRUE(port.IsWatcherRunning());
        EXPECT_EQ(port.GetEventMask(), EV_RXCHAR | EV_BREAK | EV_ERR);
        EXPECT_EQ(port.Message(), CSerialWnd::DefaultComMsg());
        EXPECT_EQ(port.Close(), ERROR_SUCCESS);
        EXPECT_FALSE(port.IsOpen());
        EXPECT_FALSE(port.IsWatcherRunning());
        EXPECT_EQ(port.Close(), ERROR_SUCCESS);
        EXPECT_EQ(port.GetLastError(), ERROR_SUCCESS);
    }
}

TEST_F(SerialPortTest, OpenOnOpenPortIsRefusedAndChangesNothing) {
    PtyPair other;
    ASSERT_TRUE(other.Ok());
    CSerialWnd port;
    ASSERT_EQ(port.Open(Device(), &sink, 0, 5), ERROR_SUCCESS);
    ASSERT_EQ(port.Setup(57600, 8, kParityNone, kStopBitsOne), ERROR_SUCCESS);
    const int handle = port.Handle();

    NotifyRecorder otherSink;
    EXPECT_EQ(port.Open(other.SlavePath().c_str(), &otherSink, 0x1234, 9),
              ERROR_ALREADY_INITIALIZED);
    EXPECT_EQ(port.GetLastError(), ERROR_ALREADY_INITIALIZED);

    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(port.IsWatcherRunning());
    EXPECT_EQ(port.Handle(), handle);
    EXPECT_EQ(port.GetBaudRate(), 57600);
    EXPECT_EQ(port.Message(), CSerialWnd::DefaultComMsg());
    // Still the first device, still reporting to the first sink with its value.
    ASSERT_TRUE(pty.Send({1, 2, 3}));
    ASSERT_TRUE(sink.WaitForEvents(EV_RXCHAR));
    EXPECT_EQ(sink.Posted().front().lParam, 5);
    EXPECT_TRUE(otherSink.Posted().empty());
    // And the other device was not taken: someone else can open it.
    CSerial third;
    EXPECT_EQ(third.Open(other.SlavePath().c_str()), ERROR_SUCCESS);
}

TEST_F(SerialPortTest, FailedOpenLeavesPortClosed) {
    test::TempDir dir;
    struct Case {
        std::string device;
        int error;
    };
    const Case cases[] = {
        {"/nonexistent/ttyUSB9", ENOENT},
        {"", ENOENT},
        {"/dev/null", ENOTTY},  // exists, but is not a terminal
        {dir.Path(), EISDIR},
    };
    CSerialWnd port;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        EXPECT_EQ(port.Open(c.device.c_str(), &sink), SerialErrorFromErrno(c.error));
        EXPECT_EQ(port.GetLastError(), SerialErrorFromErrno(c.error));
        EXPECT_FALSE(port.IsOpen());
        EXPECT_FALSE(port.IsWatcherRunning());
    }
    EXPECT_EQ(port.Open(Device(), &sink), ERROR_SUCCESS) << "a good device opens afterwards";
}

TEST_F(SerialPortTest, DeviceHeldByAnotherObjectIsRefused) {
    CSerialWnd holder;
    ASSERT_EQ(holder.Open(Device(), &sink), ERROR_SUCCESS);

    // Refused both to the plain port and to the watched one; root included (the lock).
    CSerial plain;
    const long refused = plain.Open(Device());
    EXPECT_TRUE(refused == SerialErrorFromErrno(EWOULDBLOCK) ||
                refused == SerialErrorFromErrno(EBUSY))
        << SerialErrorText(refused);
    EXPECT_FALSE(plain.IsOpen());
    NotifyRecorder otherSink;
    CSerialWnd watched;
    EXPECT_NE(watched.Open(Device(), &otherSink), ERROR_SUCCESS);
    EXPECT_FALSE(watched.IsOpen());

    // The holder is undisturbed: it still sends and receives.
    ASSERT_EQ(holder.Write("ok", 2), ERROR_SUCCESS);
    EXPECT_EQ(pty.Receive(2), (Bytes{'o', 'k'}));

    // Once it lets go, the device can be had.
    holder.Close();
    EXPECT_EQ(plain.Open(Device()), ERROR_SUCCESS);
}

TEST_F(SerialPortTest, ReadWithNothingReceivedReturnsAtOnceWithNothing) {
    CSerial plain;
    CSerialWnd watched;
    ASSERT_EQ(plain.Open(Device()), ERROR_SUCCESS);
    std::uint8_t buffer[100];
    std::size_t count = 99;
    EXPECT_EQ(plain.Read(buffer, sizeof buffer, &count), ERROR_SUCCESS);
    EXPECT_EQ(count, 0u);
    plain.Close();

    ASSERT_EQ(watched.Open(Device(), &sink), ERROR_SUCCESS);
    count = 99;
    EXPECT_EQ(watched.Read(buffer, sizeof buffer, &count), ERROR_SUCCESS);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(watched.Read(buffer, sizeof buffer), ERROR_SUCCESS) << "count output is optional";
}

TEST_F(SerialPortTest, WaitingBytesAreReadInPiecesOfTheAskedLength) {
    CSerialWnd port;
    ASSERT_EQ(port.Open(Device(), &sink), ERROR_SUCCESS);
    const Bytes sent = Pattern(250);
    ASSERT_TRUE(pty.Send(sent));
    ASSERT_TRUE(WaitQueued(port.Handle(), 250));

    Bytes got;
    std::vector<std::size_t> counts;
    for (int i = 0; i < 4; ++i) {
        std::uint8_t buffer[100];
        std::size_t count = 0;
        EXPECT_EQ(port.Read(buffer, sizeof buffer, &count), ERROR_SUCCESS);
        counts.push_back(count);
        got.insert(got.end(), buffer, buffer + count);
    }
    EXPECT_EQ(counts, (std::vector<std::size_t>{100, 100, 50, 0}));
    EXPECT_EQ(got, sent);
}

TEST_F(SerialPortTest, WriteReachesTheOtherSideWhole) {
    // The large sizes overflow the pseudo-terminal's buffer, so the writer has to wait for room.
    for (std::size_t size : {std::size_t{1}, std::size_t{100}, std::size_t{4095},
                             std::size_t{300000}}) {
        SCOPED_TRACE(size);
        CSerialWnd port;
        ASSERT_EQ(port.Open(Device(), &sink), ERROR_SUCCESS);
        const Bytes data = Pattern(size);
        auto received = std::async(std::launch::async, [&] { return pty.Receive(size); });
        std::size_t written = 0;
        EXPECT_EQ(port.Write(data.data(), data.size(), &written), ERROR_SUCCESS);
        EXPECT_EQ(written, size);
        EXPECT_EQ(received.get(), data);
    }
}

TEST_F(SerialPortTest, WriteStringSendsTextWithoutTerminator) {
    CSerial port;
    ASSERT_EQ(port.Open(Device()), ERROR_SUCCESS);
    std::size_t written = 0;
    EXPECT_EQ(port.WriteString("AT\r", &written), ERROR_SUCCESS);
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(pty.Receive(3), (Bytes{'A', 'T', '\r'}));
}

TEST_F(SerialPortTest, BytesPassUnchangedBothWays) {
    // Every byte value, including those a cooked terminal would act on (CR, ^C, ^S, ^Q, DEL).
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    CSerialWnd port;
    ASSERT_EQ(port.Open(Device(), &sink), ERROR_SUCCESS);

    ASSERT_TRUE(pty.Send(all));
    ASSERT_TRUE(WaitQueued(port.Handle(), 256));
    Bytes in(300);
    std::size_t count = 0;
    EXPECT_EQ(port.Read(in.data(), in.size(), &count), ERROR_SUCCESS);
    in.resize(count);
    EXPECT_EQ(in, all);

    ASSERT_EQ(port.Write(all.data(), all.size()), ERROR_SUCCESS);
    EXPECT_EQ(pty.Receive(256), all) << "nothing echoed, nothing translated";
}

TEST_F(SerialPortTest, SetupIsReportedByTheGetters) {
    // What a pseudo-terminal keeps: speed and stop bits (it forces 8 data bits, no parity; the
    // other formats are checked on the conversion itself, in line_settings_test).
    struct Case {
        long baud;
        int stopBits;
        int expectedStopBits;
    };
    const Case cases[] = {
        {115200, kStopBitsOne, kStopBitsOne},  {9600, kStopBitsTwo, kStopBitsTwo},
        {19200, kStopBitsOne, kStopBitsOne},   {38400, kStopBitsOneAndHalf, kStopBitsTwo},
        {57600, kStopBitsOne, kStopBitsOne},   {230400, kStopBitsOne, kStopBitsOne},
        {115200, kStopBitsOne, kStopBitsOne},
    };
    CSerial port;
    ASSERT_EQ(port.Open(Device()), ERROR_SUCCESS);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        ASSERT_EQ(port.Setup(c.baud, 8, kParityNone, c.stopBits), ERROR_SUCCESS);
        EXPECT_EQ(port.GetBaudRate(), c.baud);
        EXPECT_EQ(port.GetDataBits(), 8);
        EXPECT_EQ(port.GetParity(), kParityNone);
        EXPECT_EQ(port.GetStopBits(), c.expectedStopBits);
        EXPECT_EQ(port.GetHandshaking(), kHandshakeOff) << "Setup leaves flow control alone";
        EXPECT_EQ(port.GetLastError(), ERROR_SUCCESS);
    }
}

TEST_F(SerialPortTest, SetupRefusesWhatTheLineCannotDoAndKeepsTheSettings) {
    struct Case {
        const char* name;
        long baud;
        int dataBits, parity, stopBits;
    };
    const Case cases[] = {
        {"odd baud rate", 12345, 8, 0, 0}, {"zero baud rate", 0, 8, 0, 0},
        {"nine data bits", 9600, 9, 0, 0}, {"four data bits", 9600, 4, 0, 0},
        {"parity 5", 9600, 8, 5, 0},       {"parity -1", 9600, 8, -1, 0},
        {"stop code 3", 9600, 8, 0, 3},
    };
    CSerial port;
    ASSERT_EQ(port.Open(Device()), ERROR_SUCCESS);
    ASSERT_EQ(port.Setup(115200, 8, kParityNone, kStopBitsOne), ERROR_SUCCESS);
    for (const Case& c : cases) {
        EXPECT_EQ(port.Setup(c.baud, c.dataBits, c.parity, c.stopBits),
                  SerialErrorFromErrno(EINVAL))
            << c.name;
        EXPECT_EQ(port.GetBaudRate(), 115200) << c.name;
        EXPECT_EQ(port.GetDataBits(), 8) << c.name;
    }
}

TEST_F(SerialPortTest, HandshakingModes) {
    struct Case {
        int mode;
        long result;
        int reported;
    };
    const Case cases[] = {
        {kHandshakeHardware, ERROR_SUCCESS, kHandshakeHardware},
        {kHandshakeSoftware, ERROR_SUCCESS, kHandshakeSoftware},
        {kHandshakeOff, ERROR_SUCCESS, kHandshakeOff},
        {kHandshakeSoftware, ERROR_SUCCESS, kHandshakeSoftware},
        {3, E_INVALIDARG, kHandshakeSoftware},  // unknown: nothing changes
        {-1, E_INVALIDARG, kHandshakeSoftware},
        {kHandshakeHardware, ERROR_SUCCESS, kHandshakeHardware},
    };
    CSerial port;
    ASSERT_EQ(port.Open(Device()), ERROR_SUCCESS);
    EXPECT_EQ(port.GetHandshaking(), kHandshakeOff) << "Open turns flow control off";
    for (const Case& c : cases) {
        EXPECT_EQ(port.SetHandshaking(c.mode), c.result) << c.mode;
        EXPECT_EQ(port.GetLastError(), c.result) << c.mode;
        EXPECT_EQ(port.GetHandshaking(), c.reported) << c.mode;
    }
}

TEST_F(SerialPortTest, EventMaskAndCharacter) {
    CSerial port;
    ASSERT_EQ(port.Open(Device()), ERROR_SUCCESS);
    EXPECT_EQ(port.GetEventMask(), 0x00C1u);
    EXPECT_EQ(port.GetEventCharacter(), 0);
    EXPECT_EQ(port.SetEventCharacter('\n', false), ERROR_SUCCESS);
    EXPECT_EQ(port.GetEventCharacter(), '\n');
    EXPECT_EQ(port.GetEventMask(), 0x00C1u) << "without adjustMask the mask stays";
    EXPECT_EQ(port.SetEventCharacter('#', true), ERROR_SUCCESS);
    EXPECT_EQ(port.GetEventCharacter(), '#');
    EXPECT_EQ(port.GetEventMask(), 0x00C1u | EV_RXFLAG);
    EXPECT_EQ(port.SetEventMask(EV_BREAK), ERROR_SUCCESS);
    EXPECT_EQ(port.GetEventMask(), EV_BREAK);
    port.Close();
    ASSERT_EQ(port.Open(Device()), ERROR_SUCCESS);
    EXPECT_EQ(port.GetEventMask(), 0x00C1u) << "a new session starts with the default mask";
    EXPECT_EQ(port.GetEventCharacter(), 0);
}

TEST(SerialClosedPortTest, EveryOperationOnAClosedPortFails) {
    CSerial port;
    std::uint8_t buffer[4] = {};
    std::size_t count = 7;
    struct Case {
        const char* name;
        std::function<long()> call;
        long expected;
    };
    const Case cases[] = {
        {"Setup", [&] { return port.Setup(9600, 8, 0, 0); }, ERROR_INVALID_HANDLE},
        {"SetEventMask", [&] { return port.SetEventMask(1); }, ERROR_INVALID_HANDLE},
        {"SetEventCharacter", [&] { return port.SetEventCharacter('x'); }, ERROR_INVALID_HANDLE},
        {"WaitForEvent", [&] { return port.WaitForEvent(); }, ERROR_INVALID_HANDLE},
        {"SetHandshaking", [&] { return port.SetHandshaking(0); }, ERROR_INVALID_HANDLE},
        {"SetHandshaking bad", [&] { return port.SetHandshaking(9); }, ERROR_INVALID_HANDLE},
        {"SetReadMode", [&] { return port.SetReadMode(0); }, ERROR_INVALID_HANDLE},
        {"Write", [&] { return port.Write(buffer, 4, &count); }, ERROR_INVALID_HANDLE},
        {"WriteString", [&] { return port.WriteString("x", &count); }, ERROR_INVALID_HANDLE},
        {"Read", [&] { return port.Read(buffer, 4, &count); }, ERROR_INVALID_HANDLE},
        {"GetBaudRate", [&] { return port.GetBaudRate(); }, -1},
        {"GetDataBits", [&] { return long{port.GetDataBits()}; }, -1},
        {"GetParity", [&] { return long{port.GetParity()}; }, -1},
        {"GetStopBits", [&] { return long{port.GetStopBits()}; }, -1},
        {"GetHandshaking", [&] { return long{port.GetHandshaking()}; }, -1},
        {"GetEventMask", [&] { return long{port.GetEventMask()}; }, 0},
        {"GetEventCharacter", [&] { return long{port.GetEventCharacter()}; }, 0},
        {"Close", [&] { return port.Close(); }, ERROR_SUCCESS},
    };
    for (const Case& c : cases) {
        count = 7;
        EXPECT_EQ(c.call(), c.expected) << c.name;
        EXPECT_EQ(port.GetLastError(), c.name == std::string("Close") ? ERROR_SUCCESS
                                                                      : ERROR_INVALID_HANDLE)
            << c.name;
        if (c.name == std::string("Read") || c.name == std::string("Write")) {
            EXPECT_EQ(count, 0u) << c.name;
        }
    }
}

TEST_F(SerialPortTest, TimeOutsNeedAnOverlappedPort) {
    std::uint8_t buffer[8];
    std::size_t count = 0;
    CSerial plain;
    ASSERT_EQ(plain.Open(Device()), ERROR_SUCCESS);
    EXPECT_EQ(plain.Read(buffer, 8, &count, 50), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(plain.Write(buffer, 8, &count, 50), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(plain.WaitForEvent(50), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(plain.GetLastError(), ERROR_INVALID_FUNCTION);
    plain.Close();

    CSerial overlapped;
    ASSERT_EQ(overlapped.Open(Device(), 0, 0, true), ERROR_SUCCESS);
    EXPECT_EQ(overlapped.WaitForEvent(20), ERROR_TIMEOUT);
    ASSERT_EQ(overlapped.SetReadMode(kReadBlocking), ERROR_SUCCESS);
    EXPECT_EQ(overlapped.Read(buffer, 8, &count, 20), ERROR_TIMEOUT);
    EXPECT_EQ(count, 0u);
    // A partial arrival is handed over with the time-out rather than lost.
    ASSERT_TRUE(pty.Send({9, 8, 7}));
    ASSERT_TRUE(WaitQueued(overlapped.Handle(), 3));
    EXPECT_EQ(overlapped.Read(buffer, 8, &count, 20), ERROR_TIMEOUT);
    EXPECT_EQ(count, 3u);
}

TEST_F(SerialPortTest, ReadModes) {
    CSerial port;
    ASSERT_EQ(port.Open(Device()), ERROR_SUCCESS);
    EXPECT_EQ(port.SetReadMode(2), E_INVALIDARG);
    EXPECT_EQ(port.SetReadMode(-1), E_INVALIDARG);
    ASSERT_EQ(port.SetReadMode(kReadBlocking), ERROR_SUCCESS);

    // A blocking read waits until the whole length has come, across several arrivals.
    const Bytes sent = Pattern(10);
    std::thread sender([&] {
        pty.Send(Bytes(sent.begin(), sent.begin() + 4));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pty.Send(Bytes(sent.begin() + 4, sent.end()));
    });
    Bytes got(10);
    std::size_t count = 0;
    EXPECT_EQ(port.Read(got.data(), got.size(), &count), ERROR_SUCCESS);
    sender.join();
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(got, sent);

    // Back to non-blocking: nothing waiting gives nothing at once.
    ASSERT_EQ(port.SetReadMode(kReadNonBlocking), ERROR_SUCCESS);
    EXPECT_EQ(port.Read(got.data(), got.size(), &count), ERROR_SUCCESS);
    EXPECT_EQ(count, 0u);
}

TEST_F(SerialPortTest, WaitForEventReportsArrivalAndHangUp) {
    CSerial port;
    ASSERT_EQ(port.Open(Device(), 0, 0, true), ERROR_SUCCESS);
    ASSERT_TRUE(pty.Send({0x55}));
    EXPECT_EQ(port.WaitForEvent(), ERROR_SUCCESS);
    EXPECT_EQ(port.GetEventResult(), EV_RXCHAR);

    // Input the mask does not ask for is not an event.
    ASSERT_EQ(port.SetEventMask(EV_BREAK), ERROR_SUCCESS);
    EXPECT_EQ(port.WaitForEvent(20), ERROR_TIMEOUT);

    ASSERT_EQ(port.SetEventMask(kDefaultEventMask), ERROR_SUCCESS);
    std::uint8_t byte = 0;
    ASSERT_EQ(port.Read(&byte, 1), ERROR_SUCCESS);
    pty.CloseMaster();
    EXPECT_EQ(port.WaitForEvent(), SerialErrorFromErrno(EIO));
    EXPECT_EQ(port.GetEventResult(), EV_ERR);
}

TEST_F(SerialPortTest, ArrivalIsNotifiedThroughTheSink) {
    struct Case {
        unsigned message;
        std::intptr_t value;
        unsigned expectedMessage;
    };
    const Case cases[] = {
        {0, 0, CSerialWnd::DefaultComMsg()},
        {0xC321, -42, 0xC321},
        {0x0401, 7, 0x0401},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        sink.Clear();
        CSerialWnd port;
        ASSERT_EQ(port.Open(Device(), &sink, c.message, c.value), ERROR_SUCCESS);
        ASSERT_TRUE(pty.Send({0xAA, 0x55, 0x03}));
        ASSERT_TRUE(sink.WaitForEvents(EV_RXCHAR));
        const Notification first = sink.Posted().front();
        EXPECT_EQ(first.message, c.expectedMessage);
        EXPECT_EQ(first.wParam, EV_RXCHAR) << "no other events, no line errors";
        EXPECT_EQ(first.lParam, c.value);
        std::uint8_t buffer[100];
        std::size_t count = 0;
        ASSERT_TRUE(WaitQueued(port.Handle(), 3));
        EXPECT_EQ(port.Read(buffer, sizeof buffer, &count), ERROR_SUCCESS);
        EXPECT_EQ(count, 3u);
    }
}

TEST_F(SerialPortTest, ArrivalIsReportedOnceUntilTheOwnerReads) {
    CSerialWnd port;
    ASSERT_EQ(port.Open(Device(), &sink), ERROR_SUCCESS);
    ASSERT_TRUE(pty.Send(Pattern(10)));
    ASSERT_TRUE(sink.WaitForEvents(EV_RXCHAR));

    // More input while the first is unread: no new notification, and the watcher sleeps.
    ASSERT_TRUE(pty.Send(Pattern(20)));
    ASSERT_TRUE(WaitQueued(port.Handle(), 30));
    Settle();
    EXPECT_EQ(sink.Posted().size(), 1u);
    EXPECT_LE(port.WatcherWakeups(), kFewWakeups);

    // The owner drains the port; new input is reported again.
    std::uint8_t buffer[100];
    std::size_t count = 0;
    ASSERT_EQ(port.Read(buffer, sizeof buffer, &count), ERROR_SUCCESS);
    EXPECT_EQ(count, 30u);
    ASSERT_TRUE(pty.Send({1}));
    ASSERT_TRUE(sink.WaitUntil([](const std::vector<Notification>& all) {
        return all.size() >= 2 && (all.back().Events() & EV_RXCHAR);
    }));
}

TEST_F(SerialPortTest, InputLeftAfterAPartialReadIsReportedAgain) {
    CSerialWnd port;
    ASSERT_EQ(port.Open(Device(), &sink), ERROR_SUCCESS);
    ASSERT_TRUE(pty.Send(Pattern(30)));
    ASSERT_TRUE(sink.WaitForEvents(EV_RXCHAR));
    ASSERT_TRUE(WaitQueued(port.Handle(), 30));
    std::uint8_t buffer[10];
    std::size_t count = 0;
    ASSERT_EQ(port.Read(buffer, sizeof buffer, &count), ERROR_SUCCESS);
    ASSERT_EQ(count, 10u);
    // A reader that takes a piece and waits for the next notification is not left waiting.
    EXPECT_TRUE(sink.WaitUntil([](const std::vector<Notification>& all) {
        return all.size() >= 2 && (all.back().Events() & EV_RXCHAR);
    }));
}

TEST_F(SerialPortTest, MaskedOutInputIsNotReportedAndDoesNotSpin) {
    CSerialWnd port;
    ASSERT_EQ(port.Open(Device(), &sink), ERROR_SUCCESS);
    ASSERT_EQ(port.SetEventMask(EV_BREAK | EV_ERR), ERROR_SUCCESS);
    ASSERT_TRUE(pty.Send(Pattern(5)));
    ASSERT_TRUE(Eventually([&] { return port.WatcherWakeups() >= 1; }));
    Settle();
    EXPECT_TRUE(sink.Posted().empty());
    EXPECT_LE(port.WatcherWakeups(), kFewWakeups);
    std::uint8_t buffer[10];
    std::size_t count = 0;
    ASSERT_EQ(port.Read(buffer, sizeof buffer, &count), ERROR_SUCCESS);
    EXPECT_EQ(count, 5u) << "the input is still there for the owner";
}

TEST_F(SerialPortTest, CloseReturnsOnlyAfterTheWatcherHasEnded) {
    CSerialWnd port;
    std::atomic<bool> inside{false};
    std::atomic<bool> finished{false};
    // The watcher is held inside the notification for a while; Close must wait it out.
    sink.onPost = [&] {
        inside = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        finished = true;
    };
    ASSERT_EQ(port.Open(Device(), &sink), ERROR_SUCCESS);
    ASSERT_TRUE(pty.Send({1}));
    ASSERT_TRUE(Eventually([&] { return inside.load(); }));
    EXPECT_EQ(port.Close(), ERROR_SUCCESS);
    EXPECT_TRUE(finished.load());
    EXPECT_FALSE(port.IsWatcherRunning());
    EXPECT_FALSE(port.IsOpen());
    // Nothing is posted after Close.
    const std::size_t posted = sink.Posted().size();
    pty.Send({2});
    Settle();
    EXPECT_EQ(sink.Posted().size(), posted);
}

TEST_F(SerialPortTest, ReadAfterCloseFindsNothing) {
    CSerialWnd port;
    ASSERT_EQ(port.Open(Device(), &sink), ERROR_SUCCESS);
    ASSERT_TRUE(pty.Send({1, 2}));
    ASSERT_TRUE(sink.WaitForEvents(EV_RXCHAR));
    port.Close();
    // A notification still queued at the owner drains nothing.
    std::uint8_t buffer[100];
    std::size_t count = 5;
    EXPECT_EQ(port.Read(buffer, sizeof buffer, &count), ERROR_INVALID_HANDLE);
    EXPECT_EQ(count, 0u);
}

TEST_F(SerialPortTest, HangUpIsReportedOnceAndTheWatcherEnds) {
    struct Case {
        const char* name;
        bool unreadInput;  // input already reported and waiting when the device goes
    };
    for (const Case c : {Case{"idle", false}, Case{"input waiting", true}}) {
        SCOPED_TRACE(c.name);
        PtyPair pair;
        ASSERT_TRUE(pair.Ok());
        NotifyRecorder recorder;
        CSerialWnd port;
        ASSERT_EQ(port.Open(pair.SlavePath().c_str(), &recorder), ERROR_SUCCESS);
        std::size_t before = 0;
        if (c.unreadInput) {
            ASSERT_TRUE(pair.Send({1, 2, 3}));
            ASSERT_TRUE(recorder.WaitForEvents(EV_RXCHAR));
            before = 1;
        }

        pair.CloseMaster();
        ASSERT_TRUE(recorder.WaitUntil(
            [&](const std::vector<Notification>& all) { return all.size() > before; }));
        ASSERT_TRUE(Eventually([&] { return !port.IsWatcherRunning(); }));
        Settle();

        const std::vector<Notification> posted = recorder.Posted();
        ASSERT_EQ(posted.size(), before + 1) << "told once";
        EXPECT_EQ(posted.back().Events(), EV_ERR);
        EXPECT_EQ(posted.back().Errors(), CE_PORT_GONE);
        EXPECT_EQ(posted.back().wParam, EV_ERR | (CE_PORT_GONE << 16));
        EXPECT_LE(port.WatcherWakeups(), before + 3) << "no spinning on the hang-up";

        // The port stays open until closed; reading tells of the hang-up without blocking.
        EXPECT_TRUE(port.IsOpen());
        std::uint8_t buffer[100];
        std::size_t count = 0;
        port.Read(buffer, sizeof buffer, &count);
        port.Read(buffer, sizeof buffer, &count);
        EXPECT_EQ(port.Read(buffer, sizeof buffer, &count), SerialErrorFromErrno(EIO));
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(port.Write("x", 1), SerialErrorFromErrno(EIO));
        EXPECT_EQ(port.Close(), ERROR_SUCCESS);
        EXPECT_EQ(recorder.Posted().size(), before + 1);
    }
}

TEST_F(SerialPortTest, BreakFromTheDeviceArrivesWithoutDataBit) {
    CSerialWnd port;
    ASSERT_EQ(port.Open(Device(), &sink), ERROR_SUCCESS);
    serial_icounter_struct counters{};
    if (ioctl(port.Handle(), TIOCGICOUNT, &counters) != 0) {
        GTEST_SKIP() << "this pseudo-terminal keeps no line counters, so a break cannot be seen "
                        "(the break logic is covered with simulated counters below)";
    }
    ASSERT_EQ(tcsendbreak(pty.Master(), 0), 0);
    ASSERT_TRUE(sink.WaitForEvents(EV_BREAK));
    for (const Notification& n : sink.Posted()) {
        if (n.Events() & EV_BREAK) {
            EXPECT_EQ(n.Events() & EV_RXCHAR, 0u);
            EXPECT_NE(n.Errors() & CE_BREAK, 0u);
        }
    }
}

// A port whose driver counters the test sets, standing in for a UART.
class CountedPort : public CSerialWnd {
public:
    ~CountedPort() override { Close(); }  // the watcher calls ReadLineCounters of this class

    std::atomic<std::uint32_t> rx{0}, brk{0}, frame{0}, parity{0}, overrun{0}, bufOverrun{0};

protected:
    bool ReadLineCounters(LineCounters* c) override {
        c->rx = rx;
        c->brk = brk;
        c->frame = frame;
        c->parity = parity;
        c->overrun = overrun;
        c->bufOverrun = bufOverrun;
        return true;
    }
};

TEST_F(SerialPortTest, LineEventsFromTheDriverCounters) {
    struct Case {
        const char* name;
        std::uint32_t mask;
        std::uint32_t rx, brk, frame, parity, overrun, bufOverrun;
        Bytes bytes;  // what the "UART" delivers with the counted events
        std::uint32_t events;
        std::uint32_t errors;
    };
    const Case cases[] = {
        {"break counted as a character", kDefaultEventMask, 1, 1, 0, 0, 0, 0, {0}, EV_BREAK,
         CE_BREAK},
        {"break not counted as a character", kDefaultEventMask, 0, 1, 0, 0, 0, 0, {0}, EV_BREAK,
         CE_BREAK},
        {"data after a break", kDefaultEventMask, 3, 1, 0, 0, 0, 0, {0, 'a', 'b'},
         EV_BREAK | EV_RXCHAR, CE_BREAK},
        {"framing error", kDefaultEventMask, 2, 0, 1, 0, 0, 0, {'x', 'y'}, EV_ERR | EV_RXCHAR,
         CE_FRAME},
        {"parity error", kDefaultEventMask, 1, 0, 0, 1, 0, 0, {'p'}, EV_ERR | EV_RXCHAR,
         CE_RXPARITY},
        {"overrun", kDefaultEventMask, 5, 0, 0, 0, 2, 0, {'o'}, EV_ERR | EV_RXCHAR, CE_OVERRUN},
        {"buffer overflow", kDefaultEventMask, 5, 0, 0, 0, 0, 1, {'b'}, EV_ERR | EV_RXCHAR,
         CE_RXOVER},
        {"several errors at once", kDefaultEventMask, 4, 0, 1, 1, 1, 0, {'s'},
         EV_ERR | EV_RXCHAR, CE_FRAME | CE_RXPARITY | CE_OVERRUN},
        {"errors outside the mask still ride along", EV_RXCHAR, 1, 0, 1, 0, 0, 0, {'m'},
         EV_RXCHAR, CE_FRAME},
        {"break outside the mask", EV_RXCHAR | EV_ERR, 4, 1, 0, 0, 0, 0, {0, 'c'}, EV_RXCHAR,
         CE_BREAK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PtyPair pair;
        ASSERT_TRUE(pair.Ok());
        NotifyRecorder recorder;
        CountedPort port;
        ASSERT_EQ(port.Open(pair.SlavePath().c_str(), &recorder), ERROR_SUCCESS);
        ASSERT_EQ(port.SetEventMask(c.mask), ERROR_SUCCESS);
        port.rx += c.rx;
        port.brk += c.brk;
        port.frame += c.frame;
        port.parity += c.parity;
        port.overrun += c.overrun;
        port.bufOverrun += c.bufOverrun;
        ASSERT_TRUE(pair.Send(c.bytes));
        ASSERT_TRUE(recorder.WaitUntil([](const auto& all) { return !all.empty(); }));
        const Notification first = recorder.Posted().front();
        EXPECT_EQ(first.Events(), c.events);
        EXPECT_EQ(first.Errors(), c.errors);
        // Whatever came with the events is still announced as data.
        if (!(c.events & EV_RXCHAR) && (c.mask & EV_RXCHAR)) {
            EXPECT_TRUE(recorder.WaitForEvents(EV_RXCHAR));
        }
        // Errors are reported once, not again with the next arrival.
        std::uint8_t buffer[16];
        ASSERT_TRUE(WaitQueued(port.Handle(), static_cast<int>(c.bytes.size())));
        port.Read(buffer, sizeof buffer);
        recorder.Clear();
        ASSERT_TRUE(pair.Send({'n'}));
        ASSERT_TRUE(recorder.WaitForEvents(EV_RXCHAR));
        EXPECT_EQ(recorder.Posted().back().wParam, EV_RXCHAR & c.mask);
        port.Close();
    }
}

TEST(RegisteredMessageTest, SameNameSameNumberInTheRegisteredRange) {
    const char* names[] = {"CSerialWnd_DefaultComMsg", "", "a", "b", "ZuzavadI", "ZuzavadJ"};
    std::vector<unsigned> numbers;
    for (const char* name : names) {
        const unsigned n = RegisteredMessage(name);
        EXPECT_GE(n, 0xC000u) << name;
        EXPECT_LE(n, 0xFFFFu) << name;
        EXPECT_EQ(RegisteredMessage(std::string(name).c_str()), n) << name;
        numbers.push_back(n);
    }
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        for (std::size_t j = i + 1; j < numbers.size(); ++j) {
            EXPECT_NE(numbers[i], numbers[j]) << names[i] << " / " << names[j];
        }
    }
    EXPECT_EQ(CSerialWnd::DefaultComMsg(), RegisteredMessage("CSerialWnd_DefaultComMsg"));
    // The number is part of what processes agree on: it must not change between builds.
    EXPECT_EQ(CSerialWnd::DefaultComMsg(), 0xDC4Du);
}

}  // namespace
}  // namespace zuz

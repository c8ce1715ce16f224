// The window's serial port over a pseudo-terminal that the test holds: the watcher's
// notifications reach the core on the window's thread, a port that cannot be opened leaves the
// window disconnected, and closing the window closes the port.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <QLabel>
#include <QPushButton>
#include <QThread>

#include <gtest/gtest.h>

#include "app/gui/cdisp.h"
#include "app/gui/main_window.h"
#include "gui_test_support.h"
#include "protocol/frame.h"
#include "sim_bus.h"

namespace zuz::gui {
namespace {

using test::EnsureApplication;
using test::ProcessUntil;

// The master side of a pseudo-terminal; the window opens the slave by its path.
class PtyMaster {
public:
    PtyMaster() {
        fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0 && grantpt(fd_) == 0 && unlockpt(fd_) == 0) slave_ = ptsname(fd_);
    }
    ~PtyMaster() {
        if (fd_ >= 0) close(fd_);
    }
    bool Ok() const { return !slave_.empty(); }
    const std::string& SlavePath() const { return slave_; }
    // Waits (running the GUI loop) until at least `n` bytes have come from the window.
    std::vector<std::uint8_t> ReadAtLeast(std::size_t n) {
        std::vector<std::uint8_t> got;
        ProcessUntil([&] {
            std::uint8_t buf[256];
            const ssize_t r = read(fd_, buf, sizeof buf);
            if (r > 0) got.insert(got.end(), buf, buf + r);
            return got.size() >= n;
        });
        return got;
    }
    void Write(const std::vector<std::uint8_t>& bytes) { ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    // True once the slave side has no opener left (reads fail with EIO).
    bool SlaveClosed() {
        std::uint8_t buf[256];
        for (;;) {
            const ssize_t r = read(fd_, buf, sizeof buf);
            if (r > 0) continue;
            return r < 0 && errno == EIO;
        }
    }

private:
    int fd_ = -1;
    std::string slave_;
};

std::unique_ptr<VavaduzidivaRer> WindowOn(const std::string& port) {
    EnsureApplication();
    auto w = std::make_unique<VavaduzidivaRer>();
    w->chooseChannelCount = [](VavaduzidivaRer& win) { win.SetChannelCount(2); };
    w->listPorts = [port] { return std::vector<std::string>{port}; };
    w->OnInitDialog();
    return w;
}

TEST(WindowSerial, ReplyOnTheLineReachesThePanel) {
    PtyMaster master;
    if (!master.Ok()) GTEST_SKIP() << "no pseudo-terminal here";
    auto w = WindowOn(master.SlavePath());
    qobject_cast<QPushButton*>(w->Control(IDC_CONNECT))->click();
    ASSERT_TRUE(w->Core().bus.connected) << w->StatusPane()->text().toStdString();
    // The first probe goes to address 1; the instrument there answers.
    const std::vector<std::uint8_t> probe = master.ReadAtLeast(6);
    ASSERT_GE(probe.size(), 6u);
    EXPECT_EQ(probe[0], 0xAA);
    EXPECT_EQ(probe[1], 0x55);
    w->Timers().Stop(TIMER_SCAN);  // keep the reply credited to this probe
    zuz::test::FakeInstrument instrument;
    instrument.serial = 0x5A6B7C8D;
    master.Write(zuz::test::ProbeReplyFrame(1, instrument));
    ASSERT_TRUE(ProcessUntil([&] { return w->Core().channels[0].SerialNo() == 0x5A6B7C8Du; }));
    EXPECT_TRUE(w->Panel(0)->accessibleName().endsWith(QStringLiteral("5A6B7C8D")));
    EXPECT_EQ(w->Core().bus.addressTable[0], 1);
}

TEST(WindowSerial, PortThatCannotOpenLeavesTheWindowDisconnected) {
    auto w = WindowOn("/nonexistent/ttyZUZ0");
    auto* connect = qobject_cast<QPushButton*>(w->Control(IDC_CONNECT));
    connect->click();
    EXPECT_FALSE(w->Core().bus.connected);
    EXPECT_EQ(connect->text(), QStringLiteral("连接设备"));
    EXPECT_FALSE(w->Timers().IsRunning(TIMER_SCAN));
}

TEST(WindowSerial, ClosingTheWindowClosesThePort) {
    struct Case {
        const char* name;
        std::function<void(VavaduzidivaRer&)> end;
    };
    const Case cases[] = {
        {"close box", [](VavaduzidivaRer& w) { w.close(); }},
        {"destroyed", [](VavaduzidivaRer&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PtyMaster master;
        if (!master.Ok()) GTEST_SKIP() << "no pseudo-terminal here";
        auto w = WindowOn(master.SlavePath());
        w->show();
        qobject_cast<QPushButton*>(w->Control(IDC_CONNECT))->click();
        ASSERT_TRUE(w->Core().bus.connected);
        EXPECT_FALSE(master.SlaveClosed());
        c.end(*w);
        if (!w->isVisible()) {
            // Closed by the user: the port is closed before the window object goes.
            EXPECT_TRUE(master.SlaveClosed());
            EXPECT_FALSE(w->Timers().IsRunning(TIMER_SCAN));
        }
        w.reset();
        EXPECT_TRUE(master.SlaveClosed());
    }
}

}  // namespace
}  // namespace zuz::gui

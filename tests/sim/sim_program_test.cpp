// The zuzavadi-sim program itself: its options, its exit codes, and a real exchange over its
// pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "child_process.h"
#include "protocol/frame.h"
#include "serial/virtual_ports.h"

namespace zuz::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const std::string kSim = std::string(ZUZ_BIN_DIR) + "/zuzavadi-sim";

class SimProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zuz-sim-program-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directory(dir_ / "ports");
        env_ = {{kPortDirVariable, (dir_ / "ports").string()}};
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string File(const std::string& name, const std::string& text) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }

    fs::path dir_;
    std::vector<std::pair<std::string, std::string>> env_;
};

TEST_F(SimProgramTest, HelpDocumentsEveryOption) {
    std::string out, err;
    ASSERT_EQ(ChildProcess::Run({kSim, "--help"}, &out, &err, env_), 0) << err;
    for (const char* option : {"--config", "--instrument", "--seed", "--baud", "--no-reply", "--bad-checksum",
                               "--split", "--garbage", "--delayed", "--duplicate", "--late-ms", "--log",
                               "--print-config", "--help", "constant", "list", "ramp", "sine", "walk", "overload"})
        EXPECT_NE(out.find(option), std::string::npos) << option;
}

TEST_F(SimProgramTest, BadOptionsAndConfigurationsExitWithTwoAndSayWhy) {
    const std::string badFile = File("bad.ini", "[instrument a]\naddress = 1\nform = medium\n");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string inMessage;
    };
    const Case cases[] = {
        {"unknown option", {"--colour"}, "unknown option --colour"},
        {"missing value", {"--seed"}, "needs a value"},
        {"stray argument", {"extra"}, "unexpected argument extra"},
        {"bad rate", {"--split", "2"}, "not a rate 0..1"},
        {"bad seed", {"--seed", "-3"}, "seed"},
        {"bad baud", {"--baud", "0"}, "baud"},
        {"bad instrument", {"--instrument", "address=1,form=medium"}, "--instrument"},
        {"address twice", {"--instrument", "address=4", "--instrument", "address=4"}, "two instruments at address 4"},
        {"bad file", {"--config", badFile}, badFile + ":3: form 'medium'"},
        {"missing file", {"--config", (dir_ / "none.ini").string()}, (dir_ / "none.ini").string() + ": cannot read"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {kSim};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string out, err;
        EXPECT_EQ(ChildProcess::Run(argv, &out, &err, env_), 2) << c.name;
        EXPECT_NE(err.find(c.inMessage), std::string::npos) << c.name << ": " << err;
        EXPECT_EQ(out, "") << c.name << ": nothing may look like a device path";
    }
    EXPECT_TRUE(fs::is_empty(dir_ / "ports")) << "nothing published by a run that did not start";
}

TEST_F(SimProgramTest, PrintConfigGivesAFileThatRunsTheSameBus) {
    std::string out, err;
    ASSERT_EQ(ChildProcess::Run({kSim, "--print-config", "--seed", "5", "--split", "0.5"}, &out, &err, env_), 0) << err;
    EXPECT_NE(out.find("seed = 5"), std::string::npos);
    EXPECT_NE(out.find("split = 0.5"), std::string::npos);
    EXPECT_NE(out.find("address = 34"), std::string::npos);
    std::string again;
    ASSERT_EQ(ChildProcess::Run({kSim, "--print-config", "--config", File("demo.ini", out)}, &again, &err, env_), 0)
        << err;
    EXPECT_EQ(again, out);
}

// The monitor's side of the line: the slave device opened raw.
class Line {
public:
    explicit Line(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios tio{};
        if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~Line() {
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    void Send(const Bytes& bytes) { ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    // Collects bytes until `count` have come or the line stays quiet for quietMs.
    Bytes Receive(std::size_t count, int quietMs = 2000) {
        Bytes got;
        while (got.size() < count) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, quietMs) <= 0) break;
            std::uint8_t buffer[256];
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

private:
    int fd_;
};

TEST_F(SimProgramTest, AnswersOnItsTerminalPublishesItAndCleansUpOnSignals) {
    for (int signal : {SIGTERM, SIGINT}) {
        const std::string log = (dir_ / "sim.log").string();
        ChildProcess sim;
        ASSERT_TRUE(sim.Start({kSim, "--instrument", "address=7,serial=00C0FFEE,range=0xC1,flags=3,reading=constant 42",
                               "--log", log},
                              env_));
        const auto path = sim.ReadLine(10000);
        ASSERT_TRUE(path) << sim.Stderr();
        EXPECT_EQ(path->rfind("/dev/pts/", 0), 0u) << *path;
        EXPECT_EQ(ListVirtualPorts((dir_ / "ports").string()), std::vector<std::string>{*path});

        const Bytes probeReply = [] {
            const std::uint8_t body[] = {10, CMD_PROBE_REPLY, 0, 7, 0xC1, 0x03, 0xEE, 0xFF, 0xC0, 0x00};
            return BuildFrame(body);
        }();
        const Bytes readReply = [] {
            const std::uint8_t body[] = {10, CMD_READ_REPLY, 0, 7, 0xC1, 0x03, 42, 0, 0, 0};
            return BuildFrame(body);
        }();
        {
            Line line(*path);
            ASSERT_TRUE(line.ok());
            line.Send(BuildRequestFrame(CMD_PROBE, 7));
            EXPECT_EQ(line.Receive(probeReply.size()), probeReply);
            line.Send(BuildRequestFrame(CMD_PROBE, 8));  // nobody there
            line.Send(BuildRequestFrame(CMD_READ, 7));
            EXPECT_EQ(line.Receive(readReply.size()), readReply);
        }
        {
            // The monitor closed the port and opens it again: the simulator is still there.
            Line line(*path);
            ASSERT_TRUE(line.ok());
            line.Send(BuildRequestFrame(CMD_READ, 7));
            EXPECT_EQ(line.Receive(readReply.size()), readReply);
        }
        sim.Signal(signal);
        EXPECT_EQ(sim.Wait(10000), std::optional<int>(0)) << strsignal(signal) << ": " << sim.Stderr();
        EXPECT_TRUE(fs::is_empty(dir_ / "ports")) << "the port is withdrawn at exit";

        std::ifstream in(log);
        std::vector<std::string> kinds;
        for (std::string line; std::getline(in, line);) {
            std::istringstream words(line);
            double seconds = -1;
            std::string kind;
            words >> seconds >> kind;
            EXPECT_GE(seconds, 0) << line;
            kinds.push_back(kind);
        }
        EXPECT_EQ(kinds, (std::vector<std::string>{"RX", "TX", "RX", "RX", "TX", "RX", "TX"}));
    }
}

}  // namespace
}  // namespace zuz::test

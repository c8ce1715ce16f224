// A test of zuzavadi-log against zuzavadi-sim: both programs as children, in a temporary folder
// of the test's own: ports/ where the simulator publishes its port, work/ as the logger's
// working directory. Runs end by --duration, a signal or the simulator's death; what is
// checked is what the logger printed and recorded, never how fast.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "cli_test_util.h"

namespace zuz::test {

inline const std::string kLoggerProgram = std::string(ZUZ_BIN_DIR) + "/zuzavadi-log";
inline const std::string kSimProgram = std::string(ZUZ_BIN_DIR) + "/zuzavadi-sim";

// The lines of a text, each without its LF; a last line without one is left out.
inline std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    return lines;
}

class LoggerOnSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        ports_ = root_ / "ports";
        work_ = root_ / "work";
        ASSERT_EQ(mkdir(ports_.c_str(), 0700), 0);
        ASSERT_EQ(mkdir(work_.c_str(), 0700), 0);
    }
    void TearDown() override {
        sim_.Signal(SIGTERM);
        sim_.Wait(10000);
    }
    std::vector<std::pair<std::string, std::string>> Env() const { return {{"ZUZAVADI_PORT_DIR", ports_}}; }

    // Starts the simulator with these --instrument options and waits for its port.
    void StartSim(const std::vector<std::string>& instruments, const char* seed) {
        std::vector<std::string> argv = {kSimProgram, "--seed", seed};
        for (const std::string& in : instruments) argv.insert(argv.end(), {"--instrument", in});
        ASSERT_TRUE(sim_.Start(argv, Env()));
        const auto line = sim_.ReadLine(20000);
        ASSERT_TRUE(line.has_value()) << sim_.Stderr();
        pty_ = *line;
    }
    void StartLogger(ChildProcess& logger, const std::vector<std::string>& args) {
        std::vector<std::string> argv = {kLoggerProgram, "--port", pty_};
        argv.insert(argv.end(), args.begin(), args.end());
        logger.SetWorkingDirectory(work_);
        ASSERT_TRUE(logger.Start(argv, Env()));
    }
    // Waits for the logger's end: its stdout lines go to lines_, their status texts to texts_.
    // Returns the exit status (-1 if it did not end).
    int Finish(ChildProcess& logger) {
        const int status = logger.Wait(60000).value_or(-1);
        lines_ = LinesOf(logger.Stdout());
        texts_ = StatusTextsOf(lines_);
        stderr_ = logger.Stderr();
        return status;
    }

    // The data rows of a recording: the whole rows after the three header rows.
    static std::vector<std::string> DataRows(const std::string& path) {
        auto rows = SplitCrLf(ReadFileBytes(path));
        if (!rows.empty()) rows.pop_back();  // what follows the last CR LF
        return rows.size() > 3 ? std::vector<std::string>(rows.begin() + 3, rows.end()) : std::vector<std::string>{};
    }
    // Waits until the recording holds `rows` data rows (or 20 s pass).
    static void AwaitRows(const std::string& path, std::size_t rows) {
        for (int i = 0; i < 400 && DataRows(path).size() < rows; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_GE(DataRows(path).size(), rows) << "the recording never got that far";
    }
    // The count of the last "已存储N条数据".
    std::size_t LastStoredCount() const {
        std::size_t n = 0;
        const std::regex stored("已存储(\\d+)条数据");
        std::smatch m;
        for (const std::string& t : texts_)
            if (std::regex_match(t, m, stored)) n = std::stoul(m[1]);
        return n;
    }

    CliTempDir root_;
    std::string ports_, work_, pty_;
    ChildProcess sim_;
    std::vector<std::string> lines_, texts_;
    std::string stderr_;
};

}  // namespace zuz::test

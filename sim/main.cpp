// zuzavadi-sim: a master controller with instruments behind it, on a pseudo-terminal, so the
// monitor has a real serial peer to talk to. See --help and README.md.
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "serial/virtual_ports.h"
#include "sim/bus_simulator.h"
#include "sim/pty_line.h"
#include "sim/sim_config.h"

namespace {

using namespace zuz::sim;

constexpr int kExitBadUsage = 2;

constexpr const char* kHelp = R"(Usage: zuzavadi-sim [OPTIONS]

Plays the master controller of an instrument bus, with the instruments behind it, on a
pseudo-terminal. The first line printed is the terminal's device path; the port is also
published as a virtual port so the monitor lists it. Runs until SIGINT or SIGTERM.

Without --config and --instrument a demo bus of eight instruments runs, at addresses
1, 2, 3, 5, 8, 13, 21 and 34 (the monitor's scan stops when it has found as many instruments
as it shows channels: choose 8 channels or more to see them all).

Options:
  -c, --config FILE      instruments, faults, seed and baud rate from an INI file (README.md,
                         sim/examples/bus.ini)
  -i, --instrument KEYS  add an instrument; KEYS is comma-separated key=value with the keys of
                         the file's [instrument NAME] sections:
                           address=N (required, 1..255)  serial=HEX (8 digits)
                           range=CODE or range text (0xC1, 20mV)  flags=BYTE (0x20 AC;
                           low nibble 3 = fine for long replies, 1 = fine for short ones)
                           form=long|short  delay_ms=MS (response delay, default 2)
                           reading=KIND ARGS  overload=EVERY LENGTH  name=TEXT
                         may be repeated, and adds to the instruments of --config
      --seed N           seed of every random decision (default 1): same seed, same bus
      --baud N           line speed used to time the replies (default 115200); a
                         pseudo-terminal itself ignores baud rates
  Faults, each a rate 0..1 per reply:
      --no-reply R       the reply is not sent
      --bad-checksum R   the reply's checksum is wrong
      --split R          the reply leaves in 2 to 4 pieces with gaps of 1 to 8 ms
      --garbage R        1 to 6 noise bytes go out before the header
      --delayed R        the reply comes late, after the monitor's next request
      --duplicate R      the reply is sent twice
      --late-ms MS       how late a delayed reply comes (default 75)
      --log FILE         one line per request received (RX) and reply piece sent (TX):
                         seconds since start (monotonic), hex bytes, faults applied;
                         "-" writes to standard error
      --print-config     print the configuration as a file for --config, and exit
  -h, --help             this text

Readings (raw values as sent; the monitor scales them by range and resolution):
  constant V | list V1 V2 ... | ramp FROM TO STEP | sine CENTRE AMPLITUDE PERIOD_S |
  walk START STEP LOW HIGH
  overload=50 2 makes the last 2 of every 50 readings overloaded (0x80008000, 0x8000).

Exit status: 0 after SIGINT/SIGTERM, 1 when the pseudo-terminal cannot be set up or fails,
2 on a bad option or configuration.
)";

volatile sig_atomic_t gSignalled = 0;
int gSignalPipe[2] = {-1, -1};

void OnSignal(int) {
    gSignalled = 1;
    const char byte = 1;
    [[maybe_unused]] const auto n = write(gSignalPipe[1], &byte, 1);
}

std::int64_t MonotonicUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string HexBytes(const std::uint8_t* data, std::size_t size) {
    std::string text;
    char b[4];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", data[i]);
        text += b;
    }
    return text;
}

int BadUsage(const std::string& message) {
    std::fprintf(stderr, "zuzavadi-sim: %s\n(see zuzavadi-sim --help)\n", message.c_str());
    return kExitBadUsage;
}

struct Options {
    std::string configPath, logPath;
    std::vector<std::string> instruments;
    std::vector<std::pair<std::string, std::string>> faults, busKeys;
    bool printConfig = false;
};

}  // namespace

int main(int argc, char** argv) {
    enum { kSeed = 1000, kBaud, kNoReply, kBadChecksum, kSplit, kGarbage, kDelayed, kDuplicate, kLateMs, kLog, kPrint };
    static const option longOptions[] = {
        {"config", required_argument, nullptr, 'c'},   {"instrument", required_argument, nullptr, 'i'},
        {"seed", required_argument, nullptr, kSeed},    {"baud", required_argument, nullptr, kBaud},
        {"no-reply", required_argument, nullptr, kNoReply}, {"bad-checksum", required_argument, nullptr, kBadChecksum},
        {"split", required_argument, nullptr, kSplit},  {"garbage", required_argument, nullptr, kGarbage},
        {"delayed", required_argument, nullptr, kDelayed}, {"duplicate", required_argument, nullptr, kDuplicate},
        {"late-ms", required_argument, nullptr, kLateMs}, {"log", required_argument, nullptr, kLog},
        {"print-config", no_argument, nullptr, kPrint}, {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    Options opt;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":c:i:h", longOptions, nullptr)) != -1) {
        switch (c) {
            case 'c': opt.configPath = optarg; break;
            case 'i': opt.instruments.push_back(optarg); break;
            case kSeed: opt.busKeys.emplace_back("seed", optarg); break;
            case kBaud: opt.busKeys.emplace_back("baud", optarg); break;
            case kNoReply: opt.faults.emplace_back("no_reply", optarg); break;
            case kBadChecksum: opt.faults.emplace_back("bad_checksum", optarg); break;
            case kSplit: opt.faults.emplace_back("split", optarg); break;
            case kGarbage: opt.faults.emplace_back("garbage", optarg); break;
            case kDelayed: opt.faults.emplace_back("delayed", optarg); break;
            case kDuplicate: opt.faults.emplace_back("duplicate", optarg); break;
            case kLateMs: opt.faults.emplace_back("late_ms", optarg); break;
            case kLog: opt.logPath = optarg; break;
            case kPrint: opt.printConfig = true; break;
            case 'h': std::fputs(kHelp, stdout); return 0;
            case ':': return BadUsage(std::string("option ") + argv[optind - 1] + " needs a value");
            default: return BadUsage(std::string("unknown option ") + argv[optind - 1]);
        }
    }
    if (optind < argc) return BadUsage(std::string("unexpected argument ") + argv[optind]);

    // The bus: the file, plus instruments from the command line; the demo bus when neither.
    BusConfig bus;
    if (!opt.configPath.empty()) {
        std::string error;
        if (!LoadBusConfig(opt.configPath, &bus, &error)) {
            std::fprintf(stderr, "zuzavadi-sim: %s\n", error.c_str());
            return kExitBadUsage;
        }
    } else if (opt.instruments.empty()) {
        bus = DemoBus();
    }
    for (const std::string& pattern : opt.instruments) {
        std::string problem;
        const auto in = ParseInstrumentOption(pattern, &problem);
        if (!in) return BadUsage("--instrument '" + pattern + "': " + problem);
        bus.instruments.push_back(*in);
    }
    for (const auto& [key, value] : opt.busKeys) {
        std::string problem;
        if (!ApplyBusKey(bus, key, value, &problem)) return BadUsage("--" + problem);
    }
    for (const auto& [key, value] : opt.faults) {
        std::string problem;
        if (!ApplyFaultKey(bus.faults, bus.faultShape, key, value, &problem)) return BadUsage("--" + problem);
    }
    if (const std::string problem = CheckBus(bus); !problem.empty()) return BadUsage(problem);
    if (opt.printConfig) {
        std::fputs(BusConfigText(bus).c_str(), stdout);
        return 0;
    }

    FILE* log = nullptr;
    if (opt.logPath == "-") {
        log = stderr;
    } else if (!opt.logPath.empty()) {
        log = std::fopen(opt.logPath.c_str(), "w");
        if (!log) return BadUsage("--log " + opt.logPath + ": " + std::strerror(errno));
    }
    if (log) setvbuf(log, nullptr, _IOLBF, 0);

    PtyLine line;
    std::string error;
    if (!line.Open(&error)) {
        std::fprintf(stderr, "zuzavadi-sim: cannot set up a pseudo-terminal: %s\n", error.c_str());
        return 1;
    }
    if (pipe(gSignalPipe) != 0) {
        std::fprintf(stderr, "zuzavadi-sim: pipe: %s\n", std::strerror(errno));
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const std::string entry = zuz::PublishVirtualPort(line.SlavePath());
    if (entry.empty())
        std::fprintf(stderr, "zuzavadi-sim: could not publish the port (%s); open %s by its path\n",
                     std::strerror(errno), line.SlavePath().c_str());
    // Published before the path is printed: whoever reads the line finds the port listed.
    std::printf("%s\n", line.SlavePath().c_str());
    std::fflush(stdout);

    const std::int64_t startUs = MonotonicUs();
    auto now = [&] { return MonotonicUs() - startUs; };
    auto logLine = [&](std::int64_t atUs, const char* dir, const std::uint8_t* data, std::size_t size,
                       const std::string& note) {
        if (!log) return;
        std::fprintf(log, "%.6f %s %s%s%s\n", static_cast<double>(atUs) / 1e6, dir, HexBytes(data, size).c_str(),
                     note.empty() ? "" : "  ", note.c_str());
    };

    BusSimulator sim(bus);
    sim.SetRequestObserver([&](const SimRequest& r) { logLine(r.atUs, "RX", r.frame.data(), r.frame.size(), ""); });
    std::multimap<std::int64_t, SimOutput> pending;

    int status = 0;
    while (!gSignalled) {
        int timeoutMs = -1;
        if (!pending.empty()) {
            const std::int64_t wait = pending.begin()->first - now();
            timeoutMs = wait <= 0 ? 0 : static_cast<int>((wait + 999) / 1000);
        }
        pollfd fds[2] = {{line.MasterFd(), POLLIN, 0}, {gSignalPipe[0], POLLIN, 0}};
        const int ready = poll(fds, 2, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "zuzavadi-sim: poll: %s\n", std::strerror(errno));
            status = 1;
            break;
        }
        // The simulator holds the slave side open, so the master never hangs up in normal
        // running; if it does anyway, end instead of polling a dead descriptor in a tight loop.
        if (ready > 0 && !(fds[0].revents & POLLIN) && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            std::fprintf(stderr, "zuzavadi-sim: the pseudo-terminal has gone\n");
            status = 1;
            break;
        }
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            std::uint8_t buffer[4096];
            const ssize_t n = read(line.MasterFd(), buffer, sizeof buffer);
            if (n > 0) {
                for (auto& out : sim.OnBytes(buffer, static_cast<std::size_t>(n), now()))
                    pending.emplace(out.atUs, std::move(out));
            }
        }
        for (std::int64_t t = now(); !pending.empty() && pending.begin()->first <= t; pending.erase(pending.begin())) {
            const SimOutput& out = pending.begin()->second;
            const ssize_t n = write(line.MasterFd(), out.bytes.data(), out.bytes.size());
            if (n == static_cast<ssize_t>(out.bytes.size()))
                logLine(t, "TX", out.bytes.data(), out.bytes.size(), out.note);
            else
                logLine(t, "DROP", out.bytes.data(), out.bytes.size(),
                        std::string("nobody reads the port (") + (n < 0 ? std::strerror(errno) : "short write") + ")");
        }
    }

    if (!entry.empty()) zuz::WithdrawVirtualPort(entry);
    line.Close();
    if (log && log != stderr) std::fclose(log);
    return status;
}

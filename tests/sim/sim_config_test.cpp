#include "sim/sim_config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "display/range_table.h"
#include "protocol/frame.h"
#include "test_host.h"

namespace zuz::sim {
namespace {

namespace fs = std::filesystem;

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zuz-sim-config-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& text) {
        const std::string path = (dir_ / "bus.ini").string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    fs::path dir_;
};

constexpr const char* kGood = R"([bus]
seed = 9
baud = 9600

[faults]
split = 0.25
late_ms = 90

; a comment
[instrument one]
address = 7
serial = 00ABCDEF
range = 20mV
flags = 0x01
form = short
delay_ms = 1.5
reading = list 1 2 3
overload = 10 1
)";

TEST_F(ConfigFileTest, AGoodFileGivesItsBus) {
    BusConfig bus;
    std::string error;
    ASSERT_TRUE(LoadBusConfig(Write(kGood), &bus, &error)) << error;
    EXPECT_EQ(bus.seed, 9u);
    EXPECT_EQ(bus.baud, 9600u);
    EXPECT_EQ(bus.faults.split, 0.25);
    EXPECT_EQ(bus.faultShape.lateUs, 90'000);
    ASSERT_EQ(bus.instruments.size(), 1u);
    const InstrumentConfig& in = bus.instruments[0];
    EXPECT_EQ(in.name, "one");
    EXPECT_EQ(in.address, 7);
    EXPECT_EQ(in.serial, 0x00ABCDEFu);
    EXPECT_EQ(in.range, 0xC3);
    EXPECT_EQ(in.flags, 0x01);
    EXPECT_EQ(in.form, ReplyForm::Short);
    EXPECT_EQ(in.responseDelayUs, 1500);
    EXPECT_EQ(ReadingPatternText(in.reading), "list 1 2 3");
    EXPECT_EQ(in.overload.every, 10u);
}

TEST_F(ConfigFileTest, ErrorsNameTheFileTheLineAndTheProblem) {
    struct Case {
        const char* name;
        const char* text;
        int line;  // 0: no line
        const char* problem;
    };
    const Case cases[] = {
        {"malformed line", "[instrument a]\naddress = 1\nthis is not ini\n", 3, "not a [section]"},
        {"unknown section", "[instrument a]\naddress = 1\n[meters]\nx = 1\n", 4, "unknown section [meters]"},
        {"key before section", "address = 1\n", 1, "before any [section]"},
        {"unknown instrument key", "[instrument a]\naddress = 1\nadress = 2\n", 3, "unknown instrument key 'adress'"},
        {"address out of range", "[instrument a]\naddress = 256\n", 2, "not a bus address"},
        {"address zero", "[instrument a]\naddress = 0\n", 2, "not a bus address"},
        {"serial not hex", "[instrument a]\naddress = 1\nserial = 12G4\n", 3, "hex digits"},
        {"serial too long", "[instrument a]\naddress = 1\nserial = 123456789\n", 3, "hex digits"},
        {"unknown range text", "[instrument a]\naddress = 1\nrange = 3V\n", 3, "range '3V'"},
        {"bad form", "[instrument a]\naddress = 1\nform = medium\n", 3, "neither long nor short"},
        {"bad reading", "[instrument a]\naddress = 1\n\nreading = ramp 0 10 0\n", 4, "non-zero"},
        {"bad overload", "[instrument a]\naddress = 1\noverload = 2 5\n", 3, "LENGTH <= EVERY"},
        {"rate above one", "[faults]\nsplit = 1.5\n[instrument a]\naddress = 1\n", 2, "not a rate 0..1"},
        {"unknown fault", "[faults]\nnoise = 0.1\n", 2, "unknown fault key"},
        {"bad baud", "[bus]\nbaud = fast\n", 2, "not a baud rate"},
        {"key twice", "[instrument a]\naddress = 1\nAddress = 2\n", 3, "given twice"},
        {"no address", "[instrument a]\nrange = 0xC1\n\n[instrument b]\naddress = 2\n", 2, "has no address"},
        {"address taken", "[instrument a]\naddress = 5\n[instrument b]\nform = short\naddress = 5\n", 5,
         "already taken by [instrument a]"},
        {"no instrument", "[bus]\nseed = 1\n", 0, "no [instrument NAME] section"},
    };
    for (const auto& c : cases) {
        const std::string path = Write(c.text);
        BusConfig bus;
        std::string error;
        EXPECT_FALSE(LoadBusConfig(path, &bus, &error)) << c.name;
        const std::string prefix = path + (c.line ? ":" + std::to_string(c.line) : std::string()) + ": ";
        EXPECT_EQ(error.rfind(prefix, 0), 0u) << c.name << ": " << error;
        EXPECT_NE(error.find(c.problem), std::string::npos) << c.name << ": " << error;
    }
    BusConfig bus;
    std::string error;
    EXPECT_FALSE(LoadBusConfig((dir_ / "missing.ini").string(), &bus, &error));
    EXPECT_EQ(error.rfind((dir_ / "missing.ini").string() + ": cannot read", 0), 0u) << error;
}

TEST_F(ConfigFileTest, DemoBusWrittenAsAFileReadsBackTheSame) {
    BusConfig demo = DemoBus();
    demo.instruments[0].name = "odd]name";
    demo.instruments[1].name = "";
    demo.faults = {0.01, 0.02, 0.03, 0.04, 0.05, 0.06};
    demo.seed = 77;
    BusConfig again;
    std::string error;
    ASSERT_TRUE(LoadBusConfig(Write(BusConfigText(demo)), &again, &error)) << error;
    EXPECT_EQ(BusConfigText(again), BusConfigText(demo));
    EXPECT_EQ(again.instruments[0].name, "odd_name");
    EXPECT_EQ(again.instruments[1].name, "1");
    ASSERT_EQ(again.instruments.size(), demo.instruments.size());
    for (std::size_t i = 0; i < demo.instruments.size(); ++i) {
        EXPECT_EQ(again.instruments[i].range, demo.instruments[i].range) << i;
        EXPECT_EQ(again.instruments[i].serial, demo.instruments[i].serial) << i;
    }
}

TEST(SimConfig, TheSampleFileLoads) {
    const std::string path = std::string(ZUZ_SOURCE_DIR) + "/sim/examples/bus.ini";
    BusConfig bus;
    std::string error;
    ASSERT_TRUE(LoadBusConfig(path, &bus, &error)) << error;
    EXPECT_GE(bus.instruments.size(), 2u);
    EXPECT_EQ(CheckBus(bus), "");
}

TEST(SimConfig, InstrumentOption) {
    std::string problem;
    const auto in = ParseInstrumentOption("address=21, range=0x6E ,form=short,reading=walk 25 1 18 35,name=oven", &problem);
    ASSERT_TRUE(in) << problem;
    EXPECT_EQ(in->address, 21);
    EXPECT_EQ(in->range, 0x6E);
    EXPECT_EQ(in->form, ReplyForm::Short);
    EXPECT_EQ(in->name, "oven");
    EXPECT_EQ(ReadingPatternText(in->reading), "walk 25 1 18 35");

    struct Bad {
        const char* text;
        const char* problem;
    };
    const Bad bad[] = {
        {"range=0xC1", "needs address"},
        {"address=1,address=2", "given twice"},
        {"address=1,flags", "not key=value"},
        {"address=1,flags=300", "flags '300'"},
        {"address=1,colour=red", "unknown instrument key"},
    };
    for (const auto& b : bad) {
        EXPECT_FALSE(ParseInstrumentOption(b.text, &problem)) << b.text;
        EXPECT_NE(problem.find(b.problem), std::string::npos) << b.text << " -> " << problem;
    }
}

TEST(SimConfig, DemoBusCoversEveryKindOfInstrument) {
    const BusConfig bus = DemoBus();
    ASSERT_EQ(bus.instruments.size(), 8u);
    EXPECT_EQ(CheckBus(bus), "");
    std::set<std::string> units;
    bool ac = false, dc = false, fineLong = false, fineShort = false, standard = false, shortForm = false,
         longForm = false, overload = false, temperature = false;
    for (const auto& in : bus.instruments) {
        const RangeRow* row = FindRange(in.range);
        ASSERT_NE(row, nullptr) << in.name;
        units.insert(std::string(row->unit));
        temperature |= row->temperature;
        (in.flags & 0x20 ? ac : dc) = true;
        const bool isShort = in.form == ReplyForm::Short;
        (isShort ? shortForm : longForm) = true;
        const int resolution = in.flags & 0x0F;
        if (!isShort && resolution == 3) fineLong = true;
        if (isShort && resolution == 1) fineShort = true;
        if (resolution != (isShort ? 1 : 3)) standard = true;
        overload |= in.overload.every != 0;
    }
    for (const char* unit : {"V", "mV", "A", "mA", "KHz", "KΩ", "℃"}) EXPECT_EQ(units.count(unit), 1u) << unit;
    EXPECT_TRUE(ac && dc && fineLong && fineShort && standard && shortForm && longForm && overload && temperature);
}

// The monitor's core against the simulator, both in fast time: an IBytePort that hands each
// request to the simulator and delivers its replies on the fake clock.
class SimPort : public IBytePort {
public:
    SimPort(test::TestHost& host, const BusConfig& config) : host_(host), sim_(config) {}
    long Read(std::uint8_t* buffer, std::size_t length, std::size_t* count) override {
        const std::size_t n = std::min(length, input_.size());
        std::copy_n(input_.begin(), n, buffer);
        input_.erase(input_.begin(), input_.begin() + n);
        *count = n;
        return 0;
    }
    long Write(const std::uint8_t* data, std::size_t length) override {
        const std::int64_t nowUs = host_.loop.Elapsed() * 1000;
        for (auto& out : sim_.OnBytes(data, length, nowUs)) {
            host_.loop.After((out.atUs - nowUs + 999) / 1000, [this, bytes = out.bytes] {
                input_.insert(input_.end(), bytes.begin(), bytes.end());
                host_.core.OnSerialEvent(EV_RXCHAR, 0);
            });
        }
        return 0;
    }
    BusSimulator& Sim() { return sim_; }

private:
    test::TestHost& host_;
    BusSimulator sim_;
    std::vector<std::uint8_t> input_;
};

TEST(SimWithMonitor, TheMonitorFindsTheDemoBusAndReadsEveryChannel) {
    struct Case {
        const char* name;
        FaultRates faults;
    };
    const Case cases[] = {
        {"clean line", {}},
        // Splits, noise, duplicates and bad checksums cost a reading now and then, never the bus.
        {"faulty line", {0.05, 0.05, 0.2, 0.2, 0.0, 0.1}},
    };
    for (const auto& c : cases) {
        test::TestHost host;
        BusConfig config = DemoBus();
        config.faults = c.faults;
        SimPort port(host, config);
        host.core.SetPort(&port);
        host.core.bus.channelCount = 8;
        ASSERT_TRUE(host.core.Connect(kDefaultBaudEntry));
        host.Run(35 * 50 + 8 * 50 * 20);  // the scan up to address 34, then 20 rotations
        if (c.faults.noReply == 0) {
            EXPECT_EQ(host.core.bus.foundCount, 8) << c.name;
            const std::uint8_t addresses[] = {1, 2, 3, 5, 8, 13, 21, 34};
            for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(host.core.bus.addressTable[i], addresses[i]) << i;
        }
        for (unsigned i = 0; i < host.core.bus.foundCount; ++i) {
            const ChannelReading& ch = host.core.channels[i];
            EXPECT_NE(ch.ValueText().find_first_of("0123456789OVLD"), std::string::npos)
                << c.name << " channel " << i << ": " << ch.ValueText();
            char serial[9];
            std::snprintf(serial, sizeof serial, "%08X", config.instruments[i].serial);
            if (c.faults.noReply == 0) { EXPECT_EQ(ch.SerialNoText(), serial) << c.name << " channel " << i; }
        }
        if (c.faults.noReply == 0) {
            EXPECT_EQ(host.core.channels[6].RangeText(), "100℃");
            EXPECT_EQ(host.core.channels[6].TypeText(), "TMP");
            EXPECT_EQ(host.core.channels[3].TypeText(), "AC");
            EXPECT_EQ(host.core.channels[5].UnitText(), "KΩ");
        }
    }
}

}  // namespace
}  // namespace zuz::sim

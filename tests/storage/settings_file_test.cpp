#include "storage/settings_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "storage/ini_file.h"
#include "temp_dir.h"
#include "test_host.h"

namespace zuz::test {
namespace {

struct Box {
    std::string text, caption;
    MessageIcon icon;
    bool operator==(const Box&) const = default;
};

struct Recorder : IStatusSink, IMessageBoxes {
    void ShowStatus(const std::string& text) override { status.push_back(text); }
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
        messages.push_back({text, caption, icon});
    }
    std::vector<std::string> status;
    std::vector<Box> messages;
};

const Box kWriteFailed{"写入配置出错！", "配置信息", MessageIcon::Warning};
const Box kWriteDone{"写入配置成功！", "配置信息", MessageIcon::Information};
const Box kMissing{"配置文件不存在！", "配置信息", MessageIcon::Warning};

TEST(SettingsAddress, ConvertsLikeAtoiAndKeepsTheLowEightBits) {
    struct Case {
        const char* text;
        int expected;
    };
    const Case cases[] = {
        {"12", 12},   {"300", 44},  {"-1", 255}, {"abc", 0},      {"", 0},       {" 12", 12},
        {"\t 7", 7},  {"12abc", 12}, {"+5", 5},  {"256", 0},      {"-0", 0},     {"100", 100},
        {"1 2", 1},   {"- 3", 0},   {"--3", 0},  {"-300", 212},   {"99999999999", 255},
    };
    for (const Case& c : cases) EXPECT_EQ(AddressFromText(c.text), c.expected) << '"' << c.text << '"';
}

TEST(SettingsAddress, SectionNamesHaveTwoDigits) {
    EXPECT_EQ(SettingsSectionName(1), "Addr01");
    EXPECT_EQ(SettingsSectionName(20), "Addr20");
}

class SettingsTest : public TempDirTest {
protected:
    std::array<std::uint8_t, kSettingsSections> table{};
    std::array<ChannelReading, kSettingsSections> channels;
    Recorder out;

    void SetUp() override {
        TempDirTest::SetUp();
        for (unsigned i = 0; i < kSettingsSections; ++i) {
            table[i] = std::uint8_t(50 + i);
            channels[i].SetRemark("old" + std::to_string(i));
        }
    }
    bool Load() { return LoadFixedAddresses(kSettingsFileName, table, channels, out); }
};

TEST_F(SettingsTest, OnlyThePresentKeysChangeTheirTargets) {
    Put("Settings.ini", "[Addr03]\r\nAddr=7\r\n");
    ASSERT_TRUE(Load());
    for (unsigned i = 0; i < kSettingsSections; ++i) {
        EXPECT_EQ(table[i], i == 2 ? 7 : 50 + i) << i;
        EXPECT_EQ(channels[i].GetRemark(), "old" + std::to_string(i)) << i;
    }
    EXPECT_TRUE(out.status.empty());
}

TEST_F(SettingsTest, AddressValuesAndRemarksAsStored) {
    std::string text;
    const char* addrs[] = {"300", "-1", "abc", "", " 12", "12abc"};
    for (unsigned n = 1; n <= 6; ++n) text += "[" + SettingsSectionName(n) + "]\r\nAddr=" + addrs[n - 1] + "\r\n";
    text += "[Addr07]\r\nInfo=" + std::string(300, 'r') + "\r\n";
    text += "[Addr08]\r\nInfo=\r\n";
    text += "[Addr20]\r\nAddr=20\r\nInfo=last\r\n";
    Put("Settings.ini", text);
    ASSERT_TRUE(Load());
    const std::vector<int> expected = {44, 255, 0, 0, 12, 12};
    for (unsigned i = 0; i < expected.size(); ++i) EXPECT_EQ(table[i], expected[i]) << addrs[i];
    EXPECT_EQ(channels[6].GetRemark(), std::string(259, 'r'));
    EXPECT_EQ(channels[7].GetRemark(), "");  // present and empty clears
    EXPECT_EQ(table[19], 20);
    EXPECT_EQ(channels[19].GetRemark(), "last");
    EXPECT_EQ(channels[8].GetRemark(), "old8");
}

TEST_F(SettingsTest, MissingFileChangesNothingAndSaysSo) {
    const auto before = table;
    EXPECT_FALSE(Load());
    EXPECT_EQ(out.status, std::vector<std::string>{"配置文件不存在！"});
    EXPECT_EQ(table, before);
    EXPECT_EQ(channels[0].GetRemark(), "old0");

    SettingsFields fields;
    fields.address[0] = "keep";
    ReadSettingsIntoFields(kSettingsFileName, fields, out);
    EXPECT_EQ(out.messages, std::vector<Box>{kMissing});
    EXPECT_EQ(fields.address[0], "keep");
    // A folder named like the file counts as missing too.
    std::filesystem::create_directory("Settings.ini");
    EXPECT_FALSE(Load());
}

TEST_F(SettingsTest, NamesMatchIgnoringCaseAndEncodingsAreRecognised) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"gbk", "[Addr01]\r\nAddr=3\r\nInfo=1\xBA\xC5\xC2\xAF\r\n"},
        {"utf8", "[Addr01]\r\nAddr=3\r\nInfo=1\u53F7\u7089\r\n"},
        {"utf8_bom", "\xEF\xBB\xBF[Addr01]\r\nAddr=3\r\nInfo=1\u53F7\u7089\r\n"},
        {"case_and_blanks", "[ aDDr01 ]\nADDR = 3\n  info=1\xBA\xC5\xC2\xAF  \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Put("Settings.ini", c.bytes);
        ASSERT_TRUE(Load());
        EXPECT_EQ(table[0], 3);
        EXPECT_EQ(channels[0].GetRemark(), "1\u53F7\u7089");
        SettingsFields fields;
        ReadSettingsIntoFields(kSettingsFileName, fields, out);
        EXPECT_EQ(fields.address[0], "3");
        EXPECT_EQ(fields.remark[0], "1\u53F7\u7089");
        EXPECT_EQ(fields.address[1], "");
    }
    EXPECT_TRUE(out.messages.empty());
}

TEST_F(SettingsTest, WritingCreatesAllTwentySectionsInOrder) {
    SettingsFields fields;
    fields.address[0] = "3";
    fields.remark[0] = "1\u53F7\u7089";
    fields.address[1] = "5";
    EXPECT_EQ(WriteSettingsFromFields(kSettingsFileName, fields, out), 0);
    EXPECT_EQ(out.messages, std::vector<Box>{kWriteDone});

    std::string expected = "[Addr01]\r\nAddr=3\r\nInfo=1\xBA\xC5\xC2\xAF\r\n[Addr02]\r\nAddr=5\r\nInfo=\r\n";
    for (unsigned n = 3; n <= 20; ++n) expected += "[" + SettingsSectionName(n) + "]\r\nAddr=\r\nInfo=\r\n";
    EXPECT_EQ(Slurp("Settings.ini"), expected);
}

// Remarks whose GBK bytes happen to be valid UTF-8 ("炉" is C2 AF, "Ω" is A6 B8 — not valid
// UTF-8 alone, but "炉34" is): what the dialog writes must read back as typed.
TEST_F(SettingsTest, GbkTextThatLooksLikeUtf8ReadsBackAsWritten) {
    for (const char* remark : {"\u7089", "\u7089" "34", "\u7089\u7089"}) {
        SettingsFields fields;
        fields.address[0] = "7";
        fields.remark[0] = remark;
        ASSERT_EQ(WriteSettingsFromFields(kSettingsFileName, fields, out), 0);
        ASSERT_TRUE(Load());
        EXPECT_EQ(channels[0].GetRemark(), remark);
        SettingsFields back;
        ReadSettingsIntoFields(kSettingsFileName, back, out);
        EXPECT_EQ(back.remark[0], remark);
        // Writing again keeps one marker line, not two.
        ASSERT_EQ(WriteSettingsFromFields(kSettingsFileName, fields, out), 0);
        const std::string bytes = Slurp("Settings.ini");
        EXPECT_EQ(bytes.find("GB18030"), bytes.rfind("GB18030"));
        ASSERT_EQ(::unlink("Settings.ini"), 0);
    }
}

TEST_F(SettingsTest, FortyEmptyFieldsReadBackEmptyAndLoadAsZero) {
    Put("Settings.ini", "[Addr05]\r\nAddr=9\r\nInfo=furnace\r\n");
    EXPECT_EQ(WriteSettingsFromFields(kSettingsFileName, SettingsFields{}, out), 0);
    const IniFile ini = IniFile::Parse(Slurp("Settings.ini"));
    EXPECT_EQ(ini.Entries().size(), 40u);
    for (const IniFile::Entry& e : ini.Entries()) EXPECT_EQ(e.value, "") << e.section << "/" << e.key;

    SettingsFields fields;
    fields.address.fill("x");
    fields.remark.fill("y");
    ReadSettingsIntoFields(kSettingsFileName, fields, out);
    EXPECT_EQ(fields.address, decltype(fields.address){});
    EXPECT_EQ(fields.remark, decltype(fields.remark){});

    ASSERT_TRUE(Load());
    EXPECT_EQ(table, decltype(table){});
    for (const ChannelReading& c : channels) EXPECT_EQ(c.GetRemark(), "");
}

TEST_F(SettingsTest, WritingKeepsOtherSectionsKeysAndComments) {
    const std::string before =
        "; furnace line 2\r\n"
        "[General]\r\n"
        "Operator=\xD5\xC5\xC8\xFD\r\n"  // 张三 in GBK
        "\r\n"
        "[ADDR01]\r\n"
        "addr = 4\r\n"
        "Colour=red\r\n"
        "; end\r\n";
    Put("Settings.ini", before);
    SettingsFields fields;
    fields.address[0] = "8";
    fields.remark[0] = "2KΩ";
    EXPECT_EQ(WriteSettingsFromFields(kSettingsFileName, fields, out), 0);

    const std::string file = Slurp("Settings.ini");
    std::string head =
        "; furnace line 2\r\n"
        "[General]\r\n"
        "Operator=\xD5\xC5\xC8\xFD\r\n"
        "\r\n"
        "[ADDR01]\r\n"
        "addr = 8\r\n"
        "Colour=red\r\n"
        "Info=2K\xA6\xB8\r\n"
        "; end\r\n"
        "[Addr02]\r\n";
    EXPECT_EQ(file.substr(0, head.size()), head);
}

TEST_F(SettingsTest, EachFailedKeyIsReportedAndTheOthersAreStored) {
    SettingsFields fields;
    fields.address[2] = "7";
    fields.remark[3] = "two\nlines";  // cannot be one line of the file
    fields.remark[9] = "a\rb";
    EXPECT_EQ(WriteSettingsFromFields(kSettingsFileName, fields, out), 2);
    EXPECT_EQ(out.messages, (std::vector<Box>{kWriteFailed, kWriteFailed}));
    const IniFile ini = IniFile::Parse(Slurp("Settings.ini"));
    EXPECT_EQ(ini.Value("Addr03", "Addr"), "7");
    EXPECT_EQ(ini.Value("Addr04", "Info"), std::nullopt);
    EXPECT_EQ(ini.Value("Addr04", "Addr"), "");
}

TEST_F(SettingsTest, AFileThatCannotBeWrittenFailsEveryKey) {
    std::filesystem::create_directory("Settings.ini");
    struct Case {
        const char* name;
        std::string path;
    };
    const Case cases[] = {
        {"folder_in_its_place", kSettingsFileName},     // cannot even be read
        {"readable_not_writable", "/proc/version"},     // read fine, no file can be made beside it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        out.messages.clear();
        EXPECT_EQ(WriteSettingsFromFields(c.path, SettingsFields{}, out), 40);
        EXPECT_EQ(out.messages, std::vector<Box>(40, kWriteFailed));
    }
    EXPECT_TRUE(std::filesystem::is_directory("Settings.ini"));
    EXPECT_EQ(FileCount(), 1u);
}

// The monitor's own procedures work on Settings.ini in the working directory.
TEST_F(SettingsTest, TheMonitorReadsTheFileOfTheWorkingDirectory) {
    TestHost h;
    h.core.bus.addressTable[1] = 77;
    EXPECT_FALSE(h.core.SetFixedAddressBox(true));
    EXPECT_EQ(h.LastStatus(), "配置文件不存在！");
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].text, "配置文件不存在！");
    EXPECT_EQ(h.messages[0].caption, "固定地址");
    EXPECT_FALSE(h.core.bus.fixedAddressMode);

    SettingsFields fields;
    fields.address[0] = "300";
    fields.remark[0] = "1\u53F7\u7089";
    h.core.WriteSettingsDialogFields(fields);
    EXPECT_EQ(h.messages.back().text, "写入配置成功！");
    EXPECT_TRUE(h.core.SetFixedAddressBox(true));
    EXPECT_EQ(h.core.bus.addressTable[0], 44);
    EXPECT_EQ(h.core.bus.addressTable[1], 0);
    EXPECT_EQ(h.core.channels[0].GetRemark(), "1\u53F7\u7089");

    SettingsFields back;
    h.core.ReadSettingsDialogFields(back);
    EXPECT_EQ(back.address[0], "300");
    EXPECT_EQ(back.remark[0], "1\u53F7\u7089");
}

}  // namespace
}  // namespace zuz::test

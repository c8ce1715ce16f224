#include "storage/ini_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zuz {
namespace {

namespace fs = std::filesystem;

const char* const kMessyText =
    "; settings of the furnace line\r\n"
    "\r\n"
    "[Addr01]\r\n"
    "Addr = 3\r\n"
    "  info\t=  1\u53F7\u7089  \r\n"
    "this line means nothing\r\n"
    "[Other]\n"  // a lone LF in the middle of CR LF lines
    "Colour=blue\r\n"
    "# hash comment\r\n"
    "[addr01]\r\n"
    "Addr=99\r\n"
    "[broken\r\n"
    "=no key\r\n"
    "[ Addr02 ]\r\n"
    "Addr=\r\n"
    "Addr=5\r\n";

TEST(IniFile, LooksUpNamesIgnoringCaseAndBlanks) {
    const IniFile ini = IniFile::Parse(kMessyText);
    struct Case {
        const char* section;
        const char* key;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {"Addr01", "Addr", "3"},
        {"ADDR01", "addr", "3"},               // first of two sections with the same name wins
        {"Addr01", "Info", "1\u53F7\u7089"},   // blanks around name and value dropped
        {"Addr02", "Addr", ""},                // present and empty; the first key wins
        {" Addr02", "ADDR ", ""},
        {"Other", "colour", "blue"},
        {"Other", "Addr", std::nullopt},       // key of another section
        {"Addr01", "Colour", std::nullopt},
        {"Addr03", "Addr", std::nullopt},
        {"broken", "Addr", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(ini.Value(c.section, c.key), c.value);
    }
}

TEST(IniFile, ListsEntriesAndMalformedLinesWithLineNumbers) {
    const IniFile ini = IniFile::Parse(kMessyText);
    const auto entries = ini.Entries();
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[1].section, "Addr01");
    EXPECT_EQ(entries[1].key, "info");
    EXPECT_EQ(entries[1].value, "1\u53F7\u7089");
    EXPECT_EQ(entries[1].line, 5);
    EXPECT_EQ(entries[3].section, "addr01");
    EXPECT_EQ(entries[3].line, 11);
    EXPECT_EQ(entries[5].section, "Addr02");
    EXPECT_EQ(entries[5].line, 16);

    const std::vector<std::pair<int, std::string>> malformed = {
        {6, "this line means nothing"}, {12, "[broken"}, {13, "=no key"}};
    EXPECT_EQ(ini.MalformedLines(), malformed);
}

TEST(IniFile, SerializeKeepsEveryLineAndEndsThemWithCrLf) {
    const IniFile ini = IniFile::Parse(kMessyText);
    std::string expected = kMessyText;
    expected.replace(expected.find("[Other]\n"), 8, "[Other]\r\n");
    EXPECT_EQ(ini.Serialize(), expected);
    // A last line without a line end gets one; nothing else is added.
    EXPECT_EQ(IniFile::Parse("[A]\nk=v").Serialize(), "[A]\r\nk=v\r\n");
    EXPECT_EQ(IniFile::Parse("").Serialize(), "");
}

TEST(IniFile, SetValueReplacesInPlaceAndAppendsWhatIsMissing) {
    IniFile ini = IniFile::Parse(kMessyText);
    ASSERT_TRUE(ini.SetValue("addr01", "INFO", "2\u53F7\u7089"));   // in place, layout kept
    ASSERT_TRUE(ini.SetValue("Addr01", "Addr", ""));                // emptied, key kept
    ASSERT_TRUE(ini.SetValue("Other", "Size", "7"));                // appended to the section
    ASSERT_TRUE(ini.SetValue("Addr20", "Addr", "100"));             // new section at the end
    ASSERT_TRUE(ini.SetValue("Addr20", "Info", ""));

    const std::string expected =
        "; settings of the furnace line\r\n"
        "\r\n"
        "[Addr01]\r\n"
        "Addr = \r\n"
        "  info\t=  2\u53F7\u7089\r\n"
        "this line means nothing\r\n"
        "[Other]\r\n"
        "Colour=blue\r\n"
        "Size=7\r\n"
        "# hash comment\r\n"
        "[addr01]\r\n"
        "Addr=99\r\n"
        "[broken\r\n"
        "=no key\r\n"
        "[ Addr02 ]\r\n"
        "Addr=\r\n"
        "Addr=5\r\n"
        "[Addr20]\r\n"
        "Addr=100\r\n"
        "Info=\r\n";
    EXPECT_EQ(ini.Serialize(), expected);
    // What was written reads back, and the entries follow the inserted line.
    const IniFile again = IniFile::Parse(ini.Serialize());
    EXPECT_EQ(again.Value("Addr01", "Addr"), "");
    EXPECT_EQ(again.Value("Addr01", "Info"), "2\u53F7\u7089");
    EXPECT_EQ(again.Value("Other", "Size"), "7");
    EXPECT_EQ(again.Value("Addr20", "Addr"), "100");
    EXPECT_EQ(ini.Value("Other", "Size"), "7");
    EXPECT_EQ(ini.Value("addr20", "info"), "");
    // Every key still names its own section after lines were inserted before it.
    for (const IniFile::Entry& e : ini.Entries()) {
        SCOPED_TRACE(e.line);
        const auto& a = again.Entries();
        const auto same = std::find_if(a.begin(), a.end(), [&](const IniFile::Entry& x) { return x.line == e.line; });
        ASSERT_NE(same, a.end());
        EXPECT_EQ(e.section, same->section);
        EXPECT_EQ(e.key, same->key);
    }
    EXPECT_EQ(ini.Entries().size(), 9u);
}

TEST(IniFile, SetValueRefusesTextsThatWouldNotReadBack) {
    struct Case {
        const char* name;
        std::string section, key, value;
    };
    const Case cases[] = {
        {"empty_section", "", "Addr", "1"},     {"blank_section", "  ", "Addr", "1"},
        {"empty_key", "Addr01", "", "1"},       {"bracket_in_section", "A]b", "Addr", "1"},
        {"equals_in_key", "Addr01", "a=b", "1"}, {"comment_key", "Addr01", ";Addr", "1"},
        {"section_key", "Addr01", "[Addr", "1"}, {"newline_in_value", "Addr01", "Info", "a\nb"},
        {"cr_in_value", "Addr01", "Info", "a\rb"}, {"newline_in_key", "Addr01", "In\nfo", "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IniFile ini = IniFile::Parse("[Addr01]\r\nAddr=3\r\n");
        EXPECT_FALSE(ini.SetValue(c.section, c.key, c.value));
        EXPECT_EQ(ini.Serialize(), "[Addr01]\r\nAddr=3\r\n");
    }
}

TEST(IniFile, ValuesAreCutAt259BytesWithoutSplittingACharacter) {
    struct Case {
        const char* name;
        std::string value;
        std::size_t expectedBytes;
    };
    const Case cases[] = {
        {"ascii_300", std::string(300, 'x'), 259},
        {"ascii_259", std::string(259, 'x'), 259},
        {"chinese_cut_inside", std::string(258, 'x') + "\u7089", 258},   // 炉 would end at 261
        {"chinese_fits", std::string(256, 'x') + "\u7089", 259},
        {"ascii_260_trimmed", std::string(259, 'x') + " ", 259},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const IniFile ini = IniFile::Parse("[S]\r\nk=" + c.value + "\r\n");
        const auto value = ini.Value("S", "k");
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->size(), c.expectedBytes);
        EXPECT_EQ(*value, c.value.substr(0, c.expectedBytes));
    }
}

class IniDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zuz-ini-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    static std::string Slurp(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void Put(const fs::path& p, const std::string& bytes) {
        std::ofstream(p, std::ios::binary) << bytes;
    }

    fs::path dir;
};

TEST_F(IniDiskTest, KeepsTheEncodingItFound) {
    struct Case {
        const char* name;
        std::string onDisk;
        TextEncoding encoding;
        std::string afterWrite;  // after setting Info to 2号炉
    };
    const Case cases[] = {
        {"gbk", "[Addr01]\r\nInfo=1\xBA\xC5\xC2\xAF\r\n", TextEncoding::Gb18030,
         "[Addr01]\r\nInfo=2\xBA\xC5\xC2\xAF\r\n"},
        {"utf8", "[Addr01]\r\nInfo=1\u53F7\u7089\r\n", TextEncoding::Utf8, "[Addr01]\r\nInfo=2\u53F7\u7089\r\n"},
        {"utf8_bom", "\xEF\xBB\xBF[Addr01]\r\nInfo=1\u53F7\u7089\r\n", TextEncoding::Utf8Bom,
         "\xEF\xBB\xBF[Addr01]\r\nInfo=2\u53F7\u7089\r\n"},
        // Plain ASCII is taken for GBK, so new Chinese text goes to disk as the other tools expect.
        {"ascii", "[Addr01]\r\nInfo=1\r\n", TextEncoding::Gb18030, "[Addr01]\r\nInfo=2\xBA\xC5\xC2\xAF\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir / "Settings.ini";
        Put(path, c.onDisk);
        IniFile ini;
        TextEncoding found{};
        std::string error;
        ASSERT_TRUE(ReadIniFile(path.string(), ini, &found, &error)) << error;
        EXPECT_EQ(found, c.encoding);
        EXPECT_EQ(ini.Value("Addr01", "Info"), c.name == std::string("ascii") ? "1" : "1\u53F7\u7089");
        ASSERT_TRUE(ini.SetValue("Addr01", "Info", "2\u53F7\u7089"));
        ASSERT_TRUE(WriteIniFile(path.string(), ini, found, &error)) << error;
        EXPECT_EQ(Slurp(path), c.afterWrite);
    }
    // No temporary files are left beside the settings file.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(IniDiskTest, ReportsFilesThatCannotBeReadOrWritten) {
    IniFile ini;
    std::string error;
    EXPECT_FALSE(ReadIniFile((dir / "missing.ini").string(), ini, nullptr, &error));
    EXPECT_NE(error.find("missing.ini"), std::string::npos);

    // A folder in the file's place can be neither read nor replaced.
    fs::create_directory(dir / "Settings.ini");
    error.clear();
    EXPECT_FALSE(ReadIniFile((dir / "Settings.ini").string(), ini, nullptr, &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(WriteIniFile((dir / "Settings.ini").string(), IniFile::Parse("[A]\r\nk=v\r\n"),
                              TextEncoding::Gb18030, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(WriteIniFile((dir / "no-folder" / "Settings.ini").string(), ini, TextEncoding::Gb18030, &error));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace zuz

// A fresh temporary folder per test, made the working directory for the test's length (the
// settings file and automatic recording names are relative), with local time set to UTC so
// that time stamps are the same on every machine.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace zuz::test {

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "zuz-storage-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        previous = std::filesystem::current_path();
        std::filesystem::current_path(dir);
        if (const char* tz = std::getenv("TZ")) savedTz = tz;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        std::filesystem::current_path(previous);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
        if (savedTz)
            setenv("TZ", savedTz->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    static std::string Slurp(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void Put(const std::filesystem::path& p, const std::string& bytes) {
        std::ofstream(p, std::ios::binary) << bytes;
    }
    std::size_t FileCount() const {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()));
    }

    std::filesystem::path dir, previous;
    std::optional<std::string> savedTz;
};

}  // namespace zuz::test

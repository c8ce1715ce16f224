// Small helpers for the logger's tests: a temporary working directory and file reading.
#pragma once

#include <ftw.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zuz::test {

// A fresh directory, removed with its contents at the end.
class CliTempDir {
public:
    CliTempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zuz-cli-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~CliTempDir() {
        if (path_.empty()) return;
        nftw(
            path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return std::remove(p); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
    CliTempDir(const CliTempDir&) = delete;
    CliTempDir& operator=(const CliTempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs in `dir` until the end of the scope.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& dir) {
        char buffer[4096];
        if (getcwd(buffer, sizeof buffer) != nullptr) previous_ = buffer;
        if (chdir(dir.c_str()) != 0) std::perror("chdir");
    }
    ~WorkingDirectory() {
        if (!previous_.empty() && chdir(previous_.c_str()) != 0) std::perror("chdir back");
    }

private:
    std::string previous_;
};

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Splits at "\r\n"; the text after the last one (an unfinished row) is returned last.
inline std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> rows;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        rows.push_back(text.substr(start, end - start));
    rows.push_back(text.substr(start));
    return rows;
}

// The status texts of logger lines "YYYY-mm-dd HH:MM:SS -- text" (other lines skipped).
inline std::vector<std::string> StatusTextsOf(const std::vector<std::string>& lines) {
    std::vector<std::string> texts;
    for (const std::string& line : lines)
        if (line.size() > 23 && line.compare(19, 4, " -- ") == 0) texts.push_back(line.substr(23));
    return texts;
}

}  // namespace zuz::test

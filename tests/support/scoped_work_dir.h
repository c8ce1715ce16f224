// A fresh temporary folder made the working directory for a scope (the settings file and the
// automatic recording names are relative), removed with everything in it afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace zuz::test {

class ScopedWorkDir {
public:
    ScopedWorkDir() : old_(std::filesystem::current_path()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "zuz-work-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        std::filesystem::current_path(dir_);
    }
    ~ScopedWorkDir() {
        std::filesystem::current_path(old_);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    ScopedWorkDir(const ScopedWorkDir&) = delete;
    ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;

    const std::filesystem::path& Path() const { return dir_; }
    std::string operator/(const std::string& name) const { return (dir_ / name).string(); }

private:
    std::filesystem::path old_, dir_;
};

}  // namespace zuz::test

#include "test_host.h"

namespace zuz::test {

std::vector<std::string> TestHost::StatusTexts() const {
    std::vector<std::string> texts;
    for (const std::string& line : statusLines) {
        const auto at = line.find(" -- ");
        texts.push_back(at == std::string::npos ? line : line.substr(at + 4));
    }
    return texts;
}

}  // namespace zuz::test

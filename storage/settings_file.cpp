#include "storage/settings_file.h"

#include <cstdio>
#include <sys/stat.h>

#include "storage/ini_file.h"

namespace zuz {

namespace {

constexpr const char* kMissingText = "配置文件不存在！";
constexpr const char* kCaption = "配置信息";

}  // namespace

std::string SettingsSectionName(unsigned n) {
    char name[16];
    std::snprintf(name, sizeof name, "Addr%02u", n);
    return name;
}

std::uint8_t AddressFromText(std::string_view text) {
    std::size_t i = 0;
    // The blanks that C's isspace knows.
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Only the low eight bits count, and they are the same whether the sum wraps at 2^32 or
    // not, so an unsigned sum cannot overflow into undefined behaviour.
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10u + unsigned(text[i] - '0');
    if (negative) value = 0u - value;
    return static_cast<std::uint8_t>(value & 0xFFu);
}

bool LoadFixedAddresses(const std::string& path, std::array<std::uint8_t, kSettingsSections>& addressTable,
                        std::array<ChannelReading, kSettingsSections>& channels, IStatusSink& status) {
    IniFile ini;
    if (!ReadIniFile(path, ini, nullptr, nullptr)) {
        status.ShowStatus(kMissingText);
        return false;
    }
    for (unsigned n = 1; n <= kSettingsSections; ++n) {
        const std::string section = SettingsSectionName(n);
        if (const auto addr = ini.Value(section, "Addr")) addressTable[n - 1] = AddressFromText(*addr);
        if (const auto info = ini.Value(section, "Info")) channels[n - 1].SetRemark(*info);
    }
    return true;
}

void ReadSettingsIntoFields(const std::string& path, SettingsFields& fields, IMessageBoxes& boxes) {
    IniFile ini;
    if (!ReadIniFile(path, ini, nullptr, nullptr)) {
        boxes.ShowMessage(kMissingText, kCaption, MessageIcon::Warning);
        return;
    }
    for (unsigned n = 1; n <= kSettingsSections; ++n) {
        const std::string section = SettingsSectionName(n);
        if (const auto addr = ini.Value(section, "Addr")) fields.address[n - 1] = *addr;
        if (const auto info = ini.Value(section, "Info")) fields.remark[n - 1] = *info;
    }
}

int WriteSettingsFromFields(const std::string& path, const SettingsFields& fields, IMessageBoxes& boxes) {
    IniFile ini;
    TextEncoding encoding = TextEncoding::Gb18030;
    // A missing file is created; a file that is there but cannot be read is never replaced
    // (that would lose what it holds), so then every key fails.
    struct stat st {};
    const bool exists = ::lstat(path.c_str(), &st) == 0;
    bool usable = !exists || ReadIniFile(path, ini, &encoding, nullptr);

    std::array<bool, 2 * kSettingsSections> stored{};
    if (usable) {
        for (unsigned n = 1; n <= kSettingsSections; ++n) {
            const std::string section = SettingsSectionName(n);
            stored[2 * (n - 1)] = ini.SetValue(section, "Addr", fields.address[n - 1]);
            stored[2 * (n - 1) + 1] = ini.SetValue(section, "Info", fields.remark[n - 1]);
        }
        if (!WriteIniFile(path, ini, encoding, nullptr)) stored.fill(false);
    }
    int failed = 0;
    for (const bool ok : stored) {
        if (ok) continue;
        ++failed;
        boxes.ShowMessage("写入配置出错！", kCaption, MessageIcon::Warning);
    }
    if (failed == 0) boxes.ShowMessage("写入配置成功！", kCaption, MessageIcon::Information);
    return failed;
}

}  // namespace zuz

// The settings file of bus addresses and remarks: twenty sections "Addr01" … "Addr20", each
// with the keys "Addr" (decimal bus address) and "Info" (free remark). The file holds nothing
// else. Every procedure reads the file afresh; nothing is cached.
//
// Call on the monitor's thread only (the procedures report through its status line and
// message boxes).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "display/channel_reading.h"
#include "protocol/host.h"

namespace zuz {

// Relative, so it is resolved against the working directory at every access.
inline constexpr const char* kSettingsFileName = "Settings.ini";
inline constexpr unsigned kSettingsSections = 20;

// "Addr01" … "Addr20" for n = 1 … 20.
std::string SettingsSectionName(unsigned n);

// An "Addr" value as an address-table entry: signed decimal like atoi (leading blanks, an
// optional sign, digits up to the first non-digit; no digits give 0), then the low eight
// bits. "300" gives 44, "-1" gives 255, "abc" gives 0, " 12" gives 12.
std::uint8_t AddressFromText(std::string_view text);

// Fills `addressTable` and the channels' remarks (SetRemark, no repaint) from the file, for
// all twenty sections whatever the channel count; an absent key leaves its target as it was.
// When the file is missing or cannot be read: shows "配置文件不存在！" on `status`, changes
// nothing and returns false.
bool LoadFixedAddresses(const std::string& path, std::array<std::uint8_t, kSettingsSections>& addressTable,
                        std::array<ChannelReading, kSettingsSections>& channels, IStatusSink& status);

// The settings dialog's forty fields: address field n and remark field n at index n-1.
struct SettingsFields {
    std::array<std::string, kSettingsSections> address;
    std::array<std::string, kSettingsSections> remark;
};

// "读出配置": copies every present key into its field as stored (absent keys leave their
// field unchanged). A missing file: message box "配置文件不存在！" / "配置信息" (warning) and
// no field changes.
void ReadSettingsIntoFields(const std::string& path, SettingsFields& fields, IMessageBoxes& boxes);

// "写入配置": writes all forty fields as typed, in the order Addr01 Addr, Addr01 Info, …
// Addr20 Info, creating the file, sections and keys as needed and keeping every other line.
// The file is read once and written once; each key that could not be stored shows
// "写入配置出错！" / "配置信息" (warning) once, and when all forty were stored
// "写入配置成功！" / "配置信息" (information) is shown. Returns the number of failed keys.
int WriteSettingsFromFields(const std::string& path, const SettingsFields& fields, IMessageBoxes& boxes);

}  // namespace zuz

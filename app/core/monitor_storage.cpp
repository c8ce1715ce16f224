// The monitor's settings-file and recording operations, over the storage library.
#include <algorithm>
#include <cstring>

#include "app/core/monitor_core.h"
#include "storage/recording_file.h"
#include "storage/settings_file.h"

namespace zuz {

namespace {

// The channels shown, whose columns the recording writes.
std::span<const ChannelReading> Shown(const std::array<ChannelReading, kMaxChannels>& channels, unsigned count) {
    return {channels.data(), std::min<std::size_t>(count, channels.size())};
}

std::string WriteFailureText(const std::string& path, int error) {
    return "写入存储文件失败: " + path + " (" + std::strerror(error) + ")";
}

}  // namespace

bool MonitorCore::LoadFixedAddresses() {
    return zuz::LoadFixedAddresses(kSettingsFileName, bus.addressTable, channels, *this);
}

void MonitorCore::ReadSettingsDialogFields(SettingsFields& fields) {
    ReadSettingsIntoFields(kSettingsFileName, fields, host_);
}

void MonitorCore::WriteSettingsDialogFields(const SettingsFields& fields) {
    WriteSettingsFromFields(kSettingsFileName, fields, host_);
}

void MonitorCore::ToggleRecording(bool ticked) {
    saveDataTicked = ticked;
    if (!ticked) {
        host_.StopTimer(TIMER_RECORD);
        ShowStatus("数据保存结束");
        savePath.clear();
        return;
    }

    auto refuse = [this] {
        saveDataTicked = false;
        host_.SetSaveDataBox(false);
    };
    if (!bus.connected) {
        host_.ShowMessage("请先选择连接主控设备", "存储警告", MessageIcon::Warning);
        refuse();
        return;
    }
    if (savePath.empty()) savePath = AutomaticRecordingName(clock_.Now());
    const RecordingResult result = WriteRecordingHeader(savePath, RecordingHeaderRows(Shown(channels, bus.channelCount)));
    if (result.kind == RecordingResult::Kind::OpenFailed) {
        refuse();
        ShowStatus("创建/打开存储文件失败: " + savePath);
        return;
    }
    if (result.kind == RecordingResult::Kind::WriteFailed) {
        refuse();
        ShowStatus(WriteFailureText(savePath, result.error));
        return;
    }
    recordCounter = 0;
    ShowStatus("创建存储文件成功: " + savePath);
    if (saveInterval != 0) host_.StartTimer(TIMER_RECORD, saveInterval * 1000u);
}

void MonitorCore::WriteDataRow() {
    std::string row;
    AppendRecordingDataRow(row, clock_.Now(), Shown(channels, bus.channelCount));
    const RecordingResult result = AppendRecordingRow(savePath, row);
    if (result.kind == RecordingResult::Kind::OpenFailed) return;  // skipped; the next event tries again
    if (result.kind == RecordingResult::Kind::WriteFailed) {
        // Not stored, so not counted; recording stays on.
        ShowStatus(WriteFailureText(savePath, result.error));
        return;
    }
    ++recordCounter;
    ShowStatus("已存储" + std::to_string(recordCounter) + "条数据");
}

}  // namespace zuz

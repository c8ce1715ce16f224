// The monitor's settings-file and recording operations. (Placeholder bodies until the storage
// library lands.)
#include "app/core/monitor_core.h"

namespace zuz {

bool MonitorCore::LoadFixedAddresses() {
    ShowStatus("配置文件不存在！");
    return false;
}

void MonitorCore::ToggleRecording(bool ticked) {
    saveDataTicked = ticked;
}

void MonitorCore::WriteDataRow() {}

}  // namespace zuz

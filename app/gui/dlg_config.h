// The settings dialog behind the monitor window's "设置" button. Two unrelated jobs:
//  - the recording settings (save path chosen with a save-file dialog, save interval in
//    seconds), handed to the owner only when the dialog ends with OK;
//  - an editor for Settings.ini in the working directory: twenty address and twenty remark
//    fields that "读出配置" and "写入配置" read and write at once, whatever OK or Cancel do
//    afterwards. These fields are never handed to the owner.
//
// A new dialog is made for every opening, so each starts with an empty path, the interval 0
// and empty fields. Every modal question goes through the injected message boxes and file
// chooser, so tests answer them without a person.
//
// Controls carry their identifiers as object names: "1012" save path, "1013" interval,
// "1030"..."1049" addresses 1..20, "1050"..."1069" remarks 1..20, "1070" 读出配置, "1071" 写入配置,
// "1072" browse, "1" OK, "2" Cancel.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/host.h"
#include "storage/settings_file.h"

class QLineEdit;
class QPushButton;

namespace zuz {
class MonitorCore;
}

namespace zuz::gui {

enum DlgConfigId : int {
    IDC_CFG_STORAGE_GROUP = 1011,
    IDC_CFG_SAVE_PATH = 1012,
    IDC_CFG_INTERVAL = 1013,
    IDC_CFG_ADDRESS_GROUP = 1015,
    IDC_CFG_FIRST_ADDRESS = 1030,  // address field n is 1029 + n
    IDC_CFG_FIRST_REMARK = 1050,   // remark field n is 1049 + n
    IDC_CFG_READ = 1070,
    IDC_CFG_WRITE = 1071,
    IDC_CFG_BROWSE = 1072,
};

inline constexpr const char* kIntervalRefusal = "请输入一个 0 至 255 之间的整数。";
inline constexpr const char* kSaveFileTitle = "选择数据保存位置";
inline constexpr const char* kSaveFileFilter = "逗号分隔(*.csv)";
inline constexpr const char* kSaveFileSuffix = "csv";

// The interval field's text as seconds: one or more decimal digits worth 0 to 255. Anything
// else (empty, a sign, blanks, above 255) gives nothing.
std::optional<std::uint8_t> ParseInterval(const QString& text);

// What OK hands over.
struct RecordingSettings {
    std::string savePath;  // UTF-8; empty: the recording picks its own file name
    std::uint8_t saveInterval = 0;
};

// Whoever receives the recording settings on OK (the monitor window).
class IRecordingSettingsOwner {
public:
    virtual ~IRecordingSettingsOwner() = default;
    virtual void SetRecordingSettings(const RecordingSettings& settings) = 0;
};

// Asks where to save. Returns the chosen file's full path, or an empty text when cancelled.
class ISaveFileChooser {
public:
    virtual ~ISaveFileChooser() = default;
    virtual QString ChooseSaveFile(QWidget* parent) = 0;
};

// The platform's save-file dialog: title "选择数据保存位置", one type "逗号分隔(*.csv)", default
// suffix csv, a question before an existing file is chosen, no preset name or folder.
class QtSaveFileChooser final : public ISaveFileChooser {
public:
    QString ChooseSaveFile(QWidget* parent) override;
};

// Message boxes as QMessageBox over a parent widget, with the button "确定".
class QtMessageBoxes final : public IMessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent) : parent_(parent) {}
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;

private:
    QWidget* parent_;
};

class CDlgConfig : public QDialog {
public:
    // `owner` gets the recording settings on OK. `boxes` and `chooser` answer the dialog's
    // questions; null gives the Qt ones. None is owned; all must outlive the dialog.
    CDlgConfig(IRecordingSettingsOwner& owner, QWidget* parent = nullptr, IMessageBoxes* boxes = nullptr,
               ISaveFileChooser* chooser = nullptr);
    ~CDlgConfig() override;

    // A control by its identifier, nullptr for none.
    QWidget* Control(int id) const;
    QLineEdit* AddressField(unsigned n) const { return addressFields_[n - 1]; }  // n = 1 ... 20
    QLineEdit* RemarkField(unsigned n) const { return remarkFields_[n - 1]; }
    // The path the browse button chose during this opening (UTF-8), empty before.
    const std::string& ChosenSavePath() const { return savePath_; }

    // Command handlers, as the buttons run them.
    void OnBrowse();
    void OnReadSettings();
    void OnWriteSettings();
    // OK: hands the settings over and closes, unless the interval is refused.
    void accept() override;

private:
    void CreateControls();
    // Reads the interval field; on refusal shows the message once and puts the focus back on
    // the field with its text selected.
    std::optional<std::uint8_t> ReadInterval();
    SettingsFields CollectFields() const;
    void ShowFields(const SettingsFields& fields);

    IRecordingSettingsOwner& owner_;
    QtMessageBoxes ownBoxes_;
    QtSaveFileChooser ownChooser_;
    IMessageBoxes& boxes_;
    ISaveFileChooser& chooser_;
    std::string savePath_;
    QLineEdit* savePathField_ = nullptr;
    QLineEdit* intervalField_ = nullptr;
    std::array<QLineEdit*, kSettingsSections> addressFields_{};
    std::array<QLineEdit*, kSettingsSections> remarkFields_{};
};

// The Settings button's work: runs a CDlgConfig modally over `parent`; OK stores the save path
// and interval in `core`.
void RunConfigDialog(QWidget* parent, MonitorCore& core);

}  // namespace zuz::gui

#include "app/gui/dlg_config.h"

#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "app/core/monitor_core.h"
#include "app/gui/dialog_units.h"

namespace zuz::gui {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Q(const char* s) { return QString::fromUtf8(s); }

constexpr int kFieldRows = 10;  // channels per column
constexpr int kRowStep = 16;    // dialog units from one channel row to the next

// The recording settings go into the monitor's fields.
class CoreSettingsOwner final : public IRecordingSettingsOwner {
public:
    explicit CoreSettingsOwner(MonitorCore& core) : core_(core) {}
    void SetRecordingSettings(const RecordingSettings& settings) override {
        core_.savePath = settings.savePath;
        core_.saveInterval = settings.saveInterval;
    }

private:
    MonitorCore& core_;
};

// The address and remark fields do not scroll: typing stops when the text fills the field.
// Text put in by "读出配置" is shown whatever its width, as it is only typing that is limited.
class FitsFieldValidator final : public QValidator {
public:
    explicit FitsFieldValidator(QLineEdit* field) : QValidator(field), field_(field) {}
    State validate(QString& text, int&) const override {
        const QMargins margins = field_->textMargins();
        // The frame and the text's side margins of the style take about a character's width.
        const int room = field_->width() - margins.left() - margins.right() -
                         QFontMetrics(field_->font()).averageCharWidth();
        return QFontMetrics(field_->font()).horizontalAdvance(text) <= room ? Acceptable : Invalid;
    }

private:
    QLineEdit* field_;
};

}  // namespace

std::optional<std::uint8_t> ParseInterval(const QString& text) {
    if (text.isEmpty()) return std::nullopt;
    unsigned value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
        value = value * 10 + unsigned(c.unicode() - '0');
        if (value > 255) return std::nullopt;  // also keeps a long run of digits from overflowing
    }
    return std::uint8_t(value);
}

QString QtSaveFileChooser::ChooseSaveFile(QWidget* parent) {
    QFileDialog dialog(parent, Q(kSaveFileTitle));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(Q(kSaveFileFilter));
    dialog.setDefaultSuffix(Q(kSaveFileSuffix));
    // Overwrite confirmation is the dialog's default in save mode; no preset name or folder.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
}

void QtMessageBoxes::ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
    QMessageBox::Icon qicon = QMessageBox::NoIcon;
    if (icon == MessageIcon::Warning) qicon = QMessageBox::Warning;
    if (icon == MessageIcon::Information) qicon = QMessageBox::Information;
    QMessageBox box(qicon, Q(caption), Q(text), QMessageBox::Ok, parent_);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
}

CDlgConfig::CDlgConfig(IRecordingSettingsOwner& owner, QWidget* parent, IMessageBoxes* boxes,
                       ISaveFileChooser* chooser)
    : QDialog(parent),
      owner_(owner),
      ownBoxes_(this),
      boxes_(boxes ? *boxes : static_cast<IMessageBoxes&>(ownBoxes_)),
      chooser_(chooser ? *chooser : static_cast<ISaveFileChooser&>(ownChooser_)) {
    setObjectName(QStringLiteral("136"));
    setWindowTitle(QStringLiteral("设置"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    setFont(DialogFont(8));
    CreateControls();
}

CDlgConfig::~CDlgConfig() = default;

QWidget* CDlgConfig::Control(int id) const { return findChild<QWidget*>(QString::number(id)); }

void CDlgConfig::CreateControls() {
    const DialogUnits u = UnitsOf(font());
    setFixedSize(u.X(316), u.Y(285));

    auto place = [&](QWidget* w, int id, int x, int y, int cx, int cy) {
        if (id != 0) w->setObjectName(QString::number(id));
        w->setGeometry(u.Rect(x, y, cx, cy));
    };
    auto label = [&](const QString& text, int x, int y, int cx, int cy) {
        auto* l = new QLabel(text, this);
        place(l, 0, x, y, cx, cy);
        return l;
    };
    auto button = [&](int id, const char* text, int x, int y, int cx, int cy) {
        auto* b = new QPushButton(Q(text), this);
        place(b, id, x, y, cx, cy);
        b->setAutoDefault(false);
        return b;
    };
    auto edit = [&](int id, int x, int y, int cx, int cy) {
        auto* e = new QLineEdit(this);
        place(e, id, x, y, cx, cy);
        return e;
    };

    // Group boxes first, so the controls inside them are above them.
    auto* storage = new QGroupBox(QStringLiteral("存储设置"), this);
    place(storage, IDC_CFG_STORAGE_GROUP, 12, 6, 294, 54);
    auto* addresses = new QGroupBox(QStringLiteral("地址设置及编号信息备注"), this);
    place(addresses, IDC_CFG_ADDRESS_GROUP, 12, 68, 294, 208);

    label(QStringLiteral("保存路径："), 27, 21, 45, 11);
    savePathField_ = edit(IDC_CFG_SAVE_PATH, 72, 19, 174, 12);
    // Its text is never read back; read-only says so to the user.
    savePathField_->setReadOnly(true);
    QPushButton* browse = button(IDC_CFG_BROWSE, "...", 253, 18, 36, 14);

    label(QStringLiteral("保存间隔："), 27, 41, 45, 11);
    intervalField_ = edit(IDC_CFG_INTERVAL, 72, 39, 56, 12);
    intervalField_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), intervalField_));
    intervalField_->setText(QStringLiteral("0"));
    label(QStringLiteral("秒/次"), 134, 41, 36, 11);

    QPushButton* ok = button(1, "确定", 210, 38, 36, 14);
    ok->setAutoDefault(true);
    ok->setDefault(true);
    QPushButton* cancel = button(2, "取消", 253, 38, 36, 14);

    for (int k = 0; k < kFieldRows; ++k) {
        const int y = 85 + kRowStep * k;
        label(QStringLiteral("%1:").arg(k + 1, 2, 10, QLatin1Char('0')), 17, 88 + kRowStep * k, 12, 8);
        label(QStringLiteral("%1:").arg(k + 11), 161, 88 + kRowStep * k, 12, 8);
        addressFields_[k] = edit(IDC_CFG_FIRST_ADDRESS + k, 30, y, 32, 13);
        addressFields_[k + kFieldRows] = edit(IDC_CFG_FIRST_ADDRESS + kFieldRows + k, 174, y, 32, 13);
        remarkFields_[k] = edit(IDC_CFG_FIRST_REMARK + k, 72, y, 76, 13);
        remarkFields_[k + kFieldRows] = edit(IDC_CFG_FIRST_REMARK + kFieldRows + k, 216, y, 76, 13);
    }
    for (QLineEdit* field : addressFields_) field->setAlignment(Qt::AlignCenter);
    for (auto* fields : {&addressFields_, &remarkFields_})
        for (QLineEdit* field : *fields) field->setValidator(new FitsFieldValidator(field));
    // Tab order as the template lists the fields: addresses, then remarks, column by column.
    QWidget* previous = cancel;
    for (auto* fields : {&addressFields_, &remarkFields_})
        for (QLineEdit* field : *fields) {
            setTabOrder(previous, field);
            previous = field;
        }

    QPushButton* read = button(IDC_CFG_READ, "读出配置", 36, 250, 64, 18);
    QPushButton* write = button(IDC_CFG_WRITE, "写入配置", 222, 251, 64, 18);

    connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(read, &QPushButton::clicked, this, [this] { OnReadSettings(); });
    connect(write, &QPushButton::clicked, this, [this] { OnWriteSettings(); });
    connect(ok, &QPushButton::clicked, this, [this] { accept(); });
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
}

std::optional<std::uint8_t> CDlgConfig::ReadInterval() {
    const std::optional<std::uint8_t> interval = ParseInterval(intervalField_->text());
    if (!interval) {
        const QWidget* top = parentWidget() ? parentWidget()->window() : nullptr;
        const std::string caption = (top ? top->windowTitle() : windowTitle()).toStdString();
        boxes_.ShowMessage(kIntervalRefusal, caption, MessageIcon::Warning);
        intervalField_->setFocus(Qt::OtherFocusReason);
        intervalField_->selectAll();
    }
    return interval;
}

void CDlgConfig::OnBrowse() {
    // The fields are read back first, as for OK; a refused interval does not stop the browse.
    (void)ReadInterval();
    const QString path = chooser_.ChooseSaveFile(this);
    if (path.isEmpty()) return;
    savePath_ = path.toStdString();
    savePathField_->setText(path);
}

SettingsFields CDlgConfig::CollectFields() const {
    SettingsFields fields;
    for (unsigned i = 0; i < kSettingsSections; ++i) {
        fields.address[i] = addressFields_[i]->text().toStdString();
        fields.remark[i] = remarkFields_[i]->text().toStdString();
    }
    return fields;
}

void CDlgConfig::ShowFields(const SettingsFields& fields) {
    for (unsigned i = 0; i < kSettingsSections; ++i) {
        addressFields_[i]->setText(Q(fields.address[i]));
        remarkFields_[i]->setText(Q(fields.remark[i]));
    }
}

void CDlgConfig::OnReadSettings() {
    SettingsFields fields = CollectFields();
    ReadSettingsIntoFields(kSettingsFileName, fields, boxes_);
    ShowFields(fields);
}

void CDlgConfig::OnWriteSettings() { WriteSettingsFromFields(kSettingsFileName, CollectFields(), boxes_); }

void CDlgConfig::accept() {
    const std::optional<std::uint8_t> interval = ReadInterval();
    if (!interval) return;  // the dialog stays open, nothing is handed over
    owner_.SetRecordingSettings(RecordingSettings{savePath_, *interval});
    QDialog::accept();
}

void RunConfigDialog(QWidget* parent, MonitorCore& core) {
    CoreSettingsOwner owner(core);
    CDlgConfig dialog(owner, parent);
    dialog.exec();
}

}  // namespace zuz::gui

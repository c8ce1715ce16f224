#include "app/gui/main_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>

#include <cstring>

#include "app/gui/cdisp.h"
#include "app/gui/cdlg_start.h"
#include "app/gui/dlg_config.h"
#include "app/gui/icons.h"
#include "app/gui/serial_mfc.h"

namespace zuz::gui {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Q(const char* s) { return QString::fromUtf8(s); }

struct GridRow {
    unsigned channels;
    int columns, rows;
    int heightPanels, heightExtra;  // window height = heightPanels * H + heightExtra
};

// Window width is always columns * W + 12 * (columns + 2). The three-row windows are 5H + 60
// high, not 5H + 48: kept as the monitor has always been laid out.
constexpr GridRow kGrid[] = {
    {2, 2, 1, 3, 24},  {4, 2, 2, 4, 36},  {6, 3, 2, 4, 36},  {8, 3, 3, 5, 60},  {9, 3, 3, 5, 60},
    {10, 2, 5, 7, 72}, {12, 3, 4, 6, 60}, {15, 3, 5, 7, 72}, {16, 4, 4, 6, 60}, {20, 4, 5, 7, 72},
};

constexpr int kStatePixmapSize = 32;

}  // namespace

PanelGrid GridFor(unsigned channelCount, QSize panel) {
    const GridRow* row = &kGrid[0];
    for (const GridRow& r : kGrid)
        if (r.channels == channelCount) row = &r;
    const int w = panel.width();
    const int h = panel.height();
    PanelGrid grid;
    grid.columns = row->columns;
    grid.rows = row->rows;
    grid.window = QSize(row->columns * w + 12 * (row->columns + 2), row->heightPanels * h + row->heightExtra);
    auto cell = [&](int c, int r) { return QPoint(12 + c * (w + 12), 3 * h / 2 + r * (h + 12)); };
    for (unsigned i = 0; i < row->channels; ++i) {
        int c = int(i) % row->columns;
        int r = int(i) / row->columns;
        // Eight channels: the last one skips the middle cell of the bottom row.
        if (row->channels == 8 && i == 7) c = 2;
        grid.cells.push_back(cell(c, r));
    }
    return grid;
}

VavaduzidivaRer::VavaduzidivaRer(QWidget* parent)
    : QDialog(parent),
      core_(*this, clock_),
      timers_(this, [this](unsigned id) { core_.OnTimer(id); }) {
    setObjectName(QStringLiteral("102"));
    setWindowTitle(QStringLiteral("ZuzavadI4.0"));
    // Title bar with system menu and minimise box; no maximise box; fixed frame.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogFont(9));
    units_ = UnitsOf(font());
    serial_ = std::make_unique<CSerialMFC>(*this);
    core_.SetPort(&serial_->Port());
    CreateControls();
}

VavaduzidivaRer::~VavaduzidivaRer() {
    timers_.StopAll();
    ClosePort();
    // The panels outlive the core (Qt deletes children after the members): detach them first.
    for (ChannelReading& reading : core_.channels) reading.AttachView(nullptr);
}

QWidget* VavaduzidivaRer::Control(int id) const {
    return findChild<QWidget*>(QString::number(id));
}

void VavaduzidivaRer::CreateControls() {
    const DialogUnits& u = units_;
    setFixedSize(u.X(419), u.Y(208));

    // Panels first: panel 1008 is bound first, its template size gives W and H.
    for (unsigned i = 0; i < kMaxChannels; ++i) {
        auto* panel = new CDisp(core_.channels[i], this);
        panel->setObjectName(QString::number(IDC_FIRST_PANEL + int(i)));
        panel->setGeometry(u.Rect(0, 0, 120, 45));
        panels_[i] = panel;
    }
    panelSize_ = panels_[0]->frameGeometry().size();

    auto place = [&](QWidget* w, int id, int x, int y, int cx, int cy) {
        w->setObjectName(QString::number(id));
        w->setGeometry(u.Rect(x, y, cx, cy));
    };

    portList_ = new QComboBox(this);
    place(portList_, IDC_PORT_LIST, 11, 18, 48, 14);
    portList_->setAccessibleName(QStringLiteral("串口"));
    baudList_ = new QComboBox(this);
    place(baudList_, IDC_BAUD_LIST, 67, 18, 48, 14);
    baudList_->setAccessibleName(QStringLiteral("波特率"));
    for (unsigned rate : kBaudRates) baudList_->addItem(QString::number(rate));

    stateIcon_ = new QLabel(this);
    place(stateIcon_, IDC_STATE_ICON, 17, 42, 20, 20);
    stateIcon_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto button = [&](int id, const char* text, int x, int y, int cx, int cy) {
        auto* b = new QPushButton(Q(text), this);
        place(b, id, x, y, cx, cy);
        b->setAutoDefault(false);
        b->setDefault(false);
        b->setAccessibleName(Q(text));
        return b;
    };
    connectButton_ = button(IDC_CONNECT, "连接设备", 48, 44, 67, 14);
    settingsButton_ = button(IDC_SETTINGS, "设置", 138, 18, 50, 14);
    aboutButton_ = button(IDC_ABOUT, "关于", 138, 44, 50, 14);

    auto checkBox = [&](int id, const char* text, int x, int y) {
        auto* b = new QCheckBox(Q(text), this);
        place(b, id, x, y, 46, 10);
        b->setLayoutDirection(Qt::RightToLeft);  // the text left of the box
        b->setAccessibleName(Q(text));
        return b;
    };
    saveDataBox_ = checkBox(IDC_SAVE_DATA, "保存数据", 198, 20);
    fixedAddressBox_ = checkBox(IDC_FIXED_ADDRESS, "固定地址", 198, 46);

    // Controls report clicks, as buttons do; programmatic changes of a box report nothing.
    connect(connectButton_, &QPushButton::clicked, this, [this] { OnConnect(); });
    connect(settingsButton_, &QPushButton::clicked, this, [this] { OnSettings(); });
    connect(aboutButton_, &QPushButton::clicked, this, [this] { OnAbout(); });
    connect(saveDataBox_, &QCheckBox::clicked, this, [this] { OnSaveData(); });
    connect(fixedAddressBox_, &QCheckBox::clicked, this, [this] { OnFixedAddress(); });

    ShowConnectionState(false);
}

void VavaduzidivaRer::OnInitDialog() {
    UpdateData();
    setWindowIcon(AppIcon());
    if (chooseChannelCount) {
        chooseChannelCount(*this);
    } else {
        CDlgStart dialog(*this);
        dialog.exec();
    }
    if (!IsValidChannelCount(ChannelCount())) SetChannelCount(2);
    LayoutPanels();
    ListSerialPorts();
    core_.channels[0].Reset();
    baudList_->setCurrentIndex(kDefaultBaudEntry);
    CreateStatusBar();
    core_.bus.ResetReceiver();
}

void VavaduzidivaRer::LayoutPanels() {
    const PanelGrid grid = GridFor(ChannelCount(), panelSize_);
    outerSize_ = grid.window;
    // The outer size includes the frame; a window that is not yet decorated has none.
    const QSize frame = frameGeometry().size() - geometry().size();
    setFixedSize(grid.window - frame);
    for (unsigned i = 1; i < kMaxChannels; ++i) panels_[i]->hide();
    for (std::size_t i = 0; i < grid.cells.size(); ++i) {
        panels_[i]->setGeometry(QRect(grid.cells[i], panelSize_));
        panels_[i]->show();
    }
    if (statusBar_) {
        const int h = statusBar_->sizeHint().height();
        statusBar_->setGeometry(0, height() - h, width(), h);
    }
}

void VavaduzidivaRer::CreateStatusBar() {
    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName(QString::number(IDC_STATUS_BAR));
    statusBar_->setSizeGripEnabled(false);
    statusPane_ = new QLabel(statusBar_);
    statusPane_->setObjectName(QString::number(IDC_STATUS_PANE));
    statusPane_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusPane_->setMinimumWidth(std::min(outerSize_.width(), width()));
    statusBar_->addWidget(statusPane_, 1);
    QPalette palette = statusBar_->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(QRgb(kStatusBarBackground)));
    statusBar_->setPalette(palette);
    statusBar_->setAutoFillBackground(true);
    const int h = statusBar_->sizeHint().height();
    statusBar_->setGeometry(0, height() - h, width(), h);
    statusBar_->show();
}

void VavaduzidivaRer::UpdateData() {
    core_.portName = portList_->currentIndex() >= 0 ? portList_->currentText().toStdString() : std::string();
}

void VavaduzidivaRer::ListSerialPorts() {
    portList_->clear();
    std::vector<std::string> names;
    if (listPorts) {
        names = listPorts();
    } else {
        names = SystemSerialPorts();
    }
    for (const std::string& name : names) portList_->addItem(Q(name));
    if (portList_->count() > 0) portList_->setCurrentIndex(0);
}

void VavaduzidivaRer::OnConnect() {
    UpdateData();
    core_.ToggleConnection(baudList_->currentIndex());
}

void VavaduzidivaRer::OnSettings() {
    if (runSettingsDialog) {
        runSettingsDialog(*this);
    } else {
        RunConfigDialog(this, core_);
    }
}

void VavaduzidivaRer::OnAbout() {}

void VavaduzidivaRer::OnSaveData() {
    UpdateData();
    core_.ToggleRecording(saveDataBox_->isChecked());
}

void VavaduzidivaRer::OnFixedAddress() {
    const bool ticked = fixedAddressBox_->isChecked();
    // A missing settings file has been reported (status line, message box) by the time this
    // returns; the box then goes back to unticked.
    const bool mode = core_.SetFixedAddressBox(ticked);
    if (ticked && !mode) fixedAddressBox_->setChecked(false);
}

void VavaduzidivaRer::OnSerialEvent(std::uint32_t wParam, std::intptr_t lParam) {
    core_.OnSerialEvent(wParam, lParam);
}

void VavaduzidivaRer::ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
    QMessageBox::Icon qicon = QMessageBox::NoIcon;
    if (icon == MessageIcon::Warning) qicon = QMessageBox::Warning;
    if (icon == MessageIcon::Information) qicon = QMessageBox::Information;
    QMessageBox box(qicon, Q(caption), Q(text), QMessageBox::Ok, this);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
}

void VavaduzidivaRer::ShowStatusLine(const std::string& line) {
    if (!statusPane_) return;  // no status bar: the line goes nowhere
    const QString text = Q(line);
    statusPane_->setText(text);
    statusPane_->setAccessibleName(text);
    statusPane_->repaint();
}

long VavaduzidivaRer::OpenPort(const std::string& portName) {
    return serial_->Open(portName);
}

std::string VavaduzidivaRer::PortErrorText(long error) const {
    return serial_->ErrorText(error);
}

void VavaduzidivaRer::SetupPort(unsigned baudRate) {
    serial_->Setup(baudRate);
}

void VavaduzidivaRer::ClosePort() {
    if (serial_) serial_->Close();
}

void VavaduzidivaRer::ShowConnectionState(bool connected) {
    stateIcon_->setPixmap(connected ? ConnectedIcon(kStatePixmapSize) : DisconnectedIcon(kStatePixmapSize));
    stateIcon_->setAccessibleName(connected ? QStringLiteral("已连接") : QStringLiteral("未连接"));
    const QString text = connected ? QStringLiteral("断开设备") : QStringLiteral("连接设备");
    connectButton_->setText(text);
    connectButton_->setAccessibleName(text);
    settingsButton_->setEnabled(!connected);
    fixedAddressBox_->setEnabled(!connected);
}

void VavaduzidivaRer::SetSaveDataBox(bool ticked) { saveDataBox_->setChecked(ticked); }

void VavaduzidivaRer::reject() {
    if (saveDataBox_->isChecked()) {
        QMessageBox box(QMessageBox::NoIcon, Q(kCloseCaption), Q(kCloseQuestion), QMessageBox::Ok | QMessageBox::Cancel,
                        this);
        box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
        box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
        if (box.exec() != QMessageBox::Ok) return;  // the window stays, the recording goes on
    }
    if (core_.bus.connected) ClosePort();
    timers_.StopAll();
    QDialog::reject();
}

}  // namespace zuz::gui

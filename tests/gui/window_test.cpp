#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "app/gui/cdisp.h"
#include "app/gui/dlg_config.h"
#include "app/gui/main_window.h"
#include "gui_test_support.h"

namespace zuz::gui {
namespace {

using test::ClickButton;
using test::EnsureApplication;
using test::ModalAnswerer;

// A window initialised for `channels`, with no serial ports unless given.
std::unique_ptr<VavaduzidivaRer> MakeWindow(unsigned channels, std::vector<std::string> ports = {}) {
    EnsureApplication();
    auto window = std::make_unique<VavaduzidivaRer>();
    window->chooseChannelCount = [channels](VavaduzidivaRer& w) { w.SetChannelCount(channels); };
    window->listPorts = [ports] { return ports; };
    window->OnInitDialog();
    return window;
}

template <class T>
T* Find(const VavaduzidivaRer& w, int id) {
    return qobject_cast<T*>(w.Control(id));
}

QString StatusText(const VavaduzidivaRer& w) { return w.StatusPane() ? w.StatusPane()->text() : QString(); }

TEST(MonitorWindow, WindowSizeAndCellsForEveryChannelCount) {
    struct Case {
        unsigned channels;
        int columns;             // width = columns * W + 12 * (columns + 2)
        int heightH, heightAdd;  // height = heightH * H + heightAdd
        std::vector<QPoint> cells;  // (column, row) of channel 0, 1, ...
    };
    auto rowMajor = [](int columns, int count) {
        std::vector<QPoint> cells;
        for (int i = 0; i < count; ++i) cells.emplace_back(i % columns, i / columns);
        return cells;
    };
    const Case cases[] = {
        {2, 2, 3, 24, rowMajor(2, 2)},
        {4, 2, 4, 36, rowMajor(2, 4)},
        {6, 3, 4, 36, rowMajor(3, 6)},
        {8, 3, 5, 60, {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}, {0, 2}, {2, 2}}},
        {9, 3, 5, 60, rowMajor(3, 9)},
        {10, 2, 7, 72, rowMajor(2, 10)},
        {12, 3, 6, 60, rowMajor(3, 12)},
        {15, 3, 7, 72, rowMajor(3, 15)},
        {16, 4, 6, 60, rowMajor(4, 16)},
        {20, 4, 7, 72, rowMajor(4, 20)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels");
        auto w = MakeWindow(c.channels);
        const DialogUnits& u = w->Units();
        const int W = u.X(120), H = u.Y(45);
        ASSERT_EQ(w->PanelSize(), QSize(W, H));
        ASSERT_GT(W, 100);
        ASSERT_GT(H, 40);
        const QSize outer(c.columns * W + 12 * (c.columns + 2), c.heightH * H + c.heightAdd);
        EXPECT_EQ(w->OuterSize(), outer);
        EXPECT_EQ(w->frameGeometry().size(), outer);
        for (unsigned i = 0; i < kMaxChannels; ++i) {
            CDisp* panel = w->Panel(i);
            ASSERT_EQ(panel, w->Control(1008 + int(i)));
            if (i >= c.channels) {
                EXPECT_TRUE(panel->isHidden()) << "panel " << i;
                continue;
            }
            EXPECT_FALSE(panel->isHidden()) << "panel " << i;
            const QPoint cell = c.cells[i];
            const QRect expected(12 + cell.x() * (W + 12), 3 * H / 2 + cell.y() * (H + 12), W, H);
            EXPECT_EQ(panel->geometry(), expected) << "panel " << i;
        }
        // The panels lie between the controls above and the status line below.
        const QRect lastPanel = w->Panel(c.channels - 1)->geometry();
        EXPECT_GT(w->Panel(0)->geometry().top(), w->Control(IDC_CONNECT)->geometry().bottom());
        EXPECT_LE(lastPanel.bottom(), w->StatusBar()->geometry().top());
        EXPECT_EQ(w->StatusBar()->geometry().bottom(), w->height() - 1);
    }
}

TEST(MonitorWindow, InitialisationStateOfTheControls) {
    auto w = MakeWindow(4, {"/dev/ttyUSB1", "/dev/ttyACM0", "/dev/pts/9"});
    auto* ports = Find<QComboBox>(*w, IDC_PORT_LIST);
    auto* bauds = Find<QComboBox>(*w, IDC_BAUD_LIST);
    ASSERT_TRUE(ports && bauds);
    // Listed in the source's order, unsorted, first selected.
    ASSERT_EQ(ports->count(), 3);
    EXPECT_EQ(ports->itemText(0), QStringLiteral("/dev/ttyUSB1"));
    EXPECT_EQ(ports->itemText(2), QStringLiteral("/dev/pts/9"));
    EXPECT_EQ(ports->currentIndex(), 0);
    ASSERT_EQ(bauds->count(), 5);
    EXPECT_EQ(bauds->currentText(), QStringLiteral("115200"));
    EXPECT_EQ(bauds->itemText(0), QStringLiteral("9600"));

    struct Text {
        int id;
        const char* text;
    };
    for (const Text& t : {Text{IDC_CONNECT, "连接设备"}, Text{IDC_SETTINGS, "设置"}, Text{IDC_ABOUT, "关于"},
                          Text{IDC_SAVE_DATA, "保存数据"}, Text{IDC_FIXED_ADDRESS, "固定地址"}}) {
        auto* b = Find<QAbstractButton>(*w, t.id);
        ASSERT_NE(b, nullptr) << t.id;
        EXPECT_EQ(b->text(), QString::fromUtf8(t.text));
        EXPECT_TRUE(b->isEnabled());
        // Screen readers find the control by the same text.
        QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(b);
        ASSERT_NE(a11y, nullptr);
        EXPECT_EQ(a11y->text(QAccessible::Name), QString::fromUtf8(t.text));
        if (auto* push = qobject_cast<QPushButton*>(b)) {
            EXPECT_FALSE(push->isDefault() || push->autoDefault());
        }
    }
    EXPECT_FALSE(Find<QCheckBox>(*w, IDC_SAVE_DATA)->isChecked());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("ZuzavadI4.0"));
    EXPECT_FALSE(w->windowIcon().isNull());
    EXPECT_FALSE(Find<QLabel>(*w, IDC_STATE_ICON)->pixmap().isNull());

    // Only channel 0 is reset at start; the others keep their constructed texts.
    EXPECT_EQ(w->Core().channels[0].ValueText(), "-----");
    EXPECT_EQ(w->Core().channels[1].ValueText(), "----");

    // One status pane on the light blue bar, empty at first.
    QStatusBar* bar = w->StatusBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->objectName(), QStringLiteral("59393"));
    EXPECT_EQ(bar->palette().color(QPalette::Window), QColor(0xD6, 0xE7, 0xF7));
    EXPECT_TRUE(bar->autoFillBackground());
    EXPECT_EQ(w->StatusPane()->objectName(), QStringLiteral("133"));
    EXPECT_TRUE(StatusText(*w).isEmpty());
}

TEST(MonitorWindow, StatusLineCarriesTheLocalTimePrefix) {
    auto w = MakeWindow(2);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    w->ShowStatus("断开串口成功");
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    const QString line = StatusText(*w);
    static const QRegularExpression format(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}) -- 断开串口成功$"));
    const QRegularExpressionMatch m = format.match(line);
    ASSERT_TRUE(m.hasMatch()) << line.toStdString();
    const QDateTime stamp = QDateTime::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    EXPECT_GE(stamp, before.addMSecs(-before.time().msec()));
    EXPECT_LE(stamp, after);
    // The next text replaces the line; the accessible name is the line.
    w->ShowStatus("X");
    EXPECT_TRUE(StatusText(*w).endsWith(QStringLiteral(" -- X")));
    EXPECT_FALSE(StatusText(*w).contains(QStringLiteral("断开")));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(w->StatusPane())->text(QAccessible::Name), StatusText(*w));
}

TEST(MonitorWindow, ConnectWithoutPortsSaysSoAndStaysDisconnected) {
    auto w = MakeWindow(2);
    ModalAnswerer answerer({});
    Find<QPushButton>(*w, IDC_CONNECT)->click();
    EXPECT_TRUE(StatusText(*w).endsWith(QStringLiteral(" -- 不存在有效端口，请先插入主控设备")));
    EXPECT_FALSE(w->Core().bus.connected);
    EXPECT_EQ(Find<QPushButton>(*w, IDC_CONNECT)->text(), QStringLiteral("连接设备"));
    EXPECT_FALSE(w->Timers().IsRunning(TIMER_SCAN));
    EXPECT_TRUE(answerer.Seen().empty());
}

TEST(MonitorWindow, ConnectionStateShowsOnTheControls) {
    auto w = MakeWindow(2);
    auto* icon = Find<QLabel>(*w, IDC_STATE_ICON);
    const QImage crossed = icon->pixmap().toImage();
    struct Case {
        bool connected;
        const char* button;
        const char* iconName;
    };
    for (const Case& c : {Case{true, "断开设备", "已连接"}, Case{false, "连接设备", "未连接"}}) {
        SCOPED_TRACE(c.connected);
        w->ShowConnectionState(c.connected);
        EXPECT_EQ(Find<QPushButton>(*w, IDC_CONNECT)->text(), QString::fromUtf8(c.button));
        EXPECT_EQ(Find<QPushButton>(*w, IDC_SETTINGS)->isEnabled(), !c.connected);
        EXPECT_EQ(Find<QCheckBox>(*w, IDC_FIXED_ADDRESS)->isEnabled(), !c.connected);
        EXPECT_TRUE(Find<QComboBox>(*w, IDC_PORT_LIST)->isEnabled());
        EXPECT_EQ(icon->accessibleName(), QString::fromUtf8(c.iconName));
        EXPECT_EQ(icon->pixmap().toImage() == crossed, !c.connected);
    }
}

class CloseTest : public ::testing::Test {
protected:
    void SetUp() override {
        w = MakeWindow(2);
        w->show();
    }
    void Record() {
        Find<QCheckBox>(*w, IDC_SAVE_DATA)->setChecked(true);
        w->Core().saveDataTicked = true;
    }
    std::unique_ptr<VavaduzidivaRer> w;
};

TEST_F(CloseTest, AsksOnlyWhileRecordingAndCancelKeepsBoth) {
    struct Case {
        const char* name;
        bool recording;
        bool viaEscape;
        const char* answer;  // button clicked in the question, if one comes
        bool asked;
        bool staysOpen;
    };
    const Case cases[] = {
        {"idle close", false, false, nullptr, false, false},
        {"idle escape", false, true, nullptr, false, false},
        {"recording, cancel", true, false, "取消", true, true},
        {"recording, escape then cancel", true, true, "取消", true, true},
        {"recording, ok", true, false, "确定", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        if (c.recording) Record();
        std::vector<ModalAnswerer::Answer> answers;
        if (c.answer) answers.push_back([&](QWidget* box) { ClickButton(box, QString::fromUtf8(c.answer)); });
        ModalAnswerer answerer(answers);
        if (c.viaEscape) {
            QTest::keyClick(w.get(), Qt::Key_Escape);
        } else {
            w->close();
        }
        ASSERT_EQ(answerer.Seen().size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(answerer.Seen()[0].className, QStringLiteral("QMessageBox"));
            EXPECT_EQ(answerer.Seen()[0].text, QStringLiteral("数据采集中,确认退出？"));
            EXPECT_EQ(answerer.Seen()[0].title, QStringLiteral("退出提示"));
        }
        EXPECT_EQ(w->isVisible(), c.staysOpen);
        if (c.staysOpen) {
            EXPECT_TRUE(Find<QCheckBox>(*w, IDC_SAVE_DATA)->isChecked());
            EXPECT_TRUE(w->Core().saveDataTicked);
        }
    }
}

TEST_F(CloseTest, EnterEndsNothing) {
    QTest::keyClick(w.get(), Qt::Key_Return);
    QTest::keyClick(w.get(), Qt::Key_Enter);
    EXPECT_TRUE(w->isVisible());
}

TEST_F(CloseTest, ClosingStopsTheTimers) {
    w->StartTimer(TIMER_POLL, 50);
    w->StartTimer(TIMER_RECORD, 1000);
    w->close();
    EXPECT_FALSE(w->Timers().IsRunning(TIMER_POLL));
    EXPECT_FALSE(w->Timers().IsRunning(TIMER_RECORD));
}

TEST(MonitorWindow, FixedAddressWithoutSettingsFileEndsUnticked) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    {
        auto w = MakeWindow(2);
        ModalAnswerer answerer({[](QWidget* box) { ClickButton(box, QStringLiteral("确定")); }},
                               [&w] { return StatusText(*w); });
        auto* box = Find<QCheckBox>(*w, IDC_FIXED_ADDRESS);
        box->click();
        ASSERT_EQ(answerer.Seen().size(), 1u);
        const test::SeenModal& seen = answerer.Seen()[0];
        // The status line had the text before the message box came up.
        EXPECT_TRUE(seen.status.endsWith(QStringLiteral(" -- 配置文件不存在！"))) << seen.status.toStdString();
        EXPECT_EQ(seen.text, QStringLiteral("配置文件不存在！"));
        EXPECT_EQ(seen.title, QStringLiteral("固定地址"));
        EXPECT_FALSE(box->isChecked());
        EXPECT_FALSE(w->Core().bus.fixedAddressMode);
        // Unticking again reads nothing and asks nothing.
        box->setChecked(true);
        w->Core().bus.fixedAddressMode = true;
        box->click();
        EXPECT_FALSE(w->Core().bus.fixedAddressMode);
        EXPECT_EQ(answerer.Seen().size(), 1u);
    }
    QDir::setCurrent(previous);
}

TEST(MonitorWindow, AboutChangesNothing) {
    auto w = MakeWindow(6, {"/dev/ttyUSB0"});
    w->ShowStatus("状态");
    w->Core().channels[2].SetValue32(42);
    auto snapshot = [&w] {
        QStringList s;
        s << StatusText(*w) << QString::number(w->isVisible()) << QString::number(w->ChannelCount());
        for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
            s << b->objectName() + b->text() + QString::number(b->isChecked()) + QString::number(b->isEnabled());
        for (QComboBox* c : w->findChildren<QComboBox*>()) s << c->currentText() + QString::number(c->count());
        for (unsigned i = 0; i < kMaxChannels; ++i) {
            const ChannelReading& r = w->Core().channels[i];
            s << QString::fromStdString(r.TitleText() + r.ValueText()) + QString::number(r.Marker()) +
                     QString::number(w->Panel(i)->isHidden());
        }
        const BusCycle& bus = w->Core().bus;
        s << QString::number(bus.connected) << QString::number(bus.fixedAddressMode)
          << QString::number(w->Core().saveDataTicked) << QString::fromStdString(w->Core().portName);
        for (unsigned id : {TIMER_RECORD, TIMER_SCAN, TIMER_POLL}) s << QString::number(w->Timers().IsRunning(id));
        return s;
    };
    const QStringList before = snapshot();
    ModalAnswerer answerer({});
    Find<QPushButton>(*w, IDC_ABOUT)->click();
    QApplication::processEvents();
    EXPECT_EQ(snapshot(), before);
    EXPECT_TRUE(answerer.Seen().empty());
}

TEST(MonitorWindow, SettingsButtonRunsTheSettingsDialog) {
    struct Case {
        const char* name;
        const char* button;
        unsigned interval;
    };
    for (const Case& c : {Case{"OK hands the interval over", "1", 7}, Case{"Cancel keeps it", "2", 3}}) {
        SCOPED_TRACE(c.name);
        auto w = MakeWindow(2);
        w->Core().saveInterval = 3;
        ModalAnswerer answerer({[&c](QWidget* modal) {
            auto* dialog = dynamic_cast<CDlgConfig*>(modal);
            ASSERT_NE(dialog, nullptr);
            auto* interval = qobject_cast<QLineEdit*>(dialog->Control(IDC_CFG_INTERVAL));
            ASSERT_NE(interval, nullptr);
            interval->setText(QStringLiteral("7"));
            ClickButton(dialog, QString::fromUtf8(c.button));
        }});
        Find<QPushButton>(*w, IDC_SETTINGS)->click();
        EXPECT_EQ(answerer.Seen().size(), 1u);
        EXPECT_EQ(w->Core().saveInterval, c.interval);
    }
    // A replacement runs instead.
    auto w = MakeWindow(2);
    int runs = 0;
    w->runSettingsDialog = [&runs](VavaduzidivaRer&) { ++runs; };
    Find<QPushButton>(*w, IDC_SETTINGS)->click();
    EXPECT_EQ(runs, 1);
}

TEST(MonitorWindow, TimersReachTheCore) {
    auto w = MakeWindow(2);
    // A scan tick probes the next address even with no port: the counter moves.
    w->StartTimer(TIMER_SCAN, 1);
    EXPECT_TRUE(test::ProcessUntil([&w] { return w->Core().bus.nextScanAddress >= 2; }));
    w->StopTimer(TIMER_SCAN);
    EXPECT_FALSE(w->Timers().IsRunning(TIMER_SCAN));
}

TEST(MonitorWindow, PanelsRepaintFromTheirChannels) {
    auto w = MakeWindow(2);
    ChannelReading& r = w->Core().channels[1];
    r.SetFlags(0x03);
    r.SetRange(0xC1);
    r.SetSerialNo(0xCAFE);
    r.SetValue32(1);
    EXPECT_EQ(w->Panel(1)->accessibleName(), QString::fromStdString(r.TitleText()));
    EXPECT_TRUE(w->Panel(1)->accessibleDescription().startsWith(QString::fromStdString(r.ValueText())));
}

}  // namespace
}  // namespace zuz::gui

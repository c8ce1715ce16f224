// The monitor window's Connect button on real terminal devices: a pseudo-terminal held by the
// test for the line settings and the connection state, and the bus simulator (zuzavadi-sim)
// for the whole road: scan, readings in the panels, a recording, and a second connect in
// fixed-address mode with a Settings.ini written through the settings dialog.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/gui/cdisp.h"
#include "app/gui/dlg_config.h"
#include "app/gui/main_window.h"
#include "serial/virtual_ports.h"

extern char** environ;

namespace zuz::gui {
namespace {

QApplication& App() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "window_connection_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's own statics may be gone by the time static destructors run.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Runs the event loop until `done`, within a generous bound; false when the bound was hit.
bool ProcessUntil(const std::function<bool()>& done, int boundMs = 15000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > boundMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QApplication::sendPostedEvents();
        usleep(2000);
    }
    return true;
}

template <class T>
T* Find(const VavaduzidivaRer& w, int id) {
    return dynamic_cast<T*>(w.Control(id));
}

QString StatusText(const VavaduzidivaRer& w) { return w.StatusPane() ? w.StatusPane()->text() : QString(); }
// The status line without its "YYYY-mm-dd HH:MM:SS -- " prefix; empty when the prefix is wrong.
QString StatusMessage(const VavaduzidivaRer& w) {
    static const QRegularExpression prefix(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} -- "));
    const QString line = StatusText(w);
    const QRegularExpressionMatch m = prefix.match(line);
    return m.hasMatch() ? line.mid(m.capturedLength()) : QString();
}

// A pseudo-terminal whose master side the test holds; the slave's path is the "port".
class PtyPair {
public:
    PtyPair() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        char name[128] = {};
        if (ptsname_r(master_, name, sizeof name) != 0) return;
        path_ = name;
        // Opened before the window's exclusive open, so the line settings can be read back.
        observer_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    ~PtyPair() {
        CloseMaster();
        if (observer_ >= 0) close(observer_);
    }
    bool Ok() const { return master_ >= 0 && observer_ >= 0; }
    const std::string& Path() const { return path_; }
    speed_t OutputSpeed() const {
        termios t{};
        return tcgetattr(observer_, &t) == 0 ? cfgetospeed(&t) : speed_t(0);
    }
    void SetSpeed(speed_t speed) {
        termios t{};
        if (tcgetattr(observer_, &t) != 0) return;
        cfsetspeed(&t, speed);
        tcsetattr(observer_, TCSANOW, &t);
    }
    // The far end goes away: the slave side hangs up once no one else holds the master.
    void CloseMaster() {
        if (master_ >= 0) close(master_);
        master_ = -1;
        if (observer_ >= 0) close(observer_);
        observer_ = -1;
    }

private:
    int master_ = -1;
    int observer_ = -1;
    std::string path_;
};

// zuzavadi-sim on a pseudo-terminal, its port published in `portDir`; stopped by its process id.
class Simulator {
public:
    Simulator(const QString& portDir, const QString& outFile, const std::vector<std::string>& args = {}) {
        const std::string program = std::string(ZUZ_BIN_DIR) + "/zuzavadi-sim";
        if (access(program.c_str(), X_OK) != 0) return;
        std::vector<std::string> argStrings{program};
        argStrings.insert(argStrings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : argStrings) argv.push_back(a.data());
        argv.push_back(nullptr);

        std::vector<std::string> envStrings;
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind(std::string(kPortDirVariable) + "=", 0) != 0) envStrings.emplace_back(*e);
        envStrings.push_back(std::string(kPortDirVariable) + "=" + portDir.toStdString());
        std::vector<char*> envp;
        for (std::string& e : envStrings) envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outFile.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (pid_ <= 0) return;
        // The first line of its output is the terminal's path.
        QFile out(outFile);
        ProcessUntil([&] {
            if (!out.isOpen() && !out.open(QIODevice::ReadOnly)) return false;
            out.seek(0);
            const QByteArray text = out.readAll();
            const qsizetype end = text.indexOf('\n');
            if (end > 0) path_ = text.left(end).trimmed().toStdString();
            return !path_.empty() || waitpid(pid_, nullptr, WNOHANG) == pid_;
        });
    }
    ~Simulator() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Ok() const { return pid_ > 0 && !path_.empty(); }
    const std::string& Path() const { return path_; }

private:
    pid_t pid_ = -1;
    std::string path_;
};

class WindowConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        ASSERT_TRUE(workDir.isValid());
        previousDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(workDir.path()));
        ASSERT_TRUE(QDir().mkpath(PortDir()));
        const QByteArray previous = qgetenv(kPortDirVariable);
        hadPortDir = !previous.isNull();
        previousPortDir = previous;
        qputenv(kPortDirVariable, PortDir().toLocal8Bit());
    }
    void TearDown() override {
        window.reset();
        if (!previousDir.isEmpty()) QDir::setCurrent(previousDir);
        if (hadPortDir) {
            qputenv(kPortDirVariable, previousPortDir);
        } else {
            qunsetenv(kPortDirVariable);
        }
    }

    QString PortDir() const { return workDir.filePath(QStringLiteral("ports")); }

    // A window for `channels`; `ports` replaces the system's list unless it is null.
    VavaduzidivaRer& MakeWindow(unsigned channels, const std::vector<std::string>* ports) {
        window = std::make_unique<VavaduzidivaRer>();
        window->chooseChannelCount = [channels](VavaduzidivaRer& w) { w.SetChannelCount(channels); };
        if (ports) {
            const std::vector<std::string> list = *ports;
            window->listPorts = [list] { return list; };
        }
        window->OnInitDialog();
        window->show();
        return *window;
    }
    void Click(int id) { Find<QAbstractButton>(*window, id)->click(); }
    bool Connected() const { return window->Core().bus.connected; }

    QTemporaryDir workDir;
    QString previousDir;
    bool hadPortDir = false;
    QByteArray previousPortDir;
    std::unique_ptr<VavaduzidivaRer> window;
};

TEST_F(WindowConnectionTest, BaudRateFollowsTheSelectedEntry) {
    struct Case {
        int entry;  // -1: none selected; 99: leave the start-up selection
        speed_t speed;
    };
    const Case cases[] = {{99, B115200}, {0, B9600}, {1, B19200}, {2, B38400}, {3, B57600}, {4, B115200}, {-1, B9600}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        PtyPair pty;
        ASSERT_TRUE(pty.Ok());
        pty.SetSpeed(B1200);  // so a rate that is not set at all shows
        const std::vector<std::string> ports{pty.Path()};
        VavaduzidivaRer& w = MakeWindow(2, &ports);
        if (c.entry != 99) Find<QComboBox>(w, IDC_BAUD_LIST)->setCurrentIndex(c.entry);
        Click(IDC_CONNECT);
        ASSERT_TRUE(Connected());
        EXPECT_EQ(pty.OutputSpeed(), c.speed);
        Click(IDC_CONNECT);
        EXPECT_FALSE(Connected());
    }
}

TEST_F(WindowConnectionTest, ControlsFollowTheConnection) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    const std::vector<std::string> ports{"/dev/zuz-not-there", pty.Path()};
    VavaduzidivaRer& w = MakeWindow(2, &ports);
    auto* portList = Find<QComboBox>(w, IDC_PORT_LIST);
    EXPECT_EQ(portList->count(), 2);
    EXPECT_EQ(portList->currentIndex(), 0);  // the first, in the source's order

    struct Step {
        int portEntry;
        bool connected;
        const char* status;  // start of the status message
        const char* button;
    };
    const Step steps[] = {
        {0, false, "打开串口失败: /dev/zuz-not-there (", "连接设备"},
        {1, true, "连接串口成功，正在扫描设备", "断开设备"},
        {1, false, "断开串口成功", "连接设备"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.status);
        portList->setCurrentIndex(s.portEntry);
        Click(IDC_CONNECT);
        EXPECT_EQ(Connected(), s.connected);
        EXPECT_TRUE(StatusMessage(w).startsWith(QString::fromUtf8(s.status))) << StatusText(w).toStdString();
        EXPECT_EQ(Find<QPushButton>(w, IDC_CONNECT)->text(), QString::fromUtf8(s.button));
        EXPECT_EQ(Find<QPushButton>(w, IDC_SETTINGS)->isEnabled(), !s.connected);
        EXPECT_EQ(Find<QCheckBox>(w, IDC_FIXED_ADDRESS)->isEnabled(), !s.connected);
        EXPECT_TRUE(portList->isEnabled());
        EXPECT_TRUE(Find<QComboBox>(w, IDC_BAUD_LIST)->isEnabled());
        EXPECT_EQ(w.Timers().IsRunning(TIMER_SCAN), s.connected);
    }
}

TEST_F(WindowConnectionTest, FailedOpenGivesTheSystemsReason) {
    const std::vector<std::string> ports{"/dev/zuz-not-there"};
    VavaduzidivaRer& w = MakeWindow(2, &ports);
    Click(IDC_CONNECT);
    const QString message = StatusMessage(w);
    EXPECT_TRUE(message.startsWith(QStringLiteral("打开串口失败: /dev/zuz-not-there ("))) << message.toStdString();
    EXPECT_GT(message.size(), QStringLiteral("打开串口失败: /dev/zuz-not-there ()").size());
    EXPECT_TRUE(message.endsWith(QLatin1Char(')')));
    EXPECT_FALSE(Connected());
}

TEST_F(WindowConnectionTest, LostPortIsSaidInTheStatusLine) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    const std::vector<std::string> ports{pty.Path()};
    VavaduzidivaRer& w = MakeWindow(2, &ports);
    Click(IDC_CONNECT);
    ASSERT_TRUE(Connected());
    pty.CloseMaster();
    // The scan stops: nothing can be sent any more.
    EXPECT_TRUE(ProcessUntil([&] { return StatusMessage(w).startsWith(QStringLiteral("串口连接丢失")); }))
        << StatusText(w).toStdString();
    EXPECT_TRUE(StatusMessage(w).contains(QString::fromStdString(pty.Path())));
    EXPECT_FALSE(w.Timers().IsRunning(TIMER_SCAN));
    EXPECT_FALSE(w.Timers().IsRunning(TIMER_POLL));
    // The user still ends the connection with the button, as after any other fault.
    Click(IDC_CONNECT);
    EXPECT_FALSE(Connected());
    EXPECT_EQ(StatusMessage(w), QStringLiteral("断开串口成功"));
}

TEST_F(WindowConnectionTest, DisconnectWhileRecordingStopsTheRecordingFirst) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    const std::vector<std::string> ports{pty.Path()};
    VavaduzidivaRer& w = MakeWindow(2, &ports);
    Click(IDC_CONNECT);
    auto* saveData = Find<QCheckBox>(w, IDC_SAVE_DATA);
    saveData->click();
    ASSERT_TRUE(w.Core().saveDataTicked);
    EXPECT_TRUE(StatusMessage(w).startsWith(QStringLiteral("创建存储文件成功"))) << StatusText(w).toStdString();

    // Channels not in use keep what they show; the ones in use are blanked.
    w.Core().bus.foundCount = 1;
    w.Core().channels[0].SetSerialNo(0x11223344);
    w.Core().channels[1].SetSerialNo(0x55667788);
    w.Core().channels[1].SetRemark("spare");
    Click(IDC_CONNECT);
    EXPECT_FALSE(Connected());
    EXPECT_FALSE(saveData->isChecked());
    EXPECT_FALSE(w.Core().saveDataTicked);
    EXPECT_FALSE(w.Timers().IsRunning(TIMER_RECORD));
    EXPECT_EQ(StatusMessage(w), QStringLiteral("断开串口成功"));
    EXPECT_EQ(w.Core().channels[0].SerialNoText(), "--------");
    EXPECT_EQ(w.Core().channels[1].SerialNoText(), "55667788");
    EXPECT_EQ(w.Core().channels[1].Remark(), "spare");
}

// One data row of the recording: date, time, then one value per channel, each field followed by
// a comma.
struct CsvFile {
    QStringList header;  // the three header rows
    std::vector<QStringList> rows;
};

CsvFile ReadRecording(const QString& path) {
    QFile file(path);
    CsvFile csv;
    if (!file.open(QIODevice::ReadOnly)) return csv;
    QStringDecoder gbk("GB18030");
    const QString text = gbk(file.readAll());
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].isEmpty()) continue;
        if (i < 3) {
            csv.header << lines[i];
        } else {
            csv.rows.push_back(lines[i].split(QLatin1Char(',')));
        }
    }
    return csv;
}

// Answers the settings dialog's questions as a person would: fills the forty fields, writes
// them, accepts the success message, then OK. One step per tick, so nested modals get their
// turn.
class SettingsDialogPerson {
public:
    explicit SettingsDialogPerson(std::vector<std::pair<QString, QString>> channels) : channels_(std::move(channels)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Step(); });
        timer_.start();
    }
    std::vector<QString> messages;  // texts of the message boxes seen
    bool done = false;

private:
    void Step() {
        QWidget* top = QApplication::activeModalWidget();
        if (auto* box = dynamic_cast<QMessageBox*>(top)) {
            messages.push_back(box->text());
            QMetaObject::invokeMethod(box->button(QMessageBox::Ok), "click", Qt::QueuedConnection);
            return;
        }
        auto* dialog = dynamic_cast<CDlgConfig*>(top);
        if (!dialog) return;
        if (!written_) {
            for (unsigned n = 1; n <= kSettingsSections; ++n) {
                const bool used = n <= channels_.size();
                dialog->AddressField(n)->setText(used ? channels_[n - 1].first : QString());
                dialog->RemarkField(n)->setText(used ? channels_[n - 1].second : QString());
            }
            written_ = true;
            QMetaObject::invokeMethod(dialog->Control(IDC_CFG_WRITE), "click", Qt::QueuedConnection);
        } else if (!messages.empty()) {
            QMetaObject::invokeMethod(dialog->Control(1), "click", Qt::QueuedConnection);
            done = true;
            timer_.stop();
        }
    }
    std::vector<std::pair<QString, QString>> channels_;
    bool written_ = false;
    QTimer timer_;
};

TEST_F(WindowConnectionTest, DemoBusFromScanToRecordingAndFixedAddresses) {
    Simulator sim(PortDir(), workDir.filePath(QStringLiteral("sim.out")));
    if (!sim.Ok()) GTEST_SKIP() << "zuzavadi-sim is not built in " << ZUZ_BIN_DIR;

    // The system's list, with the simulator's published port in it.
    VavaduzidivaRer& w = MakeWindow(8, nullptr);
    auto* portList = Find<QComboBox>(w, IDC_PORT_LIST);
    const int entry = portList->findText(QString::fromStdString(sim.Path()));
    ASSERT_GE(entry, 0) << "the simulator's port is not listed";
    portList->setCurrentIndex(entry);

    // Scan: the demo bus has eight instruments, so every panel gets one and a reading.
    Click(IDC_CONNECT);
    ASSERT_TRUE(Connected());
    // A blank channel shows "-----" and "--------" (Reset); a read one shows its instrument.
    auto allRead = [&] {
        for (unsigned i = 0; i < 8; ++i) {
            const ChannelReading& c = w.Core().channels[i];
            if (c.ValueText() == "-----" || c.ValueText().empty() || c.SerialNoText() == "--------") return false;
        }
        return true;
    };
    ASSERT_TRUE(ProcessUntil(allRead)) << StatusText(w).toStdString();
    EXPECT_EQ(w.Core().bus.foundCount, 8);
    std::vector<std::uint8_t> scanned(w.Core().bus.addressTable.begin(), w.Core().bus.addressTable.begin() + 8);
    EXPECT_EQ(scanned, (std::vector<std::uint8_t>{1, 2, 3, 5, 8, 13, 21, 34}));
    std::vector<std::uint32_t> serialAt(100, 0);
    QStringList serialTexts;
    for (unsigned i = 0; i < 8; ++i) {
        serialAt[scanned[i]] = w.Core().channels[i].SerialNo();
        serialTexts << QLatin1Char('[') + QString::fromStdString(w.Core().channels[i].SerialNoText()) + QLatin1Char(']');
    }
    for (unsigned i = 0; i < 8; ++i) EXPECT_TRUE(w.Panel(i)->isVisible()) << i;

    // Record a few rotations, then disconnect: the recording ends first.
    Find<QCheckBox>(w, IDC_SAVE_DATA)->click();
    ASSERT_TRUE(w.Core().saveDataTicked);
    ASSERT_TRUE(ProcessUntil([&] { return w.Core().recordCounter >= 3; }));
    Click(IDC_CONNECT);
    EXPECT_FALSE(Connected());
    EXPECT_FALSE(Find<QCheckBox>(w, IDC_SAVE_DATA)->isChecked());
    EXPECT_EQ(StatusMessage(w), QStringLiteral("断开串口成功"));
    const std::uint32_t rowsWritten = w.Core().recordCounter;

    const QStringList recordings = QDir(workDir.path()).entryList({QStringLiteral("Sample*.csv")}, QDir::Files);
    ASSERT_EQ(recordings.size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Sample\\d{14}\\.csv$")).match(recordings[0]).hasMatch());
    const CsvFile csv = ReadRecording(workDir.filePath(recordings[0]));
    ASSERT_EQ(csv.header.size(), 3);
    EXPECT_EQ(csv.rows.size(), rowsWritten);
    const QRegularExpression date(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    const QRegularExpression time(QStringLiteral("^\\d{2}:\\d{2}:\\d{2}:\\d{3}$"));
    for (const QStringList& row : csv.rows) {
        ASSERT_EQ(row.size(), 2 + 8 + 1);  // every field, the last included, ends with a comma
        EXPECT_TRUE(date.match(row[0]).hasMatch()) << row[0].toStdString();
        EXPECT_TRUE(time.match(row[1]).hasMatch()) << row[1].toStdString();
        for (int c = 2; c < 10; ++c) EXPECT_FALSE(row[c].isEmpty()) << c;
        EXPECT_TRUE(row[10].isEmpty());
    }
    // The serial numbers head the channels' columns.
    const QStringList serialRow = csv.header[0].split(QLatin1Char(','));
    ASSERT_EQ(serialRow.size(), 11);
    EXPECT_EQ(serialRow[0], QStringLiteral("DeviceNo"));
    EXPECT_EQ(serialRow.mid(2, 8), serialTexts);

    // Fixed addresses, written through the settings dialog: the channels in another order.
    const std::vector<std::uint8_t> fixed{34, 21, 13, 8, 5, 3, 2, 1};
    std::vector<std::pair<QString, QString>> fields;
    for (std::uint8_t a : fixed) fields.emplace_back(QString::number(a), QStringLiteral("%1号炉").arg(a));
    {
        SettingsDialogPerson person(fields);
        Click(IDC_SETTINGS);
        EXPECT_TRUE(person.done);
        EXPECT_EQ(person.messages, std::vector<QString>{QStringLiteral("写入配置成功！")});
    }
    ASSERT_TRUE(QFile::exists(workDir.filePath(QStringLiteral("Settings.ini"))));
    EXPECT_EQ(w.Core().savePath, "");   // OK at once: an automatic name again
    EXPECT_EQ(w.Core().saveInterval, 0);
    Click(IDC_FIXED_ADDRESS);
    ASSERT_TRUE(w.Core().bus.fixedAddressMode);

    Click(IDC_CONNECT);
    ASSERT_TRUE(Connected());
    EXPECT_EQ(w.Core().bus.foundCount, 8);
    // The disconnect blanked the channels in use, so what they show now comes from this connect.
    ASSERT_TRUE(ProcessUntil(allRead)) << StatusText(w).toStdString();
    for (unsigned i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(w.Core().bus.addressTable[i], fixed[i]);
        EXPECT_EQ(w.Core().channels[i].SerialNo(), serialAt[fixed[i]]);
        EXPECT_EQ(QString::fromStdString(w.Core().channels[i].Remark()), QStringLiteral("%1号炉").arg(fixed[i]));
    }
    Click(IDC_CONNECT);
    EXPECT_FALSE(Connected());
}

}  // namespace
}  // namespace zuz::gui

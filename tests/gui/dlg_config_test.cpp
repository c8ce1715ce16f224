// The settings dialog: the interval check at OK, what OK and Cancel hand to the owner, the
// browse button with its save-file dialog, and "读出配置" / "写入配置" on Settings.ini in a
// temporary working directory.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <optional>
#include <string>
#include <vector>

#include "app/gui/dialog_units.h"
#include "app/gui/dlg_config.h"
#include "test_host.h"

namespace zuz::gui {
namespace {

using test::ShownMessage;

QApplication& App() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "dlg_config_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's own statics may be gone by the time static destructors run.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

QString Q(const char* s) { return QString::fromUtf8(s); }

class RecordingOwner : public IRecordingSettingsOwner {
public:
    void SetRecordingSettings(const RecordingSettings& settings) override { received.push_back(settings); }
    std::vector<RecordingSettings> received;
};

class KeptBoxes : public IMessageBoxes {
public:
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
        shown.push_back({text, caption, icon});
    }
    std::vector<ShownMessage> shown;
};

// Answers the save-file dialog with the next scripted path ("" = the user cancelled).
class ScriptedChooser : public ISaveFileChooser {
public:
    QString ChooseSaveFile(QWidget*) override {
        ++asked;
        if (answers.empty()) return {};
        QString next = answers.front();
        answers.erase(answers.begin());
        return next;
    }
    std::vector<QString> answers;
    int asked = 0;
};

class DlgConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(workDir.isValid());
        previousDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(workDir.path()));
        dialog.show();
    }
    void TearDown() override { QDir::setCurrent(previousDir); }

    QPushButton* Button(int id) { return qobject_cast<QPushButton*>(dialog.Control(id)); }
    QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(dialog.Control(id)); }
    QString SettingsPath() const { return workDir.filePath(QStringLiteral("Settings.ini")); }

    bool appReady = (App(), true);  // widgets need the application first
    QTemporaryDir workDir;
    QString previousDir;
    RecordingOwner owner;
    KeptBoxes boxes;
    ScriptedChooser chooser;
    CDlgConfig dialog{owner, nullptr, &boxes, &chooser};
};

TEST_F(DlgConfigTest, OpensEmptyWithCaptionAndIntervalZero) {
    EXPECT_EQ(dialog.windowTitle(), Q("设置"));
    EXPECT_EQ(Edit(IDC_CFG_INTERVAL)->text(), Q("0"));
    EXPECT_TRUE(Edit(IDC_CFG_SAVE_PATH)->text().isEmpty());
    for (unsigned n = 1; n <= kSettingsSections; ++n) {
        EXPECT_TRUE(dialog.AddressField(n)->text().isEmpty()) << n;
        EXPECT_TRUE(dialog.RemarkField(n)->text().isEmpty()) << n;
    }
}

// Controls sit where the template puts them, in dialog units of the dialog's font; the field of
// channel n must be the control 1029 + n (address) and 1049 + n (remark).
TEST_F(DlgConfigTest, ControlsSitAtTheirTemplatePlaces) {
    struct Case {
        int id;
        int x, y, cx, cy;
    };
    const Case cases[] = {
        {IDC_CFG_SAVE_PATH, 72, 19, 174, 12}, {IDC_CFG_BROWSE, 253, 18, 36, 14}, {IDC_CFG_INTERVAL, 72, 39, 56, 12},
        {1, 210, 38, 36, 14},                 {2, 253, 38, 36, 14},             {1030, 30, 85, 32, 13},
        {1039, 30, 229, 32, 13},              {1040, 174, 85, 32, 13},          {1049, 174, 229, 32, 13},
        {1050, 72, 85, 76, 13},               {1059, 72, 229, 76, 13},          {1060, 216, 85, 76, 13},
        {1069, 216, 229, 76, 13},             {IDC_CFG_READ, 36, 250, 64, 18},  {IDC_CFG_WRITE, 222, 251, 64, 18},
        {IDC_CFG_STORAGE_GROUP, 12, 6, 294, 54}, {IDC_CFG_ADDRESS_GROUP, 12, 68, 294, 208},
    };
    const DialogUnits u = UnitsOf(dialog.font());
    EXPECT_EQ(dialog.size(), QSize(u.X(316), u.Y(285)));
    for (const Case& c : cases) {
        QWidget* w = dialog.Control(c.id);
        ASSERT_NE(w, nullptr) << c.id;
        EXPECT_EQ(w->geometry(), u.Rect(c.x, c.y, c.cx, c.cy)) << c.id;
    }
    EXPECT_EQ(dialog.AddressField(11), dialog.Control(1040));
    EXPECT_EQ(dialog.RemarkField(20), dialog.Control(1069));
}

TEST_F(DlgConfigTest, IntervalFieldTakesDigitsOnly) {
    QLineEdit* interval = Edit(IDC_CFG_INTERVAL);
    interval->clear();
    QTest::keyClicks(interval, QStringLiteral("1a-2 .3"));
    EXPECT_EQ(interval->text(), QStringLiteral("123"));
}

// The address and remark fields do not scroll: typing stops when a field is full, while text
// read from the file is shown whole.
TEST_F(DlgConfigTest, TypingStopsWhenAFieldIsFull) {
    const QString longText = QStringLiteral("1234567890abcdefghijklmnopqrstuvwxyz1234567890");
    for (QLineEdit* field : {dialog.AddressField(1), dialog.RemarkField(20)}) {
        SCOPED_TRACE(field->objectName().toStdString());
        QTest::keyClicks(field, longText);
        const QString typed = field->text();
        EXPECT_GT(typed.size(), 2);
        EXPECT_LT(typed.size(), longText.size());
        EXPECT_TRUE(longText.startsWith(typed));
        EXPECT_LE(field->fontMetrics().horizontalAdvance(typed), field->width());
    }
    QFile file(SettingsPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Addr01]\r\nInfo=" + longText.toLatin1() + "\r\n");
    file.close();
    Button(IDC_CFG_READ)->click();
    EXPECT_EQ(dialog.RemarkField(1)->text(), longText);
}

struct IntervalCase {
    const char* name;
    const char* text;
    std::optional<int> accepted;  // nothing: refused
};

void PrintTo(const IntervalCase& c, std::ostream* os) { *os << c.name; }

class IntervalAtOk : public DlgConfigTest, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(IntervalAtOk, IsAcceptedOrRefusedOnce) {
    const IntervalCase& c = GetParam();
    QLineEdit* interval = Edit(IDC_CFG_INTERVAL);
    interval->setText(Q(c.text));
    Button(1)->click();

    if (c.accepted) {
        EXPECT_TRUE(boxes.shown.empty());
        ASSERT_EQ(owner.received.size(), 1u);
        EXPECT_EQ(owner.received[0].saveInterval, *c.accepted);
        EXPECT_EQ(owner.received[0].savePath, "");
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(dialog.isVisible());
    } else {
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, kIntervalRefusal);
        EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Warning);
        EXPECT_TRUE(owner.received.empty());
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.focusWidget(), interval);
        EXPECT_EQ(interval->selectedText(), interval->text());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, IntervalAtOk,
                         ::testing::Values(IntervalCase{"Zero", "0", 0}, IntervalCase{"Top", "255", 255},
                                           IntervalCase{"Middle", "30", 30},
                                           IntervalCase{"LeadingZeros", "0007", 7},
                                           IntervalCase{"Empty", "", std::nullopt},
                                           IntervalCase{"JustAbove", "256", std::nullopt},
                                           IntervalCase{"ThreeHundred", "300", std::nullopt},
                                           IntervalCase{"Overflowing", "99999999999999999999", std::nullopt},
                                           IntervalCase{"Sign", "-1", std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DlgConfigTest, RefusedIntervalCanBeCorrectedAndThenHandsOver) {
    Edit(IDC_CFG_INTERVAL)->setText(QStringLiteral("300"));
    Button(1)->click();
    Edit(IDC_CFG_INTERVAL)->setText(QStringLiteral("60"));
    Button(1)->click();
    EXPECT_EQ(boxes.shown.size(), 1u);
    ASSERT_EQ(owner.received.size(), 1u);
    EXPECT_EQ(owner.received[0].saveInterval, 60);
}

struct BrowseCase {
    const char* name;
    std::vector<const char*> answers;  // one per browse; "" cancels the save-file dialog
    bool pressOk;                      // else Cancel
    const char* shownPath;             // the save-path field afterwards
    std::optional<std::string> handedPath;
};

void PrintTo(const BrowseCase& c, std::ostream* os) { *os << c.name; }

class BrowseThenClose : public DlgConfigTest, public ::testing::WithParamInterface<BrowseCase> {};

TEST_P(BrowseThenClose, HandsOverOnlyOnOk) {
    const BrowseCase& c = GetParam();
    for (const char* answer : c.answers) chooser.answers.push_back(Q(answer));
    for (std::size_t i = 0; i < c.answers.size(); ++i) Button(IDC_CFG_BROWSE)->click();
    EXPECT_EQ(chooser.asked, int(c.answers.size()));
    EXPECT_EQ(Edit(IDC_CFG_SAVE_PATH)->text(), Q(c.shownPath));

    Button(c.pressOk ? 1 : 2)->click();
    EXPECT_FALSE(dialog.isVisible());
    if (c.handedPath) {
        ASSERT_EQ(owner.received.size(), 1u);
        EXPECT_EQ(owner.received[0].savePath, *c.handedPath);
        EXPECT_EQ(owner.received[0].saveInterval, 0);
    } else {
        EXPECT_TRUE(owner.received.empty());
    }
    EXPECT_TRUE(boxes.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrowseThenClose,
    ::testing::Values(BrowseCase{"ChosenThenOk", {"/data/run 1.csv"}, true, "/data/run 1.csv", "/data/run 1.csv"},
                      BrowseCase{"ChosenThenCancel", {"/data/run.csv"}, false, "/data/run.csv", std::nullopt},
                      BrowseCase{"CancelledThenOk", {""}, true, "", ""},
                      BrowseCase{"SecondBrowseCancelledKeepsFirst", {"/d/a.csv", ""}, true, "/d/a.csv", "/d/a.csv"},
                      BrowseCase{"SecondBrowseReplaces", {"/d/a.csv", "/d/炉.csv"}, true, "/d/炉.csv", "/d/炉.csv"},
                      BrowseCase{"NothingThenCancel", {}, false, "", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DlgConfigTest, BrowseWithRefusedIntervalWarnsAndStillAsks) {
    Edit(IDC_CFG_INTERVAL)->setText(QString());
    chooser.answers = {QStringLiteral("/d/x.csv")};
    Button(IDC_CFG_BROWSE)->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, kIntervalRefusal);
    EXPECT_EQ(chooser.asked, 1);
    EXPECT_EQ(dialog.ChosenSavePath(), "/d/x.csv");
    EXPECT_TRUE(owner.received.empty());
}

// Lines of the settings file as written (CR LF line ends), converted from GB18030.
QStringList FileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    QStringList lines;
    for (const QByteArray& line : bytes.split('\n')) {
        if (line.isEmpty()) continue;
        lines << QString::fromLatin1(line);  // ASCII lines only are compared
    }
    return lines;
}

TEST_F(DlgConfigTest, WriteOnAFreshDialogStoresFortyEmptyKeys) {
    Button(IDC_CFG_WRITE)->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "写入配置成功！");
    EXPECT_EQ(boxes.shown[0].caption, "配置信息");
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Information);

    const QStringList lines = FileLines(SettingsPath());
    QStringList expected;
    for (int n = 1; n <= 20; ++n)
        expected << QStringLiteral("[Addr%1]\r").arg(n, 2, 10, QLatin1Char('0')) << QStringLiteral("Addr=\r")
                 << QStringLiteral("Info=\r");
    QStringList meaningful;  // blank lines carry no meaning
    for (const QString& line : lines)
        if (line != QStringLiteral("\r")) meaningful << line;
    EXPECT_EQ(meaningful, expected);
    // The dialog stays open: the buttons act at once, independently of OK and Cancel.
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(owner.received.empty());
}

TEST_F(DlgConfigTest, WrittenFieldsComeBackInANewDialog) {
    dialog.AddressField(1)->setText(QStringLiteral("3"));
    dialog.RemarkField(1)->setText(Q("1号炉"));
    dialog.AddressField(20)->setText(QStringLiteral("abc"));  // stored as typed
    dialog.RemarkField(11)->setText(Q("右侧 11"));
    Button(IDC_CFG_WRITE)->click();
    Button(2)->click();  // Cancel keeps what was written
    EXPECT_TRUE(owner.received.empty());

    QFile file(SettingsPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains(QByteArray("Info=1\xBA\xC5\xC2\xAF\r\n")));  // GB18030 on disk

    KeptBoxes boxes2;
    ScriptedChooser chooser2;
    RecordingOwner owner2;
    CDlgConfig again(owner2, nullptr, &boxes2, &chooser2);
    again.show();
    qobject_cast<QPushButton*>(again.Control(IDC_CFG_READ))->click();
    EXPECT_TRUE(boxes2.shown.empty());  // nothing is said on success
    for (unsigned n = 1; n <= kSettingsSections; ++n) {
        EXPECT_EQ(again.AddressField(n)->text(), dialog.AddressField(n)->text()) << n;
        EXPECT_EQ(again.RemarkField(n)->text(), dialog.RemarkField(n)->text()) << n;
    }
}

TEST_F(DlgConfigTest, ReadWithoutFileWarnsAndKeepsFields) {
    dialog.AddressField(4)->setText(QStringLiteral("9"));
    Button(IDC_CFG_READ)->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "配置文件不存在！");
    EXPECT_EQ(boxes.shown[0].caption, "配置信息");
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Warning);
    EXPECT_EQ(dialog.AddressField(4)->text(), QStringLiteral("9"));
}

TEST_F(DlgConfigTest, ReadChangesOnlyTheFieldsOfPresentKeys) {
    QFile file(SettingsPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Addr03]\r\nAddr=7\r\n[addr05]\r\nInfo=\r\n");
    file.close();
    for (unsigned n = 1; n <= kSettingsSections; ++n) {
        dialog.AddressField(n)->setText(QStringLiteral("a%1").arg(n));
        dialog.RemarkField(n)->setText(QStringLiteral("r%1").arg(n));
    }
    Button(IDC_CFG_READ)->click();
    EXPECT_TRUE(boxes.shown.empty());
    for (unsigned n = 1; n <= kSettingsSections; ++n) {
        const QString address = n == 3 ? QStringLiteral("7") : QStringLiteral("a%1").arg(n);
        const QString remark = n == 5 ? QString() : QStringLiteral("r%1").arg(n);
        EXPECT_EQ(dialog.AddressField(n)->text(), address) << n;
        EXPECT_EQ(dialog.RemarkField(n)->text(), remark) << n;
    }
}

// The Settings button's path into the monitor: OK at once empties the save path and sets the
// interval to 0, whatever they were; Cancel leaves them.
TEST(RunConfigDialogTest, OkAtOnceResetsTheMonitorsRecordingSettings) {
    App();
    struct Case {
        int button;
        std::string path;
        int interval;
    };
    for (const Case& c : {Case{1, "", 0}, Case{2, "old.csv", 9}}) {
        test::TestHost host;
        host.core.savePath = "old.csv";
        host.core.saveInterval = 9;
        QTimer::singleShot(0, [&] {
            auto* dialog = dynamic_cast<CDlgConfig*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            qobject_cast<QPushButton*>(dialog->Control(c.button))->click();
        });
        RunConfigDialog(nullptr, host.core);
        EXPECT_EQ(host.core.savePath, c.path) << c.button;
        EXPECT_EQ(host.core.saveInterval, c.interval) << c.button;
    }
}

// The real save-file dialog, answered by typing a name: the title, the one file type, and the
// suffix added to a name typed without one.
TEST(QtSaveFileChooserTest, AddsCsvToANameWithoutExtension) {
    App();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        const char* typed;
        const char* expected;
    };
    for (const Case& c : {Case{"run1", "run1.csv"}, Case{"run2.csv", "run2.csv"}, Case{"数据", "数据.csv"}}) {
        bool answered = false;
        QTimer::singleShot(0, [&] {
            auto* fileDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(fileDialog, nullptr);
            EXPECT_EQ(fileDialog->windowTitle(), Q(kSaveFileTitle));
            EXPECT_EQ(fileDialog->nameFilters(), QStringList{Q(kSaveFileFilter)});
            EXPECT_EQ(fileDialog->defaultSuffix(), QStringLiteral("csv"));
            EXPECT_EQ(fileDialog->acceptMode(), QFileDialog::AcceptSave);
            EXPECT_FALSE(fileDialog->testOption(QFileDialog::DontConfirmOverwrite));
            fileDialog->setDirectory(dir.path());
            auto* name = fileDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(Q(c.typed));
            static_cast<QDialog*>(fileDialog)->accept();  // QFileDialog hides its override
            answered = true;
        });
        QtSaveFileChooser chooser;
        const QString chosen = chooser.ChooseSaveFile(nullptr);
        EXPECT_TRUE(answered);
        EXPECT_EQ(chosen, QDir(dir.path()).filePath(Q(c.expected))) << c.typed;
    }
}

TEST(ParseIntervalTest, DigitsFromZeroTo255Only) {
    struct Case {
        const char* text;
        std::optional<int> value;
    };
    const Case cases[] = {{"0", 0},          {"00", 0},           {"255", 255},         {"256", std::nullopt},
                          {"", std::nullopt}, {" 5", std::nullopt}, {"5 ", std::nullopt}, {"+5", std::nullopt},
                          {"1e2", std::nullopt}, {"１", std::nullopt}};
    for (const Case& c : cases) {
        const std::optional<std::uint8_t> got = ParseInterval(Q(c.text));
        ASSERT_EQ(got.has_value(), c.value.has_value()) << c.text;
        if (got) {
            EXPECT_EQ(*got, *c.value) << c.text;
        }
    }
}

}  // namespace
}  // namespace zuz::gui

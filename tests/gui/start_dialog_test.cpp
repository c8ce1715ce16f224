#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include "app/gui/cdisp.h"
#include "app/gui/cdlg_start.h"
#include "app/gui/main_window.h"
#include "app/gui/rozaduzovari_ruv.h"
#include "gui_test_support.h"

namespace zuz::gui {
namespace {

using test::ClickButton;
using test::EnsureApplication;
using test::ModalAnswerer;

TEST(StartDialog, EntryToChannelCount) {
    const std::pair<int, unsigned> cases[] = {{0, 2},  {1, 4},   {2, 6},   {3, 8},  {4, 9},  {5, 10},
                                              {6, 12}, {7, 15},  {8, 16},  {9, 20}, {-1, 2}, {10, 2}};
    for (auto [entry, count] : cases) EXPECT_EQ(ChannelCountForEntry(entry), count) << entry;
}

TEST(StartDialog, TemplateControls) {
    EnsureApplication();
    VavaduzidivaRer window;
    CDlgStart dialog(window);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Dialog"));
    const char* texts[] = {"2 x 通道",  "4 x 通道",  "6 x 通道",  "8 x 通道",  "9 x 通道",
                           "10 x 通道", "12 x 通道", "15 x 通道", "16 x 通道", "20 x 通道"};
    for (int i = 0; i < 10; ++i) {
        auto* radio = dialog.findChild<QRadioButton*>(QString::number(1010 + i));
        ASSERT_NE(radio, nullptr) << i;
        EXPECT_EQ(radio->text(), QString::fromUtf8(texts[i]));
        EXPECT_EQ(radio->isChecked(), i == 0) << "the first entry is ticked on opening";
    }
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("1"));
    auto* cancel = dialog.findChild<QPushButton*>(QStringLiteral("2"));
    ASSERT_TRUE(ok && cancel);
    EXPECT_EQ(ok->text(), QStringLiteral("确定"));
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(cancel->text(), QStringLiteral("取消"));
    // Ticking one unticks the others.
    dialog.Radio(9)->click();
    dialog.Radio(3)->click();
    int ticked = 0;
    for (int i = 0; i < 10; ++i) ticked += dialog.Radio(i)->isChecked();
    EXPECT_EQ(ticked, 1);
    EXPECT_TRUE(dialog.Radio(3)->isChecked());
}

// The window runs the dialog during its initialisation; each way of ending it leaves a count.
TEST(StartDialog, HowTheDialogEndsDecidesTheChannelCount) {
    struct Case {
        const char* name;
        int tick;  // entry clicked first, -1 for none
        std::function<void(QDialog*)> end;
        unsigned channels;
    };
    auto click = [](const char* id) { return [id](QDialog* d) { ClickButton(d, QString::fromUtf8(id)); }; };
    auto key = [](Qt::Key k) { return [k](QDialog* d) { QTest::keyClick(d, k); }; };
    const Case cases[] = {
        {"OK untouched", -1, click("1"), 2},
        {"20 then OK", 9, click("1"), 20},
        {"9 then OK", 4, click("1"), 9},
        {"20 then Enter", 9, key(Qt::Key_Return), 20},
        {"8 then keypad Enter", 3, key(Qt::Key_Enter), 8},
        {"20 then Cancel", 9, click("2"), 2},
        {"20 then Escape", 9, key(Qt::Key_Escape), 2},
        {"20 then close box", 9, [](QDialog* d) { d->close(); }, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EnsureApplication();
        VavaduzidivaRer window;
        window.listPorts = [] { return std::vector<std::string>{}; };
        ModalAnswerer answerer({[&c](QWidget* modal) {
            auto* dialog = qobject_cast<CDlgStart*>(modal);
            ASSERT_NE(dialog, nullptr);
            if (c.tick >= 0) dialog->Radio(c.tick)->click();
            c.end(dialog);
        }});
        window.OnInitDialog();
        ASSERT_EQ(answerer.Seen().size(), 1u);
        EXPECT_EQ(window.ChannelCount(), c.channels);
        for (unsigned i = 0; i < kMaxChannels; ++i) EXPECT_EQ(window.Panel(i)->isHidden(), i >= c.channels) << i;
    }
}

TEST(StartUp, ScreenshotRunArguments) {
    struct Case {
        QStringList args;
        bool accepted;
        unsigned channels;
    };
    const QString p = QStringLiteral("zuzavadi");
    const Case cases[] = {
        {{p}, false, 0},
        {{p, "--screenshot", "a.png", "--channels", "20", "--port", "/dev/pts/3"}, true, 20},
        {{p, "--port", "/dev/pts/3", "--channels", "4", "--screenshot", "a.png", "--after-ms", "100"}, true, 4},
        {{p, "--screenshot", "a.png", "--channels", "7", "--port", "/dev/pts/3"}, false, 0},
        {{p, "--screenshot", "a.png", "--channels", "4"}, false, 0},
        {{p, "--screenshot", "a.png", "--channels", "4", "--port"}, false, 0},
        {{p, "--screenshot", "a.png", "--channels", "x", "--port", "/dev/pts/3"}, false, 0},
        {{p, "--bogus", "1", "--screenshot", "a.png", "--channels", "4", "--port", "/dev/pts/3"}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        ScreenshotRun run;
        EXPECT_EQ(ParseScreenshotRun(c.args, &run), c.accepted);
        EXPECT_EQ(run.channels, c.channels);
    }
}

}  // namespace
}  // namespace zuz::gui

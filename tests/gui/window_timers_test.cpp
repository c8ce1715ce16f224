#include <QCoreApplication>
#include <QObject>

#include <gtest/gtest.h>

#include "app/gui/window_timers.h"
#include "gui_test_support.h"

namespace zuz::gui {
namespace {

TEST(WindowTimers, StartRestartStop) {
    test::EnsureApplication();
    QObject owner;
    std::vector<unsigned> fired;
    WindowTimers timers(&owner, [&fired](unsigned id) { fired.push_back(id); });

    struct Step {
        const char* what;
        std::function<void()> act;
        bool scanRunning, pollRunning;
        int scanPeriod;
    };
    const Step steps[] = {
        {"nothing started", [] {}, false, false, -1},
        {"stopping a stopped timer does nothing", [&] { timers.Stop(18); }, false, false, -1},
        {"start", [&] { timers.Start(18, 50); }, true, false, 50},
        {"start again restarts with the new period", [&] { timers.Start(18, 100); }, true, false, 100},
        {"another id is its own timer", [&] { timers.Start(20, 50); }, true, true, 100},
        {"stop one", [&] { timers.Stop(18); }, false, true, 100},
        {"stop all", [&] { timers.StopAll(); }, false, false, 100},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        s.act();
        EXPECT_EQ(timers.IsRunning(18), s.scanRunning);
        EXPECT_EQ(timers.IsRunning(20), s.pollRunning);
        EXPECT_EQ(timers.PeriodMs(18), s.scanPeriod);
    }
    EXPECT_TRUE(fired.empty());
}

TEST(WindowTimers, FiresWithItsIdUntilStopped) {
    test::EnsureApplication();
    QObject owner;
    std::vector<unsigned> fired;
    WindowTimers timers(&owner, [&fired](unsigned id) { fired.push_back(id); });
    timers.Start(17, 1);
    ASSERT_TRUE(test::ProcessUntil([&fired] { return fired.size() >= 3; }));
    timers.Stop(17);
    for (unsigned id : fired) EXPECT_EQ(id, 17u);
    const std::size_t count = fired.size();
    QCoreApplication::processEvents();
    EXPECT_EQ(fired.size(), count);
}

}  // namespace
}  // namespace zuz::gui

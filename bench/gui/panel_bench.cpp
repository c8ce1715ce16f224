// The channel panel's paint (layout, drawing into the off-screen picture, one blit) and a
// 20-channel window under the poll's load of 20 readings a second. Offscreen platform unless
// QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <cstdlib>
#include <ctime>

#include "app/gui/cdisp.h"
#include "app/gui/main_window.h"

namespace {

void EnsureApplication() {
    if (QApplication::instance()) return;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "zuzavadi-bench";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void GiveIdentity(zuz::ChannelReading& r, unsigned i) {
    r.SetFlags(0x03);
    r.SetRange(0xC1);
    r.SetSerialNo(0x1A2B3C00u + i);
}

// One paint of a panel the size the window gives it, onto an image standing in for the screen.
void BM_PanelPaint(benchmark::State& state) {
    EnsureApplication();
    zuz::ChannelReading reading;
    zuz::gui::CDisp panel(reading);
    panel.resize(210, 79);
    GiveIdentity(reading, 0);
    QImage screen(panel.size(), QImage::Format_ARGB32_Premultiplied);
    std::int32_t value = 0;
    for (auto _ : state) {
        reading.SetValue32(++value);
        QPainter painter(&screen);
        panel.OnPaint(painter);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PanelPaint)->Unit(benchmark::kMicrosecond);

// The whole window, 20 panels shown, one reading every 50 ms in rotation (the poll's pace), for
// two seconds of wall time per iteration. Reports the process's CPU use in % of one core.
// Argument 0 runs the same window idle, for comparison.
void BM_Window20UnderPollLoad(benchmark::State& state) {
    EnsureApplication();
    zuz::gui::VavaduzidivaRer window;
    window.chooseChannelCount = [](zuz::gui::VavaduzidivaRer& w) { w.SetChannelCount(20); };
    window.listPorts = [] { return std::vector<std::string>{}; };
    window.OnInitDialog();
    for (unsigned i = 0; i < 20; ++i) GiveIdentity(window.Core().channels[i], i);
    window.show();
    QApplication::processEvents();

    unsigned next = 0;
    std::int32_t value = 0;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        window.Core().channels[next].SetValue32(++value);
        next = (next + 1) % 20;
    });
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const double cpu0 = ProcessCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        if (state.range(0)) poll.start(50);
        QEventLoop loop;
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        loop.exec();
        poll.stop();
        cpu += ProcessCpuSeconds() - cpu0;
        wall += double(clock.nsecsElapsed()) / 1e9;
    }
    state.counters["cpu_pct_of_one_core"] = wall > 0 ? 100.0 * cpu / wall : 0;
    state.counters["updates"] = double(value);
    window.hide();
}
BENCHMARK(BM_Window20UnderPollLoad)->Arg(0)->Arg(1)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

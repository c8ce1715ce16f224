// Start-up: runs the monitor window modally and ends when it closes.
//
// GUI thread only; a QApplication must exist.
#pragma once

#include <QString>

namespace zuz::gui {

// Only for producing screenshots from the real program: skip the channel-count dialog, list one
// port, connect at once, grab the window after a while into a PNG file and close.
struct ScreenshotRun {
    unsigned channels = 0;  // 0: no screenshot run
    QString port;
    QString file;
    int afterMs = 3000;
};

// Parses "--screenshot FILE --channels N --port PATH [--after-ms MS]"; returns false (and
// leaves `run` untouched) when the arguments ask for no screenshot run or are malformed.
bool ParseScreenshotRun(const QStringList& arguments, ScreenshotRun* run);

class RozaduzovariRuv {
public:
    RozaduzovariRuv();
    explicit RozaduzovariRuv(ScreenshotRun screenshot) : screenshot_(std::move(screenshot)) {}

    // Runs the window until it closes; returns false, so that the program then ends.
    bool InitInstance();

private:
    ScreenshotRun screenshot_;
};

}  // namespace zuz::gui

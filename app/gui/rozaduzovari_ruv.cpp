#include "app/gui/rozaduzovari_ruv.h"

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include "app/gui/main_window.h"

namespace zuz::gui {

bool ParseScreenshotRun(const QStringList& arguments, ScreenshotRun* run) {
    ScreenshotRun parsed;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (!hasValue) return false;
        const QString value = arguments[++i];
        bool ok = true;
        if (arg == QLatin1String("--screenshot")) parsed.file = value;
        else if (arg == QLatin1String("--channels")) parsed.channels = value.toUInt(&ok);
        else if (arg == QLatin1String("--port")) parsed.port = value;
        else if (arg == QLatin1String("--after-ms")) parsed.afterMs = value.toInt(&ok);
        else return false;
        if (!ok) return false;
    }
    if (parsed.file.isEmpty() || parsed.port.isEmpty() || !IsValidChannelCount(parsed.channels)) return false;
    *run = parsed;
    return true;
}

RozaduzovariRuv::RozaduzovariRuv() = default;

bool RozaduzovariRuv::InitInstance() {
    // The settings key the monitor has always declared; nothing is stored under it.
    QApplication::setOrganizationName(QStringLiteral("应用程序向导生成的本地应用程序"));

    VavaduzidivaRer window;
    if (screenshot_.channels != 0) {
        const ScreenshotRun shot = screenshot_;
        window.chooseChannelCount = [shot](VavaduzidivaRer& w) { w.SetChannelCount(shot.channels); };
        window.listPorts = [shot] { return std::vector<std::string>{shot.port.toStdString()}; };
        QTimer::singleShot(0, &window, [&window] { window.OnConnect(); });
        QTimer::singleShot(shot.afterMs, &window, [&window, shot] {
            window.grab().save(shot.file, "PNG");
            window.reject();
        });
    }
    window.OnInitDialog();
    window.exec();
    return false;
}

}  // namespace zuz::gui

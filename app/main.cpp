#include "app/Uabout.h"
#include "app/Umain.h"
#include "app/dialogs.h"
#include "config/commandline.h"
#include "config/profile.h"
#include "script/headless.h"

#include <QApplication>

#include <cstdio>
#include <exception>

int main(int argc, char* argv[])
{
    // Help, version and mistakes are answered before any display is needed.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const kirt::ParsedCommandLine parsed = kirt::parseCommandLine(arguments);
    if (!parsed.options) {
        std::fputs(parsed.text.toLocal8Bit().constData(), parsed.exitCode == 0 ? stdout : stderr);
        return parsed.exitCode;
    }
    const kirt::StartOptions& options = *parsed.options;
    kirt::mapDeviceForThisRun(options);
    kirt::setCurrentProfile(options.profile);

    if (!options.script.isEmpty()) {
        // No display and no widget: a test run on a bench machine or in CI.
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Kirt"));
        return kirt::runScriptWithoutWindow(options);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kirt"));
    try {
        TFmain Fmain;
        about = new Tabout(&Fmain);
        Fmain.show();
        Fmain.ApplyStartOptions(options);
        QApplication::exec();
    } catch (const std::exception& e) {
        kirt::dialogs().error(nullptr, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        kirt::dialogs().error(nullptr, QString());
    }
    return 0;
}

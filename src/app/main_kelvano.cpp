#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include "app/Program.h"
#include "app/Settings.h"
#include "link/LibusbBackend.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KELVANO"));
    // The installed icon and desktop entry (none in a build folder: the window then has none).
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("kelvano")));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kelvano.kelvano"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Control program of the STRAVINEX programmer"));
    parser.addHelpOption();
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Use port NAME for this run (listed even when the system does not list "
                       "it, a pseudo-terminal for instance)."),
        QStringLiteral("NAME"));
    parser.addOption(port);
    parser.process(app);

    kelvano::KelvanoProgram::Setup setup;
    setup.programDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    setup.portName = parser.value(port);
    // Boxes with other USB ids can be named in the settings ("UsbIds").
    kelvano::SettingsStore store(kelvano::settingsFilePath(setup.programDir));
    QList<kelvano::LibusbBackend::UsbId> extraIds;
    for (const auto& [vendor, product] : kelvano::readUsbIds(store)) extraIds.append({vendor, product});
    setup.usbBackend = std::make_unique<kelvano::LibusbBackend>(extraIds);

    kelvano::KelvanoProgram program(std::move(setup));
    program.Main.show();
    return QApplication::exec();
}

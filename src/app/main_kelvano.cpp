#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include "app/Program.h"

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
        QStringLiteral("Connect to port NAME at start (a serial port, USB, or SIM: the simulated "
                       "box). It is listed for this run even when the system does not list it, "
                       "a pseudo-terminal for instance."),
        QStringLiteral("NAME"));
    parser.addOption(port);
    parser.process(app);

    kelvano::KelvanoProgram::Setup setup;
    setup.programDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    setup.portName = parser.value(port);

    kelvano::KelvanoProgram program(std::move(setup));
    program.Main.show();
    return QApplication::exec();
}

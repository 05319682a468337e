// kelvano: the window. The command line is read before the window system is needed, so that
// --help, --version and a wrong option are answered on a text console too.
#include <QApplication>
#include <QIcon>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "app/Program.h"
#include "app/uMain.h"

namespace {

// Options of the window system, read by QApplication itself (with one dash or two), and
// whether each takes a value.
struct WindowSystemOption {
    const char* name;
    bool value;
};
constexpr WindowSystemOption kWindowSystemOptions[] = {
    {"platform", true},        {"platformpluginpath", true},
    {"platformtheme", true},   {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true},
    {"qwindowtitle", true},    {"session", true},
    {"display", true},         {"geometry", true},
    {"title", true},           {"name", true},
    {"style", true},           {"stylesheet", true},
    {"reverse", false},        {"widgetcount", false},
    {"nograb", false},         {"dograb", false},
    {"sync", false},
};

const WindowSystemOption* windowSystemOption(const QString& arg) {
    if (!arg.startsWith(QLatin1Char('-'))) return nullptr;
    QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
    name = name.section(QLatin1Char('='), 0, 0);
    for (const WindowSystemOption& o : kWindowSystemOptions)
        if (name == QLatin1String(o.name)) return &o;
    return nullptr;
}

QString helpText() {
    return QStringLiteral(
        "Usage: kelvano [options]\n"
        "Control program of the STRAVINEX programmer\n"
        "\n"
        "Options:\n"
        "  -h, --help       print this help and end\n"
        "  -V, --version    print the program's version and licence and end\n"
        "  --port NAME      connect to port NAME at start, for this run only (a serial port,\n"
        "                   USB, or SIM: the simulated box). It is listed for this run even\n"
        "                   when the system does not list it, a pseudo-terminal for instance;\n"
        "                   the port saved in the settings stays as it is.\n"
        "\n"
        "The options of Qt's window system are understood as well (-platform offscreen,\n"
        "-display DISPLAY, -style STYLE, ...).\n");
}

QString versionText() {
    return QStringLiteral("kelvano ") + kelvano::TMain::fileVersion() +
           QStringLiteral(
               "\nFree software under the GNU General Public License, version 3 or later "
               "(GPL-3.0-or-later), with no warranty.\n");
}

struct StartOptions {
    QString port;
};

int printed(const QString& text) {
    std::fputs(qPrintable(text), stdout);
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    std::fprintf(stderr, "kelvano: cannot write to standard output: %s\n", std::strerror(errno));
    return 1;
}

// Qt ends the program with abort() when it finds no window system to show the window on:
// while the application starts, that becomes a message and exit status 1.
QtMessageHandler previousHandler = nullptr;
void startupMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        if (previousHandler) previousHandler(type, context, text);
        return;
    }
    std::fprintf(stderr,
                 "kelvano: no display was found: the window needs a desktop session (or a "
                 "display given with -display DISPLAY); kelvano-cli works without one\n");
    std::fflush(stderr);
    std::_Exit(1);
}

int failed(const QString& text) {
    std::fprintf(stderr, "kelvano: %s\n(see kelvano --help)\n", qPrintable(text));
    return 1;
}

// "--port NAME" or "--port=NAME" at args[i] (i moves past the value): false when the name
// is missing.
bool readPort(const QStringList& args, int& i, StartOptions& options) {
    const QString& a = args.at(i);
    if (a.contains(QLatin1Char('=')))
        options.port = a.section(QLatin1Char('='), 1);
    else if (i + 1 < args.size())
        options.port = args.at(++i);
    return !options.port.isEmpty();
}

// Reads the command line (without the program's name): the options, or the exit status to end
// with after the help, the version or an error has been printed.
std::optional<int> readCommandLine(const QStringList& args, StartOptions& options) {
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("-h") || a == QLatin1String("--help") || a == QLatin1String("-?"))
            return printed(helpText());
        if (a == QLatin1String("-V") || a == QLatin1String("--version"))
            return printed(versionText());
        if (a == QLatin1String("--port") || a.startsWith(QLatin1String("--port="))) {
            if (!readPort(args, i, options)) return failed(QStringLiteral("--port needs a NAME"));
            continue;
        }
        if (const WindowSystemOption* o = windowSystemOption(a)) {
            if (o->value && !a.contains(QLatin1Char('=')) && ++i >= args.size())
                return failed(QStringLiteral("%1 needs a value").arg(a));
            continue;
        }
        return failed(a.startsWith(QLatin1Char('-'))
                          ? QStringLiteral("unknown option %1").arg(a)
                          : QStringLiteral("unexpected argument %1").arg(a));
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char* argv[]) {
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    StartOptions start;
    if (const std::optional<int> status = readCommandLine(args, start)) return *status;

    previousHandler = qInstallMessageHandler(startupMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(previousHandler);
    QApplication::setApplicationName(QStringLiteral("KELVANO"));
    // The installed icon and desktop entry (none in a build folder: the window then has none).
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("kelvano")));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kelvano.kelvano"));

    kelvano::KelvanoProgram::Setup setup;
    setup.programDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    setup.portName = start.port;

    kelvano::KelvanoProgram program(std::move(setup));
    program.Main.show();
    return QApplication::exec();
}

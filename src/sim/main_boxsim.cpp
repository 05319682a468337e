// kelvano-boxsim: the simulated STRAVINEX box on a pseudo-terminal, for trying the program
// without hardware and for end-to-end tests of the real serial code.
#include <sched.h>
#include <sys/resource.h>

#include <QFile>
#include <QStringList>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

#include "sim/PtyServer.h"
#include "sim/ReplayRun.h"
#include "sim/SimBox.h"
#include "sim/SimFault.h"
#include "sim/SimImageFile.h"
#include "sim/SimLatency.h"

using kelvano::PtyServer;
using kelvano::SimBox;
using kelvano::SimFault;

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

void usage(FILE* out) {
    const QString text =
        QStringLiteral(
            "Usage: kelvano-boxsim [options]\n"
            "Serves a simulated STRAVINEX box on a pseudo-terminal. The terminal's path is the\n"
            "first line of output; the box runs until interrupted (SIGINT or SIGTERM).\n"
            "\n"
            "  --model qxbase|serial   the box model (default qxbase)\n"
            "  --card CODE             the card type in the slot (default 10)\n"
            "  --no-card               start with the slot empty\n"
            "  --controller-id HEX     what the card's controller answers for its identity: an\n"
            "                          AVR's signature bytes (1E9102), a PIC's device ID at 2006\n"
            "                          (09E3; 3FFF for none); default: the card type's own\n"
            "  --feed                  an operator swaps cards: after a programmed card is back\n"
            "                          to idle it is pulled, then a fresh blank one goes in\n"
            "  --load SLOT=FILE        card contents from an Intel HEX or binary file, as the\n"
            "                          program's slots: PIC 1 = program image, 2 = external "
            "EEPROM;\n"
            "                          AVR 1 = flash, 2 = data EEPROM, 3 = external EEPROM\n"
            "  --link PATH             also make PATH a symbolic link to the terminal\n"
            "  --trace FILE            write every exchange to FILE as it happens\n"
            "  --baud N                answer at N baud (10 bit times per byte); default: at once\n"
            "  --latency MS            hold every answer MS milliseconds more, as the latency\n"
            "                          timer of a USB-serial adapter does (default 0)\n"
            "  --replay FILE           play the box's side of a recorded serial transcript "
            "instead\n"
            "                          of simulating a box: each command is answered as recorded,\n"
            "                          the first place where the program sends something else is\n"
            "                          reported with the transcript's line (exit status 1); ends 1 "
            "s\n"
            "                          after the last recorded exchange, or when the program\n"
            "                          closes the terminal after it (exit status 0). A program\n"
            "                          that closes the terminal earlier, or sends nothing for the\n"
            "                          --silence limit, ends it with status 1 and the place left\n"
            "  --silence S             with --replay: the longest quiet line (default 30 s)\n"
            "  -h, --help              this text\n"
            "  -V, --version           the program's version and licence\n") +
        SimFault::syntaxHelp() +
        QStringLiteral(
            "     With lostlink the terminal is closed and kelvano-boxsim ends with status 3.\n");
    std::fputs(text.toLocal8Bit().constData(), out);
}

// Status 0 once what was printed has reached standard output, else 1 with a message.
int written() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    std::fprintf(stderr, "kelvano-boxsim: cannot write to standard output: %s\n",
                 std::strerror(errno));
    return 1;
}

int bad(const QString& text) {
    std::fprintf(stderr, "kelvano-boxsim: %s\n", text.toLocal8Bit().constData());
    return 2;
}

// What the command line asks for.
struct Options {
    SimBox::Model model = SimBox::Model::QxBase;
    int card = 10;
    bool noCard = false;
    bool feed = false;
    int baud = 0;
    int latency = 0;
    int silenceS = 30;
    int controllerId = -1;  // -1: the card type's own
    QString link, trace, replay;
    QList<QPair<int, QString>> loads;
    QList<SimFault> faults;
};

bool readModel(const QString& value, Options& options, QString& error) {
    if (value == "qxbase")
        options.model = SimBox::Model::QxBase;
    else if (value == "serial")
        options.model = SimBox::Model::Serial;
    else
        error = "unknown model " + value;
    return error.isEmpty();
}

bool readCard(const QString& value, Options& options, QString& error) {
    bool ok = true;
    options.card = value.toInt(&ok);
    if (!ok || !kelvano::SimCard::isKnownType(options.card)) error = "unknown card type " + value;
    return error.isEmpty();
}

bool readLoad(const QString& value, Options& options, QString& error) {
    bool ok = true;
    const int eq = value.indexOf('=');
    const int slot = value.left(eq).toInt(&ok);
    if (eq < 0 || !ok) {
        error = "--load wants SLOT=FILE";
        return false;
    }
    options.loads.append({slot, value.mid(eq + 1)});
    return true;
}

bool readBaud(const QString& value, Options& options, QString& error) {
    bool ok = true;
    options.baud = value.toInt(&ok);
    if (!ok || options.baud <= 0) error = "bad line speed " + value;
    return error.isEmpty();
}

bool readLatency(const QString& value, Options& options, QString& error) {
    bool ok = true;
    options.latency = value.toInt(&ok);
    if (!ok || options.latency < 0 || options.latency > 1000) error = "bad latency " + value;
    return error.isEmpty();
}

bool readSilence(const QString& value, Options& options, QString& error) {
    bool ok = true;
    options.silenceS = value.toInt(&ok);
    if (!ok || options.silenceS <= 0 || options.silenceS > 86400)
        error = "bad silence limit " + value;
    return error.isEmpty();
}

bool readFault(const QString& value, Options& options, QString& error) {
    const std::optional<SimFault> fault = SimFault::parse(value, &error);
    if (!fault) return false;
    options.faults.append(*fault);
    return true;
}

bool readControllerId(const QString& value, Options& options, QString& error) {
    bool ok = false;
    options.controllerId = static_cast<int>(value.toUInt(&ok, 16));
    ok = ok && value.size() <= 6;
    if (!ok) error = "--controller-id takes up to six hex digits, not " + value;
    return ok;
}

// One option that takes a value; false with `error` set when the value is bad.
bool readValue(const QString& opt, const QString& value, Options& options, QString& error) {
    if (opt == "--model") return readModel(value, options, error);
    if (opt == "--card") return readCard(value, options, error);
    if (opt == "--load") return readLoad(value, options, error);
    if (opt == "--baud") return readBaud(value, options, error);
    if (opt == "--latency") return readLatency(value, options, error);
    if (opt == "--fault") return readFault(value, options, error);
    if (opt == "--silence") return readSilence(value, options, error);
    if (opt == "--controller-id") return readControllerId(value, options, error);
    if (opt == "--link") options.link = value;
    if (opt == "--replay") options.replay = value;
    if (opt == "--trace") options.trace = value;
    return true;
}

// Reads the command line into `options`: nullopt to go on, or the exit status to end with.
std::optional<int> readArguments(const QStringList& args, Options& options) {
    static const QStringList withValue{"--controller-id", "--model",  "--card",   "--load",
                                       "--link",          "--trace",  "--fault",  "--baud",
                                       "--latency",       "--replay", "--silence"};
    for (int i = 0; i < args.size(); ++i) {
        const QString& opt = args.at(i);
        if (opt == "--help" || opt == "-h") {
            usage(stdout);
            return written();
        }
        if (opt == "--version" || opt == "-V") {
            std::fputs("kelvano-boxsim " KELVANO_FILE_VERSION
                       "\nFree software under the GNU General Public License, version 3 or "
                       "later (GPL-3.0-or-later), with no warranty.\n",
                       stdout);
            return written();
        }
        if (opt == "--no-card") {
            options.noCard = true;
            continue;
        }
        if (opt == "--feed") {
            options.feed = true;
            continue;
        }
        if (!withValue.contains(opt)) return bad("unknown option " + opt);
        if (i + 1 >= args.size()) return bad(opt + " needs a value");
        const QString& value = args.at(++i);
        QString error;
        if (!readValue(opt, value, options, error)) return bad(error);
    }
    return std::nullopt;
}

// A box answers in hardware time. On a busy machine the simulator asks to run before ordinary
// work where the system lets it (real-time scheduling, else a higher priority), so that its
// answers do not wait for a CPU longer than the program waits for them. It sleeps between
// exchanges and takes little CPU either way.
void answerPromptly() {
    sched_param param{};
    param.sched_priority = 1;
    if (sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0) return;
    setpriority(PRIO_PROCESS, 0, -10);  // refused without the right: the default stays
}

void catchSignals() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

// The card's contents, slot, feeder, faults and trace file as the options want them: nullopt
// to go on, or the exit status to end with.
std::optional<int> setUpBox(SimBox& box, const Options& options) {
    for (const auto& [slot, file] : options.loads) {
        QByteArray image;
        QString error;
        if (!kelvano::readImageFile(file, image, &error)) return bad(error);
        if (!kelvano::loadCardSlot(box.card(), slot, image))
            return bad(QString("card type %1 has no slot %2").arg(options.card).arg(slot));
    }
    if (options.controllerId >= 0) {
        if (box.card().isPic())
            box.card().picDeviceId = static_cast<uint16_t>(options.controllerId & 0x3FFF);
        else
            box.card().signature = static_cast<uint32_t>(options.controllerId);
    }
    if (options.noCard) box.removeCard();
    box.setCardFeeder(options.feed);
    for (const SimFault& fault : options.faults) box.addFault(fault);
    if (!options.trace.isEmpty()) {
        QFile file(options.trace);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return bad("cannot write " + options.trace);
        box.setTraceFile(options.trace, true);
        box.setTraceKept(false);
    }
    return std::nullopt;
}

// Serves the box on a pseudo-terminal until a signal stops it or the link is lost.
int serve(SimBox& box, const Options& options) {
    kelvano::SimLatency line(box, options.latency);
    PtyServer server(line);
    server.setBaud(options.baud);
    QString error;
    if (!server.open(&error)) return bad(error);
    if (!options.link.isEmpty() && !server.makeLink(options.link, &error)) return bad(error);

    std::printf("%s\n", server.slavePath().toLocal8Bit().constData());
    std::fflush(stdout);

    if (!server.run(&g_stop)) {
        std::fprintf(stderr, "kelvano-boxsim: the link is gone\n");
        return 3;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);

    Options options;
    if (const std::optional<int> status = readArguments(args, options)) return *status;
    catchSignals();
    answerPromptly();
    if (!options.replay.isEmpty())
        return kelvano::runReplay(options.replay, options.link, 1000, options.silenceS * 1000,
                                  &g_stop);

    SimBox box(options.model, options.card);
    if (const std::optional<int> status = setUpBox(box, options)) return *status;
    return serve(box, options);
}

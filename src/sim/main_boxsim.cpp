// kelvano-boxsim: the simulated STRAVINEX box on a pseudo-terminal, for trying the program
// without hardware and for end-to-end tests of the real serial code.
#include <QFile>
#include <QStringList>
#include <csignal>
#include <cstdio>

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
            "                          after the last recorded exchange (exit status 0)\n"
            "  --help                  this text\n") +
        SimFault::syntaxHelp() +
        QStringLiteral(
            "     With lostlink the terminal is closed and kelvano-boxsim ends with status 3.\n");
    std::fputs(text.toLocal8Bit().constData(), out);
}

int bad(const QString& text) {
    std::fprintf(stderr, "kelvano-boxsim: %s\n", text.toLocal8Bit().constData());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);

    SimBox::Model model = SimBox::Model::QxBase;
    int card = 10;
    bool noCard = false;
    bool feed = false;
    int baud = 0;
    int latency = 0;
    QString link, trace, replay;
    QList<QPair<int, QString>> loads;
    QList<SimFault> faults;

    for (int i = 0; i < args.size(); ++i) {
        const QString opt = args.at(i);
        if (opt == "--help" || opt == "-h") {
            usage(stdout);
            return 0;
        }
        if (opt == "--no-card") {
            noCard = true;
            continue;
        }
        if (opt == "--feed") {
            feed = true;
            continue;
        }
        static const QStringList withValue{"--model", "--card", "--load",    "--link",  "--trace",
                                           "--fault", "--baud", "--latency", "--replay"};
        if (!withValue.contains(opt)) return bad("unknown option " + opt);
        if (i + 1 >= args.size()) return bad(opt + " needs a value");
        const QString value = args.at(++i);
        bool ok = true;
        if (opt == "--model") {
            if (value == "qxbase")
                model = SimBox::Model::QxBase;
            else if (value == "serial")
                model = SimBox::Model::Serial;
            else
                return bad("unknown model " + value);
        } else if (opt == "--card") {
            card = value.toInt(&ok);
            if (!ok || !kelvano::SimCard::isKnownType(card))
                return bad("unknown card type " + value);
        } else if (opt == "--load") {
            const int eq = value.indexOf('=');
            const int slot = value.left(eq).toInt(&ok);
            if (eq < 0 || !ok) return bad("--load wants SLOT=FILE");
            loads.append({slot, value.mid(eq + 1)});
        } else if (opt == "--link") {
            link = value;
        } else if (opt == "--replay") {
            replay = value;
        } else if (opt == "--trace") {
            trace = value;
        } else if (opt == "--baud") {
            baud = value.toInt(&ok);
            if (!ok || baud <= 0) return bad("bad line speed " + value);
        } else if (opt == "--latency") {
            latency = value.toInt(&ok);
            if (!ok || latency < 0 || latency > 1000) return bad("bad latency " + value);
        } else if (opt == "--fault") {
            QString error;
            const std::optional<SimFault> fault = SimFault::parse(value, &error);
            if (!fault) return bad(error);
            faults.append(*fault);
        }
    }

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    if (!replay.isEmpty()) return kelvano::runReplay(replay, link, 1000, &g_stop);

    SimBox box(model, card);
    for (const auto& [slot, file] : loads) {
        QByteArray image;
        QString error;
        if (!kelvano::readImageFile(file, image, &error)) return bad(error);
        if (!kelvano::loadCardSlot(box.card(), slot, image))
            return bad(QString("card type %1 has no slot %2").arg(card).arg(slot));
    }
    if (noCard) box.removeCard();
    box.setCardFeeder(feed);
    for (const SimFault& fault : faults) box.addFault(fault);
    if (!trace.isEmpty()) {
        QFile file(trace);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return bad("cannot write " + trace);
        box.setTraceFile(trace);
        box.setTraceKept(false);
    }

    kelvano::SimLatency line(box, latency);
    PtyServer server(line);
    server.setBaud(baud);
    QString error;
    if (!server.open(&error)) return bad(error);
    if (!link.isEmpty() && !server.makeLink(link, &error)) return bad(error);

    std::printf("%s\n", server.slavePath().toLocal8Bit().constData());
    std::fflush(stdout);

    if (!server.run(&g_stop)) {
        std::fprintf(stderr, "kelvano-boxsim: the link is gone\n");
        return 3;
    }
    return 0;
}

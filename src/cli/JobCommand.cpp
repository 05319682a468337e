// kelvano-cli job run | check: production runs from a terminal, one worker per box.
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>

#include "cli/CliLink.h"
#include "cli/CliParser.h"
#include "cli/Commands.h"
#include "production/Job.h"
#include "production/ProductionLog.h"
#include "production/ProductionRun.h"

namespace kelvano {

namespace {

std::atomic<bool> g_interrupted{false};
void onInterrupt(int) { g_interrupted = true; }

int usage(const QString& text) {
    std::fprintf(stderr, "kelvano-cli: %s\n(see kelvano-cli --help)\n", qPrintable(text));
    return 2;
}

// A worker's box: the port as kelvano-cli opens it; the simulated box gets an operator who
// takes out each programmed card and puts in a blank one.
class CliBoxLink final : public BoxLink {
public:
    // `box`: the link's arguments, with the box's port.
    CliBoxLink(Host& host, Clock& clock, MainView& view, Options& options, const CliArgs& box)
        : link_(host, clock, view, options, box) {
        if (link_.simBox()) link_.simBox()->setCardFeeder(true);
    }
    TCom& com() override { return link_.com(); }

private:
    CliLink link_;
};

QString statusLine(int box, const WorkerStatus& s) {
    QString line = QStringLiteral("%1 %2  pass %3  fail %4")
                       .arg(box)
                       .arg(s.port, -14)
                       .arg(s.pass, 4)
                       .arg(s.fail, 4);
    if (s.aborted > 0) line += QStringLiteral("  aborted %1").arg(s.aborted);
    if (!s.serial.isEmpty()) line += QStringLiteral("  serial %1").arg(s.serial);
    if (!s.lastResult.isEmpty()) line += QStringLiteral("  last %1").arg(s.lastResult);
    line += QStringLiteral("  %1").arg(
        s.error.isEmpty() ? s.state : s.state + QStringLiteral(": ") + s.error);
    return line;
}

// One status line per box: redrawn in place on a terminal, printed when it changes otherwise.
class StatusPrinter {
public:
    explicit StatusPrinter(bool terminal) : terminal_(terminal) {}
    void show(const QList<WorkerStatus>& all) {
        QStringList lines;
        for (int i = 0; i < all.size(); ++i) lines.append(statusLine(i + 1, all[i]));
        // A card that failed since the last drawing gets a line of its own that stays, above
        // the boxes' lines: the operator reads why (and whether to set the card aside).
        QStringList failures;
        fails_.resize(all.size());
        for (int i = 0; i < all.size(); ++i) {
            if (all[i].fail > fails_[i] && !all[i].lastMessage.isEmpty())
                failures.append(QStringLiteral("%1 %2: card %3failed: %4")
                                    .arg(i + 1)
                                    .arg(all[i].port,
                                         all[i].lastSerial.isEmpty()
                                             ? QString()
                                             : all[i].lastSerial + QLatin1Char(' '),
                                         all[i].lastMessage));
            fails_[i] = all[i].fail;
        }
        if (terminal_) {
            QByteArray out;
            if (drawn_ > 0) out += "\x1b[" + QByteArray::number(drawn_) + "A";
            for (const QString& l : failures + lines) out += "\r\x1b[K" + l.toLocal8Bit() + "\n";
            std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
            drawn_ = int(lines.size());
        } else {
            for (const QString& f : failures) std::printf("%s\n", qPrintable(f));
            for (int i = 0; i < lines.size(); ++i) {
                if (i < last_.size() && last_[i] == lines[i]) continue;
                std::printf("%s\n", qPrintable(lines[i]));
            }
        }
        last_ = lines;
        std::fflush(stdout);
    }

private:
    bool terminal_;
    int drawn_ = 0;
    QStringList last_;
    QList<int> fails_;  // each box's failed cards at the last drawing
};

QString describe(const Job& job, const QString& log) {
    QString t = QStringLiteral("Job \"%1\": card type %2 (%3)\n")
                    .arg(job.name)
                    .arg(job.card)
                    .arg(QString::fromLatin1(findDevice(job.card)->displayName));
    for (int slot = 1; slot <= 3; ++slot)
        if (!job.images[size_t(slot)].isEmpty())
            t += QStringLiteral("  slot %1: %2\n").arg(slot).arg(job.images[size_t(slot)]);
    t += QStringLiteral("  memories:%1%2%3%4; verify %5, always erase %6\n")
             .arg(job.prog ? " program" : "", job.data ? " data" : "",
                  job.config ? " configuration" : "", job.eep ? " external-EEPROM" : "")
             .arg(job.verify ? "on" : "off", job.alwaysErase ? "on" : "off");
    if (job.serial) {
        const SerialPlan& s = *job.serial;
        t += QStringLiteral("  serial: %1 bytes at 0x%2 of %3 memory, form %4, ")
                 .arg(s.size)
                 .arg(QString::number(s.address, 16).toUpper())
                 .arg(SerialPlan::memoryName(s.memory), SerialPlan::formName(s.form));
        if (!s.pool.isEmpty()) t += QStringLiteral("pool \"%1\", ").arg(s.pool);
        if (!s.list.isEmpty())
            t += QStringLiteral("%1 values from %2\n").arg(s.list.size()).arg(s.listFile);
        else
            t += QStringLiteral("from %1 step %2 to %3\n")
                     .arg(s.text(s.start))
                     .arg(qulonglong(s.step))
                     .arg(s.text(s.last ? *s.last : s.maxValue()));
    } else {
        t += QStringLiteral("  no serial number\n");
    }
    t += QStringLiteral("  log: %1\n  hash: %2\n").arg(ProductionLog::shownAddress(log), job.hash);
    return t;
}

// Where the serials go on in the log: the next value, and the values of the plan before it
// that the pool holds already. False when the log can't be read.
bool describeNext(const Job& job, const QString& where, QString& text, QString& error) {
    auto log = ProductionLog::openForReading(where, error);  // a report never makes a log
    if (!log) return false;
    const auto o = log->outlook(job, error);
    if (!o) return false;
    const QString pool = ProductionLog::poolOf(job);
    if (o->next.isEmpty()) {
        text = QStringLiteral("  next serial: none, pool \"%1\" holds every value of the plan\n")
                   .arg(pool);
        return true;
    }
    text = QStringLiteral("  next serial: %1%2 (pool \"%3\")")
               .arg(o->next, o->givenBack ? QStringLiteral(", given back") : QString(), pool);
    if (o->skipped > 0)
        text += QStringLiteral("; skips %1 value%2 the pool holds already: %3%4")
                    .arg(o->skipped)
                    .arg(o->skipped == 1 ? "" : "s")
                    .arg(o->skippedRanges.join(QLatin1String(", ")),
                         o->skippedRanges.size() >= 5 ? QStringLiteral(", ...") : QString());
    text += u'\n';
    return true;
}

// job check: the job as read, and with the log where its serials go on.
int checkJob(const CliArgs& args, const Job& job, const QString& log) {
    std::fputs(qPrintable(describe(job, log)), stdout);
    // The log is read when it is named, or when the job's own log file is there already.
    const bool readLog = args.options.contains(QStringLiteral("log")) ||
                         (!ProductionLog::isServerAddress(log) && QFileInfo::exists(log));
    QString next, error;
    if (job.serial && readLog && !describeNext(job, log, next, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::fputs(qPrintable(next), stdout);
    return 0;
}

}  // namespace

int runJob(const CliArgs& args) {
    if (args.positional.size() != 2 || (args.positional[0] != QLatin1String("run") &&
                                        args.positional[0] != QLatin1String("check")))
        return usage(QStringLiteral("job takes run JOB or check JOB"));
    Job job;
    QString error;
    if (!readJob(args.positional[1], job, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const QString log = args.options.value(QStringLiteral("log"),
                                           job.log.isEmpty() ? job.defaultLogPath() : job.log);
    if (ProductionLog::hasPassword(log))
        std::fprintf(stderr, "kelvano-cli: %s\n", qPrintable(ProductionLog::passwordWarning(log)));
    if (args.positional[0] == QLatin1String("check")) return checkJob(args, job, log);
    if (args.ports.isEmpty())
        return usage(QStringLiteral("job run needs at least one --port NAME"));
    int count = job.count;
    if (args.options.contains(QStringLiteral("count"))) {
        bool ok = false;
        count = args.options.value(QStringLiteral("count")).toInt(&ok);
        if (!ok || count < 1)
            return usage(QStringLiteral("--count takes a number of cards from 1"));
    }

    // Every box's link: the job's card type and the command's waits.
    CliArgs box;
    box.card = job.card;
    box.waitFactor = args.waitFactor;
    ProductionRun run(
        job, log, args.ports, count,
        [box](const QString& port, Host& host, Clock& clock, MainView& view, Options& options) {
            CliArgs one = box;
            one.port = port;
            return std::make_unique<CliBoxLink>(host, clock, view, options, one);
        });
    if (!run.checkLog(error)) {
        std::fprintf(stderr, "%s\nNothing was programmed.\n", qPrintable(error));
        return 1;
    }
    std::printf("%s: %d box%s, log %s%s\n", qPrintable(job.name), int(args.ports.size()),
                args.ports.size() == 1 ? "" : "es", qPrintable(ProductionLog::shownAddress(log)),
                count > 0 ? qPrintable(QStringLiteral(", %1 cards").arg(count)) : "");
    StatusPrinter printer(isatty(STDOUT_FILENO));
    QEventLoop loop;
    QTimer refresh;
    bool interrupted = false;
    g_interrupted = false;
    // The workers report from their threads; the screen is drawn here, ten times a second.
    QObject::connect(&refresh, &QTimer::timeout, &loop, [&] {
        if (g_interrupted.exchange(false)) {
            std::fputs("Stopping: cards in work are aborted, every box goes back to idle.\n",
                       stderr);
            interrupted = true;
            run.stop();
        }
        printer.show(run.statuses());
        if (!run.isRunning()) loop.quit();
    });
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    run.start();
    refresh.start(100);
    loop.exec();
    run.wait();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    printer.show(run.statuses());

    int pass = 0, fail = 0, aborted = 0, unrecorded = 0;
    for (const WorkerStatus& s : run.statuses()) {
        pass += s.pass;
        unrecorded += s.unrecorded;
        fail += s.fail;
        aborted += s.aborted;
        if (!s.error.isEmpty())
            std::fprintf(stderr, "%s stopped: %s\n", qPrintable(s.port), qPrintable(s.error));
    }
    if (!run.endMessage().isEmpty()) std::printf("%s\n", qPrintable(run.endMessage()));
    // Cards whose result the log could not record are counted with their result and named.
    std::printf(
        "Summary: %d passed%s, %d failed, %d aborted", pass,
        unrecorded > 0
            ? qPrintable(QStringLiteral(" (%1 of them not recorded in the log)").arg(unrecorded))
            : "",
        fail, aborted);
    if (interrupted) {
        // Done: programmed to the end, passed or failed; an aborted card is not.
        std::printf("; interrupted, %d card%s done\n", pass + fail, pass + fail == 1 ? "" : "s");
        return ExitInterrupted;
    }
    std::printf("\n");
    return run.allPassed() ? 0 : 1;
}

QString jobCommandsHelp() {
    return QStringLiteral(
        "\n"
        "Production runs:\n"
        "  kelvano-cli job check JOB [--log LOG]   read and check a job file (no box needed);\n"
        "               with the log, the next serial and the values it skips\n"
        "  kelvano-cli job run JOB --port NAME [--port NAME]... [--count N] [--log LOG]\n"
        "               one worker per box, all at once: wait for a card, program and verify it\n"
        "               with its own serial number, log it, wait until it is taken out; until N\n"
        "               cards passed, the last serial is handed out, or Ctrl-C\n"
        "  --log LOG            an SQLite file, or postgresql://USER@HOST:PORT/DB (the socket\n"
        "                       folder as ?host=/path, sslmode and the like as ?sslmode=...; the\n"
        "                       password from ~/.pgpass or PGPASSWORD); default: the job's Log,\n"
        "                       else JOB's name with .log.db\n"
        "  --port SIM           a simulated box that swaps its cards itself (repeat for more)\n"
        "Exit status 0 only when every card passed (also when the last serial ended the run); 130\n"
        "when Ctrl-C or SIGTERM stopped the run.\n");
}

}  // namespace kelvano

// kelvano-cli log summary | export | settle: reports from a production log, and the settling
// of serials that a run which died left unconfirmed.
#include <QFileInfo>
#include <cstdio>
#include <optional>

#include "cli/Commands.h"
#include "production/Job.h"
#include "production/ProductionLog.h"

namespace kelvano {

namespace {

int usage(const QString& text) {
    std::fprintf(stderr, "kelvano-cli: %s\n(see kelvano-cli --help)\n", qPrintable(text));
    return 2;
}

int failed(const QString& text) {
    std::fprintf(stderr, "%s\n", qPrintable(text));
    return 1;
}

QString cardText(const ProductionLog::Row& r) {
    return QStringLiteral("  %1  card %2 on %3 at %4, started %5 (run pid %6)\n")
        .arg(r.serial.isEmpty() ? QStringLiteral("(no serial)") : r.serial)
        .arg(r.id)
        .arg(r.port, r.station, r.started)
        .arg(r.runPid);
}

QString summaryText(const QString& shown, const ProductionLog::Summary& s) {
    QString t = QStringLiteral("Log %1\nJobs: %2\nCards: %3 passed, %4 failed, %5 aborted")
                    .arg(shown, s.jobs.isEmpty() ? QStringLiteral("none")
                                                 : s.jobs.join(QLatin1String(", ")))
                    .arg(s.pass)
                    .arg(s.fail)
                    .arg(s.aborted);
    if (s.settled > 0) t += QStringLiteral(", %1 settled by hand").arg(s.settled);
    t += QStringLiteral("\nSerials given back, to be handed out again: %1\n").arg(s.freeSerials);
    if (!s.voided.isEmpty())
        t += QStringLiteral("Void serials: %1\n").arg(s.voided.join(QLatin1String(", ")));
    if (!s.unconfirmed.isEmpty()) {
        t += QStringLiteral(
                 "Unconfirmed serials (%1): taken by a run that ended before it recorded the "
                 "card's result; the card may carry them. They are not handed out again until "
                 "settled (kelvano-cli log settle SERIAL spent|void|return):\n")
                 .arg(s.unconfirmed.size());
        for (const auto& r : s.unconfirmed) t += cardText(r);
    }
    if (!s.inProgress.isEmpty()) {
        t += QStringLiteral("Cards in work (%1):\n").arg(s.inProgress.size());
        for (const auto& r : s.inProgress)
            t += QStringLiteral("  %1  card %2 in work at %3 (port %4), started %5\n")
                     .arg(r.serial.isEmpty() ? QStringLiteral("(no serial)") : r.serial)
                     .arg(r.id)
                     .arg(r.station, r.port, r.started);
    }
    return t;
}

int exportCards(const CliArgs& args, ProductionLog& log) {
    const QString csv = args.options.value(QStringLiteral("csv"));
    const QString json = args.options.value(QStringLiteral("json"));
    if (csv.isEmpty() == json.isEmpty())
        return usage(QStringLiteral("log export needs --csv FILE or --json FILE"));
    QString error;
    if (!(csv.isEmpty() ? log.exportJson(json, error) : log.exportCsv(csv, error)))
        return failed(error);
    std::printf("%s written\n", qPrintable(csv.isEmpty() ? json : csv));
    return 0;
}

int settle(const CliArgs& args, ProductionLog& log, const Job* job) {
    static const QStringList ways{QStringLiteral("spent"), QStringLiteral("void"),
                                  QStringLiteral("return")};
    const int way = int(ways.indexOf(args.positional.value(2)));
    if (args.positional.size() < 3 || way < 0)
        return usage(QStringLiteral("log settle takes SERIAL spent|void|return [JOB]"));
    const auto how = ProductionLog::Settle(way);
    const QString serial = args.positional[1];
    QString error;
    if (!log.settle(serial, how, job ? ProductionLog::poolOf(*job) : QString(), error))
        return failed(QStringLiteral("%1: %2").arg(log.shown(), error));
    std::printf("%s\n",
                qPrintable(how == ProductionLog::Settle::Return
                               ? QStringLiteral("Serial %1 returned to its pool.").arg(serial)
                               : QStringLiteral("Serial %1 settled as %2.")
                                     .arg(serial, ProductionLog::settleText(how))));
    return 0;
}

}  // namespace

int runLog(const CliArgs& args) {
    const QString what = args.positional.value(0);
    if (what != QLatin1String("summary") && what != QLatin1String("export") &&
        what != QLatin1String("settle"))
        return usage(QStringLiteral("log takes summary, export or settle"));
    // The job file: the last word after the command's own (settle has two of its own).
    const int jobAt = what == QLatin1String("settle") ? 3 : 1;
    if (args.positional.size() > jobAt + 1)
        return usage(QStringLiteral("log %1 takes one job file at most").arg(what));
    QString error;
    std::optional<Job> job;
    if (args.positional.size() == jobAt + 1) {
        job.emplace();
        if (!readJob(args.positional[jobAt], *job, error)) return failed(error);
    }
    QString where = args.options.value(QStringLiteral("log"));
    if (where.isEmpty() && job) where = job->log.isEmpty() ? job->defaultLogPath() : job->log;
    if (where.isEmpty())
        return usage(QStringLiteral("log %1 needs --log LOG (or a job file)").arg(what));
    if (ProductionLog::hasPassword(where))
        std::fprintf(stderr, "kelvano-cli: %s\n", qPrintable(ProductionLog::passwordWarning()));
    // A report or a settlement is about a log that exists: none is made for it.
    if (!ProductionLog::isServerAddress(where) && !QFileInfo::exists(where))
        return failed(
            QStringLiteral("The log %1 can't be opened: there is no such file.").arg(where));
    auto log = ProductionLog::open(where, error);
    if (!log) return failed(error);
    if (what == QLatin1String("export")) return exportCards(args, *log);
    if (what == QLatin1String("settle")) return settle(args, *log, job ? &*job : nullptr);
    const auto s = log->summary(error, job ? job->name : QString());
    if (!s) return failed(QStringLiteral("%1: %2").arg(log->shown(), error));
    std::fputs(qPrintable(summaryText(log->shown(), *s)), stdout);
    return 0;
}

QString logCommandsHelp() {
    return QStringLiteral(
        "\n"
        "Production log:\n"
        "  kelvano-cli log summary [JOB] [--log LOG]    counts, given-back, void, unconfirmed "
        "serials\n"
        "               and the cards in work (of JOB only, when it is given)\n"
        "  kelvano-cli log export --csv FILE|--json FILE [JOB] [--log LOG]\n"
        "               every card as one CSV row, or one JSON object a line\n"
        "  kelvano-cli log settle SERIAL spent|void|return [JOB] [--log LOG]\n"
        "               an unconfirmed serial: the card carries it (spent), it is never to be\n"
        "               used (void), or it goes back to the pool (return); recorded with the\n"
        "               time, station and user\n"
        "  A PostgreSQL password belongs in ~/.pgpass or PGPASSWORD, not in the address.\n");
}

}  // namespace kelvano

// kelvano-cli log summary | export: reports from a production log.
#include <cstdio>

#include "cli/Commands.h"
#include "production/Job.h"
#include "production/ProductionLog.h"

namespace kelvano {

namespace {

int usage(const QString& text) {
    std::fprintf(stderr, "kelvano-cli: %s\n(see kelvano-cli --help)\n", qPrintable(text));
    return 2;
}

QString cardText(const ProductionLog::Row& r) {
    return QStringLiteral("  %1  card %2 on %3 at %4, started %5 (run pid %6)\n")
        .arg(r.serial.isEmpty() ? QStringLiteral("(no serial)") : r.serial)
        .arg(r.id)
        .arg(r.port, r.station, r.started)
        .arg(r.runPid);
}

}  // namespace

int runLog(const CliArgs& args) {
    const QString what = args.positional.value(0);
    if (what != QLatin1String("summary") && what != QLatin1String("export"))
        return usage(QStringLiteral("log takes summary or export"));
    QString where = args.options.value(QStringLiteral("log"));
    QString error;
    if (where.isEmpty() && args.positional.size() == 2) {
        Job job;
        if (!readJob(args.positional[1], job, error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        where = job.log.isEmpty() ? job.defaultLogPath() : job.log;
    }
    if (where.isEmpty())
        return usage(QStringLiteral("log %1 needs --log LOG (or a job file)").arg(what));
    auto log = ProductionLog::open(where, error);
    if (!log) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    if (what == QLatin1String("export")) {
        const QString csv = args.options.value(QStringLiteral("csv"));
        if (csv.isEmpty()) return usage(QStringLiteral("log export needs --csv FILE"));
        if (!log->exportCsv(csv, error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::printf("%s written\n", qPrintable(csv));
        return 0;
    }
    const auto s = log->summary(error);
    if (!s) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(where), qPrintable(error));
        return 1;
    }
    QString t = QStringLiteral("Log %1\nJobs: %2\nCards: %3 passed, %4 failed, %5 aborted\n")
                    .arg(where, s->jobs.isEmpty() ? QStringLiteral("none")
                                                  : s->jobs.join(QLatin1String(", ")))
                    .arg(s->pass)
                    .arg(s->fail)
                    .arg(s->aborted);
    t += QStringLiteral("Serials given back, to be handed out again: %1\n").arg(s->freeSerials);
    if (!s->voided.isEmpty())
        t += QStringLiteral("Void serials: %1\n").arg(s->voided.join(QLatin1String(", ")));
    if (!s->unconfirmed.isEmpty()) {
        t +=
            QStringLiteral(
                "Unconfirmed serials (%1): taken by a run that ended before it recorded the card's "
                "result; the card may carry them, and they are never handed out again:\n")
                .arg(s->unconfirmed.size());
        for (const auto& r : s->unconfirmed) t += cardText(r);
    }
    if (!s->inProgress.isEmpty()) {
        t += QStringLiteral("Cards in work in a run that is still going (%1):\n")
                 .arg(s->inProgress.size());
        for (const auto& r : s->inProgress) t += cardText(r);
    }
    std::fputs(qPrintable(t), stdout);
    return 0;
}

QString logCommandsHelp() {
    return QStringLiteral(
        "\n"
        "Production log:\n"
        "  kelvano-cli log summary [JOB] [--log LOG]    counts, given-back, void and unconfirmed "
        "serials\n"
        "  kelvano-cli log export --csv FILE [JOB] [--log LOG]   every card as one CSV row\n");
}

}  // namespace kelvano

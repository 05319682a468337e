// kelvano-cli log summary | export | show | watch | settle: reports from a production log,
// and the settling of serials that a run which died left unconfirmed.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <csignal>
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

QString orDash(const QString& v) { return v.isEmpty() ? QStringLiteral("-") : v; }

QString historyText(const LogReports::History& h) {
    QString t = QStringLiteral("Serial %1\n").arg(h.serial);
    if (h.pools.isEmpty()) t += QStringLiteral("  in no pool\n");
    for (const auto& p : h.pools) t += QStringLiteral("  pool %1: %2\n").arg(p.pool, p.state);
    t += QStringLiteral("Cards (%1):\n").arg(h.cards.size());
    for (const auto& r : h.cards)
        t += QStringLiteral("  card %1  %2  %3 port %4  user %5  job %6 (%7)  %8  %9: %10  %11\n")
                 .arg(QString::number(r.id), r.started, r.station, r.port, orDash(r.user), r.job,
                      r.jobHash, r.result, orDash(r.step))
                 .arg(orDash(r.message))
                 .arg(r.durationMs < 0
                          ? QStringLiteral("-")
                          : QStringLiteral("%1 s").arg(r.durationMs / 1000.0, 0, 'f', 1));
    t += QStringLiteral("Settlements (%1):\n").arg(h.settlements.size());
    for (const auto& st : h.settlements)
        t += QStringLiteral("  %1  %2 by %3 at %4 (card %5, pool %6)\n")
                 .arg(st.settled, st.how, st.user, st.station, QString::number(st.cardId), st.pool);
    return t;
}

QJsonObject historyJson(const LogReports::History& h) {
    QJsonArray pools, cards, settlements;
    for (const auto& p : h.pools) pools.append(QJsonObject{{"pool", p.pool}, {"state", p.state}});
    for (const auto& r : h.cards) cards.append(LogReports::cardJson(r));
    for (const auto& st : h.settlements)
        settlements.append(QJsonObject{{"pool", st.pool},
                                       {"how", st.how},
                                       {"settled", st.settled},
                                       {"station", st.station},
                                       {"user", st.user},
                                       {"card", st.cardId}});
    return {{"serial", h.serial}, {"pools", pools}, {"cards", cards}, {"settlements", settlements}};
}

int showSerial(const CliArgs& args, ProductionLog& log) {
    if (args.positional.size() != 2) return usage(QStringLiteral("log show takes one SERIAL"));
    QString error;
    const auto h = log.reports().history(args.positional[1], error);
    if (!h) return failed(QStringLiteral("%1: %2").arg(log.shown(), error));
    if (h->cards.isEmpty() && h->pools.isEmpty() && h->settlements.isEmpty())
        return failed(QStringLiteral("serial %1 is not in the log %2").arg(h->serial, log.shown()));
    const QString json = args.options.value(QStringLiteral("json"));
    if (json.isEmpty()) {
        std::fputs(qPrintable(historyText(*h)), stdout);
        return 0;
    }
    const QByteArray text = QJsonDocument(historyJson(*h)).toJson(QJsonDocument::Indented);
    if (json == QLatin1String("-")) {
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        return 0;
    }
    QFile out(json);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size())
        return failed(QStringLiteral("%1 can't be written: %2").arg(json, out.errorString()));
    std::printf("%s written\n", qPrintable(json));
    return 0;
}

QString floorText(const QString& shown, const QList<LogReports::Station>& stations) {
    QString t =
        QStringLiteral("Log %1, %2 UTC: cards of the last hour\n")
            .arg(shown, QDateTime::currentDateTimeUtc().toString(QStringLiteral("HH:mm:ss")));
    t += QStringLiteral("%1 %2 %3 %4 %5 %6 %7  %8  %9\n")
             .arg(QStringLiteral("STATION"), -16)
             .arg(QStringLiteral("RUN"), -6)
             .arg(QStringLiteral("JOB"), -14)
             .arg(QStringLiteral("PASS"), 5)
             .arg(QStringLiteral("FAIL"), 5)
             .arg(QStringLiteral("ABORT"), 5)
             .arg(QStringLiteral("/MIN"), 5)
             .arg(QStringLiteral("UNCONFIRMED"), -12)
             .arg(QStringLiteral("LAST FAILURE"));
    for (const auto& s : stations)
        t += QStringLiteral("%1 %2 %3 %4 %5 %6 %7  %8  %9\n")
                 .arg(s.station, -16)
                 .arg(s.alive ? QStringLiteral("alive") : QStringLiteral("ended"), -6)
                 .arg(s.job, -14)
                 .arg(s.pass, 5)
                 .arg(s.fail, 5)
                 .arg(s.aborted, 5)
                 .arg(s.perMinute, 5, 'f', 1)
                 .arg(s.unconfirmed.isEmpty() ? QStringLiteral("-")
                                              : s.unconfirmed.join(QLatin1Char(',')),
                      -12)
                 .arg(orDash(s.lastFailure));
    if (stations.isEmpty()) t += QStringLiteral("(no run in the log yet)\n");
    return t;
}

std::atomic<bool> g_watchEnds{false};
void onWatchInterrupt(int) { g_watchEnds = true; }

// The floor, drawn again every two seconds on a terminal until q or Ctrl-C; one snapshot
// without a terminal.
int watchFloor(ProductionLog& log) {
    const bool live = ::isatty(STDOUT_FILENO) && ::isatty(STDIN_FILENO);
    termios before{};
    if (live && ::tcgetattr(STDIN_FILENO, &before) == 0) {
        termios raw = before;
        raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    g_watchEnds = false;
    const auto oldInt = std::signal(SIGINT, onWatchInterrupt);
    int status = 0;
    for (;;) {
        QString error;
        const auto stations = log.reports().floor(error);
        if (!stations) {
            status = failed(QStringLiteral("%1: %2").arg(log.shown(), error));
            break;
        }
        const QString text = floorText(log.shown(), *stations);
        if (!live) {
            std::fputs(qPrintable(text), stdout);
            break;
        }
        std::printf("\033[H\033[2J%s(q ends)\n", qPrintable(text));
        std::fflush(stdout);
        pollfd in{STDIN_FILENO, POLLIN, 0};
        char key = 0;
        if (::poll(&in, 1, 2000) > 0 && ::read(STDIN_FILENO, &key, 1) == 1 && key == 'q') break;
        if (g_watchEnds) break;
    }
    std::signal(SIGINT, oldInt);
    if (live) ::tcsetattr(STDIN_FILENO, TCSANOW, &before);
    return status;
}

}  // namespace

int runLog(const CliArgs& args) {
    const QString what = args.positional.value(0);
    static const QStringList whats{QStringLiteral("summary"), QStringLiteral("export"),
                                   QStringLiteral("settle"), QStringLiteral("show"),
                                   QStringLiteral("watch")};
    if (!whats.contains(what))
        return usage(QStringLiteral("log takes summary, export, show, watch or settle"));
    const bool show = what == QLatin1String("show");
    if ((show || what == QLatin1String("watch")) &&
        args.options.value(QStringLiteral("log")).isEmpty())
        return usage(QStringLiteral("log %1 needs --log LOG").arg(what));
    // The job file: the last word after the command's own (settle has two of its own).
    const int jobAt = what == QLatin1String("settle") ? 3 : 1;
    if (!show && args.positional.size() > jobAt + 1)
        return usage(QStringLiteral("log %1 takes one job file at most").arg(what));
    QString error;
    std::optional<Job> job;
    if (!show && args.positional.size() == jobAt + 1) {
        job.emplace();
        if (!readJob(args.positional[jobAt], *job, error)) return failed(error);
    }
    QString where = args.options.value(QStringLiteral("log"));
    if (where.isEmpty() && job) where = job->log.isEmpty() ? job->defaultLogPath() : job->log;
    if (where.isEmpty())
        return usage(QStringLiteral("log %1 needs --log LOG (or a job file)").arg(what));
    if (ProductionLog::hasPassword(where))
        std::fprintf(stderr, "kelvano-cli: %s\n",
                     qPrintable(ProductionLog::passwordWarning(where)));
    // A report or a settlement is about a log that exists: none is made for it. Reports only
    // read: a read-only file or role will do.
    const bool settling = what == QLatin1String("settle");
    if (settling && !ProductionLog::isServerAddress(where) && !QFileInfo::exists(where))
        return failed(
            QStringLiteral("The log %1 can't be opened: there is no such file.").arg(where));
    auto log =
        settling ? ProductionLog::open(where, error) : ProductionLog::openForReading(where, error);
    if (!log) return failed(error);
    if (what == QLatin1String("export")) return exportCards(args, *log);
    if (settling) return settle(args, *log, job ? &*job : nullptr);
    if (show) return showSerial(args, *log);
    if (what == QLatin1String("watch")) return watchFloor(*log);
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
        "  kelvano-cli log show SERIAL --log LOG [--json FILE|-]\n"
        "               every card that carried SERIAL, its settlements, pool and state\n"
        "  kelvano-cli log watch --log LOG\n"
        "               every station's run, its cards of the last hour, its last failure and\n"
        "               unconfirmed serials, drawn again every 2 s until q or Ctrl-C\n"
        "  kelvano-cli log settle SERIAL spent|void|return [JOB] [--log LOG]\n"
        "               an unconfirmed serial: the card carries it (spent), it is never to be\n"
        "               used (void), or it goes back to the pool (return); recorded with the\n"
        "               time, station and user\n"
        "  A PostgreSQL password belongs in ~/.pgpass or PGPASSWORD, not in the address.\n");
}

}  // namespace kelvano

#include "production/LogReports.h"

#include <QDateTime>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSqlQuery>

#include "production/Job.h"
#include "production/LogConnection.h"
#include "production/SerialPool.h"

namespace kelvano {

using namespace LogTypes;

namespace {

const char* const kCardColumns =
    "c.id, c.started, c.ended, c.station, c.port, c.job, c.job_hash, c.serial, c.result, "
    "c.failed_step, c.message, c.card_type, c.duration_ms, r.pid, r.ended, %1 - r.heartbeat, "
    "c.pool, c.run_id, %2";

QString csvField(const QString& v) {
    if (!v.contains(u',') && !v.contains(u'"') && !v.contains(u'\n') && !v.contains(u'\r'))
        return v;
    QString q = v;
    q.replace(QLatin1String("\""), QLatin1String("\"\""));
    return u'"' + q + u'"';
}

bool writeFile(const QString& file, const QByteArray& data, QString& error) {
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit()) {
        error = QStringLiteral("%1 can't be written: %2").arg(file, out.errorString());
        return false;
    }
    return true;
}

}  // namespace

QList<Row> LogReports::rows(const QString& tail, const QVariantList& values, QString& error) {
    QList<Row> out;
    db_.select(QStringLiteral("SELECT %1 FROM cards c LEFT JOIN runs r ON r.id = c.run_id ")
                       .arg(QString::fromLatin1(kCardColumns)
                                .arg(db_.nowSql(), withUsers_ ? QStringLiteral("r.user_name")
                                                              : QStringLiteral("NULL"))) +
                   tail,
               values, error, [&](const QSqlQuery& q) {
                   Row r;
                   r.id = q.value(0).toLongLong();
                   r.started = q.value(1).toString();
                   r.ended = q.value(2).toString();
                   r.station = q.value(3).toString();
                   r.port = q.value(4).toString();
                   r.job = q.value(5).toString();
                   r.jobHash = q.value(6).toString();
                   r.serial = q.value(7).toString();
                   r.result = q.value(8).toString();
                   r.step = q.value(9).toString();
                   r.message = q.value(10).toString();
                   r.cardType = q.value(11).toInt();
                   r.durationMs = q.value(12).isNull() ? -1 : q.value(12).toLongLong();
                   r.runPid = q.value(13).toLongLong();
                   r.runEnded = !q.value(14).isNull();
                   r.heartbeatAgeMs = q.value(15).isNull() ? -1 : q.value(15).toLongLong();
                   r.pool = q.value(16).toString();
                   r.runId = q.value(17).toLongLong();
                   r.user = q.value(18).toString();
                   out.append(r);
               });
    return out;
}

std::optional<Outlook> LogReports::outlook(const Job& job, QString& error) {
    Outlook o;
    if (!job.serial) return o;
    const SerialPlan& plan = *job.serial;
    QHash<QString, QString> held;  // num -> state
    std::optional<uint64_t> next;  // the first given-back value, by its place in the plan
    if (!db_.select(QStringLiteral("SELECT num, state FROM serial_values WHERE pool = ?"),
                    {SerialPool::poolOf(job)}, error, [&](const QSqlQuery& q) {
                        held.insert(q.value(0).toString(), q.value(1).toString());
                        if (q.value(1).toString() != QLatin1String("free")) return;
                        const auto index = plan.indexOf(q.value(0).toString().toULongLong());
                        if (index && (!next || *index < *next)) next = index;
                    }))
        return std::nullopt;
    o.givenBack = next.has_value();
    // The values before the next one that the pool holds, as ranges of neighbours in the plan.
    qint64 rangeStart = -1;
    const auto closeRange = [&](uint64_t end) {
        if (rangeStart < 0) return;
        if (o.skippedRanges.size() < 5) {
            const QString first = plan.text(*plan.valueAt(uint64_t(rangeStart)));
            o.skippedRanges << (uint64_t(rangeStart) + 1 == end
                                    ? first
                                    : first + u'-' + plan.text(*plan.valueAt(end - 1)));
        }
        rangeStart = -1;
    };
    for (uint64_t idx = 0;; ++idx) {
        const auto value = plan.valueAt(idx);
        if (!value) {  // none left
            closeRange(idx);
            return o;
        }
        const auto state = held.constFind(QString::number(qulonglong(*value)));
        if (next ? idx == *next : state == held.cend()) {
            closeRange(idx);
            o.next = plan.text(*value);
            return o;
        }
        if (state == held.cend() || *state == QLatin1String("free")) {
            closeRange(idx);
            continue;
        }
        ++o.skipped;
        if (rangeStart < 0) rangeStart = qint64(idx);
    }
}

std::optional<Summary> LogReports::summary(QString& error, const QString& job) {
    Summary s;
    error.clear();
    const QString onJob = job.isEmpty() ? QString() : QStringLiteral(" AND job = ?");
    const QVariantList jobValue = job.isEmpty() ? QVariantList{} : QVariantList{job};
    const bool ok =
        db_.select(
            QStringLiteral("SELECT result, count(*) FROM cards WHERE 1 = 1%1 GROUP BY result")
                .arg(onJob),
            jobValue, error,
            [&](const QSqlQuery& q) {
                const QString r = q.value(0).toString();
                const int n = q.value(1).toInt();
                if (r == QLatin1String("pass")) s.pass = n;
                if (r == QLatin1String("fail")) s.fail = n;
                if (r == QLatin1String("aborted")) s.aborted = n;
                if (r == QLatin1String("settled")) s.settled = n;
            }) &&
        db_.select(QStringLiteral("SELECT value, state FROM serial_values WHERE state IN ('void', "
                                  "'free')%1 ORDER BY pool, length(num), num")
                       .arg(onJob),
                   jobValue, error,
                   [&](const QSqlQuery& q) {
                       if (q.value(1).toString() == QLatin1String("void"))
                           s.voided.append(q.value(0).toString());
                       else
                           ++s.freeSerials;
                   }) &&
        db_.select(
            QStringLiteral("SELECT DISTINCT job FROM runs WHERE 1 = 1%1 ORDER BY job").arg(onJob),
            jobValue, error, [&](const QSqlQuery& q) { s.jobs.append(q.value(0).toString()); });
    if (!ok) return std::nullopt;
    for (const Row& r : rows(QStringLiteral("WHERE c.result = 'pending'%1 ORDER BY c.id")
                                 .arg(job.isEmpty() ? QString() : QStringLiteral(" AND c.job = ?")),
                             jobValue, error))
        (SerialPool::runAlive(r, station_) ? s.inProgress : s.unconfirmed).append(r);
    if (!error.isEmpty()) return std::nullopt;
    return s;
}

QList<Row> LogReports::lastCards(int count, QString& error) {
    return rows(QStringLiteral("ORDER BY c.id DESC LIMIT ?"), {count}, error);
}

bool LogReports::exportCsv(const QString& file, QString& error) {
    error.clear();
    const QList<Row> all = rows(QStringLiteral("ORDER BY c.id"), {}, error);
    if (!error.isEmpty()) return false;
    QString text = QStringLiteral(
        "id,started,ended,station,port,card_type,job,job_hash,serial,result,"
        "failed_step,message,duration_ms,pool,run,user\n");
    for (const Row& r : all) {
        const QStringList f{QString::number(r.id),
                            r.started,
                            r.ended,
                            r.station,
                            r.port,
                            QString::number(r.cardType),
                            r.job,
                            r.jobHash,
                            r.serial,
                            r.result,
                            r.step,
                            r.message,
                            r.durationMs < 0 ? QString() : QString::number(r.durationMs),
                            r.pool,
                            QString::number(r.runId),
                            r.user};
        QStringList quoted;
        for (const QString& v : f) quoted.append(csvField(v));
        text += quoted.join(u',') + u'\n';
    }
    return writeFile(file, text.toUtf8(), error);
}

QJsonObject LogReports::cardJson(const LogTypes::Row& r) {
    const auto orNull = [](const QString& v) { return v.isEmpty() ? QJsonValue() : QJsonValue(v); };
    return {{"id", r.id},
            {"started", r.started},
            {"ended", orNull(r.ended)},
            {"station", r.station},
            {"port", r.port},
            {"user", orNull(r.user)},
            {"card_type", r.cardType},
            {"job", r.job},
            {"job_hash", r.jobHash},
            {"serial", orNull(r.serial)},
            {"result", r.result},
            {"failed_step", orNull(r.step)},
            {"message", orNull(r.message)},
            {"duration_ms", r.durationMs < 0 ? QJsonValue() : QJsonValue(r.durationMs)},
            {"pool", orNull(r.pool)},
            {"run", r.runId}};
}

bool LogReports::exportJson(const QString& file, QString& error) {
    error.clear();
    const QList<Row> all = rows(QStringLiteral("ORDER BY c.id"), {}, error);
    if (!error.isEmpty()) return false;
    QByteArray text;
    for (const Row& r : all)
        text += QJsonDocument(cardJson(r)).toJson(QJsonDocument::Compact) + '\n';
    return writeFile(file, text, error);
}

QStringList LogReports::serialStates(const QString& pool, QString& error) {
    QStringList out;
    db_.select(QStringLiteral("SELECT value, state FROM serial_values WHERE pool = ? ORDER BY "
                              "length(num), num"),
               {pool}, error, [&](const QSqlQuery& q) {
                   out.append(q.value(0).toString() + u' ' + q.value(1).toString());
               });
    return out;
}

std::optional<LogReports::History> LogReports::history(const QString& serial, QString& error) {
    error.clear();
    History h;
    h.serial = serial;
    h.cards = rows(QStringLiteral("WHERE c.serial = ? ORDER BY c.id"), {serial}, error);
    const bool ok =
        error.isEmpty() &&
        db_.select(QStringLiteral("SELECT pool, how, settled, station, user_name, card_id FROM "
                                  "settlements WHERE serial = ? OR num = ? ORDER BY id"),
                   {serial, serial}, error,
                   [&](const QSqlQuery& q) {
                       h.settlements.append({q.value(0).toString(), q.value(1).toString(),
                                             q.value(2).toString(), q.value(3).toString(),
                                             q.value(4).toString(), q.value(5).toLongLong()});
                   }) &&
        db_.select(QStringLiteral("SELECT pool, state FROM serial_values WHERE value = ? OR num "
                                  "= ? ORDER BY pool"),
                   {serial, serial}, error, [&](const QSqlQuery& q) {
                       h.pools.append({q.value(0).toString(), q.value(1).toString()});
                   });
    if (!ok) return std::nullopt;
    return h;
}

std::optional<QList<LogReports::Station>> LogReports::floor(QString& error) {
    error.clear();
    QList<Station> out;
    QHash<QString, int> at;  // station -> index in out
    const auto of = [&](const QString& station) -> Station& {
        if (!at.contains(station)) {
            at.insert(station, int(out.size()));
            out.append(Station{});
            out.last().station = station;
        }
        return out[at.value(station)];
    };
    // Every run: the station's latest job, and whether any of its runs goes on.
    if (!db_.select(QStringLiteral("SELECT station, job, pid, ended, %1 - heartbeat FROM runs "
                                   "ORDER BY id")
                        .arg(db_.nowSql()),
                    {}, error, [&](const QSqlQuery& q) {
                        Station& s = of(q.value(0).toString());
                        Row run;
                        run.station = s.station;
                        run.runPid = q.value(2).toLongLong();
                        run.runEnded = !q.value(3).isNull();
                        run.heartbeatAgeMs = q.value(4).isNull() ? -1 : q.value(4).toLongLong();
                        s.job = q.value(1).toString();
                        s.pid = run.runPid;
                        s.heartbeatAgeMs = run.heartbeatAgeMs;
                        s.alive = s.alive || SerialPool::runAlive(run, station_);
                    }))
        return std::nullopt;
    const QString hourAgo =
        QDateTime::currentDateTimeUtc().addSecs(-3600).toString(Qt::ISODateWithMs);
    QHash<QString, QDateTime> since;  // station -> its first finished card of the hour
    for (const Row& r : rows(QStringLiteral("WHERE c.started >= ? OR c.result IN ('pending', "
                                            "'fail') ORDER BY c.id"),
                             {hourAgo}, error)) {
        Station& s = of(r.station);
        if (r.result == QLatin1String("fail"))
            s.lastFailure = QStringLiteral("%1 %2: %3").arg(r.serial, r.step, r.message);
        if (r.result == QLatin1String("pending") && !SerialPool::runAlive(r, station_))
            s.unconfirmed.append(r.serial);
        if (r.started < hourAgo) continue;
        if (r.result != QLatin1String("pending") && !since.contains(r.station))
            since.insert(r.station, QDateTime::fromString(r.started, Qt::ISODateWithMs));
        if (r.result == QLatin1String("pass")) ++s.pass;
        if (r.result == QLatin1String("fail")) ++s.fail;
        if (r.result == QLatin1String("aborted")) ++s.aborted;
    }
    if (!error.isEmpty()) return std::nullopt;
    // Over the time since the station's first card of the hour (a run that began minutes ago
    // is not spread over the whole hour), but at least ten seconds.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (Station& s : out) {
        const qint64 ms = since.contains(s.station) ? since.value(s.station).msecsTo(now) : 0;
        s.perMinute = (s.pass + s.fail + s.aborted) * 60000.0 / double(qMax<qint64>(ms, 10000));
    }
    return out;
}

}  // namespace kelvano

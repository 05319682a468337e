#include "production/ProductionLog.h"

#include <signal.h>
#include <unistd.h>

#include <QAtomicInt>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSysInfo>
#include <QTimeZone>
#include <QUrl>
#include <QUrlQuery>
#include <cerrno>

#include "production/Job.h"

namespace kelvano {

namespace {

QAtomicInt g_connections;

QString now() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs); }

// The tables; %1 is the key column of the tables with a generated key.
const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS kelvano_log (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS runs (id %1, station TEXT NOT NULL, pid BIGINT NOT NULL, "
    "job TEXT NOT NULL, job_hash TEXT NOT NULL, started TEXT NOT NULL, ended TEXT)",
    "CREATE TABLE IF NOT EXISTS pools (job TEXT PRIMARY KEY, next_index BIGINT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS serials (job TEXT NOT NULL, idx BIGINT NOT NULL, "
    "num TEXT NOT NULL, value TEXT NOT NULL, state TEXT NOT NULL, card_id BIGINT, "
    "PRIMARY KEY (job, idx), UNIQUE (job, num))",
    "CREATE TABLE IF NOT EXISTS cards (id %1, run_id BIGINT NOT NULL, station TEXT NOT NULL, "
    "port TEXT NOT NULL, card_type INTEGER NOT NULL, job TEXT NOT NULL, job_hash TEXT NOT NULL, "
    "serial TEXT, serial_idx BIGINT, started TEXT NOT NULL, ended TEXT, result TEXT NOT NULL, "
    "failed_step TEXT, message TEXT, duration_ms BIGINT)",
};

const char* const kCardColumns =
    "c.id, c.started, c.ended, c.station, c.port, c.job, c.job_hash, c.serial, c.result, "
    "c.failed_step, c.message, c.card_type, c.duration_ms, r.pid";

bool processAlive(qint64 pid) { return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM); }

QString csvField(const QString& v) {
    if (!v.contains(u',') && !v.contains(u'"') && !v.contains(u'\n') && !v.contains(u'\r'))
        return v;
    QString q = v;
    q.replace(QLatin1String("\""), QLatin1String("\"\""));
    return u'"' + q + u'"';
}

}  // namespace

bool ProductionLog::isServerAddress(const QString& where) {
    return where.startsWith(QLatin1String("postgresql://")) ||
           where.startsWith(QLatin1String("postgres://"));
}

ProductionLog::~ProductionLog() {
    if (connection_.isEmpty()) return;
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen()) db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

std::unique_ptr<ProductionLog> ProductionLog::open(const QString& where, QString& error,
                                                   int lockWaitMs) {
    std::unique_ptr<ProductionLog> log(new ProductionLog);
    log->where_ = where;
    log->server_ = isServerAddress(where);
    log->station_ = QSysInfo::machineHostName();
    log->connection_ = QStringLiteral("kelvano-log-%1").arg(g_connections.fetchAndAddRelaxed(1));
    const QString driver = log->server_ ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        error = QStringLiteral("The log %1 needs the Qt SQL driver %2, which is not installed.")
                    .arg(where, driver);
        return nullptr;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, log->connection_);
    if (log->server_) {
        const QUrl url(where);
        const QUrlQuery query(url);
        db.setDatabaseName(url.path().mid(1));
        db.setUserName(url.userName());
        db.setPassword(url.password());
        db.setHostName(query.hasQueryItem(QStringLiteral("host"))
                           ? query.queryItemValue(QStringLiteral("host"))
                           : url.host());
        const int port = query.hasQueryItem(QStringLiteral("port"))
                             ? query.queryItemValue(QStringLiteral("port")).toInt()
                             : url.port(-1);
        if (port > 0) db.setPort(port);
        db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(qMax(1, lockWaitMs / 1000)));
    } else {
        db.setDatabaseName(where);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(lockWaitMs));
    }
    if (!db.open()) {
        error = QStringLiteral("The log %1 can't be opened: %2").arg(where, db.lastError().text());
        return nullptr;
    }
    if (!log->server_) {
        // Write-ahead logging: one sync per transaction instead of three, and a summary that
        // reads while the workers write. Refused on a file that is not a database, which the
        // schema check below reports.
        QString ignored;
        log->exec(QStringLiteral("PRAGMA journal_mode=WAL"), {}, ignored);
    }
    if (!log->createSchema(error)) return nullptr;
    return log;
}

bool ProductionLog::exec(const QString& sql, const QVariantList& values, QString& error,
                         QVariant* first) {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    // Statements without values run as they are: PostgreSQL prepares no transaction control.
    bool ok = values.isEmpty() ? q.exec(sql) : q.prepare(sql);
    if (ok && !values.isEmpty()) {
        for (const QVariant& v : values) q.addBindValue(v);
        ok = q.exec();
    }
    if (!ok) {
        error = q.lastError().text();
        return false;
    }
    if (first) *first = q.next() ? q.value(0) : QVariant();
    return true;
}

bool ProductionLog::begin(QString& error) {
    // SQLite takes its write lock at once, so that two takers never both read the pool
    // before either writes; PostgreSQL locks the pool row (FOR UPDATE) instead.
    return exec(server_ ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"), {}, error);
}

bool ProductionLog::commit(QString& error) { return exec(QStringLiteral("COMMIT"), {}, error); }

void ProductionLog::rollback() {
    QString ignored;
    exec(QStringLiteral("ROLLBACK"), {}, ignored);
}

bool ProductionLog::createSchema(QString& error) {
    QString why;
    const auto failed = [&](const QString& text) {
        rollback();
        const bool locked = text.contains(QLatin1String("locked"), Qt::CaseInsensitive) ||
                            text.contains(QLatin1String("busy"), Qt::CaseInsensitive);
        error = locked ? QStringLiteral("The log %1 is locked by another program.").arg(where_)
                       : QStringLiteral("%1 is not a KELVANO log (%2).").arg(where_, text);
        return false;
    };
    if (!begin(why)) return failed(why);
    if (server_ && !exec(QStringLiteral("SELECT pg_advisory_xact_lock(475261)"), {}, why))
        return failed(why);
    QVariant tables, ours;
    const QString count =
        server_ ? QStringLiteral(
                      "SELECT count(*) FROM information_schema.tables WHERE table_schema = "
                      "current_schema()")
                : QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table'");
    if (!exec(count, {}, why, &tables)) return failed(why);
    if (!exec(count + (server_ ? QStringLiteral(" AND table_name = 'kelvano_log'")
                               : QStringLiteral(" AND name = 'kelvano_log'")),
              {}, why, &ours))
        return failed(why);
    if (tables.toInt() > 0 && ours.toInt() == 0)
        return failed(QStringLiteral("it holds other tables"));
    if (ours.toInt() > 0) {
        QVariant format;
        if (!exec(QStringLiteral("SELECT value FROM kelvano_log WHERE key = 'format'"), {}, why,
                  &format))
            return failed(why);
        if (format.toString() != QLatin1String("1"))
            return failed(QStringLiteral("log format \"%1\" is not known").arg(format.toString()));
        return commit(error);
    }
    const QString key = server_ ? QStringLiteral("BIGSERIAL PRIMARY KEY")
                                : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
    for (const char* sql : kSchema)
        if (!exec(QString::fromLatin1(sql).replace(QLatin1String("%1"), key), {}, why))
            return failed(why);
    if (!exec(QStringLiteral("INSERT INTO kelvano_log (key, value) VALUES ('format', '1')"), {},
              why))
        return failed(why);
    return commit(error);
}

bool ProductionLog::beginRun(const Job& job, QString& error) {
    QVariant id;
    if (!exec(QStringLiteral("INSERT INTO runs (station, pid, job, job_hash, started) VALUES (?, "
                             "?, ?, ?, ?) RETURNING id"),
              {station_, qint64(::getpid()), job.name, job.hash, now()}, error, &id))
        return false;
    runId_ = id.toLongLong();
    return exec(
        QStringLiteral(
            "INSERT INTO pools (job, next_index) VALUES (?, 0) ON CONFLICT (job) DO NOTHING"),
        {job.name}, error);
}

bool ProductionLog::endRun() {
    if (!runId_) return true;
    QString error;
    return exec(QStringLiteral("UPDATE runs SET ended = ? WHERE id = ?"), {now(), runId_}, error);
}

ProductionLog::Take ProductionLog::takeCard(const Job& job, const QString& port, Card& card,
                                            QString& error) {
    card = Card{};
    card.startedMs = QDateTime::currentMSecsSinceEpoch();
    if (!begin(error)) return Take::Failed;
    auto fail = [&] {
        rollback();
        return Take::Failed;
    };
    if (job.serial) {
        const Take taken = takeSerial(job, card, error);
        if (taken != Take::Ok) {
            rollback();
            return taken;
        }
    }
    QVariant id;
    const QVariant serial =
        job.serial ? QVariant(card.serialText) : QVariant(QMetaType(QMetaType::QString));
    const QVariant idx =
        job.serial ? QVariant(card.serialIndex) : QVariant(QMetaType(QMetaType::LongLong));
    if (!exec(QStringLiteral(
                  "INSERT INTO cards (run_id, station, port, card_type, job, job_hash, serial, "
                  "serial_idx, "
                  "started, result) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, 'pending') RETURNING id"),
              {runId_, station_, port, job.card, job.name, job.hash, serial, idx,
               QDateTime::fromMSecsSinceEpoch(card.startedMs, Qt::UTC).toString(Qt::ISODateWithMs)},
              error, &id))
        return fail();
    card.id = id.toLongLong();
    if (job.serial &&
        !exec(QStringLiteral(
                  "UPDATE serials SET state = 'taken', card_id = ? WHERE job = ? AND idx = ?"),
              {card.id, job.name, card.serialIndex}, error))
        return fail();
    if (!commit(error)) return fail();
    return Take::Ok;
}

// The card's serial: the first given-back one, else a new one. Within takeCard's transaction;
// the caller rolls back when this fails.
ProductionLog::Take ProductionLog::takeSerial(const Job& job, Card& card, QString& error) {
    const SerialPlan& plan = *job.serial;
    QVariant next;
    if (!exec(QStringLiteral("SELECT next_index FROM pools WHERE job = ?") +
                  (server_ ? QStringLiteral(" FOR UPDATE") : QString()),
              {job.name}, error, &next))
        return Take::Failed;
    if (!next.isValid()) {
        error = QStringLiteral("the log has no serial pool for job \"%1\"").arg(job.name);
        return Take::Failed;
    }
    QVariant freed;
    if (!exec(QStringLiteral("SELECT idx FROM serials WHERE job = ? AND state = 'free' ORDER "
                             "BY idx LIMIT 1"),
              {job.name}, error, &freed))
        return Take::Failed;
    if (freed.isValid()) {
        card.serialIndex = freed.toLongLong();
        QVariant num;
        if (!exec(QStringLiteral("SELECT num FROM serials WHERE job = ? AND idx = ?"),
                  {job.name, card.serialIndex}, error, &num))
            return Take::Failed;
        card.serialValue = num.toString().toULongLong();
    } else {
        const Take taken = takeNewSerial(job, next.toLongLong(), card, error);
        if (taken != Take::Ok) return taken;
    }
    card.serialText = plan.text(card.serialValue);
    return Take::Ok;
}

// The next value of the sequence from index `next` on that the log does not hold yet (a job
// whose start was changed must not meet its old values again), entered as taken.
ProductionLog::Take ProductionLog::takeNewSerial(const Job& job, qint64 next, Card& card,
                                                 QString& error) {
    const SerialPlan& plan = *job.serial;
    qint64 idx = next;
    for (;; ++idx) {
        const auto value = plan.valueAt(uint64_t(idx));
        if (!value) {
            error = QStringLiteral("The last serial number of job \"%1\" has been handed out.")
                        .arg(job.name);
            return Take::Exhausted;
        }
        QVariant seen;
        if (!exec(QStringLiteral("SELECT count(*) FROM serials WHERE job = ? AND num = ?"),
                  {job.name, QString::number(qulonglong(*value))}, error, &seen))
            return Take::Failed;
        if (seen.toInt() == 0) {
            card.serialValue = *value;
            break;
        }
    }
    card.serialIndex = idx;
    if (!exec(QStringLiteral("INSERT INTO serials (job, idx, num, value, state) VALUES (?, "
                             "?, ?, ?, 'taken')"),
              {job.name, idx, QString::number(qulonglong(card.serialValue)),
               plan.text(card.serialValue)},
              error) ||
        !exec(QStringLiteral("UPDATE pools SET next_index = ? WHERE job = ?"), {idx + 1, job.name},
              error))
        return Take::Failed;
    return Take::Ok;
}

bool ProductionLog::finishCard(const Job& job, const Card& card, Result result, const QString& step,
                               const QString& message, QString& error) {
    const qint64 end = QDateTime::currentMSecsSinceEpoch();
    if (!begin(error)) return false;
    const QVariant noText{QMetaType(QMetaType::QString)};
    bool ok =
        exec(QStringLiteral("UPDATE cards SET ended = ?, result = ?, failed_step = ?, message = ?, "
                            "duration_ms = ? WHERE id = ?"),
             {QDateTime::fromMSecsSinceEpoch(end, Qt::UTC).toString(Qt::ISODateWithMs),
              resultText(result), step.isEmpty() ? noText : QVariant(step),
              message.isEmpty() ? noText : QVariant(message), end - card.startedMs, card.id},
             error);
    if (ok && card.serialIndex >= 0) {
        const QString state = result == Result::Pass ? QStringLiteral("spent")
                              : job.voidOnFail       ? QStringLiteral("void")
                                                     : QStringLiteral("free");
        ok = exec(QStringLiteral("UPDATE serials SET state = ?, card_id = ? WHERE job = ? AND idx "
                                 "= ? AND card_id = ?"),
                  {state,
                   state == QLatin1String("free") ? QVariant(QMetaType(QMetaType::LongLong))
                                                  : QVariant(card.id),
                   job.name, card.serialIndex, card.id},
                  error);
    }
    if (!ok) {
        rollback();
        return false;
    }
    return commit(error);
}

QString ProductionLog::nextSerial(const Job& job, QString& error) {
    if (!job.serial) return {};
    QVariant freed, next;
    if (!exec(
            QStringLiteral(
                "SELECT value FROM serials WHERE job = ? AND state = 'free' ORDER BY idx LIMIT 1"),
            {job.name}, error, &freed) ||
        !exec(QStringLiteral("SELECT next_index FROM pools WHERE job = ?"), {job.name}, error,
              &next))
        return {};
    if (freed.isValid()) return freed.toString();
    for (qint64 idx = next.isValid() ? next.toLongLong() : 0;; ++idx) {
        const auto value = job.serial->valueAt(uint64_t(idx));
        if (!value) return {};
        QVariant seen;
        if (!exec(QStringLiteral("SELECT count(*) FROM serials WHERE job = ? AND num = ?"),
                  {job.name, QString::number(qulonglong(*value))}, error, &seen))
            return {};
        if (seen.toInt() == 0) return job.serial->text(*value);
    }
}

QString ProductionLog::resultText(Result r) {
    switch (r) {
        case Result::Pass:
            return QStringLiteral("pass");
        case Result::Fail:
            return QStringLiteral("fail");
        case Result::Aborted:
            return QStringLiteral("aborted");
    }
    return {};
}

QList<ProductionLog::Row> ProductionLog::rows(const QString& tail, const QVariantList& values,
                                              QString& error) {
    QList<Row> out;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT %1 FROM cards c LEFT JOIN runs r ON r.id = c.run_id ")
                       .arg(QLatin1String(kCardColumns)) +
                   tail)) {
        error = q.lastError().text();
        return out;
    }
    for (const QVariant& v : values) q.addBindValue(v);
    if (!q.exec()) {
        error = q.lastError().text();
        return out;
    }
    while (q.next()) {
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
        r.durationMs = q.value(12).toLongLong();
        r.runPid = q.value(13).toLongLong();
        out.append(r);
    }
    return out;
}

std::optional<ProductionLog::Summary> ProductionLog::summary(QString& error) {
    Summary s;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    if (!q.exec(QStringLiteral("SELECT result, count(*) FROM cards GROUP BY result"))) {
        error = q.lastError().text();
        return std::nullopt;
    }
    while (q.next()) {
        const QString r = q.value(0).toString();
        const int n = q.value(1).toInt();
        if (r == QLatin1String("pass"))
            s.pass = n;
        else if (r == QLatin1String("fail"))
            s.fail = n;
        else if (r == QLatin1String("aborted"))
            s.aborted = n;
    }
    error.clear();
    const QString host = QSysInfo::machineHostName();
    for (const Row& r :
         rows(QStringLiteral("WHERE c.result = 'pending' ORDER BY c.id"), {}, error)) {
        // A card of a run that is still going on this host is not a lost one.
        if (r.station == host && (r.runPid == ::getpid() || processAlive(r.runPid)))
            s.inProgress.append(r);
        else
            s.unconfirmed.append(r);
    }
    if (!error.isEmpty()) return std::nullopt;
    if (!q.exec(QStringLiteral("SELECT value, state FROM serials WHERE state IN ('void', 'free') "
                               "ORDER BY job, idx"))) {
        error = q.lastError().text();
        return std::nullopt;
    }
    while (q.next()) {
        if (q.value(1).toString() == QLatin1String("void"))
            s.voided.append(q.value(0).toString());
        else
            ++s.freeSerials;
    }
    if (!q.exec(QStringLiteral("SELECT DISTINCT job FROM runs ORDER BY job"))) {
        error = q.lastError().text();
        return std::nullopt;
    }
    while (q.next()) s.jobs.append(q.value(0).toString());
    return s;
}

QList<ProductionLog::Row> ProductionLog::lastCards(int count, QString& error) {
    QList<Row> r = rows(QStringLiteral("ORDER BY c.id DESC LIMIT ?"), {count}, error);
    return r;
}

bool ProductionLog::exportCsv(const QString& file, QString& error) {
    error.clear();
    const QList<Row> all = rows(QStringLiteral("ORDER BY c.id"), {}, error);
    if (!error.isEmpty()) return false;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text)) {
        error = QStringLiteral("%1 can't be written: %2").arg(file, out.errorString());
        return false;
    }
    QString text = QStringLiteral(
        "id,started,ended,station,port,card_type,job,job_hash,serial,result,"
        "failed_step,message,duration_ms\n");
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
                            r.ended.isEmpty() ? QString() : QString::number(r.durationMs)};
        QStringList quoted;
        for (const QString& v : f) quoted.append(csvField(v));
        text += quoted.join(u',') + u'\n';
    }
    out.write(text.toUtf8());
    if (!out.commit()) {
        error = QStringLiteral("%1 can't be written: %2").arg(file, out.errorString());
        return false;
    }
    return true;
}

QStringList ProductionLog::serialStates(const QString& job, QString& error) {
    QStringList out;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QStringLiteral("SELECT value, state FROM serials WHERE job = ? ORDER BY idx"));
    q.addBindValue(job);
    if (!q.exec()) {
        error = q.lastError().text();
        return out;
    }
    while (q.next()) out.append(q.value(0).toString() + u' ' + q.value(1).toString());
    return out;
}

}  // namespace kelvano

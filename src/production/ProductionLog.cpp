#include "production/ProductionLog.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <QAtomicInt>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStorageInfo>
#include <QSysInfo>
#include <QTimeZone>
#include <QUrl>
#include <QUrlQuery>
#include <cerrno>

#include "base/Clock.h"
#include "production/Job.h"

namespace kelvano {

namespace {

QAtomicInt g_connections;

QString now() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs); }

constexpr int kFormat = 2;
// Less room than this on the log's disk: a log that can't be set up is taken to have found
// the disk full.
constexpr qint64 kRoomNeeded = qint64(64) * 1024;
// A run whose heartbeat is older than this has died (it beats every few seconds).
constexpr qint64 kHeartbeatDeadMs = 20000;

// The tables; %1 is the key column of the tables with a generated key.
const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS kelvano_log (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS runs (id %1, station TEXT NOT NULL, pid BIGINT NOT NULL, "
    "job TEXT NOT NULL, job_hash TEXT NOT NULL, started TEXT NOT NULL, ended TEXT, "
    "heartbeat BIGINT)",
    "CREATE TABLE IF NOT EXISTS cards (id %1, run_id BIGINT NOT NULL, station TEXT NOT NULL, "
    "port TEXT NOT NULL, card_type INTEGER NOT NULL, job TEXT NOT NULL, job_hash TEXT NOT NULL, "
    "serial TEXT, serial_idx BIGINT, started TEXT NOT NULL, ended TEXT, result TEXT NOT NULL, "
    "failed_step TEXT, message TEXT, duration_ms BIGINT, pool TEXT, serial_num TEXT)",
};

// The serial pools, as the current log format has them.
const char* const kPoolSchema[] = {
    "CREATE TABLE serial_pools (pool TEXT PRIMARY KEY)",
    // Where each plan of a pool goes on: every value of the plan below next_index is held.
    "CREATE TABLE serial_plans (pool TEXT NOT NULL, plan TEXT NOT NULL, next_index BIGINT NOT "
    "NULL, PRIMARY KEY (pool, plan))",
    "CREATE TABLE serial_values (pool TEXT NOT NULL, num TEXT NOT NULL, value TEXT NOT NULL, "
    "state TEXT NOT NULL, card_id BIGINT, job TEXT, PRIMARY KEY (pool, num))",
    "CREATE TABLE settlements (id %1, pool TEXT NOT NULL, num TEXT NOT NULL, serial TEXT NOT "
    "NULL, how TEXT NOT NULL, settled TEXT NOT NULL, station TEXT NOT NULL, user_name TEXT NOT "
    "NULL, card_id BIGINT)",
};

const char* const kCardColumns =
    "c.id, c.started, c.ended, c.station, c.port, c.job, c.job_hash, c.serial, c.result, "
    "c.failed_step, c.message, c.card_type, c.duration_ms, r.pid, r.ended, %1 - r.heartbeat";

bool processAlive(qint64 pid) { return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM); }

QString userName() {
    if (const passwd* pw = ::getpwuid(::getuid())) return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER", QStringLiteral("?"));
}

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

QString ProductionLog::shownAddress(const QString& where) {
    if (!isServerAddress(where)) return where;
    const QUrl url(where);
    const QUrlQuery query(url);
    QString host = query.hasQueryItem(QStringLiteral("host"))
                       ? query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded)
                       : url.host();
    if (host.isEmpty()) host = QStringLiteral("localhost");
    const QString port = query.hasQueryItem(QStringLiteral("port"))
                             ? query.queryItemValue(QStringLiteral("port"))
                             : (url.port(-1) > 0 ? QString::number(url.port()) : QString());
    QString shown = url.userName(QUrl::FullyDecoded);
    if (!shown.isEmpty()) shown += u'@';
    shown += host;
    if (!port.isEmpty()) shown += u':' + port;
    return shown + url.path(QUrl::FullyDecoded);
}

bool ProductionLog::hasPassword(const QString& where) {
    if (!isServerAddress(where)) return false;
    const QUrl url(where);
    return !url.password().isEmpty() || QUrlQuery(url).hasQueryItem(QStringLiteral("password"));
}

QString ProductionLog::passwordWarning() {
    return QStringLiteral(
        "the log's address carries a password, which every user of this machine can read in "
        "the process list; keep it in ~/.pgpass or PGPASSWORD instead.");
}

QString ProductionLog::poolOf(const Job& job) {
    return job.serial && !job.serial->pool.isEmpty() ? job.serial->pool : QStringLiteral("default");
}

ProductionLog::~ProductionLog() {
    if (connection_.isEmpty()) return;
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen()) db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

void ProductionLog::setRetry(Clock* clock, int limitMs) {
    clock_ = clock ? clock : ownClock_.get();
    retryLimitMs_ = limitMs;
}

namespace {

// What is wrong with the log file before SQLite is asked: a missing or read-only folder, a
// read-only file. Empty when nothing is.
QString fileFault(const QString& where) {
    const QFileInfo file(where);
    const QString folder = file.absolutePath();
    if (!QFileInfo(folder).isDir())
        return QStringLiteral("The log %1 can't be created: the folder %2 does not exist.")
            .arg(where, folder);
    const bool folderWritable = ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
    if (!file.exists())
        return folderWritable
                   ? QString()
                   : QStringLiteral("The log %1 can't be created: the folder %2 is read-only.")
                         .arg(where, folder);
    if (::access(QFile::encodeName(where).constData(), W_OK) != 0)
        return QStringLiteral("The log %1 is read-only: it can't record cards.").arg(where);
    if (!folderWritable)
        return QStringLiteral(
                   "The log %1 can't be used: its folder %2 is read-only (the log keeps its "
                   "journal beside it).")
            .arg(where, folder);
    return {};
}

}  // namespace

std::unique_ptr<ProductionLog> ProductionLog::open(const QString& where, QString& error,
                                                   int lockWaitMs) {
    std::unique_ptr<ProductionLog> log(new ProductionLog);
    log->where_ = where;
    log->server_ = isServerAddress(where);
    log->lockWaitMs_ = lockWaitMs;
    log->station_ = QSysInfo::machineHostName();
    log->ownClock_ = std::make_unique<RealClock>();
    log->clock_ = log->ownClock_.get();
    log->connection_ = QStringLiteral("kelvano-log-%1").arg(g_connections.fetchAndAddRelaxed(1));
    const QString driver = log->server_ ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        error = QStringLiteral("The log %1 needs the Qt SQL driver %2, which is not installed.")
                    .arg(log->shown(), driver);
        return nullptr;
    }
    if (!log->server_) {
        error = fileFault(where);
        if (!error.isEmpty()) return nullptr;
    }
    QSqlDatabase::addDatabase(driver, log->connection_);
    if (!log->connect(error) || !log->createSchema(error)) return nullptr;
    return log;
}

// (Re)opens the connection with the address's settings.
bool ProductionLog::connect(QString& error) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (db.isOpen()) db.close();
    if (server_) {
        const QUrl url(where_);
        QUrlQuery query(url);
        db.setDatabaseName(url.path(QUrl::FullyDecoded).mid(1));
        db.setUserName(url.userName(QUrl::FullyDecoded));
        db.setPassword(query.hasQueryItem(QStringLiteral("password"))
                           ? query.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded)
                           : url.password(QUrl::FullyDecoded));
        db.setHostName(query.hasQueryItem(QStringLiteral("host"))
                           ? query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded)
                           : url.host());
        const int port = query.hasQueryItem(QStringLiteral("port"))
                             ? query.queryItemValue(QStringLiteral("port")).toInt()
                             : url.port(-1);
        if (port > 0) db.setPort(port);
        // Everything else (sslmode, service, application_name, ...) goes to the client
        // library as it is.
        QStringList options{QStringLiteral("connect_timeout=%1").arg(qMax(2, lockWaitMs_ / 1000))};
        for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded))
            if (key != QLatin1String("host") && key != QLatin1String("port") &&
                key != QLatin1String("password"))
                options << key + u'=' + value;
        db.setConnectOptions(options.join(u';'));
    } else {
        db.setDatabaseName(where_);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(lockWaitMs_));
    }
    if (!db.open()) {
        error = QStringLiteral("The log %1 can't be opened: %2")
                    .arg(shown(), db.lastError().text().simplified());
        return false;
    }
    if (!server_) {
        // Write-ahead logging: one sync per transaction instead of three, and a summary that
        // reads while the workers write. Refused on a file that is not a database, which the
        // schema check reports.
        QString ignored;
        exec(QStringLiteral("PRAGMA journal_mode=WAL"), {}, ignored);
    }
    return true;
}

bool ProductionLog::exec(const QString& sql, const QVariantList& values, QString& error,
                         QVariant* first) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.isOpen()) {  // lost in an outage, not reopened yet
        error = QStringLiteral("no connection to the log");
        return false;
    }
    QSqlQuery q(db);
    // Statements without values run as they are: PostgreSQL prepares no transaction control.
    bool ok = values.isEmpty() ? q.exec(sql) : q.prepare(sql);
    if (ok && !values.isEmpty()) {
        for (const QVariant& v : values) q.addBindValue(v);
        ok = q.exec();
    }
    if (!ok) {
        error = q.lastError().text().simplified();
        if (q.lastError().type() == QSqlError::ConnectionError && error.isEmpty())
            error = QStringLiteral("no connection to the log");
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

// An error that passes: a lock held by another program, a server that went away or restarts.
bool ProductionLog::transient(const QString& error) {
    static const char* const signs[] = {
        "locked",        "busy",        "no connection", "connection",        "terminating",
        "shutting down", "starting up", "not open",      "could not connect", "recovery mode"};
    for (const char* sign : signs)
        if (error.contains(QLatin1String(sign), Qt::CaseInsensitive)) return true;
    return false;
}

// Runs `attempt` (one whole transaction) until it succeeds, fails for good, or the log has
// been out of reach for the retry limit; waits growing from 1/4 s to 5 s between attempts,
// reconnecting to a server.
bool ProductionLog::retrying(const std::function<bool(QString&)>& attempt, QString& error) {
    const qint64 start = clock_->nowMs();
    int pause = 250;
    for (;;) {
        error.clear();
        if (attempt(error)) return true;
        if (!transient(error)) return false;
        if (clock_->nowMs() - start >= retryLimitMs_) {
            error = QStringLiteral("the log %1 was out of reach for %2 s (%3)")
                        .arg(shown())
                        .arg((clock_->nowMs() - start) / 1000)
                        .arg(error);
            return false;
        }
        clock_->sleepMs(pause);
        pause = qMin(pause * 2, 5000);
        QString ignored;
        if (server_) connect(ignored);
    }
}

QString ProductionLog::nowSql() const {
    return server_ ? QStringLiteral("CAST(extract(epoch FROM clock_timestamp()) * 1000 AS BIGINT)")
                   : QStringLiteral("CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER)");
}

namespace {

const char* const kYieldView =
    "CREATE VIEW kelvano_yield_hourly AS "
    "WITH c AS (SELECT substr(started, 1, 13) || ':00' AS hour, station, job, result, "
    "duration_ms FROM cards), "
    "d AS (SELECT hour, station, job, duration_ms, row_number() OVER (PARTITION BY hour, "
    "station, job ORDER BY duration_ms) AS rn, count(*) OVER (PARTITION BY hour, station, job) "
    "AS n FROM c WHERE result IN ('pass', 'fail') AND duration_ms IS NOT NULL), "
    "m AS (SELECT hour, station, job, round(avg(duration_ms) / 1000.0, 1) AS median_seconds "
    "FROM d WHERE rn IN ((n + 1) / 2, (n + 2) / 2) GROUP BY hour, station, job) "
    "SELECT c.hour, c.station, c.job, "
    "sum(CASE WHEN c.result = 'pass' THEN 1 ELSE 0 END) AS passed, "
    "sum(CASE WHEN c.result = 'fail' THEN 1 ELSE 0 END) AS failed, "
    "sum(CASE WHEN c.result = 'aborted' THEN 1 ELSE 0 END) AS aborted, m.median_seconds "
    "FROM c LEFT JOIN m ON m.hour = c.hour AND m.station = c.station AND m.job = c.job "
    "GROUP BY c.hour, c.station, c.job, m.median_seconds";

// What went wrong with a log that could not be set up, as the user reads it.
QString schemaFault(const QString& shown, const QString& text) {
    const auto has = [&](const char* sign) {
        return text.contains(QLatin1String(sign), Qt::CaseInsensitive);
    };
    if (has("locked") || has("busy"))
        return QStringLiteral("The log %1 is locked by another program.").arg(shown);
    if (has("readonly") || has("read-only") || has("read only"))
        return QStringLiteral("The log %1 can't be written: it is read-only (%2).")
            .arg(shown, text);
    if (has("full"))
        return QStringLiteral("The log %1 can't be written: the disk is full (%2).")
            .arg(shown, text);
    if (has("disk i/o") || has("unable to open") || has("permission denied"))
        return QStringLiteral("The log %1 can't be written (%2).").arg(shown, text);
    return QStringLiteral("%1 is not a KELVANO log (%2).").arg(shown, text);
}

}  // namespace

QString ProductionLog::setupFault(const QString& text) const {
    // SQLite says "disk I/O error" as often as "full" when the disk has no room left.
    const QStorageInfo disk(QFileInfo(where_).absolutePath());
    if (!server_ && disk.isValid() && disk.bytesAvailable() < kRoomNeeded)
        return QStringLiteral("The log %1 can't be written: the disk is full (%2).")
            .arg(where_, text);
    return schemaFault(shown(), text);
}

bool ProductionLog::createSchema(QString& error) {
    QString why;
    const auto failed = [&](const QString& text) {
        rollback();
        error = setupFault(text);
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
    const QString key = server_ ? QStringLiteral("BIGSERIAL PRIMARY KEY")
                                : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
    if (ours.toInt() > 0) {
        QVariant format;
        if (!exec(QStringLiteral("SELECT value FROM kelvano_log WHERE key = 'format'"), {}, why,
                  &format))
            return failed(why);
        if (format.toString() == QLatin1String("1") && !migrateFrom1(why)) return failed(why);
        if (format.toString() != QLatin1String("1") && format.toInt() != kFormat)
            return failed(QStringLiteral("log format \"%1\" is not known").arg(format.toString()));
        return commit(why) || failed(why);
    }
    for (const char* sql : kSchema)
        if (!exec(QString::fromLatin1(sql).replace(QLatin1String("%1"), key), {}, why))
            return failed(why);
    for (const char* sql : kPoolSchema)
        if (!exec(QString::fromLatin1(sql).replace(QLatin1String("%1"), key), {}, why))
            return failed(why);
    if (!createViews(why) ||
        !exec(QStringLiteral("INSERT INTO kelvano_log (key, value) VALUES ('format', ?)"),
              {QString::number(kFormat)}, why))
        return failed(why);
    return commit(why) || failed(why);
}

bool ProductionLog::createViews(QString& error) {
    return exec(QString::fromLatin1(kYieldView), {}, error);
}

// A log of the first format kept one pool per job name: its values go into the default pool
// (where two jobs held one value, the most binding state is kept: taken, spent, void, free).
bool ProductionLog::migrateFrom1(QString& error) {
    const QString key = server_ ? QStringLiteral("BIGSERIAL PRIMARY KEY")
                                : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
    for (const char* sql :
         {"ALTER TABLE runs ADD COLUMN heartbeat BIGINT", "ALTER TABLE cards ADD COLUMN pool TEXT",
          "ALTER TABLE cards ADD COLUMN serial_num TEXT"})
        if (!exec(QString::fromLatin1(sql), {}, error)) return false;
    for (const char* sql : kPoolSchema)
        if (!exec(QString::fromLatin1(sql).replace(QLatin1String("%1"), key), {}, error))
            return false;
    const char* const steps[] = {
        ("INSERT INTO serial_values (pool, num, value, state, card_id, job) SELECT 'default', "
         "num, value, state, card_id, job FROM serials WHERE 1 = 1 ORDER BY CASE state WHEN "
         "'taken' THEN 0 WHEN 'spent' THEN 1 WHEN 'void' THEN 2 ELSE 3 END, job, idx "
         "ON CONFLICT (pool, num) DO NOTHING"),
        ("UPDATE cards SET pool = 'default', serial_num = (SELECT s.num FROM serials s WHERE "
         "s.job = cards.job AND s.idx = cards.serial_idx) WHERE serial_idx IS NOT NULL"),
        "INSERT INTO serial_pools (pool) SELECT DISTINCT pool FROM serial_values",
        "DROP TABLE serials",
        "DROP TABLE pools",
    };
    for (const char* sql : steps)
        if (!exec(QString::fromLatin1(sql), {}, error)) return false;
    return createViews(error) &&
           exec(QStringLiteral("UPDATE kelvano_log SET value = ? WHERE key = 'format'"),
                {QString::number(kFormat)}, error);
}

bool ProductionLog::beginRun(const Job& job, QString& error) {
    return retrying(
        [&](QString& e) {
            QVariant id;
            const bool ok =
                begin(e) &&
                exec(QStringLiteral("INSERT INTO runs (station, pid, job, job_hash, started, "
                                    "heartbeat) VALUES (?, ?, ?, ?, ?, %1) RETURNING id")
                         .arg(nowSql()),
                     {station_, qint64(::getpid()), job.name, job.hash, now()}, e, &id) &&
                exec(QStringLiteral("INSERT INTO serial_pools (pool) VALUES (?) ON CONFLICT "
                                    "(pool) DO NOTHING"),
                     {poolOf(job)}, e) &&
                commit(e);
            if (!ok) rollback();
            runId_ = ok ? id.toLongLong() : 0;
            return ok;
        },
        error);
}

bool ProductionLog::endRun() {
    if (!runId_) return true;
    QString error;
    return retrying(
        [&](QString& e) {
            return exec(QStringLiteral("UPDATE runs SET ended = ? WHERE id = ?"), {now(), runId_},
                        e);
        },
        error);
}

bool ProductionLog::heartbeat(QString& error) {
    const auto beat = [&] {
        return exec(QStringLiteral("UPDATE runs SET heartbeat = %1 WHERE station = ? AND pid = ? "
                                   "AND ended IS NULL")
                        .arg(nowSql()),
                    {station_, qint64(::getpid())}, error);
    };
    if (beat()) return true;
    // A server that restarted: the next beat comes on a new connection.
    QString ignored;
    if (server_ && transient(error)) connect(ignored);
    return false;
}

ProductionLog::Take ProductionLog::takeCard(const Job& job, const QString& port, Card& card,
                                            QString& error) {
    Take taken = Take::Failed;
    retrying(
        [&](QString& e) {
            taken = takeCardOnce(job, port, card, e);
            return taken != Take::Failed;
        },
        error);
    return taken;
}

ProductionLog::Take ProductionLog::takeCardOnce(const Job& job, const QString& port, Card& card,
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
    const QVariant noText{QMetaType(QMetaType::QString)};
    const QVariant noNumber{QMetaType(QMetaType::LongLong)};
    const QString num = QString::number(qulonglong(card.serialValue));
    if (!exec(QStringLiteral(
                  "INSERT INTO cards (run_id, station, port, card_type, job, job_hash, serial, "
                  "serial_idx, started, result, pool, serial_num) VALUES (?, ?, ?, ?, ?, ?, ?, "
                  "?, ?, 'pending', ?, ?) RETURNING id"),
              {runId_, station_, port, job.card, job.name, job.hash,
               job.serial ? QVariant(card.serialText) : noText,
               job.serial ? QVariant(card.serialIndex) : noNumber,
               QDateTime::fromMSecsSinceEpoch(card.startedMs, Qt::UTC).toString(Qt::ISODateWithMs),
               job.serial ? QVariant(card.pool) : noText, job.serial ? QVariant(num) : noText},
              error, &id))
        return fail();
    card.id = id.toLongLong();
    if (job.serial && !exec(QStringLiteral("UPDATE serial_values SET state = 'taken', card_id = "
                                           "?, job = ? WHERE pool = ? AND num = ?"),
                            {card.id, job.name, card.pool, num}, error))
        return fail();
    if (!commit(error)) return fail();
    return Take::Ok;
}

// The card's serial: the given-back value that comes first in the job's plan, else a new one.
// Within takeCard's transaction; the caller rolls back when this fails.
ProductionLog::Take ProductionLog::takeSerial(const Job& job, Card& card, QString& error) {
    const SerialPlan& plan = *job.serial;
    card.pool = poolOf(job);
    QVariant locked;
    if (!exec(QStringLiteral("INSERT INTO serial_pools (pool) VALUES (?) ON CONFLICT (pool) DO "
                             "NOTHING"),
              {card.pool}, error) ||
        (server_ && !exec(QStringLiteral("SELECT pool FROM serial_pools WHERE pool = ? FOR UPDATE"),
                          {card.pool}, error, &locked)))
        return Take::Failed;
    std::optional<uint64_t> best;
    if (!select(QStringLiteral("SELECT num FROM serial_values WHERE pool = ? AND state = 'free'"),
                {card.pool}, error, [&](const QSqlQuery& q) {
                    const auto index = plan.indexOf(q.value(0).toString().toULongLong());
                    if (index && (!best || *index < *best)) best = index;
                }))
        return Take::Failed;
    if (!best) return takeNewSerial(job, card, error);
    card.serialIndex = qint64(*best);
    card.serialValue = *plan.valueAt(*best);
    card.serialText = plan.text(card.serialValue);
    return Take::Ok;
}

// The first value of the plan that the pool does not hold yet, entered as taken. Values that
// the pool holds are passed over: spent, taken or void by any job of the pool, under any plan.
ProductionLog::Take ProductionLog::takeNewSerial(const Job& job, Card& card, QString& error) {
    const SerialPlan& plan = *job.serial;
    QVariant hint;
    if (!exec(QStringLiteral("SELECT next_index FROM serial_plans WHERE pool = ? AND plan = ?"),
              {card.pool, plan.key()}, error, &hint))
        return Take::Failed;
    qint64 idx = hint.isValid() ? hint.toLongLong() : 0;
    for (;; ++idx) {
        const auto value = plan.valueAt(uint64_t(idx));
        if (!value) {
            error = QStringLiteral("The last serial number of job \"%1\" has been handed out.")
                        .arg(job.name);
            return Take::Exhausted;
        }
        QVariant held;
        if (!exec(QStringLiteral("SELECT state FROM serial_values WHERE pool = ? AND num = ?"),
                  {card.pool, QString::number(qulonglong(*value))}, error, &held))
            return Take::Failed;
        if (!held.isValid()) {
            card.serialValue = *value;
            break;
        }
    }
    card.serialIndex = idx;
    card.serialText = plan.text(card.serialValue);
    if (!exec(QStringLiteral("INSERT INTO serial_values (pool, num, value, state, job) VALUES (?, "
                             "?, ?, 'taken', ?)"),
              {card.pool, QString::number(qulonglong(card.serialValue)), card.serialText, job.name},
              error) ||
        !exec(QStringLiteral("INSERT INTO serial_plans (pool, plan, next_index) VALUES (?, ?, ?) "
                             "ON CONFLICT (pool, plan) DO UPDATE SET next_index = "
                             "excluded.next_index"),
              {card.pool, plan.key(), idx + 1}, error))
        return Take::Failed;
    return Take::Ok;
}

bool ProductionLog::finishCard(const Job& job, const Card& card, Result result, const QString& step,
                               const QString& message, QString& error) {
    const qint64 end = QDateTime::currentMSecsSinceEpoch();
    const QVariant noText{QMetaType(QMetaType::QString)};
    const QString state = result == Result::Pass ? QStringLiteral("spent")
                          : job.voidOnFail       ? QStringLiteral("void")
                                                 : QStringLiteral("free");
    return retrying(
        [&](QString& e) {
            if (!begin(e)) return false;
            bool ok = exec(
                QStringLiteral("UPDATE cards SET ended = ?, result = ?, failed_step = ?, message "
                               "= ?, duration_ms = ? WHERE id = ?"),
                {QDateTime::fromMSecsSinceEpoch(end, Qt::UTC).toString(Qt::ISODateWithMs),
                 resultText(result), step.isEmpty() ? noText : QVariant(step),
                 message.isEmpty() ? noText : QVariant(message), end - card.startedMs, card.id},
                e);
            if (ok && card.serialIndex >= 0)
                ok = exec(QStringLiteral("UPDATE serial_values SET state = ?, card_id = ? WHERE "
                                         "pool = ? AND num = ? AND card_id = ?"),
                          {state,
                           state == QLatin1String("free") ? QVariant(QMetaType(QMetaType::LongLong))
                                                          : QVariant(card.id),
                           card.pool, QString::number(qulonglong(card.serialValue)), card.id},
                          e);
            if (ok) ok = commit(e);
            if (!ok) rollback();
            return ok;
        },
        error);
}

bool ProductionLog::select(const QString& sql, const QVariantList& values, QString& error,
                           const std::function<void(const QSqlQuery&)>& row) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.isOpen()) {
        error = QStringLiteral("no connection to the log");
        return false;
    }
    QSqlQuery q(db);
    q.setForwardOnly(true);
    bool ok = q.prepare(sql);
    for (const QVariant& v : values) q.addBindValue(v);
    if (ok) ok = q.exec();
    if (!ok) {
        error = q.lastError().text().simplified();
        return false;
    }
    while (q.next()) row(q);
    return true;
}

std::optional<ProductionLog::Outlook> ProductionLog::outlook(const Job& job, QString& error) {
    Outlook o;
    if (!job.serial) return o;
    const SerialPlan& plan = *job.serial;
    QHash<QString, QString> held;  // num -> state
    std::optional<uint64_t> next;  // the first given-back value, by its place in the plan
    if (!select(QStringLiteral("SELECT num, state FROM serial_values WHERE pool = ?"),
                {poolOf(job)}, error, [&](const QSqlQuery& q) {
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

QString ProductionLog::nextSerial(const Job& job, QString& error) {
    const auto o = outlook(job, error);
    return o ? o->next : QString();
}

bool ProductionLog::liveRun(const Row& r) const {
    if (r.runEnded) return false;
    // On this host the process tells; elsewhere the run's heartbeat.
    if (r.station == station_) return r.runPid == ::getpid() || processAlive(r.runPid);
    return r.heartbeatAgeMs >= 0 && r.heartbeatAgeMs < kHeartbeatDeadMs;
}

bool ProductionLog::settle(const QString& serial, Settle how, const QString& pool, QString& error) {
    return retrying([&](QString& e) { return settleOnce(serial, how, pool, e); }, error);
}

bool ProductionLog::settleOnce(const QString& serial, Settle how, const QString& pool,
                               QString& error) {
    if (!begin(error)) return false;
    const auto fail = [&](const QString& why) {
        rollback();
        error = why;
        return false;
    };
    struct Held {
        QString pool, num, state;
        qint64 card = 0;
    };
    QList<Held> found;
    QString why;
    if (!select(QStringLiteral("SELECT pool, num, state, card_id FROM serial_values WHERE (value "
                               "= ? OR num = ?)") +
                    (pool.isEmpty() ? QString() : QStringLiteral(" AND pool = ?")),
                pool.isEmpty() ? QVariantList{serial, serial} : QVariantList{serial, serial, pool},
                why, [&](const QSqlQuery& q) {
                    found.append({q.value(0).toString(), q.value(1).toString(),
                                  q.value(2).toString(), q.value(3).toLongLong()});
                }))
        return fail(why);
    if (found.isEmpty())
        return fail(
            QStringLiteral("serial %1 is not in the log%2")
                .arg(serial, pool.isEmpty() ? QString() : QStringLiteral(" (pool %1)").arg(pool)));
    if (found.size() > 1) {
        QStringList pools;
        for (const Held& h : found) pools << h.pool;
        return fail(QStringLiteral("serial %1 is in the pools %2: name the job whose pool is meant")
                        .arg(serial, pools.join(QLatin1String(", "))));
    }
    const Held h = found.first();
    if (h.state != QLatin1String("taken"))
        return fail(QStringLiteral("serial %1 is not unconfirmed: it is %2").arg(serial, h.state));
    const QList<Row> card = rows(QStringLiteral("WHERE c.id = ?"), {h.card}, why);
    if (!why.isEmpty()) return fail(why);
    if (!card.isEmpty() && liveRun(card.first()))
        return fail(QStringLiteral("serial %1 is in work at %2 (port %3): it is not unconfirmed")
                        .arg(serial, card.first().station, card.first().port));
    const QString state = how == Settle::Spent  ? QStringLiteral("spent")
                          : how == Settle::Void ? QStringLiteral("void")
                                                : QStringLiteral("free");
    const QString user = userName();
    const QVariant noNumber{QMetaType(QMetaType::LongLong)};
    const bool ok =
        exec(QStringLiteral("UPDATE serial_values SET state = ?, card_id = ? WHERE pool = ? AND "
                            "num = ?"),
             {state, how == Settle::Return ? noNumber : QVariant(h.card), h.pool, h.num}, why) &&
        exec(QStringLiteral("UPDATE cards SET result = 'settled', ended = ?, message = ? WHERE id "
                            "= ? AND result = 'pending'"),
             {now(),
              QStringLiteral("settled as %1 by %2 at %3").arg(settleText(how), user, station_),
              h.card},
             why) &&
        exec(QStringLiteral("INSERT INTO settlements (pool, num, serial, how, settled, station, "
                            "user_name, card_id) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
             {h.pool, h.num, serial, settleText(how), now(), station_, user, h.card}, why) &&
        commit(why);
    return ok || fail(why);
}

QString ProductionLog::settleText(Settle s) {
    switch (s) {
        case Settle::Spent:
            return QStringLiteral("spent");
        case Settle::Void:
            return QStringLiteral("void");
        case Settle::Return:
            return QStringLiteral("return");
    }
    return {};
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
    select(QStringLiteral("SELECT %1 FROM cards c LEFT JOIN runs r ON r.id = c.run_id ")
                   .arg(QString::fromLatin1(kCardColumns).arg(nowSql())) +
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
               r.durationMs = q.value(12).toLongLong();
               r.runPid = q.value(13).toLongLong();
               r.runEnded = !q.value(14).isNull();
               r.heartbeatAgeMs = q.value(15).isNull() ? -1 : q.value(15).toLongLong();
               out.append(r);
           });
    return out;
}

std::optional<ProductionLog::Summary> ProductionLog::summary(QString& error, const QString& job) {
    Summary s;
    error.clear();
    const QString onJob = job.isEmpty() ? QString() : QStringLiteral(" AND job = ?");
    const QVariantList jobValue = job.isEmpty() ? QVariantList{} : QVariantList{job};
    const bool ok =
        select(QStringLiteral("SELECT result, count(*) FROM cards WHERE 1 = 1%1 GROUP BY result")
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
        select(QStringLiteral("SELECT value, state FROM serial_values WHERE state IN ('void', "
                              "'free')%1 ORDER BY pool, length(num), num")
                   .arg(onJob),
               jobValue, error,
               [&](const QSqlQuery& q) {
                   if (q.value(1).toString() == QLatin1String("void"))
                       s.voided.append(q.value(0).toString());
                   else
                       ++s.freeSerials;
               }) &&
        select(
            QStringLiteral("SELECT DISTINCT job FROM runs WHERE 1 = 1%1 ORDER BY job").arg(onJob),
            jobValue, error, [&](const QSqlQuery& q) { s.jobs.append(q.value(0).toString()); });
    if (!ok) return std::nullopt;
    for (const Row& r : rows(QStringLiteral("WHERE c.result = 'pending'%1 ORDER BY c.id")
                                 .arg(job.isEmpty() ? QString() : QStringLiteral(" AND c.job = ?")),
                             jobValue, error))
        (liveRun(r) ? s.inProgress : s.unconfirmed).append(r);
    if (!error.isEmpty()) return std::nullopt;
    return s;
}

QList<ProductionLog::Row> ProductionLog::lastCards(int count, QString& error) {
    return rows(QStringLiteral("ORDER BY c.id DESC LIMIT ?"), {count}, error);
}

namespace {

bool writeFile(const QString& file, const QByteArray& data, QString& error) {
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit()) {
        error = QStringLiteral("%1 can't be written: %2").arg(file, out.errorString());
        return false;
    }
    return true;
}

}  // namespace

bool ProductionLog::exportCsv(const QString& file, QString& error) {
    error.clear();
    const QList<Row> all = rows(QStringLiteral("ORDER BY c.id"), {}, error);
    if (!error.isEmpty()) return false;
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
    return writeFile(file, text.toUtf8(), error);
}

bool ProductionLog::exportJson(const QString& file, QString& error) {
    error.clear();
    const QList<Row> all = rows(QStringLiteral("ORDER BY c.id"), {}, error);
    if (!error.isEmpty()) return false;
    QByteArray text;
    const auto orNull = [](const QString& v) { return v.isEmpty() ? QJsonValue() : QJsonValue(v); };
    for (const Row& r : all) {
        const QJsonObject o{
            {"id", r.id},
            {"started", r.started},
            {"ended", orNull(r.ended)},
            {"station", r.station},
            {"port", r.port},
            {"card_type", r.cardType},
            {"job", r.job},
            {"job_hash", r.jobHash},
            {"serial", orNull(r.serial)},
            {"result", r.result},
            {"failed_step", orNull(r.step)},
            {"message", orNull(r.message)},
            {"duration_ms", r.ended.isEmpty() ? QJsonValue() : QJsonValue(r.durationMs)}};
        text += QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    }
    return writeFile(file, text, error);
}

QStringList ProductionLog::serialStates(const QString& pool, QString& error) {
    QStringList out;
    select(QStringLiteral("SELECT value, state FROM serial_values WHERE pool = ? ORDER BY "
                          "length(num), num"),
           {pool}, error, [&](const QSqlQuery& q) {
               out.append(q.value(0).toString() + u' ' + q.value(1).toString());
           });
    return out;
}

}  // namespace kelvano

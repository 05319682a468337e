#include "production/LogSchema.h"

#include <QFileInfo>
#include <QStorageInfo>

#include "production/LogConnection.h"

namespace kelvano {

namespace {

constexpr int kFormat = 3;
// The oldest format a report still reads as it is (a run brings it up to date).
constexpr int kReadable = 2;
// Less room than this on the log's disk: a log that can't be set up is taken to have found
// the disk full.
constexpr qint64 kRoomNeeded = qint64(64) * 1024;

// The tables; %1 is the key column of the tables with a generated key.
const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS kelvano_log (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS runs (id %1, station TEXT NOT NULL, pid BIGINT NOT NULL, "
    "job TEXT NOT NULL, job_hash TEXT NOT NULL, started TEXT NOT NULL, ended TEXT, "
    "heartbeat BIGINT, user_name TEXT)",
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

QString keyColumn(const LogConnection& db) {
    return db.isServer() ? QStringLiteral("BIGSERIAL PRIMARY KEY")
                         : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
}

QString setupFault(const LogConnection& db, const QString& text) {
    // SQLite says "disk I/O error" as often as "full" when the disk has no room left.
    const QStorageInfo disk(QFileInfo(db.where()).absolutePath());
    if (!db.isServer() && disk.isValid() && disk.bytesAvailable() < kRoomNeeded)
        return QStringLiteral("The log %1 can't be written: the disk is full (%2).")
            .arg(db.where(), text);
    return schemaFault(db.shown(), text);
}

bool createViews(LogConnection& db, QString& error) {
    return db.exec(QString::fromLatin1(kYieldView), {}, error);
}

// A log of the first format kept one pool per job name: its values go into the default pool
// (where two jobs held one value, the most binding state is kept: taken, spent, void, free).
bool migrateFrom1(LogConnection& db, QString& error) {
    for (const char* sql :
         {"ALTER TABLE runs ADD COLUMN heartbeat BIGINT", "ALTER TABLE cards ADD COLUMN pool TEXT",
          "ALTER TABLE cards ADD COLUMN serial_num TEXT"})
        if (!db.exec(QString::fromLatin1(sql), {}, error)) return false;
    for (const char* sql : kPoolSchema)
        if (!db.exec(QString::fromLatin1(sql).replace(QLatin1String("%1"), keyColumn(db)), {},
                     error))
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
        if (!db.exec(QString::fromLatin1(sql), {}, error)) return false;
    return createViews(db, error);
}

// A log of the second format did not know who ran a station: its runs keep no user.
bool migrateFrom2(LogConnection& db, QString& error) {
    return db.exec(QStringLiteral("ALTER TABLE runs ADD COLUMN user_name TEXT"), {}, error);
}

// How many tables the database holds, and whether one of them is ours.
bool countTables(LogConnection& db, QString& error, int& tables, bool& ours) {
    const QString count =
        db.isServer() ? QStringLiteral(
                            "SELECT count(*) FROM information_schema.tables WHERE table_schema = "
                            "current_schema()")
                      : QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table'");
    QVariant all, mine;
    if (!db.exec(count, {}, error, &all) ||
        !db.exec(count + (db.isServer() ? QStringLiteral(" AND table_name = 'kelvano_log'")
                                        : QStringLiteral(" AND name = 'kelvano_log'")),
                 {}, error, &mine))
        return false;
    tables = all.toInt();
    ours = mine.toInt() > 0;
    return true;
}

}  // namespace

bool LogSchema::setUp(LogConnection& db, QString& error) {
    QString why;
    const auto failed = [&](const QString& text) {
        db.rollback();
        error = setupFault(db, text);
        return false;
    };
    if (!db.begin(why)) return failed(why);
    if (db.isServer() && !db.exec(QStringLiteral("SELECT pg_advisory_xact_lock(475261)"), {}, why))
        return failed(why);
    int tables = 0;
    bool ours = false;
    if (!countTables(db, why, tables, ours)) return failed(why);
    if (tables > 0 && !ours) return failed(QStringLiteral("it holds other tables"));
    if (ours) {
        QVariant format;
        if (!db.exec(QStringLiteral("SELECT value FROM kelvano_log WHERE key = 'format'"), {}, why,
                     &format))
            return failed(why);
        bool known = false;
        const int from = format.toInt(&known);
        if (!known || from < 1 || from > kFormat)
            return failed(QStringLiteral("log format \"%1\" is not known").arg(format.toString()));
        if ((from == 1 && !migrateFrom1(db, why)) || (from <= 2 && !migrateFrom2(db, why)) ||
            (from < kFormat &&
             !db.exec(QStringLiteral("UPDATE kelvano_log SET value = ? WHERE key = 'format'"),
                      {QString::number(kFormat)}, why)))
            return failed(why);
        return db.commit(why) || failed(why);
    }
    for (const char* sql : kSchema)
        if (!db.exec(QString::fromLatin1(sql).replace(QLatin1String("%1"), keyColumn(db)), {}, why))
            return failed(why);
    for (const char* sql : kPoolSchema)
        if (!db.exec(QString::fromLatin1(sql).replace(QLatin1String("%1"), keyColumn(db)), {}, why))
            return failed(why);
    if (!createViews(db, why) ||
        !db.exec(QStringLiteral("INSERT INTO kelvano_log (key, value) VALUES ('format', ?)"),
                 {QString::number(kFormat)}, why))
        return failed(why);
    return db.commit(why) || failed(why);
}

bool LogSchema::check(LogConnection& db, QString& error, int* readFormat) {
    QString why;
    int tables = 0;
    bool ours = false;
    if (!countTables(db, why, tables, ours)) {
        error = schemaFault(db.shown(), why);
        return false;
    }
    if (!ours) {
        error = tables > 0 ? schemaFault(db.shown(), QStringLiteral("it holds other tables"))
                           : QStringLiteral("The log %1 holds no cards yet.").arg(db.shown());
        return false;
    }
    QVariant format;
    if (!db.exec(QStringLiteral("SELECT value FROM kelvano_log WHERE key = 'format'"), {}, why,
                 &format)) {
        error = schemaFault(db.shown(), why);
        return false;
    }
    if (format.toInt() >= kReadable && format.toInt() <= kFormat) {
        if (readFormat) *readFormat = format.toInt();
        return true;
    }
    error =
        format.toString() == QLatin1String("1")
            ? QStringLiteral(
                  "The log %1 is of an older format: a run (or a settlement) on it brings it "
                  "up to date before it can be read.")
                  .arg(db.shown())
            : schemaFault(db.shown(),
                          QStringLiteral("log format \"%1\" is not known").arg(format.toString()));
    return false;
}

}  // namespace kelvano

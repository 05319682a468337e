#include "production/ProductionLog.h"

#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include "production/Job.h"
#include "production/LogConnection.h"
#include "production/LogSchema.h"
#include "production/SerialPool.h"

namespace kelvano {

namespace {

QString now() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs); }

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

ProductionLog::~ProductionLog() = default;

bool ProductionLog::isServerAddress(const QString& where) {
    return LogConnection::isServerAddress(where);
}
QString ProductionLog::shownAddress(const QString& where) {
    return LogConnection::shownAddress(where);
}
bool ProductionLog::hasPassword(const QString& where) { return LogConnection::hasPassword(where); }
QString ProductionLog::passwordWarning(const QString& where) {
    return LogConnection::passwordWarning(where);
}
QString ProductionLog::poolOf(const Job& job) { return SerialPool::poolOf(job); }
QString ProductionLog::where() const { return db_->where(); }
QString ProductionLog::shown() const { return db_->shown(); }
bool ProductionLog::isServer() const { return db_->isServer(); }

std::unique_ptr<ProductionLog> ProductionLog::make(const QString& where, bool readOnly,
                                                   int lockWaitMs, QString& error) {
    std::unique_ptr<ProductionLog> log(new ProductionLog);
    // For tests only: KELVANO_TEST_STATION names the station as if it were another host.
    log->station_ = qEnvironmentVariable("KELVANO_TEST_STATION", QSysInfo::machineHostName());
    log->db_ = std::make_unique<LogConnection>(where, lockWaitMs, readOnly);
    log->pool_ = std::make_unique<SerialPool>(*log->db_, log->station_);
    log->reports_ = std::make_unique<LogReports>(*log->db_, log->station_);
    if (!log->db_->driverAvailable(error)) return nullptr;
    return log;
}

std::unique_ptr<ProductionLog> ProductionLog::open(const QString& where, QString& error,
                                                   int lockWaitMs) {
    auto log = make(where, false, lockWaitMs, error);
    if (!log) return nullptr;
    if (!log->isServer()) {
        error = fileFault(where);
        if (!error.isEmpty()) return nullptr;
    }
    if (!log->db_->connect(error) || !LogSchema::setUp(*log->db_, error)) return nullptr;
    return log;
}

std::unique_ptr<ProductionLog> ProductionLog::openForReading(const QString& where, QString& error,
                                                             int lockWaitMs) {
    if (!isServerAddress(where) && !QFileInfo::exists(where)) {
        error = QStringLiteral("The log %1 can't be opened: there is no such file.").arg(where);
        return nullptr;
    }
    auto log = make(where, true, lockWaitMs, error);
    int format = 0;
    if (!log || !log->db_->connect(error) || !LogSchema::check(*log->db_, error, &format))
        return nullptr;
    log->withUsers_ = format >= LogSchema::kFormatWithUsers;
    log->reports_ = std::make_unique<LogReports>(*log->db_, log->station_, log->withUsers_);
    return log;
}

void ProductionLog::setRetry(Clock* clock, int limitMs) { db_->setRetry(clock, limitMs); }
void ProductionLog::setStopFlag(const std::atomic<bool>* stop) { db_->setStopFlag(stop); }

void ProductionLog::setStation(const QString& station) {
    station_ = station;
    pool_->setStation(station);
    reports_ = std::make_unique<LogReports>(*db_, station_, withUsers_);
}

bool ProductionLog::beginRun(const Job& job, QString& error) {
    return db_->retrying(
        [&](QString& e) {
            QVariant id;
            const bool ok =
                db_->begin(e) &&
                db_->exec(
                    QStringLiteral("INSERT INTO runs (station, pid, job, job_hash, started, "
                                   "heartbeat, user_name) VALUES (?, ?, ?, ?, ?, %1, ?) "
                                   "RETURNING id")
                        .arg(db_->nowSql()),
                    {station_, qint64(::getpid()), job.name, job.hash, now(), SerialPool::osUser()},
                    e, &id) &&
                db_->exec(QStringLiteral("INSERT INTO serial_pools (pool) VALUES (?) ON CONFLICT "
                                         "(pool) DO NOTHING"),
                          {poolOf(job)}, e) &&
                db_->commit(e);
            if (!ok) db_->rollback();
            runId_ = ok ? id.toLongLong() : 0;
            pool_->setRun(runId_);
            return ok;
        },
        error);
}

bool ProductionLog::endRun() {
    if (!runId_) return true;
    QString error;
    return db_->retrying(
        [&](QString& e) {
            return db_->exec(QStringLiteral("UPDATE runs SET ended = ? WHERE id = ?"),
                             {now(), runId_}, e);
        },
        error);
}

bool ProductionLog::heartbeat(QString& error) {
    if (db_->exec(QStringLiteral("UPDATE runs SET heartbeat = %1 WHERE station = ? AND pid = ? "
                                 "AND ended IS NULL")
                      .arg(db_->nowSql()),
                  {station_, qint64(::getpid())}, error))
        return true;
    // A server that restarted: the next beat comes on a new connection.
    QString ignored;
    if (isServer() && LogConnection::transient(error) && !db_->stopped()) db_->connect(ignored);
    return false;
}

ProductionLog::Take ProductionLog::takeCard(const Job& job, const QString& port, Card& card,
                                            QString& error) {
    return pool_->take(job, port, card, error);
}

bool ProductionLog::finishCard(const Job& job, const Card& card, Result result, const QString& step,
                               const QString& message, QString& error, QString* setAside) {
    return pool_->finish(job, card, result, step, message, error, setAside);
}

bool ProductionLog::settle(const QString& serial, Settle how, const QString& pool, QString& error) {
    return pool_->settle(serial, how, pool, error);
}

QString ProductionLog::nextSerial(const Job& job, QString& error) {
    const auto o = outlook(job, error);
    return o ? o->next : QString();
}

}  // namespace kelvano

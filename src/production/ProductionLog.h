#pragma once
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <optional>

#include "production/LogReports.h"
#include "production/LogTypes.h"

namespace kelvano {

class Clock;
class LogConnection;
class SerialPool;
struct Job;

// The production log: one row per card and the serial pools, in an SQLite file (the
// default) or on a PostgreSQL server ("postgresql://user@host:port/db", or with the socket
// folder as "?host=/path"; further URL parameters such as sslmode go to the server's client
// library, and without a password in the URL it looks in ~/.pgpass, PGPASSWORD or a service
// file). Both go through Qt SQL with the same statements; the database's own locking keeps
// several workers, processes and stations from taking one serial twice.
//
// Its parts: the connection with its outage rules (LogConnection), the schema and its
// migrations (LogSchema), the serial pools with taking, fencing and settling (SerialPool),
// the read-only reports (LogReports). This object ties them to one connection and keeps the
// run of this process.
//
// Every run keeps a heartbeat in the log, so that a station tells the cards in work at a live
// station elsewhere from those of a run that died. A brief outage (a lock held by a report, a
// server restart, a hung link) is ridden out: every write is tried again, reconnecting, for up
// to a minute.
//
// One object is one connection; use it from one thread only.
class ProductionLog {
public:
    using Result = LogTypes::Result;
    using Card = LogTypes::Card;
    using Row = LogTypes::Row;
    using Summary = LogTypes::Summary;
    using Outlook = LogTypes::Outlook;
    using Settle = LogTypes::Settle;
    using Take = LogTypes::Take;

    ~ProductionLog();

    // Opens the log at `where` (creating its tables in an empty database, bringing an older
    // log up to date). nullptr with `error` set when it is not a log, cannot be opened or
    // written, or stays locked for `lockWaitMs`.
    static std::unique_ptr<ProductionLog> open(const QString& where, QString& error,
                                               int lockWaitMs = 10000);
    // Opens a log that is there already for reports only: nothing is created or changed, and
    // a read-only file or role will do.
    static std::unique_ptr<ProductionLog> openForReading(const QString& where, QString& error,
                                                         int lockWaitMs = 10000);
    static bool isServerAddress(const QString& where);
    // The address as messages show it: a server as user@host:port/db, never with its password.
    static QString shownAddress(const QString& where);
    // Whether a server address carries a password (which the process list and the shell's
    // history show to others), and what the user is told about it.
    static bool hasPassword(const QString& where);
    static QString passwordWarning(const QString& where);
    // The pool a job's serials come from.
    static QString poolOf(const Job& job);

    // The clock of the waits between attempts during an outage, and how long an outage is
    // ridden out (tests make both short).
    void setRetry(Clock* clock, int limitMs = 60000);
    // A flag that ends an outage's wait once set (a stopped run does not wait a minute).
    void setStopFlag(const std::atomic<bool>* stop);
    // The station the cards are recorded for (default: the host name).
    void setStation(const QString& station);

    // A run of a job on this station. Every card row carries it.
    bool beginRun(const Job& job, QString& error);
    bool endRun();
    // Marks every unfinished run of this process on this station as alive.
    bool heartbeat(QString& error);

    Take takeCard(const Job& job, const QString& port, Card& card, QString& error);
    // Records the card's result, unless its serial was settled meanwhile: then the card is
    // recorded as failed and `setAside` (when given) tells the operator to set it aside.
    bool finishCard(const Job& job, const Card& card, Result result, const QString& step,
                    const QString& message, QString& error, QString* setAside = nullptr);
    // Settles an unconfirmed serial (as the log shows it, e.g. "00100") of `pool` (empty:
    // whichever pool holds it, if only one does). Recorded with the time, station and user.
    bool settle(const QString& serial, Settle how, const QString& pool, QString& error);

    // The serial the next card will get (a given-back one first); empty when none is left or
    // the job has no serial.
    QString nextSerial(const Job& job, QString& error);
    LogReports& reports() { return *reports_; }
    std::optional<Outlook> outlook(const Job& job, QString& error) {
        return reports_->outlook(job, error);
    }
    std::optional<Summary> summary(QString& error, const QString& job = {}) {
        return reports_->summary(error, job);
    }
    QList<Row> lastCards(int count, QString& error) { return reports_->lastCards(count, error); }
    bool exportCsv(const QString& file, QString& error) { return reports_->exportCsv(file, error); }
    bool exportJson(const QString& file, QString& error) {
        return reports_->exportJson(file, error);
    }
    QStringList serialStates(const QString& pool, QString& error) {
        return reports_->serialStates(pool, error);
    }

    QString where() const;
    QString shown() const;
    bool isServer() const;
    static QString resultText(Result r) { return LogTypes::resultText(r); }
    static QString settleText(Settle s) { return LogTypes::settleText(s); }

private:
    ProductionLog() = default;
    static std::unique_ptr<ProductionLog> make(const QString& where, bool readOnly, int lockWaitMs,
                                               QString& error);

    std::unique_ptr<LogConnection> db_;
    std::unique_ptr<SerialPool> pool_;
    std::unique_ptr<LogReports> reports_;
    qint64 runId_ = 0;
    QString station_;
    bool withUsers_ = true;  // the log's runs keep their user (a log of an older format not)
};

}  // namespace kelvano

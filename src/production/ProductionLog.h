#pragma once
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace kelvano {

class Clock;
struct Job;

// The production log: one row per card and the serial pools, in an SQLite file (the
// default) or on a PostgreSQL server ("postgresql://user@host:port/db", or with the socket
// folder as "?host=/path"; further URL parameters such as sslmode go to the server's client
// library, and without a password in the URL it looks in ~/.pgpass, PGPASSWORD or a service
// file). Both go through Qt SQL with the same statements; the database's own locking keeps
// several workers, processes and stations from taking one serial twice.
//
// A pool holds serial values: the log's default pool, or one a job names ([Serial] Pool=).
// A value spent, taken or voided in a pool is never handed out again, whatever job asks. A
// serial moves: taken (by a card whose result is not in yet) -> spent (the card passed),
// free (the card failed or was aborted: the next card takes it again) or void (OnFail=void).
// A serial stays taken when its run died before recording the result: the summary lists it
// as unconfirmed until somebody settles it (spent, void or returned to the pool).
//
// Every run keeps a heartbeat in the log, so that a station tells the cards in work at a live
// station elsewhere from those of a run that died. A brief outage (a lock held by a report, a
// server restart) is ridden out: every write is tried again, reconnecting, for up to a
// minute.
//
// One object is one connection; use it from one thread only.
class ProductionLog {
public:
    enum class Result { Pass, Fail, Aborted };

    struct Card {
        qint64 id = 0;
        qint64 serialIndex = -1;  // the value's place in the job's plan; -1: no serial
        uint64_t serialValue = 0;
        QString serialText;
        QString pool;
        qint64 startedMs = 0;  // epoch ms
    };

    struct Row {  // one card as the log holds it
        qint64 id = 0;
        QString started, ended, station, port, job, jobHash, serial, result, step, message;
        int cardType = 0;
        qint64 durationMs = 0;
        qint64 runPid = 0;
        qint64 heartbeatAgeMs = -1;  // how long ago its run's heartbeat was; -1: none
        bool runEnded = false;
    };

    struct Summary {
        int pass = 0, fail = 0, aborted = 0, settled = 0;
        QList<Row> unconfirmed;  // taken by a card whose run died before the result
        QList<Row> inProgress;   // taken by a card of a run that is still going (any station)
        QStringList voided;      // serial texts
        int freeSerials = 0;     // given back, to be handed out again
        QStringList jobs;
    };

    // What the next card of a job will get, and which values of its plan before that one
    // are passed over because the pool holds them already.
    struct Outlook {
        QString next;               // empty: none left (or no serial)
        bool givenBack = false;     // `next` was handed out before and given back
        qint64 skipped = 0;         // values of the plan before `next` that the pool holds
        QStringList skippedRanges;  // "1000-1004", "1010", ... (the first few)
    };

    // How an unconfirmed serial is settled: the card carries it (spent), it must never be
    // used (void), or it goes back to the pool (return).
    enum class Settle { Spent, Void, Return };

    ~ProductionLog();

    // Opens the log at `where` (creating its tables in an empty database, bringing an older
    // log up to date). nullptr with `error` set when it is not a log, cannot be opened or
    // written, or stays locked for `lockWaitMs`.
    static std::unique_ptr<ProductionLog> open(const QString& where, QString& error,
                                               int lockWaitMs = 10000);
    static bool isServerAddress(const QString& where);
    // The address as messages show it: a server as user@host:port/db, never with its password.
    static QString shownAddress(const QString& where);
    // Whether a server address carries a password (which the process list and the shell's
    // history show to others).
    static bool hasPassword(const QString& where);
    static QString passwordWarning();
    // The pool a job's serials come from.
    static QString poolOf(const Job& job);

    // The clock of the waits between attempts during an outage, and how long an outage is
    // ridden out (tests make both short).
    void setRetry(Clock* clock, int limitMs = 60000);
    // The station the cards are recorded for (default: the host name).
    void setStation(const QString& station) { station_ = station; }

    // A run of a job on this station. Every card row carries it.
    bool beginRun(const Job& job, QString& error);
    bool endRun();
    // Marks every unfinished run of this process on this station as alive.
    bool heartbeat(QString& error);

    // Takes the job's next serial (a given-back one first) and opens the card's row, in one
    // transaction. Exhausted: the job has no serial left (error names the last).
    enum class Take { Ok, Exhausted, Failed };
    Take takeCard(const Job& job, const QString& port, Card& card, QString& error);
    // Records the card's result: spends its serial on a pass, gives it back (or voids it) on
    // a fail or an abort.
    bool finishCard(const Job& job, const Card& card, Result result, const QString& step,
                    const QString& message, QString& error);
    // Settles an unconfirmed serial (as the log shows it, e.g. "00100") of `pool` (empty:
    // whichever pool holds it, if only one does). Recorded with the time, station and user.
    bool settle(const QString& serial, Settle how, const QString& pool, QString& error);

    // The serial the next card will get (a given-back one first); empty when none is left or
    // the job has no serial.
    QString nextSerial(const Job& job, QString& error);
    std::optional<Outlook> outlook(const Job& job, QString& error);
    // Counts and lists over every card, or over the cards of one job.
    std::optional<Summary> summary(QString& error, const QString& job = {});
    QList<Row> lastCards(int count, QString& error);
    bool exportCsv(const QString& file, QString& error);
    // Every card as one JSON object a line.
    bool exportJson(const QString& file, QString& error);
    // Every value of a pool with its state, in the order of the values ("value state").
    QStringList serialStates(const QString& pool, QString& error);

    QString where() const { return where_; }
    QString shown() const { return shownAddress(where_); }
    bool isServer() const { return server_; }
    static QString resultText(Result r);
    static QString settleText(Settle s);

private:
    ProductionLog() = default;
    bool connect(QString& error);
    bool exec(const QString& sql, const QVariantList& values, QString& error,
              QVariant* first = nullptr);
    bool begin(QString& error);
    bool commit(QString& error);
    void rollback();
    bool retrying(const std::function<bool(QString&)>& attempt, QString& error);
    bool transient(const QString& error);
    QString nowSql() const;
    bool select(const QString& sql, const QVariantList& values, QString& error,
                const std::function<void(const QSqlQuery&)>& row);
    Take takeCardOnce(const Job& job, const QString& port, Card& card, QString& error);
    Take takeSerial(const Job& job, Card& card, QString& error);

    Take takeNewSerial(const Job& job, Card& card, QString& error);
    bool createSchema(QString& error);
    QString setupFault(const QString& text) const;
    bool migrateFrom1(QString& error);
    bool createViews(QString& error);
    bool settleOnce(const QString& serial, Settle how, const QString& pool, QString& error);
    bool liveRun(const Row& r) const;
    QList<Row> rows(const QString& where, const QVariantList& values, QString& error);

    QString connection_;
    QString where_;
    bool server_ = false;
    int lockWaitMs_ = 10000;
    qint64 runId_ = 0;
    QString station_;
    Clock* clock_ = nullptr;
    std::unique_ptr<Clock> ownClock_;
    int retryLimitMs_ = 60000;
};

}  // namespace kelvano

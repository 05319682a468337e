#pragma once
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>

namespace kelvano {

struct Job;

// The production log: one row per card and the serial pool of each job, in an SQLite file
// (the default) or on a PostgreSQL server ("postgresql://user@host:port/db", or with the
// socket folder as "?host=/path"). Both go through Qt SQL with the same statements; the
// database's own locking keeps several workers, processes and stations from taking one
// serial twice.
//
// A serial moves: taken (by a card whose result is not in yet) -> spent (the card passed),
// free (the card failed or was aborted: the next card takes it again) or void (OnFail=void).
// A serial stays taken for ever when its run died before recording the result: it is never
// handed out again, and the summary lists it as unconfirmed.
//
// One object is one connection; use it from one thread only.
class ProductionLog {
public:
    enum class Result { Pass, Fail, Aborted };

    struct Card {
        qint64 id = 0;
        qint64 serialIndex = -1;  // -1: the job has no serial
        uint64_t serialValue = 0;
        QString serialText;
        qint64 startedMs = 0;  // epoch ms
    };

    struct Row {  // one card as the log holds it
        qint64 id = 0;
        QString started, ended, station, port, job, jobHash, serial, result, step, message;
        int cardType = 0;
        qint64 durationMs = 0;
        qint64 runPid = 0;
    };

    struct Summary {
        int pass = 0, fail = 0, aborted = 0;
        QList<Row> unconfirmed;  // taken by a card whose run died before the result
        QList<Row> inProgress;   // taken by a card of a run that is still going on this host
        QStringList voided;      // serial texts
        int freeSerials = 0;     // given back, to be handed out again
        QStringList jobs;
    };

    ~ProductionLog();

    // Opens the log at `where` (creating its tables in an empty database). nullptr with
    // `error` set when it is not a log, cannot be opened or stays locked for `lockWaitMs`.
    static std::unique_ptr<ProductionLog> open(const QString& where, QString& error,
                                               int lockWaitMs = 10000);
    static bool isServerAddress(const QString& where);

    // A run of a job on this station (the host name). Every card row carries it.
    bool beginRun(const Job& job, QString& error);
    bool endRun();

    // Takes the next serial of the job (a given-back one first) and opens the card's row,
    // in one transaction. Exhausted: the job has no serial left (error names the last).
    enum class Take { Ok, Exhausted, Failed };
    Take takeCard(const Job& job, const QString& port, Card& card, QString& error);
    // Records the card's result: spends its serial on a pass, gives it back (or voids it) on
    // a fail or an abort.
    bool finishCard(const Job& job, const Card& card, Result result, const QString& step,
                    const QString& message, QString& error);

    // The serial the next card will get (a given-back one first); empty when none is left or
    // the job has no serial.
    QString nextSerial(const Job& job, QString& error);
    std::optional<Summary> summary(QString& error);
    QList<Row> lastCards(int count, QString& error);
    bool exportCsv(const QString& file, QString& error);
    // Every serial of a job with its state, in index order ("value state"); for checks.
    QStringList serialStates(const QString& job, QString& error);

    QString where() const { return where_; }
    bool isServer() const { return server_; }
    static QString resultText(Result r);

private:
    ProductionLog() = default;
    bool exec(const QString& sql, const QVariantList& values, QString& error,
              QVariant* first = nullptr);
    bool begin(QString& error);
    bool commit(QString& error);
    void rollback();
    Take takeSerial(const Job& job, Card& card, QString& error);
    Take takeNewSerial(const Job& job, qint64 next, Card& card, QString& error);
    bool createSchema(QString& error);
    QList<Row> rows(const QString& where, const QVariantList& values, QString& error);

    QString connection_;
    QString where_;
    bool server_ = false;
    qint64 runId_ = 0;
    QString station_;
};

}  // namespace kelvano

#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace kelvano {

// What the production log's parts hand each other and their users.
namespace LogTypes {

enum class Result { Pass, Fail, Aborted };

// How an unconfirmed serial is settled: the card carries it (spent), it must never be used
// (void), or it goes back to the pool (return).
enum class Settle { Spent, Void, Return };

// Taking a card's serial. Exhausted: the job has no serial left.
enum class Take { Ok, Exhausted, Failed };

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
    QString started, ended, station, port, job, jobHash, serial, result, step, message, pool;
    QString user;  // who ran the station (its OS user); empty in a log that kept none
    int cardType = 0;
    qint64 durationMs = -1;  // -1: not known (the card has no result of its own)
    qint64 runId = 0;
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

// What the next card of a job will get, and which values of its plan before that one are
// passed over because the pool holds them already.
struct Outlook {
    QString next;               // empty: none left (or no serial)
    bool givenBack = false;     // `next` was handed out before and given back
    qint64 skipped = 0;         // values of the plan before `next` that the pool holds
    QStringList skippedRanges;  // "1000-1004", "1010", ... (the first few)
};

QString resultText(Result r);
QString settleText(Settle s);

}  // namespace LogTypes

}  // namespace kelvano

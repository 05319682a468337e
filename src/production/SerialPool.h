#pragma once
#include <QString>

#include "production/LogTypes.h"

namespace kelvano {

class LogConnection;
struct Job;

// The serial pools of the log: taking a card's serial, recording its result, settling a
// serial that a run left unconfirmed. A serial moves: taken (by a card whose result is not in
// yet) -> spent (the card passed), free (the card failed or was aborted: the next card takes
// it again) or void (OnFail=void). A value spent, taken or voided in a pool is never handed
// out again, whatever job asks.
//
// The result of a card is recorded only while its run still holds the card's serial: once
// the serial was settled (the run looked dead to another station), the card is recorded as
// failed, the operator is told to set it aside, and the settlement stands.
class SerialPool {
public:
    // A run beats every few seconds. One that could not renew its beat for stopTakingMs()
    // (30 s) takes no new card; another station calls it dead only after runDeadMs() (90 s),
    // longer than an outage is ridden out (a minute) and a card then takes to be recorded.
    //
    // For tests only: KELVANO_TEST_RUN_DEAD_MS=N makes a run dead after N ms without a beat
    // (and stop taking cards after N/3 ms), so that a frozen station can be tried in seconds.
    // Production never sets it.
    static qint64 runDeadMs();
    static qint64 stopTakingMs();

    SerialPool(LogConnection& db, const QString& station) : db_(db), station_(station) {}
    void setRun(qint64 runId) { runId_ = runId; }
    void setStation(const QString& station) { station_ = station; }

    // Who works at this station: the process's OS user, as runs and settlements record it.
    static QString osUser();
    // The pool a job's serials come from.
    static QString poolOf(const Job& job);
    // Whether the run of a card is going on: on this station its process tells, elsewhere its
    // heartbeat.
    static bool runAlive(const LogTypes::Row& card, const QString& station);

    // Takes the job's next serial (a given-back one first) and opens the card's row, in one
    // transaction.
    LogTypes::Take take(const Job& job, const QString& port, LogTypes::Card& card, QString& error);
    // Records the card's result: spends its serial on a pass, gives it back (or voids it) on
    // a fail or an abort. When the serial was settled meanwhile, the card is recorded as
    // failed and `setAside` says what the operator is to do with it.
    bool finish(const Job& job, const LogTypes::Card& card, LogTypes::Result result,
                const QString& step, const QString& message, QString& error, QString* setAside);
    bool settle(const QString& serial, LogTypes::Settle how, const QString& pool, QString& error);

private:
    LogTypes::Take takeOnce(const Job& job, const QString& port, LogTypes::Card& card,
                            QString& error);
    LogTypes::Take takeSerial(const Job& job, LogTypes::Card& card, QString& error);
    LogTypes::Take takeNewSerial(const Job& job, LogTypes::Card& card, QString& error);
    bool finishOnce(const Job& job, const LogTypes::Card& card, LogTypes::Result result,
                    const QString& step, const QString& message, QString& error, QString& setAside);
    bool stillHeld(const LogTypes::Card& card, QString& error, bool& held, QString& settledAs);
    bool settleOnce(const QString& serial, LogTypes::Settle how, const QString& pool,
                    QString& error);

    LogConnection& db_;
    QString station_;
    qint64 runId_ = 0;
};

}  // namespace kelvano

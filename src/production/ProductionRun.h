#pragma once
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "base/Clock.h"
#include "base/Host.h"
#include "base/MainView.h"
#include "base/Options.h"
#include "production/Job.h"

namespace kelvano {

class TCom;

// What a worker needs of its box: the link, made by the front end for a port name (a serial
// port, a kelvano-boxsim terminal, "USB", the in-process "SIM").
class BoxLink {
public:
    virtual ~BoxLink() = default;
    virtual TCom& com() = 0;
};
using BoxLinkFactory = std::function<std::unique_ptr<BoxLink>(const QString& port, Host&, Clock&,
                                                              MainView&, Options&)>;

// One box's state as the front ends show it (a tile per box in the window, a line per box
// in the terminal).
struct WorkerStatus {
    QString port;
    int pass = 0;
    int fail = 0;
    int aborted = 0;      // stopped by the user while in work
    int unrecorded = 0;   // cards counted above whose result the log could not record
    QString serial;       // the serial of the card in work, or the last one
    bool inWork = false;  // a card is being programmed (its serial is `serial`)
    QString step;         // what the programming of the card in work does now ("PROGRAMMING
                          // DEVICE / EEPROM MEMORY"); empty when no card is in work
    QString lastResult;   // "pass", "fail", "aborted" or empty
    QString lastSerial;
    QString state;        // what the worker does now
    int percent = 0;      // how far the step of the card in work is
    QString lastMessage;  // the last card that failed: "step: message"
    QString error;        // why the worker stopped early
    bool finished = false;
};

// A production run: one worker per box, each on a thread of its own with its own link, card
// buffers, runner and log connection, all taking their serials from one log. A worker waits
// for a card (polling the box as the action window does), takes a serial, writes it into its
// copy of the image, programs and verifies the card, records the result, waits until the card
// is removed, and starts again; until the count of passed cards, the last serial or a stop.
class ProductionRun : public QObject {
    Q_OBJECT
public:
    // `count` 0: no limit of its own (the last serial or a stop ends the run).
    ProductionRun(const Job& job, const QString& log, const QStringList& ports, int count,
                  BoxLinkFactory factory, QObject* parent = nullptr);
    ~ProductionRun() override;

    // Opens the log once here (creating it when new): a file that is not a log or is locked
    // ends the run before any box is touched. Call before start.
    bool checkLog(QString& error);
    void start();
    // Asks every worker to stop: a card in work is aborted (its serial given back) and every
    // box is left in its idle state.
    void stop();
    bool wait(unsigned long ms = ULONG_MAX);
    bool isRunning() const;

    QList<WorkerStatus> statuses() const;
    // Every worker finished, at least one card was programmed, and every card passed.
    bool allPassed() const;
    // How the run ended beyond its counts: the last serial reached, and the boxes that still
    // hold a card (a run at its count or its last serial waits for no card's removal); or
    // empty.
    QString endMessage() const;
    const Job& job() const { return job_; }
    QString log() const { return log_; }

signals:
    // A worker's status changed (emitted on the worker's thread): `box` is its index in
    // statuses(); changed() follows every boxChanged().
    void boxChanged(int box, const kelvano::WorkerStatus& status);
    void changed();
    // A card's result is recorded: "pass", "fail" or "aborted", and the time from taking its
    // serial to its result (emitted on the worker's thread).
    void cardFinished(int box, const QString& result, qint64 durationMs);
    // Every worker has finished (emitted on the last worker's thread).
    void finished();

private:
    class Worker;
    void work(int index);
    void beat();
    void update(int index, const std::function<void(WorkerStatus&)>& change);
    bool reserveCard();
    void releaseCard();
    // No card is started any more: the count of passed cards is reached or the last serial
    // handed out.
    bool over() const { return exhausted_ || (count_ > 0 && passed_ >= count_); }

    Job job_;
    QString log_;
    QStringList ports_;
    int count_;
    BoxLinkFactory factory_;
    std::vector<std::unique_ptr<QThread>> threads_;
    mutable QMutex mutex_;
    QList<WorkerStatus> statuses_;
    QString endMessage_;
    QList<int> cardsLeft_;  // the boxes that ended with a card in them
    std::atomic<bool> stop_{false};
    std::atomic<bool> over_{false};       // stopped, or every worker finished: the heartbeat ends
    std::atomic<bool> exhausted_{false};  // the last serial is handed out
    std::atomic<int> budget_{0};
    std::atomic<int> passed_{0};
    std::atomic<int> running_{0};
    std::atomic<qint64> lastBeatMs_{0};  // when the heartbeat was last renewed (epoch ms)
};

}  // namespace kelvano

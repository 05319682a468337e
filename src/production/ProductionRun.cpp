#include "production/ProductionRun.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMutexLocker>
#include <QTimer>
#include <optional>

#include "actions/uActions.h"
#include "base/PortError.h"
#include "link/uCom.h"
#include "production/ProductionLog.h"

namespace kelvano {

namespace {

// The runner's window in a worker: remembers what it shows, so that a failure can name the
// step it happened in, and ends the worker's wait when the runner asks to close.
class WorkerView final : public ActionView {
public:
    void setCaption(const QString& c) override { caption = c; }
    void setLabel(const QString& t) override { label = t; }
    void setLabelVisible(bool) override {}
    void setProgressPercent(int) override {}
    void setProgressVisible(bool) override {}
    void setAbortEnabled(bool) override {}
    void requestClose() override {
        if (loop) QTimer::singleShot(0, loop, &QEventLoop::quit);
    }
    void showModeless() override {}
    void hideWindow() override {}
    QString caption, label;
    QEventLoop* loop = nullptr;
};

// Errors are kept (the log records them) with the step shown when they came; nobody is
// there to answer a warning, and warnings are off anyway.
class WorkerHost final : public Host {
public:
    explicit WorkerHost(const WorkerView& view) : view_(view) {}
    void showError(const QString& text) override {
        if (!step.isEmpty()) return;
        step = view_.label.isEmpty() ? view_.caption
                                     : view_.caption + QStringLiteral(" / ") + view_.label;
        if (step.isEmpty()) step = QStringLiteral("LINK");
        message = text;
    }
    bool askOkAbort(const QString&, const QString&) override { return false; }
    void beep() override {}
    void processEvents() override { QCoreApplication::processEvents(); }
    void clear() {
        step.clear();
        message.clear();
    }
    QString step, message;

private:
    const WorkerView& view_;
};

// The card poll of the action window: "K" on the serial link, packet 05 over USB. The state
// (bits 1 and 2 set: no card), or -1 when the box did not answer.
int pollCard(TCom& com) {
    if (com.UsbConnected) {
        uint8_t reply[256];
        if (!com.usb().BulkWrite(com.PipeOut, QByteArray(1, '\x05'))) return -1;
        return com.usb().BulkRead(com.PipeIn, reply, int(sizeof reply)) == 1 ? reply[0] : -1;
    }
    QByteArray reply;
    if (com.Transact("K", reply, 20) < 0) return -1;
    bool ok = false;
    const int state = reply.trimmed().toInt(&ok);
    return ok ? state : -1;
}

constexpr int kFailuresInARow = 3;

}  // namespace

ProductionRun::ProductionRun(const Job& job, const QString& log, const QStringList& ports,
                             int count, BoxLinkFactory factory, QObject* parent)
    : QObject(parent),
      job_(job),
      log_(log),
      ports_(ports),
      count_(count),
      factory_(std::move(factory)) {
    for (int i = 0; i < ports_.size(); ++i) {
        WorkerStatus s;
        // A port named twice (several simulated boxes) is told apart by its box number.
        s.port = ports_.count(ports_[i]) > 1 ? QStringLiteral("%1#%2").arg(ports_[i]).arg(i + 1)
                                             : ports_[i];
        s.state = QStringLiteral("idle");
        statuses_.append(s);
    }
}

ProductionRun::~ProductionRun() {
    stop();
    wait();
}

bool ProductionRun::checkLog(QString& error) {
    auto log = ProductionLog::open(log_, error);
    return log != nullptr;
}

void ProductionRun::start() {
    stop_ = false;
    budget_ = count_ > 0 ? count_ : INT_MAX;
    running_ = int(ports_.size());
    for (int i = 0; i < ports_.size(); ++i) {
        threads_.emplace_back(QThread::create([this, i] { work(i); }));
        threads_.back()->start();
    }
}

void ProductionRun::stop() { stop_ = true; }

bool ProductionRun::wait(unsigned long ms) {
    for (auto& t : threads_)
        if (!t->wait(QDeadlineTimer(ms))) return false;
    return true;
}

bool ProductionRun::isRunning() const { return running_ > 0; }

QList<WorkerStatus> ProductionRun::statuses() const {
    QMutexLocker lock(&mutex_);
    return statuses_;
}

bool ProductionRun::allPassed() const {
    QMutexLocker lock(&mutex_);
    int pass = 0;
    for (const WorkerStatus& s : statuses_) {
        if (s.fail > 0 || s.aborted > 0 || !s.error.isEmpty() || !s.finished) return false;
        pass += s.pass;
    }
    return pass > 0;
}

QString ProductionRun::endMessage() const {
    QMutexLocker lock(&mutex_);
    return endMessage_;
}

void ProductionRun::update(int index, const std::function<void(WorkerStatus&)>& change) {
    {
        QMutexLocker lock(&mutex_);
        change(statuses_[index]);
    }
    emit changed();
}

// A card may be started while the passed and the running cards stay within the count.
bool ProductionRun::reserveCard() {
    if (budget_.fetch_sub(1) > 0) return true;
    ++budget_;
    return false;
}

void ProductionRun::releaseCard() { ++budget_; }

void ProductionRun::work(int index) {
    WorkerView view;
    WorkerHost host(view);
    RealClock clock;
    NullMainView mainView;
    Options options;
    options.ports = {ports_[index]};
    options.portIndex = 0;
    options.verify = job_.verify;
    options.alwaysErase = job_.alwaysErase;
    options.smartAuto = true;
    options.warnEnable = false;
    TDevices devices;
    FuseModel fuses;
    EnableBoxes enable;
    auto set = [&](const std::function<void(WorkerStatus&)>& change) { update(index, change); };
    const QString label = statuses()[index].port;
    auto finish = [&](const QString& error) {
        set([&](WorkerStatus& s) {
            s.state = error.isEmpty() ? QStringLiteral("done") : QStringLiteral("stopped");
            s.error = error;
            s.finished = true;
        });
        if (--running_ == 0) emit finished();
    };

    QString error;
    auto log = ProductionLog::open(log_, error);
    if (!log || !log->beginRun(job_, error)) return finish(error);
    std::unique_ptr<BoxLink> link = factory_(ports_[index], host, clock, mainView, options);
    if (!link) return finish(QStringLiteral("no box on port %1").arg(ports_[index]));
    TCom& com = link->com();
    job_.applyTo(devices, fuses, enable);
    TActions runner(host, clock, devices, com, options, enable, fuses, mainView);
    runner.setView(&view);
    com.setProgressView(&runner);
    set([](WorkerStatus& s) { s.state = QStringLiteral("connecting"); });
    com.Connect();
    if (!com.linkReady()) {
        com.Disconnect();
        log->endRun();
        return finish(host.message.isEmpty() ? QStringLiteral("the box did not come up")
                                             : host.message);
    }

    // Polls until the card state says `present`; false on a stop or a box that stopped
    // answering (five polls in a row, as the action window counts them).
    auto waitCard = [&](bool present, QString& why) {
        int misses = 0;
        while (!stop_) {
            int state = -1;
            try {
                state = pollCard(com);
            } catch (const PortError& e) {
                why = e.text();
                return false;
            }
            if (state < 0) {
                if (++misses >= 5) {
                    why = QStringLiteral("The programmer box does not answer.");
                    return false;
                }
            } else {
                misses = 0;
                if (((state & 6) != 6) == present) return true;
            }
            QCoreApplication::processEvents();
            clock.sleepMs(present ? 300 : 100);
        }
        return false;
    };

    QString boxError;
    int failedInARow = 0;
    while (!stop_) {
        if (!reserveCard()) break;
        set([](WorkerStatus& s) { s.state = QStringLiteral("waiting for a card"); });
        if (!waitCard(true, boxError)) {
            releaseCard();
            break;
        }
        ProductionLog::Card card;
        const auto take = log->takeCard(job_, label, card, error);
        if (take != ProductionLog::Take::Ok) {
            releaseCard();
            if (take == ProductionLog::Take::Exhausted) {
                QMutexLocker lock(&mutex_);
                endMessage_ = error;
                stop_ = true;
            } else {
                boxError = QStringLiteral("the log: ") + error;
            }
            break;
        }
        set([&](WorkerStatus& s) {
            s.serial = card.serialText;
            s.state = QStringLiteral("programming");
        });
        job_.applyTo(devices, fuses, enable);
        if (job_.serial) job_.serial->writeInto(devices, job_.serial->encode(card.serialValue));
        host.clear();

        // A stop while the card is in work aborts it at its next address.
        auto runAction = [&](ActionCode code, std::optional<MemorySet> memories, bool abortable) {
            QEventLoop loop;
            view.loop = &loop;
            QTimer watch;
            QObject::connect(&watch, &QTimer::timeout, &runner, [&] {
                if (abortable && stop_ && runner.running()) runner.ButCancelClick();
            });
            watch.start(50);
            if (memories)
                runner.start(code, *memories);
            else
                runner.start(code);
            loop.exec();
            watch.stop();
            runner.FormClose();
            view.loop = nullptr;
        };
        runAction(ActionCode::Program, std::nullopt, true);
        // The box writes the external EEPROM of the direct cards without reading it back: with
        // verify on, it is verified by an action of its own, which a stop lets finish (the
        // card is programmed by then).
        if (runner.result().ready && !runner.result().partial() && job_.verify && job_.eep &&
            isPicDirect(job_.card)) {
            runAction(ActionCode::Verify, MemorySet{Memory::ExternalEeprom}, false);
        }
        const ActionResult& r = runner.result();
        ProductionLog::Result result = ProductionLog::Result::Pass;
        QString step, message;
        if (!r.ready || r.partial()) {
            const bool byStop = stop_ && r.errors.isEmpty();
            result = byStop ? ProductionLog::Result::Aborted : ProductionLog::Result::Fail;
            step = host.step.isEmpty() ? view.caption : host.step;
            message = !r.errors.isEmpty()    ? r.errors.first()
                      : !r.notices.isEmpty() ? r.notices.first()
                      : byStop               ? QStringLiteral("stopped")
                                             : host.message;
            message.replace(QLatin1Char('\r'), QLatin1Char(' '));
        }
        if (!log->finishCard(job_, card, result, step, message, error)) {
            boxError = QStringLiteral("the log: ") + error;
            break;
        }
        if (result != ProductionLog::Result::Pass) releaseCard();
        const QString text = ProductionLog::resultText(result);
        set([&](WorkerStatus& s) {
            (result == ProductionLog::Result::Pass   ? s.pass
             : result == ProductionLog::Result::Fail ? s.fail
                                                     : s.aborted) += 1;
            s.lastResult = text;
            s.lastSerial = card.serialText;
        });
        // Cards keep failing: the box or the job is at fault rather than the cards.
        failedInARow = result == ProductionLog::Result::Fail ? failedInARow + 1 : 0;
        if (failedInARow >= kFailuresInARow) {
            boxError =
                QStringLiteral("%1 cards in a row failed (last: %2); check the box and the job")
                    .arg(kFailuresInARow)
                    .arg(message);
            break;
        }
        // A box that failed under the card (the link went down) stops this worker only.
        if (!com.linkReady()) {
            boxError = message.isEmpty() ? QStringLiteral("the link to the box was lost") : message;
            break;
        }
        set([](WorkerStatus& s) { s.state = QStringLiteral("remove the card"); });
        if (!waitCard(false, boxError)) break;
    }
    // Back to idle whatever happened: the runner's closing exchanges ran after each card;
    // the disconnect ends programming mode on a box that is still there.
    try {
        if (com.portOpen()) com.Transact("M0", 500);
    } catch (...) {
    }
    com.Disconnect();
    log->endRun();
    finish(boxError);
}

}  // namespace kelvano

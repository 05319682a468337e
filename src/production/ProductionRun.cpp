#include "production/ProductionRun.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QTimer>
#include <optional>

#include "actions/uActions.h"
#include "base/PortError.h"
#include "link/BoxInterface.h"
#include "link/uCom.h"
#include "production/ProductionLog.h"
#include "production/SerialPool.h"

namespace kelvano {

namespace {

// The runner's window in a worker: remembers what it shows, so that a failure can name the
// step it happened in, and ends the worker's wait when the runner asks to close.
class WorkerView final : public ActionView {
public:
    void setCaption(const QString& c) override {
        if (c == caption) return;
        caption = c;
        tell();
    }
    void setLabel(const QString& t) override {
        if (t == label) return;
        label = t;
        tell();
    }
    void setLabelVisible(bool) override {}
    void setProgressPercent(int p) override {
        if (p == percent) return;
        percent = p;
        tell();
    }
    void setProgressVisible(bool) override {}
    void setAbortEnabled(bool) override {}
    void requestClose() override {
        if (loop) QTimer::singleShot(0, loop, &QEventLoop::quit);
    }
    void showModeless() override {}
    void hideWindow() override {}
    QString step() const {
        return label.isEmpty() ? caption : caption + QStringLiteral(" / ") + label;
    }
    QString caption, label;
    int percent = 0;
    QEventLoop* loop = nullptr;
    // Tells the worker's status what the card in work is at.
    std::function<void(const QString& step, int percent)> shown;

private:
    void tell() {
        if (shown) shown(step(), percent);
    }
};

// Errors are kept (the log records them) with the step shown when they came; nobody is
// there to answer a warning, and warnings are off anyway.
class WorkerHost final : public Host {
public:
    explicit WorkerHost(const WorkerView& view) : view_(view) {}
    void showError(const QString& text) override {
        if (!step.isEmpty()) return;
        step = view_.step();
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

// A message of the runner on one line: the line breaks of a message box become spaces.
QString oneLine(QString text) {
    static const QRegularExpression breaks(QStringLiteral("[\\r\\n]+"));
    return text.replace(breaks, QStringLiteral(" ")).trimmed();
}

constexpr int kFailuresInARow = 3;
constexpr int kHeartbeatMs = 3000;

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
    over_ = false;
    exhausted_ = false;
    budget_ = count_ > 0 ? count_ : INT_MAX;
    passed_ = 0;
    {
        QMutexLocker lock(&mutex_);
        cardsLeft_.clear();
    }
    running_ = int(ports_.size());
    lastBeatMs_ = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < ports_.size(); ++i) {
        threads_.emplace_back(QThread::create([this, i] { work(i); }));
        threads_.back()->start();
    }
    threads_.emplace_back(QThread::create([this] { beat(); }));
    threads_.back()->start();
}

// Keeps the runs of this process alive in the log while any worker works, so that other
// stations see their cards as in work.
void ProductionRun::beat() {
    QString error;
    std::unique_ptr<ProductionLog> log;
    while (running_ > 0) {
        if (!log && (log = ProductionLog::open(log_, error))) log->setStopFlag(&over_);
        // A beat that fails is made up by the next; the workers see how old the last one is.
        if (log && log->heartbeat(error)) lastBeatMs_ = QDateTime::currentMSecsSinceEpoch();
        for (int i = 0; i < kHeartbeatMs / 100 && running_ > 0; ++i) QThread::msleep(100);
    }
}

void ProductionRun::stop() {
    stop_ = true;
    over_ = true;
}

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
    QString text = endMessage_;
    if (cardsLeft_.isEmpty()) return text;
    QList<int> boxes = cardsLeft_;
    std::sort(boxes.begin(), boxes.end());
    QStringList ports;
    for (int box : boxes) ports << statuses_[box].port;
    if (!text.isEmpty()) text += u' ';
    return text + QStringLiteral("Still holding a card: %1.").arg(ports.join(QStringLiteral(", ")));
}

void ProductionRun::update(int index, const std::function<void(WorkerStatus&)>& change) {
    WorkerStatus now;
    {
        QMutexLocker lock(&mutex_);
        change(statuses_[index]);
        now = statuses_[index];
    }
    emit boxChanged(index, now);
    emit changed();
}

// A card may be started while the passed and the running cards stay within the count.
bool ProductionRun::reserveCard() {
    if (budget_.fetch_sub(1) > 0) return true;
    ++budget_;
    return false;
}

void ProductionRun::releaseCard() { ++budget_; }

// One box's worker, on a thread of its own: its link, card buffers, runner and log connection.
class ProductionRun::Worker {
public:
    Worker(ProductionRun& run, int index);
    // Connects, then programs card after card until the count, the last serial, a stop or a
    // fault of the box; leaves the box idle and reports the worker finished.
    void work();

private:
    // How one card went, as the log records it.
    struct Outcome {
        ProductionLog::Result result = ProductionLog::Result::Pass;
        QString step, message;
    };

    void set(const std::function<void(WorkerStatus&)>& change) { run_.update(index_, change); }
    void finish(const QString& error);
    bool connectBox();
    bool waitCard(bool present, QString& why);
    bool oneCard(QString& boxError);
    bool takeSerial(ProductionLog::Card& card, QString& boxError);
    void prepareImage(const ProductionLog::Card& card);
    void programCard();
    void runAction(ActionCode code, std::optional<MemorySet> memories, bool abortable);
    Outcome outcome() const;
    void count(const ProductionLog::Card& card, const Outcome& outcome, bool unrecorded = false);
    bool beatFresh(QString& boxError);
    bool readyForNext(const Outcome& outcome, QString& boxError);
    void backToIdle();
    void leaveCard();

    ProductionRun& run_;
    const Job& job_;
    const int index_;
    WorkerView view_;
    WorkerHost host_{view_};
    RealClock clock_;
    NullMainView mainView_;
    Options options_;
    TDevices devices_;
    FuseModel fuses_;
    EnableBoxes enable_;
    const QString label_;
    QString error_;
    std::unique_ptr<ProductionLog> log_;
    std::unique_ptr<BoxLink> link_;
    std::unique_ptr<BoxInterface> box_;
    std::unique_ptr<TActions> runner_;
    int failedInARow_ = 0;
    bool inWork_ = false;
    bool cardLeft_ = false;  // the run ended with a card in the box
};

ProductionRun::Worker::Worker(ProductionRun& run, int index)
    : run_(run), job_(run.job_), index_(index), label_(run.statuses()[index].port) {
    options_.ports = {run_.ports_[index]};
    options_.portIndex = 0;
    options_.verify = job_.verify;
    options_.alwaysErase = job_.alwaysErase;
    options_.smartAuto = true;
    options_.warnEnable = false;
    view_.shown = [this](const QString& step, int percent) {
        if (inWork_)
            set([&](WorkerStatus& s) {
                s.step = step;
                s.percent = percent;
            });
    };
}

void ProductionRun::work(int index) { Worker(*this, index).work(); }

void ProductionRun::Worker::work() {
    log_ = ProductionLog::open(run_.log_, error_);
    if (log_) log_->setStopFlag(&run_.stop_);  // a stop does not wait for an outage to end
    if (!log_ || !log_->beginRun(job_, error_)) return finish(error_);
    link_ = run_.factory_(run_.ports_[index_], host_, clock_, mainView_, options_);
    if (!link_) return finish(QStringLiteral("no box on port %1").arg(run_.ports_[index_]));
    if (!connectBox()) return;
    QString boxError;
    while (!run_.stop_ && oneCard(boxError)) {
    }
    backToIdle();
    finish(boxError);
}

void ProductionRun::Worker::finish(const QString& error) {
    set([&](WorkerStatus& s) {
        s.state = !error.isEmpty() ? QStringLiteral("stopped")
                  : cardLeft_      ? QStringLiteral("done: take the card out")
                                   : QStringLiteral("done");
        s.error = error;
        s.finished = true;
    });
    if (--run_.running_ == 0) {
        run_.over_ = true;  // a beat that waits for a hung log ends now
        emit run_.finished();
    }
}

// The runner on the box's link, and the connect; when the box does not come up, the worker
// is finished and false returned.
bool ProductionRun::Worker::connectBox() {
    TCom& com = link_->com();
    box_ = makeBox(com);
    job_.applyTo(devices_, fuses_, enable_);
    runner_ = std::make_unique<TActions>(host_, clock_, devices_, com, options_, enable_, fuses_,
                                         mainView_);
    runner_->setView(&view_);
    runner_->setControllerCheck(true);  // a card with another controller fails untouched
    com.setProgressView(runner_.get());
    set([](WorkerStatus& s) { s.state = QStringLiteral("connecting"); });
    com.Connect();
    if (com.linkReady()) return true;
    com.Disconnect();
    log_->endRun();
    finish(host_.message.isEmpty() ? QStringLiteral("the box did not come up")
                                   : oneLine(host_.message));
    return false;
}

// Polls until the card state says `present`; false on a stop or a box that stopped answering
// (five polls in a row, as the action window counts them). Once the last serial is handed
// out, nobody waits for another card; once the run is over (its count or its last serial),
// nobody waits for a card to be taken out: the box is left holding it.
bool ProductionRun::Worker::waitCard(bool present, QString& why) {
    int misses = 0;
    while (!run_.stop_ && !(present && run_.exhausted_)) {
        CardPoll poll;
        try {
            poll = box_->pollCard();
        } catch (const PortError& e) {
            why = e.text();
            return false;
        }
        if (!poll.answered) {
            if (++misses >= 5) {
                why = QStringLiteral("The programmer box does not answer.");
                return false;
            }
        } else {
            misses = 0;
            if (poll.cardPresent() == present) return true;
            if (!present && run_.over()) {
                leaveCard();
                return false;
            }
        }
        QCoreApplication::processEvents();
        clock_.sleepMs(present ? 300 : 100);
    }
    return false;
}

// One card from its insertion to its removal; false when the worker ends (`boxError` then
// says why, empty for a regular end).
bool ProductionRun::Worker::oneCard(QString& boxError) {
    if (!run_.reserveCard()) return false;
    set([](WorkerStatus& s) { s.state = QStringLiteral("waiting for a card"); });
    if (!waitCard(true, boxError)) {
        run_.releaseCard();
        return false;
    }
    ProductionLog::Card card;
    if (!beatFresh(boxError)) {
        run_.releaseCard();
        return false;
    }
    if (!takeSerial(card, boxError)) return false;
    inWork_ = true;
    set([&](WorkerStatus& s) {
        s.serial = card.serialText;
        s.inWork = true;
        s.step.clear();
        s.state = QStringLiteral("programming");
    });
    prepareImage(card);
    programCard();
    Outcome done = outcome();
    QString setAside;
    if (!log_->finishCard(job_, card, done.result, done.step, done.message, error_, &setAside)) {
        // The log stayed out of reach: this box stops, and says what became of the card. The
        // end of the run is tried once, not ridden out again.
        log_->setRetry(nullptr, 0);
        count(card, done, true);
        boxError =
            QStringLiteral("the card's result (%1%2) could not be recorded: %3")
                .arg(ProductionLog::resultText(done.result),
                     card.serialText.isEmpty() ? QString()
                                               : QStringLiteral(", serial ") + card.serialText,
                     error_);
        if (!card.serialText.isEmpty())
            boxError += QStringLiteral(
                "; the serial stays unconfirmed until it is settled (kelvano-cli log settle)");
        return false;
    }
    if (!setAside.isEmpty())  // its serial was settled meanwhile: recorded as failed
        done = {ProductionLog::Result::Fail, QStringLiteral("recording the result"), setAside};
    if (done.result != ProductionLog::Result::Pass) run_.releaseCard();
    count(card, done);
    return readyForNext(done, boxError);
}

// A run whose heartbeat could not be renewed for a while takes no new card, well before
// another station may take it for dead: waits for a beat while the log is ridden out, then
// stops the box. False on a stop too (`boxError` then empty).
bool ProductionRun::Worker::beatFresh(QString& boxError) {
    const qint64 since = QDateTime::currentMSecsSinceEpoch();
    for (;;) {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (now - run_.lastBeatMs_ < SerialPool::stopTakingMs()) return true;
        if (run_.stop_) return false;
        if (now - since > 60000) {
            boxError = QStringLiteral(
                           "the run's heartbeat in the log %1 could not be renewed for %2 s: no "
                           "new card is started")
                           .arg(log_->shown())
                           .arg((now - run_.lastBeatMs_) / 1000);
            return false;
        }
        set([](WorkerStatus& s) { s.state = QStringLiteral("waiting for the log"); });
        clock_.sleepMs(250);
    }
}

// The card's serial from the log. The last serial handed out ends the whole run.
bool ProductionRun::Worker::takeSerial(ProductionLog::Card& card, QString& boxError) {
    const auto take = log_->takeCard(job_, label_, card, error_);
    if (take == ProductionLog::Take::Ok) return true;
    run_.releaseCard();
    if (take == ProductionLog::Take::Exhausted) {
        // The cards in work elsewhere carry earlier serials: they are finished, no new one is
        // started.
        QMutexLocker lock(&run_.mutex_);
        run_.endMessage_ = error_;
        run_.exhausted_ = true;
    } else {
        boxError = QStringLiteral("the log: ") + error_;
    }
    return false;
}

// The job's image with the card's serial written into it.
void ProductionRun::Worker::prepareImage(const ProductionLog::Card& card) {
    job_.applyTo(devices_, fuses_, enable_);
    if (job_.serial) job_.serial->writeInto(devices_, job_.serial->encode(card.serialValue));
    host_.clear();
}

void ProductionRun::Worker::programCard() {
    runAction(ActionCode::Program, std::nullopt, true);
    // The box writes the external EEPROM of the direct cards without reading it back: with
    // verify on, it is verified by an action of its own, which a stop lets finish (the card is
    // programmed by then).
    const ActionResult& r = runner_->result();
    if (r.ready && !r.partial() && job_.verify && job_.eep && isPicDirect(job_.card))
        runAction(ActionCode::Verify, MemorySet{Memory::ExternalEeprom}, false);
}

// Runs one action to its end. A stop while the card is in work aborts it at its next address.
void ProductionRun::Worker::runAction(ActionCode code, std::optional<MemorySet> memories,
                                      bool abortable) {
    TActions& runner = *runner_;
    QEventLoop loop;
    view_.loop = &loop;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &runner, [&] {
        if (abortable && run_.stop_ && runner.running()) runner.ButCancelClick();
    });
    watch.start(50);
    if (memories)
        runner.start(code, *memories);
    else
        runner.start(code);
    loop.exec();
    watch.stop();
    runner.FormClose();
    view_.loop = nullptr;
}

ProductionRun::Worker::Outcome ProductionRun::Worker::outcome() const {
    const ActionResult& r = runner_->result();
    Outcome o;
    if (r.ready && !r.partial()) return o;
    const bool byStop = run_.stop_ && r.errors.isEmpty();
    o.result = byStop ? ProductionLog::Result::Aborted : ProductionLog::Result::Fail;
    o.step = host_.step.isEmpty() ? view_.caption : host_.step;
    o.message = !r.errors.isEmpty()    ? r.errors.first()
                : !r.notices.isEmpty() ? r.notices.first()
                : byStop               ? QStringLiteral("stopped")
                                       : host_.message;
    o.message = oneLine(o.message);
    return o;
}

void ProductionRun::Worker::count(const ProductionLog::Card& card, const Outcome& outcome,
                                  bool unrecorded) {
    const QString text = ProductionLog::resultText(outcome.result);
    inWork_ = false;
    if (outcome.result == ProductionLog::Result::Pass) ++run_.passed_;
    set([&](WorkerStatus& s) {
        s.inWork = false;
        s.unrecorded += unrecorded ? 1 : 0;
        (outcome.result == ProductionLog::Result::Pass   ? s.pass
         : outcome.result == ProductionLog::Result::Fail ? s.fail
                                                         : s.aborted) += 1;
        s.lastResult = text;
        s.lastSerial = card.serialText;
        s.step.clear();
        s.percent = 0;
        if (outcome.result == ProductionLog::Result::Fail)
            s.lastMessage = outcome.step.isEmpty()
                                ? outcome.message
                                : outcome.step + QStringLiteral(": ") + outcome.message;
    });
    emit run_.cardFinished(index_, text, QDateTime::currentMSecsSinceEpoch() - card.startedMs);
}

// After a card: false when the box or the job looks at fault; otherwise waits until the card
// is taken out.
bool ProductionRun::Worker::readyForNext(const Outcome& outcome, QString& boxError) {
    // Cards keep failing: the box or the job is at fault rather than the cards.
    failedInARow_ = outcome.result == ProductionLog::Result::Fail ? failedInARow_ + 1 : 0;
    if (failedInARow_ >= kFailuresInARow) {
        boxError = QStringLiteral("%1 cards in a row failed (last: %2); check the box and the job")
                       .arg(kFailuresInARow)
                       .arg(outcome.message);
        return false;
    }
    // A box that failed under the card (the link went down) stops this worker only.
    if (!link_->com().linkReady()) {
        boxError = outcome.message.isEmpty() ? QStringLiteral("the link to the box was lost")
                                             : outcome.message;
        return false;
    }
    set([](WorkerStatus& s) { s.state = QStringLiteral("remove the card"); });
    return waitCard(false, boxError);
}

void ProductionRun::Worker::leaveCard() {
    cardLeft_ = true;
    QMutexLocker lock(&run_.mutex_);
    run_.cardsLeft_.append(index_);
}

// Back to idle whatever happened: the runner's closing exchanges ran after each card; the
// disconnect ends programming mode on a box that is still there.
void ProductionRun::Worker::backToIdle() {
    TCom& com = link_->com();
    try {
        if (com.portOpen()) com.Transact("M0", 500);
    } catch (...) {
    }
    com.Disconnect();
    log_->endRun();
}

}  // namespace kelvano

#include "app/ProductionWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/BoxTile.h"
#include "app/FloorPanel.h"
#include "app/ProductionChart.h"
#include "link/ImageStore.h"
#include "link/LibusbBackend.h"
#include "link/QtSerialPortImpl.h"
#include "link/uCom.h"
#include "production/LogReports.h"
#include "production/ProductionLog.h"
#include "production/ProductionRun.h"
#include "session/Session.h"
#include "sim/SimBox.h"
#include "sim/SimFault.h"
#include "sim/SimSerialPort.h"

namespace kelvano {

namespace {

constexpr int kTileColumns = 4;
constexpr int kLogWaitMs = 1000;  // the window's own reads never hold up the workers long

// "SIM(noanswer,on=W,at=500;late=50,on=K)": a simulated box with faults. Returns the port
// without its faults; `error` is set when a fault is not understood.
QString splitFaults(const QString& entry, QList<SimFault>& faults, QString& error) {
    const int open = entry.indexOf(u'(');
    if (open < 0) return entry;
    QString port = entry.left(open).trimmed();
    if (!Session::isSimulatorPort(port) || !entry.endsWith(u')')) {
        error = QStringLiteral("%1: only a simulated box (SIM) takes faults, as SIM(FAULT;...)")
                    .arg(entry);
        return port;
    }
    const QString list = entry.mid(open + 1, entry.size() - open - 2);
    for (const QString& f : list.split(u';', Qt::SkipEmptyParts)) {
        QString why;
        const auto fault = SimFault::parse(f.trimmed(), &why);
        if (!fault) {
            error = QStringLiteral("%1: %2").arg(entry, why);
            return port;
        }
        faults.append(*fault);
    }
    return port;
}

// The ports field split at the commas that are not inside a box's fault list.
QStringList splitPorts(const QString& text) {
    QStringList ports;
    QString current;
    int depth = 0;
    for (QChar c : text) {
        if (c == u'(') ++depth;
        if (c == u')') depth = std::max(0, depth - 1);
        if (c == u',' && depth == 0) {
            ports.append(current.trimmed());
            current.clear();
        } else {
            current += c;
        }
    }
    ports.append(current.trimmed());
    ports.removeAll(QString());
    return ports;
}

// A worker's box: a serial port, "USB", or "SIM", a simulated box that swaps its cards.
class WindowBoxLink final : public BoxLink {
public:
    WindowBoxLink(const QString& spec, int card, Host& host, Clock& clock, MainView& view,
                  Options& options)
        : usb_(&backend_) {
        QList<SimFault> faults;
        QString error;
        const QString port = splitFaults(spec, faults, error);
        if (Session::isSimulatorPort(port)) {
            box_ = std::make_unique<SimBox>(SimBox::Model::QxBase, card);
            box_->setCardFeeder(true);
            for (const SimFault& f : faults) box_->addFault(f);
        }
        auto factory = [this, &clock](const QString&) -> std::unique_ptr<SerialPort> {
            if (box_) return std::make_unique<SimSerialPort>(*box_, clock);
            return makeSystemSerialPort();
        };
        options.ports = {port};
        com_ = std::make_unique<TCom>(
            host, clock, view, options, usb_, factory,
            ImageStore::programStore(QCoreApplication::applicationDirPath()));
    }
    TCom& com() override { return *com_; }

private:
    std::unique_ptr<SimBox> box_;
    LibusbBackend backend_;
    TUsb usb_;
    std::unique_ptr<TCom> com_;
};

// The log the job names, else the one beside the job file.
QString jobLog(const Job& job) { return job.log.isEmpty() ? job.defaultLogPath() : job.log; }

QLabel* bigLabel(const QString& colour) {
    auto* l = new QLabel(QStringLiteral("0"));
    QFont f = l->font();
    f.setPointSize(30);
    f.setBold(true);
    l->setFont(f);
    l->setAlignment(Qt::AlignCenter);
    l->setStyleSheet(QStringLiteral("color: %1;").arg(colour));
    return l;
}

QVBoxLayout* captioned(const QString& caption, QWidget* value) {
    auto* box = new QVBoxLayout;
    box->addWidget(new QLabel(caption), 0, Qt::AlignCenter);
    box->addWidget(value);
    return box;
}

// The log's last cards, one row each, coloured by their result.
void fillCardTable(QTableWidget* table, const QList<ProductionLog::Row>& rows) {
    table->setRowCount(int(rows.size()));
    for (int i = 0; i < rows.size(); ++i) {
        const auto& r = rows[i];
        const QStringList cells{
            QString::number(r.id),
            r.ended.mid(11, 8),
            r.port,
            r.serial,
            r.result,
            r.step.isEmpty() ? r.message : r.step + QStringLiteral(": ") + r.message};
        const QColor colour = r.result == QLatin1String("pass")      ? QColor(0xD8, 0xF5, 0xD8)
                              : r.result == QLatin1String("pending") ? QColor(0xFF, 0xF4, 0xC8)
                                                                     : QColor(0xF8, 0xD0, 0xD0);
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setBackground(colour);
            item->setToolTip(cells[c]);
            table->setItem(i, c, item);
        }
    }
}

QTableWidget* cardTable() {
    auto* table = new QTableWidget(0, 6);
    table->setHorizontalHeaderLabels({QStringLiteral("Card"), QStringLiteral("Ended"),
                                      QStringLiteral("Port"), QStringLiteral("Serial"),
                                      QStringLiteral("Result"), QStringLiteral("Step / message")});
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return table;
}

}  // namespace

ProductionWindow::ProductionWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Production"));
    setObjectName(QStringLiteral("ProductionWindow"));
    jobLabel_ = new QLabel(QStringLiteral("No job opened"));
    open_ = new QPushButton(QStringLiteral("Open Job..."));
    ports_ = new QLineEdit(QStringLiteral("SIM"));
    ports_->setToolTip(
        QStringLiteral("Ports of the boxes, separated by commas. SIM: a simulated box;\n"
                       "SIM(FAULT;FAULT...): one with faults, as kelvano-boxsim --fault takes "
                       "them,\ne.g. SIM(noanswer,on=W,at=500)"));
    count_ = new QSpinBox;
    count_->setRange(0, 1000000);
    count_->setSpecialValueText(QStringLiteral("no limit"));
    logEdit_ = new QLineEdit;
    logEdit_->setPlaceholderText(QStringLiteral("the job's log"));
    pass_ = bigLabel(QStringLiteral("#0A8A0A"));
    fail_ = bigLabel(QStringLiteral("#C00000"));
    aborted_ = bigLabel(QStringLiteral("#B86E00"));
    next_ = bigLabel(QStringLiteral("#202020"));
    next_->setText(QStringLiteral("-"));
    tileGrid_ = new QGridLayout;
    chart_ = new ProductionChart;
    table_ = cardTable();
    table_->setObjectName(QStringLiteral("Cards"));
    find_ = new QLineEdit;
    find_->setObjectName(QStringLiteral("FindSerial"));
    find_->setPlaceholderText(QStringLiteral("a serial: its every card in the log"));
    find_->setClearButtonEnabled(true);
    message_ = new QLabel;
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    start_ = new QPushButton(QStringLiteral("Start"));
    stop_ = new QPushButton(QStringLiteral("Stop"));
    stop_->setEnabled(false);
    settle_ = new QPushButton(QStringLiteral("Settle Serial..."));
    settle_->setObjectName(QStringLiteral("Settle"));
    settle_->setToolTip(
        QStringLiteral("A serial left unconfirmed by a run that died: the card carries it "
                       "(spent),\nit must never be used (void), or it goes back to the pool "
                       "(return)."));
    ports_->setObjectName(QStringLiteral("Ports"));
    logEdit_->setObjectName(QStringLiteral("Log"));
    start_->setObjectName(QStringLiteral("Start"));
    stop_->setObjectName(QStringLiteral("Stop"));
    buildLayout();

    timer_ = new QTimer(this);
    timer_->setInterval(200);
    connect(timer_, &QTimer::timeout, this, &ProductionWindow::refresh);
    // The table follows the Log field once the typing pauses.
    logEdited_ = new QTimer(this);
    logEdited_->setSingleShot(true);
    logEdited_->setInterval(400);
    connect(logEdited_, &QTimer::timeout, this, &ProductionWindow::showLog);
    connect(logEdit_, &QLineEdit::textChanged, logEdited_, qOverload<>(&QTimer::start));
    connect(logEdit_, &QLineEdit::editingFinished, this, &ProductionWindow::maskLog);
    connect(find_, &QLineEdit::textChanged, this, &ProductionWindow::showCards);
    connect(open_, &QPushButton::clicked, this, [this] {
        const QString file =
            QFileDialog::getOpenFileName(this, QStringLiteral("Open Job"), QString(),
                                         QStringLiteral("Job Files (*.ini);;All Files (*)"));
        if (!file.isEmpty()) openJob(file);
    });
    connect(start_, &QPushButton::clicked, this, &ProductionWindow::start);
    connect(stop_, &QPushButton::clicked, this, &ProductionWindow::stop);
    connect(settle_, &QPushButton::clicked, this, &ProductionWindow::askSettle);
}

void ProductionWindow::buildLayout() {
    auto* top = new QHBoxLayout;
    top->addWidget(jobLabel_, 1);
    top->addWidget(open_);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Ports:"), ports_);
    form->addRow(QStringLiteral("Cards:"), count_);
    form->addRow(QStringLiteral("Log:"), logEdit_);
    auto* counters = new QHBoxLayout;
    counters->addLayout(captioned(QStringLiteral("Passed"), pass_), 1);
    counters->addLayout(captioned(QStringLiteral("Failed"), fail_), 1);
    counters->addLayout(captioned(QStringLiteral("Aborted"), aborted_), 1);
    counters->addLayout(captioned(QStringLiteral("Next serial"), next_), 2);
    auto* tiles = new QWidget;
    tiles->setLayout(tileGrid_);
    tileGrid_->setContentsMargins(0, 0, 0, 0);
    tileGrid_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    tileArea_ = new QScrollArea;
    tileArea_->setWidget(tiles);
    tileArea_->setWidgetResizable(true);
    tileArea_->setFrameShape(QFrame::NoFrame);
    tileArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tileArea_->hide();  // until a run has boxes
    auto* tabs = new QTabWidget;
    tabs->addTab(chart_, QStringLiteral("Chart"));
    auto* cards = new QWidget;
    auto* cardsLayout = new QVBoxLayout(cards);
    cardsLayout->setContentsMargins(0, 4, 0, 0);
    auto* findRow = new QHBoxLayout;
    findRow->addWidget(new QLabel(QStringLiteral("Find serial:")));
    findRow->addWidget(find_, 1);
    cardsLayout->addLayout(findRow);
    cardsLayout->addWidget(table_, 1);
    tabs->addTab(cards, QStringLiteral("Last cards"));
    tabs->addTab(new FloorPanel, QStringLiteral("Floor"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(message_, 1);
    buttons->addWidget(settle_, 0, Qt::AlignBottom);
    buttons->addWidget(start_, 0, Qt::AlignBottom);
    buttons->addWidget(stop_, 0, Qt::AlignBottom);
    auto* main = new QVBoxLayout(this);
    main->addLayout(top);
    main->addLayout(form);
    main->addLayout(counters);
    main->addWidget(tileArea_);
    main->addWidget(tabs, 1);
    main->addLayout(buttons);
    resize(940, 780);
}

ProductionWindow::~ProductionWindow() {
    if (run_) {
        run_->stop();
        run_->wait();
    }
}

void ProductionWindow::showMessage(const QString& text, bool bad) {
    message_->setText(text);
    message_->setStyleSheet(bad ? QStringLiteral("color: #C00000;") : QString());
}

QString ProductionWindow::logPath() const {
    QString shown = logEdit_->text().trimmed();
    if (shown.isEmpty()) return jobLog(*job_);
    // The field shows a server address without its password: the address is kept here.
    if (!logAddress_.isEmpty() && shown == ProductionLog::shownAddress(logAddress_))
        return logAddress_;
    return shown;
}

// A server address with a password is shown as the terminal shows it, without the password,
// once it is typed; the address itself is kept for the run and the reads.
void ProductionWindow::maskLog() {
    const QString typed = logEdit_->text().trimmed();
    if (!ProductionLog::hasPassword(typed)) return;
    logAddress_ = typed;
    logEdit_->setText(ProductionLog::shownAddress(typed));
}

bool ProductionWindow::openJob(const QString& path) {
    if (running()) return false;
    auto job = std::make_unique<Job>();
    QString error;
    const bool ok = readJob(path, *job, error);
    // A job that failed to open leaves none loaded: Start must not run the previous one.
    job_ = ok ? std::move(job) : nullptr;
    jobLabel_->setText(
        ok ? QStringLiteral("%1: %2").arg(job_->name,
                                          QString::fromLatin1(findDevice(job_->card)->displayName))
           : QStringLiteral("No job opened"));
    if (ok) count_->setValue(job_->count);
    logEdit_->setPlaceholderText(ok ? ProductionLog::shownAddress(jobLog(*job_))
                                    : QStringLiteral("the job's log"));
    showMessage(ok ? QStringLiteral("Job %1 opened.").arg(QFileInfo(path).fileName()) : error, !ok);
    showLog();
    return ok;
}

void ProductionWindow::setPorts(const QString& ports) { ports_->setText(ports); }

bool ProductionWindow::running() const { return run_ && run_->isRunning(); }

void ProductionWindow::setEditable(bool on) {
    // Settle Serial stays: the serials it offers are those of runs that died, never this one's.
    for (QWidget* w : std::initializer_list<QWidget*>{open_, start_, ports_, count_, logEdit_})
        w->setEnabled(on);
    stop_->setEnabled(!on);
}

bool ProductionWindow::start() {
    if (running()) return false;
    if (!job_) {
        showMessage(QStringLiteral("No job is loaded: open one with Open Job... first."), true);
        return false;
    }
    const QStringList ports = splitPorts(ports_->text());
    if (ports.isEmpty()) {
        showMessage(QStringLiteral("Name at least one port."), true);
        return false;
    }
    QString error;
    for (const QString& p : ports) {
        QList<SimFault> faults;
        splitFaults(p, faults, error);
        if (!error.isEmpty()) {
            showMessage(error, true);
            return false;
        }
    }
    const int card = job_->card;
    run_ = std::make_unique<ProductionRun>(
        *job_, logPath(), ports, count_->value(),
        [card](const QString& port, Host& host, Clock& clock, MainView& view, Options& options) {
            return std::make_unique<WindowBoxLink>(port, card, host, clock, view, options);
        });
    if (!run_->checkLog(error)) {
        showMessage(error + QStringLiteral("\nNothing was programmed."), true);
        run_.reset();
        return false;
    }
    connect(run_.get(), &ProductionRun::cardFinished, chart_,
            [this](int, const QString& result, qint64 durationMs) {
                chart_->addCard(QDateTime::currentMSecsSinceEpoch(), result, durationMs);
            });
    stopAsked_ = false;
    log_.reset();  // the run made the log: read it afresh
    makeTiles();
    chart_->begin(QDateTime::currentMSecsSinceEpoch());
    run_->start();
    showMessage(QStringLiteral("Running on %1.").arg(ports.join(QStringLiteral(", "))), false);
    setEditable(false);
    timer_->start();
    return true;
}

void ProductionWindow::makeTiles() {
    qDeleteAll(tiles_);
    tiles_.clear();
    const QList<WorkerStatus> all = run_->statuses();
    for (int i = 0; i < all.size(); ++i) {
        auto* tile = new BoxTile;
        tile->show(all[i]);
        tileGrid_->addWidget(tile, i / kTileColumns, i % kTileColumns);
        tiles_.append(tile);
    }
    fitTiles();
    tileArea_->show();
}

// Every tile in sight, up to half the window; more boxes (or long messages) scroll.
void ProductionWindow::fitTiles() {
    tileArea_->setMinimumHeight(std::min(tileArea_->widget()->sizeHint().height(), height() / 2));
}

void ProductionWindow::stop() {
    if (!running()) return;
    stopAsked_ = true;
    run_->stop();
    stop_->setEnabled(false);
    showMessage(QStringLiteral("Stopping: the cards in work are aborted and their serials given "
                               "back."),
                false);
}

void ProductionWindow::refresh() {
    // Whether the run has ended is read first: the statuses read after it are the last ones.
    const bool ended = run_ && !run_->isRunning() && timer_->isActive();
    int pass = 0, fail = 0, aborted = 0;
    showBoxes(pass, fail, aborted);
    showLog();
    chart_->redraw(QDateTime::currentMSecsSinceEpoch());
    if (ended) showRunEnd(pass, fail, aborted);
}

// A tile per box, and the cards of all boxes by result.
void ProductionWindow::showBoxes(int& pass, int& fail, int& aborted) {
    if (!run_) return;
    const QList<WorkerStatus> all = run_->statuses();
    for (int i = 0; i < all.size() && i < tiles_.size(); ++i) {
        const WorkerStatus& s = all[i];
        pass += s.pass;
        fail += s.fail;
        aborted += s.aborted;
        tiles_[i]->show(s);
    }
    fitTiles();
    pass_->setText(QString::number(pass));
    fail_->setText(QString::number(fail));
    aborted_->setText(QString::number(aborted));
}

// The next serial and the last cards of the log. A log that does not exist yet is not made
// here: only a run creates it.
void ProductionWindow::showLog() {
    if (!job_) {
        log_.reset();
        next_->setText(QStringLiteral("-"));
        table_->setRowCount(0);
        return;
    }
    const QString path = logPath();
    if (path != logShown_) log_.reset();
    logShown_ = path;
    QString error;
    if (!log_ && (ProductionLog::isServerAddress(path) || QFileInfo::exists(path)))
        log_ = ProductionLog::open(path, error, kLogWaitMs);
    if (!log_) {
        const auto first = job_->serial ? job_->serial->valueAt(0) : std::nullopt;
        next_->setText(first ? job_->serial->text(*first) : QStringLiteral("no serial"));
        table_->setRowCount(0);
        if (!error.isEmpty()) showMessage(error, true);
        return;
    }
    const QString next = log_->nextSerial(*job_, error);
    next_->setText(job_->serial ? (next.isEmpty() ? QStringLiteral("none left") : next)
                                : QStringLiteral("no serial"));
    showCards();
    findChild<FloorPanel*>()->fill(log_->reports());
}

// The last cards, or with a serial typed into the search field its cards, oldest first. A
// keystroke there reads only these rows, not the next serial and the floor.
void ProductionWindow::showCards() {
    if (!log_) return;
    QString error;
    const QString wanted = find_->text().trimmed();
    std::optional<LogReports::History> found;
    if (!wanted.isEmpty()) found = log_->reports().history(wanted, error);
    fillCardTable(table_, wanted.isEmpty() ? log_->lastCards(12, error)
                          : found          ? found->cards
                                           : QList<ProductionLog::Row>{});
}

QStringList ProductionWindow::unconfirmed() {
    showLog();
    QStringList serials;
    QString error;
    if (!log_) return serials;
    if (const auto summary = log_->summary(error, job_->name))
        for (const ProductionLog::Row& row : summary->unconfirmed) serials << row.serial;
    return serials;
}

bool ProductionWindow::settle(const QString& serial, ProductionLog::Settle how) {
    showLog();
    QString error;
    const bool ok = log_ && log_->settle(serial, how, ProductionLog::poolOf(*job_), error);
    if (!log_ && error.isEmpty())
        error = job_ ? QStringLiteral("The log %1 does not exist yet.")
                           .arg(ProductionLog::shownAddress(logPath()))
                     : QStringLiteral("No job is loaded: open one with Open Job... first.");
    showMessage(
        ok ? QStringLiteral("Serial %1 settled: %2.").arg(serial, ProductionLog::settleText(how))
           : error,
        !ok);
    showLog();
    return ok;
}

// Asks which unconfirmed serial to settle, and how.
void ProductionWindow::askSettle() {
    if (!job_) {
        showMessage(QStringLiteral("No job is loaded: open one with Open Job... first."), true);
        return;
    }
    const QStringList serials = unconfirmed();
    if (serials.isEmpty()) {
        showMessage(QStringLiteral("The log holds no unconfirmed serial of this job."), false);
        return;
    }
    bool ok = false;
    const QString serial =
        QInputDialog::getItem(this, QStringLiteral("Settle Serial"),
                              QStringLiteral("Unconfirmed serial:"), serials, 0, false, &ok);
    if (!ok) return;
    const QStringList hows{QStringLiteral("spent: the card carries it"),
                           QStringLiteral("void: it must never be used"),
                           QStringLiteral("return: it goes back to the pool")};
    const QString how =
        QInputDialog::getItem(this, QStringLiteral("Settle Serial"),
                              QStringLiteral("Serial %1 is:").arg(serial), hows, 0, false, &ok);
    if (!ok) return;
    settle(serial, static_cast<ProductionLog::Settle>(hows.indexOf(how)));
}

void ProductionWindow::showRunEnd(int pass, int fail, int aborted) {
    timer_->stop();
    // The last cards' results may still wait in the queue from the workers' threads.
    QCoreApplication::sendPostedEvents(chart_, QEvent::MetaCall);
    chart_->redraw(QDateTime::currentMSecsSinceEpoch());
    setEditable(true);
    QString text = QStringLiteral("Run ended: %1 passed, %2 failed, %3 aborted")
                       .arg(pass)
                       .arg(fail)
                       .arg(aborted);
    // Done: programmed to the end, passed or failed; an aborted card is not.
    if (stopAsked_)
        text += QStringLiteral("; stopped, %1 card%2 done")
                    .arg(pass + fail)
                    .arg(pass + fail == 1 ? "" : "s");
    text += u'.';
    const QString end = run_->endMessage();
    if (!end.isEmpty()) text += u' ' + end;
    for (const WorkerStatus& s : run_->statuses())
        if (!s.error.isEmpty()) text += QStringLiteral("\n%1 stopped: %2").arg(s.port, s.error);
    showMessage(text, fail > 0 || text.contains(u'\n'));
    if (closeWhenIdle_) close();
}

bool ProductionWindow::askToStop() {
    QMessageBox ask(QMessageBox::Question, QStringLiteral("Production"),
                    QStringLiteral("A run is going on. Stop it and close the window?\n\nThe cards "
                                   "in work are aborted and their serials given back."),
                    QMessageBox::NoButton, this);
    ask.setObjectName(QStringLiteral("StopQuestion"));
    QPushButton* stop = ask.addButton(QStringLiteral("Stop and Close"), QMessageBox::AcceptRole);
    QPushButton* keep = ask.addButton(QStringLiteral("Keep Running"), QMessageBox::RejectRole);
    ask.setDefaultButton(keep);
    ask.setEscapeButton(keep);
    ask.exec();
    return ask.clickedButton() == stop;
}

// While a run is on, closing asks first; once agreed the run stops as Stop does and the
// window closes when every box is idle.
void ProductionWindow::closeEvent(QCloseEvent* event) {
    if (!running()) {
        event->accept();
        return;
    }
    event->ignore();
    if (closeWhenIdle_ || !askToStop()) return;
    closeWhenIdle_ = true;
    stop();
    showMessage(QStringLiteral("Stopping: the cards in work are aborted and their serials given "
                               "back; the window closes when every box is idle."),
                false);
}

void ProductionWindow::reject() {
    if (running())
        close();
    else
        QDialog::reject();
}

QString ProductionWindow::passText() const { return pass_->text(); }
QString ProductionWindow::failText() const { return fail_->text(); }
QString ProductionWindow::abortedText() const { return aborted_->text(); }
QString ProductionWindow::nextSerialText() const { return next_->text(); }
QString ProductionWindow::messageText() const { return message_->text(); }
int ProductionWindow::logRows() const { return table_->rowCount(); }

}  // namespace kelvano

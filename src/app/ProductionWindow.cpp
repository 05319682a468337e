#include "app/ProductionWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "link/ImageStore.h"
#include "link/LibusbBackend.h"
#include "link/QtSerialPortImpl.h"
#include "link/uCom.h"
#include "production/ProductionLog.h"
#include "production/ProductionRun.h"
#include "sim/SimBox.h"
#include "sim/SimSerialPort.h"

namespace kelvano {

namespace {

// A worker's box: a serial port, "USB", or "SIM", a simulated box that swaps its cards.
class WindowBoxLink final : public BoxLink {
public:
    WindowBoxLink(const QString& port, int card, Host& host, Clock& clock, MainView& view,
                  Options& options)
        : usb_(&backend_) {
        if (port.compare(QLatin1String("SIM"), Qt::CaseInsensitive) == 0) {
            box_ = std::make_unique<SimBox>(SimBox::Model::QxBase, card);
            box_->setCardFeeder(true);
        }
        auto factory = [this, &clock](const QString&) -> std::unique_ptr<SerialPort> {
            if (box_) return std::make_unique<SimSerialPort>(*box_, clock);
            return makeSystemSerialPort();
        };
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

QLabel* bigLabel(const QString& colour) {
    auto* l = new QLabel(QStringLiteral("0"));
    QFont f = l->font();
    f.setPointSize(36);
    f.setBold(true);
    l->setFont(f);
    l->setAlignment(Qt::AlignCenter);
    l->setStyleSheet(QStringLiteral("color: %1;").arg(colour));
    return l;
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
            table->setItem(i, c, item);
        }
    }
}

// The result of the last finished card in large: green for a pass, red otherwise.
void showLastResult(QLabel* last, const QList<ProductionLog::Row>& rows) {
    for (const auto& r : rows) {
        if (r.result == QLatin1String("pending")) continue;
        const bool ok = r.result == QLatin1String("pass");
        last->setText(QStringLiteral("%1  %2 on %3").arg(r.result.toUpper(), r.serial, r.port));
        last->setStyleSheet(
            ok ? QStringLiteral("color: white; background: #0A8A0A; padding: 4px;")
               : QStringLiteral("color: white; background: #C00000; padding: 4px;"));
        break;
    }
}

}  // namespace

ProductionWindow::ProductionWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Production"));
    setObjectName(QStringLiteral("ProductionWindow"));
    jobLabel_ = new QLabel(QStringLiteral("No job opened"));
    open_ = new QPushButton(QStringLiteral("Open Job..."));
    ports_ = new QLineEdit(QStringLiteral("SIM"));
    ports_->setToolTip(
        QStringLiteral("Ports of the boxes, separated by commas (SIM: a simulated box)"));
    count_ = new QSpinBox;
    count_->setRange(0, 1000000);
    count_->setSpecialValueText(QStringLiteral("no limit"));
    logEdit_ = new QLineEdit;
    logEdit_->setPlaceholderText(QStringLiteral("the job's log"));
    pass_ = bigLabel(QStringLiteral("#0A8A0A"));
    fail_ = bigLabel(QStringLiteral("#C00000"));
    next_ = new QLabel(QStringLiteral("-"));
    last_ = new QLabel(QStringLiteral("-"));
    QFont f = last_->font();
    f.setPointSize(16);
    f.setBold(true);
    last_->setFont(f);
    next_->setFont(f);
    boxes_ = new QLabel;
    boxes_->setTextFormat(Qt::PlainText);
    boxes_->setFont(QFont(QStringLiteral("Monospace")));
    message_ = new QLabel;
    message_->setWordWrap(true);
    table_ = new QTableWidget(0, 6);
    table_->setHorizontalHeaderLabels({QStringLiteral("Card"), QStringLiteral("Ended"),
                                       QStringLiteral("Port"), QStringLiteral("Serial"),
                                       QStringLiteral("Result"), QStringLiteral("Step / message")});
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    start_ = new QPushButton(QStringLiteral("Start"));
    stop_ = new QPushButton(QStringLiteral("Stop"));
    stop_->setEnabled(false);

    auto* top = new QHBoxLayout;
    top->addWidget(jobLabel_, 1);
    top->addWidget(open_);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Ports:"), ports_);
    form->addRow(QStringLiteral("Cards:"), count_);
    form->addRow(QStringLiteral("Log:"), logEdit_);
    auto* counters = new QHBoxLayout;
    auto* passBox = new QVBoxLayout;
    passBox->addWidget(new QLabel(QStringLiteral("Passed")), 0, Qt::AlignCenter);
    passBox->addWidget(pass_);
    auto* failBox = new QVBoxLayout;
    failBox->addWidget(new QLabel(QStringLiteral("Failed")), 0, Qt::AlignCenter);
    failBox->addWidget(fail_);
    counters->addLayout(passBox);
    counters->addLayout(failBox);
    auto* info = new QFormLayout;
    info->addRow(QStringLiteral("Next serial:"), next_);
    info->addRow(QStringLiteral("Last card:"), last_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(start_);
    buttons->addWidget(stop_);
    auto* main = new QVBoxLayout(this);
    main->addLayout(top);
    main->addLayout(form);
    main->addLayout(counters);
    main->addLayout(info);
    main->addWidget(boxes_);
    main->addWidget(table_, 1);
    main->addWidget(message_);
    main->addLayout(buttons);
    resize(720, 640);

    timer_ = new QTimer(this);
    timer_->setInterval(200);
    connect(timer_, &QTimer::timeout, this, &ProductionWindow::refresh);
    connect(open_, &QPushButton::clicked, this, [this] {
        const QString file =
            QFileDialog::getOpenFileName(this, QStringLiteral("Open Job"), QString(),
                                         QStringLiteral("Job Files (*.ini);;All Files (*)"));
        if (!file.isEmpty()) openJob(file);
    });
    connect(start_, &QPushButton::clicked, this, &ProductionWindow::start);
    connect(stop_, &QPushButton::clicked, this, &ProductionWindow::stop);
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
    if (!logEdit_->text().trimmed().isEmpty()) return logEdit_->text().trimmed();
    return job_->log.isEmpty() ? job_->defaultLogPath() : job_->log;
}

bool ProductionWindow::openJob(const QString& path) {
    if (running()) return false;
    auto job = std::make_unique<Job>();
    QString error;
    if (!readJob(path, *job, error)) {
        showMessage(error, true);
        return false;
    }
    job_ = std::move(job);
    log_.reset();
    jobLabel_->setText(QStringLiteral("%1: %2").arg(
        job_->name, QString::fromLatin1(findDevice(job_->card)->displayName)));
    count_->setValue(job_->count);
    showMessage(QStringLiteral("Job %1 opened.").arg(QFileInfo(path).fileName()), false);
    refresh();
    return true;
}

void ProductionWindow::setPorts(const QString& ports) { ports_->setText(ports); }

bool ProductionWindow::running() const { return run_ && run_->isRunning(); }

bool ProductionWindow::start() {
    if (!job_ || running()) return false;
    QStringList ports;
    for (const QString& p : ports_->text().split(u',', Qt::SkipEmptyParts))
        ports.append(p.trimmed());
    if (ports.isEmpty()) {
        showMessage(QStringLiteral("Name at least one port."), true);
        return false;
    }
    const int card = job_->card;
    run_ = std::make_unique<ProductionRun>(
        *job_, logPath(), ports, count_->value(),
        [card](const QString& port, Host& host, Clock& clock, MainView& view, Options& options) {
            return std::make_unique<WindowBoxLink>(port, card, host, clock, view, options);
        });
    QString error;
    if (!run_->checkLog(error)) {
        showMessage(error + QStringLiteral("\nNothing was programmed."), true);
        run_.reset();
        return false;
    }
    log_ = ProductionLog::open(logPath(), error);
    run_->start();
    showMessage(QStringLiteral("Running on %1.").arg(ports.join(QStringLiteral(", "))), false);
    for (QWidget* w : std::initializer_list<QWidget*>{open_, start_, ports_, count_, logEdit_})
        w->setEnabled(false);
    stop_->setEnabled(true);
    timer_->start();
    return true;
}

void ProductionWindow::stop() {
    if (run_) run_->stop();
    showMessage(QStringLiteral("Stopping: the cards in work are aborted."), false);
}

void ProductionWindow::refresh() {
    if (!job_) return;
    QString error;
    if (!log_) log_ = ProductionLog::open(logPath(), error);
    int pass = 0, fail = 0;
    showBoxes(pass, fail);
    if (log_) showLog(error);
    if (run_ && !run_->isRunning() && timer_->isActive()) showRunEnd(pass, fail);
}

// One line per box, and the passed and failed cards of all boxes.
void ProductionWindow::showBoxes(int& pass, int& fail) {
    QStringList lines;
    if (run_) {
        const QList<WorkerStatus> all = run_->statuses();
        for (int i = 0; i < all.size(); ++i) {
            const WorkerStatus& s = all[i];
            pass += s.pass;
            fail += s.fail;
            lines.append(
                QStringLiteral("%1  pass %2  fail %3  serial %4  %5%6")
                    .arg(s.port, -8)
                    .arg(s.pass, 4)
                    .arg(s.fail, 3)
                    .arg(s.serial.isEmpty() ? QStringLiteral("-") : s.serial, -10)
                    .arg(s.state, s.error.isEmpty() ? QString() : QStringLiteral(": ") + s.error));
        }
    }
    pass_->setText(QString::number(pass));
    fail_->setText(QString::number(fail));
    boxes_->setText(lines.join(u'\n'));
}

// The next serial, the last cards of the log and the last card's result.
void ProductionWindow::showLog(QString& error) {
    const QString next = log_->nextSerial(*job_, error);
    next_->setText(job_->serial ? (next.isEmpty() ? QStringLiteral("none left") : next)
                                : QStringLiteral("no serial"));
    const QList<ProductionLog::Row> rows = log_->lastCards(12, error);
    fillCardTable(table_, rows);
    showLastResult(last_, rows);
}

void ProductionWindow::showRunEnd(int pass, int fail) {
    timer_->stop();
    for (QWidget* w : std::initializer_list<QWidget*>{open_, start_, ports_, count_, logEdit_})
        w->setEnabled(true);
    stop_->setEnabled(false);
    const QString end = run_->endMessage();
    showMessage(QStringLiteral("Run ended: %1 passed, %2 failed.%3")
                    .arg(pass)
                    .arg(fail)
                    .arg(end.isEmpty() ? QString() : QStringLiteral(" ") + end),
                fail > 0);
}

void ProductionWindow::closeEvent(QCloseEvent* event) {
    if (run_) {
        run_->stop();
        run_->wait();
        refresh();
    }
    event->accept();
}

QString ProductionWindow::passText() const { return pass_->text(); }
QString ProductionWindow::failText() const { return fail_->text(); }
QString ProductionWindow::nextSerialText() const { return next_->text(); }
QString ProductionWindow::lastResultText() const { return last_->text(); }
int ProductionWindow::logRows() const { return table_->rowCount(); }

}  // namespace kelvano

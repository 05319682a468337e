// Production runs on simulated boxes: in one process (several workers), and through
// kelvano-cli and kelvano-boxsim processes that are killed, frozen or cut off from their log.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <mutex>
#include <set>

#include "PgServer.h"
#include "Printers.h"
#include "TestRig.h"
#include "link/ImageStore.h"
#include "link/QtSerialPortImpl.h"
#include "link/uCom.h"
#include "production/Job.h"
#include "production/ProductionLog.h"
#include "production/ProductionRun.h"
#include "sim/BoxsimWaits.h"
#include "sim/SimBox.h"
#include "sim/SimSerialPort.h"

using namespace kelvano;
using test::contents;
using test::makeStale;
using test::writeFile;

namespace {

// The workers run event loops of their own, which need the application object.
void ensureApp() {
    static int argc = 1;
    static char name[] = "test_production";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

// The boxes of a test: made for the workers' links, kept for the checks afterwards. A port
// named by a path is the system's.
struct SimBoxes {
    std::mutex mutex;
    std::map<QString, std::unique_ptr<SimBox>> byPort;
    std::map<QString, SimFault> faults;
    std::map<QString, int> cardTypes;  // the cards a box is fed; default 10
    std::set<QString> unfed;           // boxes whose card nobody takes out

    BoxLinkFactory factory() {
        return [this](const QString& port, Host& host, Clock& clock, MainView& view,
                      Options& options) {
            struct Link : BoxLink {
                Link(SimBox* box, Host& host, Clock& clock, MainView& view, Options& options)
                    : link(
                          host, clock, view, options, usb,
                          [box, &clock](const QString&) -> std::unique_ptr<SerialPort> {
                              if (!box) return makeSystemSerialPort();
                              return std::make_unique<SimSerialPort>(*box, clock);
                          },
                          ImageStore()) {}
                TCom& com() override { return link; }
                TUsb usb{nullptr};
                TCom link;
            };
            if (port.startsWith(u'/'))
                return std::make_unique<Link>(nullptr, host, clock, view, options);
            std::lock_guard<std::mutex> lock(mutex);
            auto& box = byPort[port];
            box = std::make_unique<SimBox>(SimBox::Model::QxBase,
                                           cardTypes.count(port) ? cardTypes[port] : 10);
            box->setCardFeeder(!unfed.count(port));
            if (faults.count(port)) box->addFault(faults[port]);
            return std::make_unique<Link>(box.get(), host, clock, view, options);
        };
    }
};

// A PIC16F84 job: one flash word, and by default serials 1089712 (10A0B0) on in steps of 16,
// three bytes big-endian at 0x20 of the external EEPROM.
Job eepromSerialJob(const QString& dir, const QByteArray& serial =
                                            "Address=0x20\nSize=3\nForm=be\n"
                                            "Start=0x10A0B0\nStep=0x10\n") {
    writeFile(dir + "/flash.hex", ":020000000528D1\n:00000001FF\n");  // word 0: 2805
    Job job;
    QString error;
    EXPECT_TRUE(readJob(writeFile(dir + "/job.ini",
                                  "[Job]\nName=run\nCard=10\n[Images]\nSlot1=flash.hex\n[Serial]\n"
                                  "Memory=eeprom\n" +
                                      serial),
                        job, error))
        << error.toStdString();
    return job;
}

// The job the runs through kelvano-cli make: serials 1000 on, four ASCII digits in the EEPROM.
constexpr char kDecimalJob[] =
    "[Job]\nCard=10\n[Serial]\nMemory=eeprom\nAddress=0\nSize=4\nForm=dec\nStart=1000\n";

// Polls `done` every 20 ms for up to five minutes: on a busy machine a run takes many times as
// long as on an idle one, and the wait bounds only a run that hangs.
bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 15000; ++i, QThread::msleep(20))
        if (done()) return true;
    return false;
}

// The log's cards, oldest first, as "serial result port step | message".
QStringList cards(const QString& where) {
    QString error;
    QStringList out;
    if (auto log = ProductionLog::open(where, error))
        for (const auto& r : log->lastCards(100, error))
            out.prepend(r.serial + ' ' + r.result + ' ' + r.port + ' ' + r.step + " | " +
                        r.message);
    return out;
}

// A kelvano-boxsim that feeds cards; its pty.
QString startFeedingBox(QProcess& sim, const QStringList& more = {}) {
    sim.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-boxsim"),
              QStringList{"--feed", "--baud", "57600"} + more);
    return sim.waitForReadyRead(10000) ? QString::fromLocal8Bit(sim.readLine()).trimmed()
                                       : QString();
}

struct CliRun {
    int status = -1;
    QString out, err;
};

// kelvano-cli with `args`; as another user than root when the test runs as root, so that
// file permissions count.
CliRun cli(const QStringList& args, bool unprivileged = false,
           const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    test::Child p;
    p.setProcessEnvironment(env);
    QStringList command{QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli")};
    if (unprivileged && ::geteuid() == 0)
        command = QStringList{"runuser", "-u", "nobody", "--"} + command;
    p.start(command.first(), command.mid(1) + args);
    CliRun r;
    if (!p.waitForFinished(60000)) return r;
    r.status = p.exitCode();
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

}  // namespace

// Five boxes, four of them in trouble of their own: each failed card gives its serial back,
// each box's trouble stops at most its own worker, and the others make the count.
TEST(ProductionRun, FaultGivesTheSerialBackAndALostBoxStopsOnlyItsWorker) {
    ensureApp();
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("run.db"));
    const Job job = eepromSerialJob(dir.path());
    SimBoxes boxes;
    // A: one EEPROM write gets no answer; B: the link goes in the middle of the flash.
    boxes.faults["A"] = *SimFault::parse("noanswer,on=W,at=500");
    boxes.faults["B"] = *SimFault::parse("lostlink,on=I,at=600");
    // Box U: no EEPROM write answers, and nobody takes its failed card out.
    boxes.faults["U"] = *SimFault::parse("noanswer,on=W");
    boxes.unfed = {QStringLiteral("U")};
    // Box W: its cards have another controller (PIC16F876) than the job's (PIC16F84).
    boxes.cardTypes[QStringLiteral("W")] = 11;

    ProductionRun run(job, log, {"A", "B", "/dev/kelvano-none", "U", "W"}, 5, boxes.factory());
    QString error;
    ASSERT_TRUE(run.checkLog(error)) << error.toStdString();
    run.start();
    // At its count the run ends, naming the boxes that hold a card, not waiting for them.
    ASSERT_TRUE(run.wait(120000)) << "the run waited for a card to be taken out";
    const QList<WorkerStatus> s = run.statuses();
    EXPECT_EQ(run.endMessage(), "Still holding a card: A, U.");
    EXPECT_EQ(QList<int>({s[0].fail, s[1].fail, s[3].fail, s[4].fail, s[4].pass}),
              QList<int>({1, 1, 1, 3, 0}));
    for (const WorkerStatus& box : {s[0], s[3]}) EXPECT_EQ(box.state, "done: take the card out");
    EXPECT_EQ(s[0].lastMessage,
              "PROGRAMMING DEVICE / EEPROM MEMORY: Error while writing EEPROM Memory");
    EXPECT_FALSE(s[0].inWork);
    EXPECT_TRUE(s[0].error.isEmpty());
    EXPECT_FALSE(s[1].error.isEmpty()) << "box B's worker went on without its box";
    EXPECT_EQ(s[2].error,
              "Can't connect to Programmer Errorcode: Unable to open com port (win "
              "error code: 2): No such file or directory on /dev/kelvano-none Kelvano "
              "is written for: STRAVINEX QXBASE on a serial port STRAVINEX QXUSB on USB");
    EXPECT_EQ(s[0].pass + s[1].pass, 5);  // box A made up for box B
    EXPECT_FALSE(run.allPassed());

    // Every passed card carries its own serial; the failed ones gave theirs back.
    QStringList passed, failedW;
    QString lastA;
    for (const QString& c : cards(log)) {
        if (c.contains(" pass ")) passed << c.section(' ', 0, 0);
        if (c.contains(" pass A ")) lastA = c.section(' ', 0, 0);
        if (c.contains(" fail W ")) failedW << c.section(' ', 3);
    }
    passed.sort();
    EXPECT_EQ(passed, (QStringList{"1089712", "1089728", "1089744", "1089760", "1089776"}));
    // Box W's cards fail before anything on them changes; after three in a row it stops.
    const QString wrong = QStringLiteral(
        "PROGRAMMING DEVICE / IDENTIFY | Wrong controller for this card type! Read: PIC16F876, "
        "device ID 09E7 (device 04F, revision 7) Must: PIC16F84 or PIC16F84A");
    EXPECT_EQ(failedW, (QStringList{wrong, wrong, wrong}));
    for (const SimBox::TraceEntry& e : boxes.byPort[QStringLiteral("W")]->trace())
        for (const char* write : {"@L0", "@ErA", "@W", "@w"})
            EXPECT_FALSE(e.received.startsWith(write)) << e.received.toStdString();
    // Box A's last card holds the serial of its last pass, big-endian at 0x20; A is left idle.
    const SimCard& card = boxes.byPort[QStringLiteral("A")]->card();
    const QByteArray serialBytes(reinterpret_cast<const char*>(card.eeprom.data()) + 0x20, 3);
    EXPECT_EQ(serialBytes.toHex().toUInt(nullptr, 16), lastA.toUInt());
    EXPECT_EQ(card.flash[0], 0x2805);
    EXPECT_EQ(boxes.byPort[QStringLiteral("A")]->mode(), 0);
}

// Two boxes, one serial. Meanwhile the run's heartbeat shows the card in work elsewhere.
TEST(ProductionRun, TheLastSerialLetsTheCardInWorkFinish) {
    ensureApp();
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("last.db"));
    QString error;
    SimBoxes boxes;
    ProductionRun run(eepromSerialJob(dir.path(), "Address=0\nSize=2\nForm=le\nStart=7\nLast=7\n"),
                      log, {QStringLiteral("A"), QStringLiteral("B")}, 0, boxes.factory());
    // The first box with a card in work is held there until the other box has ended.
    std::atomic<int> holder{-1};
    std::atomic<bool> otherEnded{false}, release{false};
    QObject::connect(
        &run, &ProductionRun::boxChanged, &run,
        [&](int box, const WorkerStatus& st) {
            int none = -1;
            if (st.finished && holder >= 0 && box != holder) otherEnded = true;
            if (!st.inWork || !holder.compare_exchange_strong(none, box)) return;
            for (int i = 0; i < 6000 && !release; ++i) QThread::msleep(20);
        },
        Qt::DirectConnection);
    ASSERT_TRUE(run.checkLog(error)) << error.toStdString();
    run.start();
    const bool ended = waitFor([&] { return otherEnded.load(); });
    // A station elsewhere judges by the heartbeat: made stale, it is renewed within seconds.
    auto elsewhere = ProductionLog::open(log, error);
    ASSERT_TRUE(elsewhere) << error.toStdString();
    elsewhere->setStation(QStringLiteral("elsewhere"));
    makeStale(log);
    EXPECT_EQ(elsewhere->summary(error)->unconfirmed.size(), 1);
    EXPECT_TRUE(waitFor([&] { return elsewhere->summary(error)->inProgress.size() == 1; }))
        << "no heartbeat";
    release = true;
    ASSERT_TRUE(ended) << "the other box did not end";
    ASSERT_TRUE(run.wait(120000));
    const QList<WorkerStatus> s = run.statuses();
    const int held = holder;
    ASSERT_GE(held, 0);
    EXPECT_EQ(s[held].pass, 1);
    EXPECT_TRUE(s[0].error.isEmpty() && s[1].error.isEmpty());
    EXPECT_TRUE(run.allPassed());
    EXPECT_EQ(run.endMessage(),
              "The last serial number of job \"run\" has been handed out. "
              "Still holding a card: " +
                  s[held].port + ".");
    EXPECT_EQ(cards(log), QStringList{"7 pass " + s[held].port + "  | "});
}

// Killed while it waits to record a programmed card.
TEST(ProductionRun, KilledRunLeavesAConsistentLogAndTheNextRunGoesOn) {
    QTemporaryDir dir;
    const QString ini = writeFile(dir.filePath("job.ini"), kDecimalJob);
    const QString log = dir.filePath(QStringLiteral("job.log.db"));
    const QString trace = dir.filePath(QStringLiteral("trace.txt"));

    test::Child sim;
    const QString pty = startFeedingBox(sim, {"--trace", trace});
    ASSERT_FALSE(pty.isEmpty());
    auto jobRun = [&](QProcess& p) {
        p.start(
            QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli"),
            QStringList{"job", "run", ini, "--port", pty, "--count", "1"} + test::boxsimWaits());
    };

    test::Child first;
    jobRun(first);
    // The card is taken once its pending row is there; then the test holds the log's write
    // lock, so that the worker cannot record the result when it has programmed the card.
    ASSERT_TRUE(waitFor([&] {
        return QFile::exists(log) && cards(log).value(0).startsWith("1000 pending");
    })) << "no card was taken";
    {
        test::RawDb holder(log, "QSQLITE_BUSY_TIMEOUT=20000");
        ASSERT_TRUE(holder.exec("BEGIN IMMEDIATE"));
        ASSERT_EQ(holder.rows("SELECT result FROM cards"), QStringList{"pending"})
            << "the card was recorded before the lock";
        // Programmed and closed: the box got its closing "D----".
        ASSERT_TRUE(waitFor([&] { return contents(trace).contains("@D----"); }))
            << "the card was not programmed";
        ::kill(pid_t(first.processId()), SIGKILL);
        ASSERT_TRUE(first.waitForFinished(60000));
        holder.exec("ROLLBACK");
    }

    const QString text = cli({"log", "summary", "--log", log}).out;
    EXPECT_TRUE(text.contains(QStringLiteral("Cards: 0 passed, 0 failed, 0 aborted")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Unconfirmed serials (1)"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("  1000  card 1 on ")));

    test::Child second;
    jobRun(second);
    ASSERT_TRUE(second.waitForFinished(300000));
    const QStringList after = cards(log);
    EXPECT_EQ(second.exitCode(), 0)
        << second.readAllStandardError().toStdString()
        << second.readAllStandardOutput().toStdString() << after.join('\n').toStdString()
        << contents(trace).right(6000).toStdString();
    ASSERT_EQ(after.size(), 2);
    EXPECT_TRUE(after[0].startsWith("1000 pending") && after[1].startsWith("1001 pass"));
    QString error;
    EXPECT_EQ(ProductionLog::open(log, error)->serialStates("default", error),
              (QStringList{"1000 taken", "1001 spent"}));
}

TEST(LogCommands, CheckSettleSummaryExportAndFileFaults) {
    QTemporaryDir dir;
    const QString log = dir.filePath("cards.db");
    const QString alphaIni = writeFile(
        dir.filePath("alpha.ini"),
        "[Job]\nName=alpha\nCard=10\n[Serial]\nMemory=eeprom\nAddress=0\nSize=5\nForm=dec\n"
        "Start=100\n");
    const QString betaIni = writeFile(dir.filePath("beta.ini"),
                                      "[Job]\nName=beta\nCard=10\n[Serial]\nMemory=eeprom\n"
                                      "Address=0\nSize=5\nForm=dec\nStart=100\nPool=b\n");
    Job alpha, beta;
    QString error;
    ASSERT_TRUE(readJob(alphaIni, alpha, error) && readJob(betaIni, beta, error));
    {
        // alpha: a pass, and a card of a station whose run died; beta: a fail.
        auto gone = ProductionLog::open(log, error);
        ASSERT_TRUE(gone) << error.toStdString();
        gone->setStation("gone-host");
        ProductionLog::Card card;
        ASSERT_TRUE(gone->beginRun(alpha, error));
        ASSERT_EQ(gone->takeCard(alpha, "A", card, error), ProductionLog::Take::Ok);
        ASSERT_TRUE(gone->finishCard(alpha, card, ProductionLog::Result::Pass, {}, {}, error));
        ASSERT_EQ(gone->takeCard(alpha, "A", card, error), ProductionLog::Take::Ok);
        ASSERT_TRUE(gone->beginRun(beta, error));
        ASSERT_EQ(gone->takeCard(beta, "B", card, error), ProductionLog::Take::Ok);
        ASSERT_TRUE(gone->finishCard(beta, card, ProductionLog::Result::Fail, "VERIFYING",
                                     "Verify error", error));
        makeStale(log);
    }

    CliRun r = cli({"job", "check", alphaIni, "--log", log});
    EXPECT_TRUE(
        r.out.contains("  next serial: 00102 (pool \"default\"); skips 2 values the pool "
                       "holds already: 00100-00101\n"))
        << r.out.toStdString() << r.err.toStdString();
    r = cli({"log", "summary", "--log", log});
    EXPECT_TRUE(r.out.contains("Unconfirmed serials (1)") &&
                r.out.contains("  00101  card 2 on A at gone-host"))
        << r.out.toStdString();
    // A serial's history: each card with its station, port and user; its settlements.
    const QString me = QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
    r = cli({"log", "show", "00101", "--log", log});
    EXPECT_TRUE(r.out.startsWith("Serial 00101\n  pool default: taken\nCards (1):\n  card 2  ") &&
                r.out.contains(" gone-host port A  user " + me + "  job alpha ("))
        << r.out.toStdString();
    r = cli({"log", "show", "00101", "--json", "-", "--log", log});
    EXPECT_EQ(QJsonDocument::fromJson(r.out.toUtf8())["cards"][0]["user"].toString(), me);
    // The floor: one snapshot without a terminal; on one, drawn again (every 2 s) until q.
    r = cli({"log", "watch", "--log", log});
    const QString gone = r.out.section('\n', 2, 2);
    EXPECT_TRUE(gone.startsWith("gone-host        ended  beta               1     1     0 ") &&
                gone.endsWith("  00101         00100 VERIFYING: Verify error") &&
                !r.out.contains("(q ends)"))
        << r.out.toStdString();
    test::Child tty;
    tty.start("python3", {"-c", R"py(import os, pty, select, sys, time
pid, fd = pty.fork()
if pid == 0: os.execv(sys.argv[1], sys.argv[1:])
out, start = b"", time.time()
while out.count(b"(q ends)") < 2 and time.time() - start < 30:
    if select.select([fd], [], [], 0.5)[0]: out += os.read(fd, 65536)
os.write(fd, b"q")
asked = time.time()
status = os.waitpid(pid, 0)[1]
print(out.count(b"gone-host"), round(time.time() - asked) < 2, os.WEXITSTATUS(status)))py",
                          KELVANO_BIN_DIR "/kelvano-cli", "log", "watch", "--log", log});
    ASSERT_TRUE(tty.waitForFinished(60000));
    EXPECT_EQ(tty.readAllStandardOutput(), "2 True 0\n") << tty.readAllStandardError().data();
    r = cli({"log", "settle", "00101", "void", "--log", log});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Serial 00101 settled as void.\n");
    r = cli({"log", "summary", "--log", log});
    EXPECT_TRUE(r.out.contains("Cards: 1 passed, 1 failed, 0 aborted, 1 settled by hand\n"))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Void serials: 00101\n"));
    EXPECT_FALSE(r.out.contains("Unconfirmed"));
    r = cli({"log", "summary", betaIni, "--log", log});
    EXPECT_TRUE(r.out.contains("Jobs: beta\nCards: 0 passed, 1 failed, 0 aborted\n"))
        << r.out.toStdString();

    r = cli({"log", "export", "--json", dir.filePath("cards.jsonl"), "--log", log});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QList<QByteArray> lines = contents(dir.filePath("cards.jsonl")).split('\n');
    ASSERT_EQ(lines.size(), 4);  // three cards and the last line's end
    QStringList third;
    for (const char* key : {"job", "serial", "result", "failed_step", "pool"})
        third << QJsonDocument::fromJson(lines[2])[key].toString();
    EXPECT_EQ(third.join(' '), "beta 00100 fail VERIFYING b");
    // The settled card has no duration of its own.
    EXPECT_TRUE(QJsonDocument::fromJson(lines[1]).object().value("duration_ms").isNull());

    // A log that can't be written says so, and which file it is.
    ASSERT_TRUE(QDir(dir.path()).mkdir("ro") && QFile::copy(log, dir.filePath("ro/cards.db")));
    ::chmod(qPrintable(dir.filePath("ro/cards.db")), 0444);
    ::chmod(qPrintable(dir.filePath("ro")), 0555);
    ::chmod(qPrintable(dir.path()), 0755);
    // Reports only read: a read-only log will do, and a report never makes a log.
    r = cli({"log", "summary", "--log", dir.filePath("ro/cards.db")}, true);
    EXPECT_TRUE(r.out.contains("Cards: 1 passed, 1 failed, 0 aborted, 1 settled by hand\n"))
        << r.err.toStdString();
    r = cli({"job", "check", "--log", dir.filePath("ro/new.db"), alphaIni}, true);
    EXPECT_EQ(r.err, QStringLiteral("The log %1 can't be opened: there is no such file.\n")
                         .arg(dir.filePath("ro/new.db")));
    r = cli({"job", "run", alphaIni, "--port", "SIM", "--log", dir.filePath("ro/cards.db")}, true);
    EXPECT_EQ(r.err, QStringLiteral("The log %1 is read-only: it can't record cards.\nNothing was "
                                    "programmed.\n")
                         .arg(dir.filePath("ro/cards.db")));
    ::chmod(qPrintable(dir.filePath("ro")), 0700);
}

namespace {

// Stops `pid`, at a moment when it holds no write lock on the SQLite log `log`.
bool freeze(qint64 pid, const QString& log) {
    ::kill(pid_t(pid), SIGSTOP);
    if (log.contains(u'?')) return true;  // a server: its locks stay on rows nobody else wants
    test::RawDb probe(log, "QSQLITE_BUSY_TIMEOUT=300");
    for (int i = 0; i < 20; ++i) {
        if (probe.tryExec("BEGIN IMMEDIATE") && probe.tryExec("ROLLBACK")) return true;
        ::kill(pid_t(pid), SIGCONT);
        QThread::msleep(30);
        ::kill(pid_t(pid), SIGSTOP);
    }
    return false;
}

}  // namespace

// A station frozen (SIGSTOP) with a card in work until the others call its run dead: its
// serial is settled as returned and passed on another station's card. Woken up, the frozen
// station records its card as failed, to be set aside, and exits non-zero: no serial is passed
// twice. On SQLite and, when it is installed, on a PostgreSQL server. The other station's box
// answers three reads of the verify 100 ms late for a 30 ms wait: only --wait-factor passes it.
TEST(ProductionRun, AFrozenStationNeverPassesASerialSettledMeanwhile) {
    QTemporaryDir dir;
    const QString ini = writeFile(dir.filePath("job.ini"), kDecimalJob);
    test::PgServer pg;
    QStringList logs{dir.filePath("frozen.db")};
    QString why;
    if (test::PgServer::installed() && pg.start(why)) logs << pg.url();
    if (!why.isEmpty()) ADD_FAILURE() << why.toStdString();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KELVANO_TEST_RUN_DEAD_MS", "6000");  // dead after 6 s without a heartbeat
    const QString settledBy = QStringLiteral("serial 1000 was settled as return by %1 at %2 (")
                                  .arg(QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name),
                                       QSysInfo::machineHostName());
    for (const QString& log : logs) {
        SCOPED_TRACE(log.toStdString());
        test::Child sim1, sim2, first;
        const QString pty1 = startFeedingBox(sim1),
                      pty2 = startFeedingBox(sim2, {"--fault", "late=100,on=G,at=1,times=3"});
        ASSERT_FALSE(pty1.isEmpty() || pty2.isEmpty());
        QProcessEnvironment elsewhere = env;
        elsewhere.insert("KELVANO_TEST_STATION", "frozen-host");
        first.setProcessEnvironment(elsewhere);
        first.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli"),
                    QStringList{"job", "run", ini, "--port", pty1, "--count", "1", "--log", log} +
                        test::boxsimWaits());
        ASSERT_TRUE(waitFor([&] { return cards(log).value(0).startsWith("1000 pending"); }));
        ASSERT_TRUE(freeze(first.processId(), log));
        ASSERT_TRUE(cards(log).value(0).startsWith("1000 pending"))
            << "the card was recorded before the station froze";

        // Its heartbeat is a few seconds old: the run is alive, its serial is in work.
        CliRun r = cli({"log", "settle", "1000", "return", "--log", log}, false, env);
        EXPECT_TRUE(r.status != 0 && r.err.contains("serial 1000 is in work at frozen-host (port " +
                                                    pty1 + "): it is not unconfirmed"))
            << r.err.toStdString();
        QThread::msleep(7000);
        r = cli({"log", "settle", "1000", "return", "--log", log}, false, env);
        EXPECT_EQ(r.out, "Serial 1000 returned to its pool.\n") << r.err.toStdString();
        r = cli(QStringList{"job", "run", ini, "--port", pty2, "--count", "1", "--log", log} +
                    test::boxsimWaits(),
                false, env);
        EXPECT_EQ(r.status, 0) << r.err.toStdString();

        ::kill(pid_t(first.processId()), SIGCONT);
        ASSERT_TRUE(first.waitForFinished(120000));
        EXPECT_EQ(first.exitCode(), 1);
        const QString out = QString::fromLocal8Bit(first.readAllStandardOutput());
        const QStringList rows = cards(log);
        ASSERT_GE(rows.size(), 3) << rows.join('\n').toStdString();
        // Woken up mid-action, its box's answers may look late: either own result is a fail.
        const QString aside = rows[0].section(" | ", 1);
        const QString when = aside.mid(settledBy.size(), 24);
        const QString own = aside.endsWith("result: fail)") ? "fail" : "pass";
        EXPECT_EQ(rows[0], "1000 fail " + pty1 + " recording the result | " + settledBy + when +
                               ") while this card was in work: set the card aside, it carries a "
                               "serial that is not its own (the card's own result: " +
                               own + ")");
        EXPECT_TRUE(out.contains("1 " + pty1 + ": card 1000 failed: recording the result: " +
                                 aside.section(" (the card's own", 0, 0)))
            << out.toStdString();
        EXPECT_EQ(rows[1], "1000 pass " + pty2 + "  | ");
        EXPECT_EQ(rows.last(), "1001 pass " + pty1 + "  | ");
        QStringList passed;
        for (const QString& row : rows)
            if (row.contains(" pass ")) passed << row.section(' ', 0, 0);
        EXPECT_EQ(passed, (QStringList{"1000", "1001"}));
        EXPECT_EQ(ProductionLog::open(log, why)->serialStates("default", why),
                  (QStringList{"1000 spent", "1001 spent"}));
    }
}

// A link to the log server that goes silent (a relay frozen with SIGSTOP) while a card is in
// work: the station stops the box within the ride-out, naming the card's result and its
// serial, which stays unconfirmed.
TEST(ProductionRun, AHungLinkToTheLogServerStopsTheBoxWithinTheRideOut) {
    test::PgServer pg;
    QString why;
    if (!test::PgServer::installed()) GTEST_SKIP() << "no PostgreSQL server installed";
    ASSERT_TRUE(pg.start(why)) << why.toStdString();
    QTemporaryDir dir;
    const QString ini = writeFile(dir.filePath("job.ini"), kDecimalJob);
    // The relay: TCP on 127.0.0.1 to the server's socket, one thread per direction.
    test::Child relay, sim, run;
    relay.start("python3", {"-c", R"py(import socket, sys, threading
srv = socket.create_server(("127.0.0.1", 0))
print(srv.getsockname()[1], flush=True)
def pipe(a, b):
    try:
        while data := a.recv(65536): b.sendall(data)
    except OSError: pass
    for s in (a, b):
        try: s.shutdown(socket.SHUT_RDWR)
        except OSError: pass
while True:
    c = srv.accept()[0]
    u = socket.socket(socket.AF_UNIX)
    u.connect(sys.argv[1])
    for a, b in ((c, u), (u, c)): threading.Thread(target=pipe, args=(a, b), daemon=True).start()
)py",
                            pg.socketDir() + "/.s.PGSQL.5432"});
    ASSERT_TRUE(relay.waitForReadyRead(10000));
    const QString port = QString::fromLatin1(relay.readLine()).trimmed();
    const QString log = "postgresql://kelvano@127.0.0.1:" + port + "/postgres";
    const QString trace = dir.filePath("trace.txt");
    const QString pty = startFeedingBox(sim, {"--trace", trace});
    ASSERT_FALSE(pty.isEmpty());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KELVANO_TEST_LOG_RIDE_OUT_MS", "20000");
    run.setProcessEnvironment(env);
    run.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli"),
              QStringList{"job", "run", ini, "--port", pty, "--count", "2", "--log", log} +
                  test::boxsimWaits());
    // Frozen while the card is programmed; the test reads the log past the relay.
    ASSERT_TRUE(waitFor([&] { return cards(pg.url()).value(0).startsWith("1000 pending"); }));
    ::kill(pid_t(relay.processId()), SIGSTOP);
    QElapsedTimer clock;
    clock.start();
    // When the box got the card's closing "D----", and when its trace then paused for 2 s: the
    // card's verify ended there and the recording of its result began.
    qint64 programmed = -1, grew = -1, verified = -1, traced = 0;
    while (!run.waitForFinished(100) && clock.elapsed() < 120000) {
        QFile t(trace);
        if (t.open(QIODevice::ReadOnly) && t.size() != traced) {
            traced = t.size();
            grew = clock.elapsed();
            if (programmed < 0 && t.readAll().contains("@D----")) programmed = grew;
        } else if (programmed >= 0 && verified < 0 && clock.elapsed() - grew >= 2000) {
            verified = grew;
        }
    }
    const qint64 end = clock.elapsed();
    std::printf(
        "freeze to the end of the run: %lld ms, %lld ms after the card, %lld ms after "
        "its verify\n",
        static_cast<long long>(end), static_cast<long long>(end - programmed),
        static_cast<long long>(end - verified));
    ASSERT_EQ(run.state(), QProcess::NotRunning) << "the station hung on the silent link";
    // The ride-out is a deadline for the cut statement and every reconnect in it: the box
    // stops 20 s after the card's verify, and a margin for the run's end.
    EXPECT_TRUE(verified > 0 && end - verified <= 20000 + 2500) << end - verified;
    EXPECT_EQ(run.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(run.readAllStandardError());
    EXPECT_TRUE(err.startsWith(pty +
                               " stopped: the card's result (pass, serial 1000) could not "
                               "be recorded: the log kelvano@127.0.0.1:" +
                               port + "/postgres was out of reach for ") &&
                err.endsWith("; the serial stays unconfirmed until it is settled (kelvano-cli "
                             "log settle)\n"))
        << err.toStdString();
    EXPECT_TRUE(QString::fromLocal8Bit(run.readAllStandardOutput())
                    .endsWith("Summary: 1 passed (1 of them not recorded in the log), 0 failed, "
                              "0 aborted\n"));
    EXPECT_EQ(ProductionLog::open(pg.url(), why)->serialStates("default", why),
              QStringList{"1000 taken"});
}

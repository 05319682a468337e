// Production runs on simulated boxes: in one process (several workers), and through
// kelvano-cli and kelvano-boxsim with the process killed between programming and logging.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <mutex>

#include "Printers.h"
#include "link/ImageStore.h"
#include "link/uCom.h"
#include "production/Job.h"
#include "production/ProductionLog.h"
#include "production/ProductionRun.h"
#include "sim/SimBox.h"
#include "sim/SimSerialPort.h"

using namespace kelvano;

namespace {

// The workers run event loops of their own, which need the application object.
void ensureApp() {
    static int argc = 1;
    static char name[] = "test_production";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app =
        QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
}

// The boxes of a test: made for the workers' links, kept for the checks afterwards.
struct SimBoxes {
    std::mutex mutex;
    std::map<QString, std::unique_ptr<SimBox>> byPort;
    std::map<QString, SimFault> faults;
    std::map<QString, int> cardTypes;  // the cards a box is fed; default 10

    BoxLinkFactory factory() {
        return [this](const QString& port, Host& host, Clock& clock, MainView& view,
                      Options& options) {
            struct Link : BoxLink {
                Link(SimBox& box, Host& host, Clock& clock, MainView& view, Options& options)
                    : link(
                          host, clock, view, options, usb,
                          [&box, &clock](const QString&) {
                              return std::make_unique<SimSerialPort>(box, clock);
                          },
                          ImageStore()) {}
                TCom& com() override { return link; }
                TUsb usb{nullptr};
                TCom link;
            };
            std::lock_guard<std::mutex> lock(mutex);
            auto& box = byPort[port];
            box = std::make_unique<SimBox>(SimBox::Model::QxBase,
                                           cardTypes.count(port) ? cardTypes[port] : 10);
            box->setCardFeeder(true);
            if (faults.count(port)) box->addFault(faults[port]);
            return std::make_unique<Link>(*box, host, clock, view, options);
        };
    }
};

// A PIC16F84 job: one flash word, and serials 1089712 (10A0B0) on in steps of 16, three bytes
// big-endian at 0x20 of the external EEPROM.
QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    return path;
}

Job eepromSerialJob(const QString& dir) {
    writeFile(dir + "/flash.hex", ":020000000528D1\n:00000001FF\n");  // word 0: 2805
    Job job;
    QString error;
    EXPECT_TRUE(readJob(writeFile(dir + "/job.ini",
                                  "[Job]\nName=run\nCard=10\n[Images]\nSlot1=flash.hex\n[Serial]\n"
                                  "Memory=eeprom\nAddress=0x20\nSize=3\nForm=be\nStart=0x10A0B0\n"
                                  "Step=0x10\n"),
                        job, error))
        << error.toStdString();
    return job;
}

// Polls `done` every 20 ms for up to a minute.
bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 3000; ++i, QThread::msleep(20))
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

}  // namespace

TEST(ProductionRun, FaultGivesTheSerialBackAndALostBoxStopsOnlyItsWorker) {
    ensureApp();
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("run.db"));
    const Job job = eepromSerialJob(dir.path());
    SimBoxes boxes;
    // Box A: one EEPROM write of its first card gets no answer. Box B: the link goes in the
    // middle of the flash of its first card.
    SimFault noAnswer;
    noAnswer.kind = SimFault::Kind::NoAnswer;
    noAnswer.family = QStringLiteral("W");
    noAnswer.at = 500;
    boxes.faults[QStringLiteral("A")] = noAnswer;
    SimFault lost;
    lost.kind = SimFault::Kind::LostLink;
    lost.family = QStringLiteral("I");
    lost.at = 600;
    boxes.faults[QStringLiteral("B")] = lost;

    ProductionRun run(job, log, {QStringLiteral("A"), QStringLiteral("B")}, 5, boxes.factory());
    QString error;
    ASSERT_TRUE(run.checkLog(error)) << error.toStdString();
    run.start();
    ASSERT_TRUE(run.wait(120000));
    const QList<WorkerStatus> s = run.statuses();
    EXPECT_EQ(s[0].fail, 1);
    EXPECT_TRUE(s[0].error.isEmpty());
    EXPECT_EQ(s[1].fail, 1);
    EXPECT_FALSE(s[1].error.isEmpty()) << "box B's worker went on without its box";
    EXPECT_EQ(s[0].pass + s[1].pass, 5);  // box A made up for box B
    EXPECT_FALSE(run.allPassed());

    // Every passed card carries its own serial; the failed ones gave theirs back.
    QStringList passed, failedA;
    QString lastA;
    for (const QString& c : cards(log)) {
        if (c.contains(" pass ")) passed << c.section(' ', 0, 0);
        if (c.contains(" pass A ")) lastA = c.section(' ', 0, 0);
        if (c.contains(" fail A ")) failedA << c.section(' ', 3);
    }
    passed.sort();
    EXPECT_EQ(passed, (QStringList{"1089712", "1089728", "1089744", "1089760", "1089776"}));
    EXPECT_EQ(failedA,
              QStringList{"PROGRAMMING DEVICE / EEPROM MEMORY | Error while writing EEPROM "
                          "Memory"});
    auto opened = ProductionLog::open(log, error);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->serialStates("run", error),
              (QStringList{"1089712 spent", "1089728 spent", "1089744 spent", "1089760 spent",
                           "1089776 spent"}));
    // The last card of box A holds the serial of its last passed card, big-endian at 0x20
    // (1089776 is 10A0F0, 1089760 is 10A0E0, ...), and box A was left in its idle mode.
    const SimCard& card = boxes.byPort[QStringLiteral("A")]->card();
    const QByteArray serialBytes(reinterpret_cast<const char*>(card.eeprom.data()) + 0x20, 3);
    EXPECT_EQ(serialBytes.toHex().toUInt(nullptr, 16), lastA.toUInt());
    EXPECT_EQ(serialBytes.left(2), QByteArray("\x10\xA0"));
    EXPECT_EQ(card.flash[0], 0x2805);
    EXPECT_EQ(boxes.byPort[QStringLiteral("A")]->mode(), 0);
}

// Cards with another controller than the job's fail before anything on them changes, and
// give their serials back; after three in a row the worker stops.
TEST(ProductionRun, ACardWithAnotherControllerFailsUntouched) {
    ensureApp();
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("run.db"));
    const Job job = eepromSerialJob(dir.path());  // card type 10, a PIC16F84
    SimBoxes boxes;
    boxes.cardTypes[QStringLiteral("C")] = 11;  // PIC16F876 cards
    ProductionRun run(job, log, {QStringLiteral("C")}, 2, boxes.factory());
    QString error;
    ASSERT_TRUE(run.checkLog(error)) << error.toStdString();
    run.start();
    ASSERT_TRUE(run.wait(120000));
    EXPECT_EQ(run.statuses()[0].fail, 3);
    EXPECT_EQ(run.statuses()[0].pass, 0);
    const QString wrong = QStringLiteral(
        "fail C PROGRAMMING DEVICE / IDENTIFY | Wrong controller for this card type! Read: "
        "PIC16F876, "
        "device ID 09E7 (device 04F, revision 7) Must: PIC16F84 or PIC16F84A");
    EXPECT_EQ(cards(log),
              (QStringList{"1089712 " + wrong, "1089712 " + wrong, "1089712 " + wrong}));
    auto opened = ProductionLog::open(log, error);
    ASSERT_TRUE(opened);
    EXPECT_FALSE(opened->serialStates("run", error).join(' ').contains("spent"));
    for (const SimBox::TraceEntry& e : boxes.byPort[QStringLiteral("C")]->trace())
        for (const char* write : {"@L0", "@ErA", "@W", "@w"})
            EXPECT_FALSE(e.received.startsWith(write)) << e.received.toStdString();
}

// kelvano-cli killed while it waits to record a programmed card: the card's serial stays
// taken (unconfirmed), and the next run goes on with the next one.
TEST(ProductionRun, KilledRunLeavesAConsistentLogAndTheNextRunGoesOn) {
    QTemporaryDir dir;
    const QString ini =
        writeFile(dir.filePath("job.ini"),
                  "[Job]\nName=killed\nCard=10\n[Serial]\nMemory=eeprom\nAddress=0\n"
                  "Size=4\nForm=dec\nStart=1000\n");
    const QString log = dir.filePath(QStringLiteral("job.log.db"));
    const QString trace = dir.filePath(QStringLiteral("trace.txt"));

    QProcess sim;
    sim.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-boxsim"),
              {"--feed", "--baud", "57600", "--trace", trace});
    ASSERT_TRUE(sim.waitForReadyRead(10000));
    const QString pty = QString::fromLocal8Bit(sim.readLine()).trimmed();
    auto jobRun = [&](QProcess& p) {
        p.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli"),
                {"job", "run", ini, "--port", pty, "--count", "1"});
    };

    QProcess first;
    jobRun(first);
    ASSERT_TRUE(first.waitForStarted());
    // The card is taken once its pending row is there; then the test holds the log's write
    // lock, so that the worker cannot record the result when it has programmed the card.
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
    {
        QSqlDatabase db = QSqlDatabase::database(QStringLiteral("holder"), false);
        db.setDatabaseName(log);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=20000"));
        ASSERT_TRUE(waitFor([&] {
            return QFile::exists(log) && cards(log).value(0).startsWith("1000 pending");
        })) << "no card was taken";
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("BEGIN IMMEDIATE")));
        ASSERT_TRUE(q.exec(QStringLiteral("SELECT result FROM cards")) && q.next());
        ASSERT_EQ(q.value(0).toString(), QStringLiteral("pending"))
            << "the card was recorded before the lock";
        q.finish();
        // Programmed and closed: the box got its closing "D----".
        ASSERT_TRUE(waitFor([&] {
            QFile t(trace);
            return t.open(QIODevice::ReadOnly) && t.readAll().contains("@D----");
        })) << "the card was not programmed";
        ::kill(pid_t(first.processId()), SIGKILL);
        ASSERT_TRUE(first.waitForFinished(10000));
        q.exec(QStringLiteral("ROLLBACK"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));

    QProcess summary;
    summary.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli"), {"log", "summary", "--log", log});
    ASSERT_TRUE(summary.waitForFinished(20000));
    const QString text = QString::fromLocal8Bit(summary.readAllStandardOutput());
    EXPECT_TRUE(text.contains(QStringLiteral("Cards: 0 passed, 0 failed, 0 aborted")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Unconfirmed serials (1)"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("  1000  card 1 on ")));

    QProcess second;
    jobRun(second);
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    const QStringList after = cards(log);
    ASSERT_EQ(after.size(), 2);
    EXPECT_TRUE(after[0].startsWith("1000 pending") && after[1].startsWith("1001 pass"));
    QString error;
    EXPECT_EQ(ProductionLog::open(log, error)->serialStates("killed", error),
              (QStringList{"1000 taken", "1001 spent"}));
    sim.terminate();
    sim.waitForFinished(5000);
}

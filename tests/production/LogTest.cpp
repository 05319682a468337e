// The production log: serials taken in transactions, given back, voided; files that are not
// a log; the same races on SQLite and on a PostgreSQL server of the test's own.
#include <gtest/gtest.h>

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "PgServer.h"
#include "Printers.h"
#include "production/Job.h"
#include "production/ProductionLog.h"

using namespace kelvano;

namespace {

Job serialJob(const QString& name, uint64_t last, bool voidOnFail = false) {
    Job job;
    job.name = name;
    job.card = 10;
    job.hash = QStringLiteral("ab12");
    job.voidOnFail = voidOnFail;
    SerialPlan s;
    s.form = SerialPlan::Form::AsciiDec;
    s.size = 5;
    s.start = 100;
    s.step = 1;
    s.last = last;
    job.serial = s;
    return job;
}

// Two workers, each with its own connection, take serials until none is left; every third
// card of each fails and gives its serial back. Returns what went wrong, or "".
QString raceTwoWorkers(const QString& where, const Job& job, int* passes) {
    std::atomic<int> passed{0};
    QString errors[2];
    auto worker = [&](int n) {
        QString error;
        auto log = ProductionLog::open(where, error);
        if (!log || !log->beginRun(job, error)) {
            errors[n] = error;
            return;
        }
        for (int card = 1;; ++card) {
            ProductionLog::Card c;
            const auto take = log->takeCard(job, QStringLiteral("SIM%1").arg(n), c, error);
            if (take == ProductionLog::Take::Exhausted) break;
            if (take == ProductionLog::Take::Failed) {
                errors[n] = error;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(3));  // the card is programmed
            const bool pass = card % 3 != 0;
            if (!log->finishCard(
                    job, c, pass ? ProductionLog::Result::Pass : ProductionLog::Result::Fail,
                    pass ? QString() : QStringLiteral("VERIFYING"), QString(), error)) {
                errors[n] = error;
                return;
            }
            if (pass) ++passed;
        }
        log->endRun();
    };
    std::thread a(worker, 0), b(worker, 1);
    a.join();
    b.join();
    *passes = passed;
    return errors[0] + errors[1];
}

// After a race over serials 100..`last`: every serial spent by exactly one passed card, the
// failed cards' serials handed out again, none left.
void expectEachSerialPassedOnce(const QString& where, uint64_t last, int passes) {
    QString error;
    auto log = ProductionLog::open(where, error);
    ASSERT_TRUE(log) << error.toStdString();
    QStringList passed, spent;
    for (const auto& row : log->lastCards(10 * passes, error))
        if (row.result == QLatin1String("pass")) passed << row.serial;
    passed.sort();
    for (uint64_t v = 100; v <= last; ++v) spent << QStringLiteral("00%1").arg(v);
    EXPECT_EQ(passed, spent);
    for (QString& s : spent) s += QStringLiteral(" spent");
    EXPECT_EQ(log->serialStates(QStringLiteral("default"), error), spent);
    const auto s = log->summary(error);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->pass, passes);
    EXPECT_GT(s->fail, 0);
    EXPECT_EQ(s->freeSerials, 0);
}

class LogTest : public ::testing::Test {
protected:
    QString file(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir_;
};

}  // namespace

TEST_F(LogTest, TwoWorkersRacingNeverShareASerial) {
    int passes = 0;
    ASSERT_EQ(raceTwoWorkers(file("race.db"), serialJob(QStringLiteral("race"), 249), &passes),
              QString());
    EXPECT_EQ(passes, 150);
    expectEachSerialPassedOnce(file("race.db"), 249, 150);
}

TEST_F(LogTest, FailGivesTheSerialBackAndVoidKeepsItOut) {
    QString error;
    auto log = ProductionLog::open(file("give.db"), error);
    ASSERT_TRUE(log) << error.toStdString();
    const Job job = serialJob("give", 102), voiding = serialJob("give", 102, true);
    ASSERT_TRUE(log->beginRun(job, error));
    // Takes a card and records its result; the serial it was given.
    const auto card = [&](const Job& j, ProductionLog::Result result, const QString& step = {},
                          const QString& message = {}) {
        ProductionLog::Card c;
        EXPECT_EQ(log->takeCard(j, "SIM", c, error), ProductionLog::Take::Ok);
        EXPECT_TRUE(log->finishCard(j, c, result, step, message, error)) << error.toStdString();
        return c.serialText;
    };
    using R = ProductionLog::Result;
    EXPECT_EQ(card(job, R::Fail, "VERIFYING", "Verify error at $0010"), "00100");
    EXPECT_EQ(card(voiding, R::Aborted), "00100");  // given back, handed out again, then void
    EXPECT_EQ(card(job, R::Pass), "00101");
    EXPECT_EQ(card(job, R::Pass), "00102");
    ProductionLog::Card e;
    // 100 is void, 101 and 102 spent: the last value has been handed out.
    EXPECT_EQ(log->takeCard(job, QStringLiteral("SIM"), e, error), ProductionLog::Take::Exhausted);
    EXPECT_EQ(error, QStringLiteral("The last serial number of job \"give\" has been handed out."));
    EXPECT_EQ(log->serialStates(QStringLiteral("default"), error),
              (QStringList{"00100 void", "00101 spent", "00102 spent"}));
    const auto s = log->summary(error);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->pass, 2);
    EXPECT_EQ(s->fail, 1);
    EXPECT_EQ(s->aborted, 1);
    EXPECT_EQ(s->voided, QStringList{"00100"});
    const auto last = log->lastCards(2, error);
    ASSERT_EQ(last.size(), 2);
    EXPECT_EQ(last[0].serial, QStringLiteral("00102"));
    EXPECT_EQ(log->lastCards(4, error)[3].step, QStringLiteral("VERIFYING"));
    ASSERT_TRUE(log->exportCsv(file("out.csv"), error));
    QFile csv(file("out.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    EXPECT_TRUE(
        lines[0].startsWith("id,started,ended,station,port,card_type,job,job_hash,serial,result"));
    EXPECT_TRUE(lines[1].contains(",SIM,10,give,ab12,00100,fail,VERIFYING,Verify error at $0010,"));
}

TEST_F(LogTest, NotALogOrLockedIsRefusedWithAMessage) {
    QFile text(file("notes.txt"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly) && text.write("my notes, not a database\n") > 0);
    text.close();
    QString error, ignored;
    EXPECT_FALSE(ProductionLog::open(file("notes.txt"), error));
    EXPECT_TRUE(error.startsWith(file("notes.txt") + " is not a KELVANO log"))
        << error.toStdString();
    ASSERT_TRUE(ProductionLog::open(file("held.db"), ignored));
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other");
        other.setDatabaseName(file("other.db"));
        ASSERT_TRUE(other.open());
        QSqlQuery(other).exec("CREATE TABLE addresses (name TEXT)");
        EXPECT_FALSE(ProductionLog::open(file("other.db"), error));
        EXPECT_EQ(error, file("other.db") + " is not a KELVANO log (it holds other tables).");
        // Another program holds the log's write lock.
        other.close();
        other.setDatabaseName(file("held.db"));
        ASSERT_TRUE(other.open() && QSqlQuery(other).exec("BEGIN EXCLUSIVE"));
        EXPECT_FALSE(ProductionLog::open(file("held.db"), error, 200));
        EXPECT_EQ(error, QString("The log %1 is locked by another program.").arg(file("held.db")));
        QSqlQuery(other).exec("ROLLBACK");
        other.close();
    }
    QSqlDatabase::removeDatabase("other");
}

TEST(LogServer, TwoWorkersShareOnePostgreSqlPool) {
    if (!test::PgServer::installed()) GTEST_SKIP() << "PostgreSQL server is not installed: skipped";
    test::PgServer server;
    QString why;
    ASSERT_TRUE(server.start(why)) << why.toStdString();
    int passes = 0;
    ASSERT_EQ(raceTwoWorkers(server.url(), serialJob(QStringLiteral("race"), 179), &passes),
              QString());
    EXPECT_EQ(passes, 80);
    expectEachSerialPassedOnce(server.url(), 179, 80);  // a log of its own sees the same cards
}

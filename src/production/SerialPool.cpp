#include "production/SerialPool.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <QDateTime>
#include <QSqlQuery>
#include <cerrno>
#include <optional>

#include "production/Job.h"
#include "production/LogConnection.h"

namespace kelvano {

using namespace LogTypes;

namespace {

QString now() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs); }

QString isoMs(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

bool processAlive(qint64 pid) { return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM); }

}  // namespace

QString SerialPool::osUser() {
    if (const passwd* pw = ::getpwuid(::getuid())) return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER", QStringLiteral("?"));
}

qint64 SerialPool::runDeadMs() {
    static const qint64 limit = [] {
        bool ok = false;
        const qint64 ms = qEnvironmentVariable("KELVANO_TEST_RUN_DEAD_MS").toLongLong(&ok);
        return ok && ms > 0 ? ms : qint64(90000);
    }();
    return limit;
}

qint64 SerialPool::stopTakingMs() { return runDeadMs() / 3; }

QString SerialPool::poolOf(const Job& job) {
    return job.serial && !job.serial->pool.isEmpty() ? job.serial->pool : QStringLiteral("default");
}

bool SerialPool::runAlive(const Row& r, const QString& station) {
    if (r.runEnded) return false;
    if (r.station == station) return r.runPid == ::getpid() || processAlive(r.runPid);
    return r.heartbeatAgeMs >= 0 && r.heartbeatAgeMs < runDeadMs();
}

Take SerialPool::take(const Job& job, const QString& port, Card& card, QString& error) {
    Take taken = Take::Failed;
    db_.retrying(
        [&](QString& e) {
            taken = takeOnce(job, port, card, e);
            return taken != Take::Failed;
        },
        error);
    return taken;
}

Take SerialPool::takeOnce(const Job& job, const QString& port, Card& card, QString& error) {
    card = Card{};
    card.startedMs = QDateTime::currentMSecsSinceEpoch();
    if (!db_.begin(error)) return Take::Failed;
    auto fail = [&] {
        db_.rollback();
        return Take::Failed;
    };
    if (job.serial) {
        const Take taken = takeSerial(job, card, error);
        if (taken != Take::Ok) {
            db_.rollback();
            return taken;
        }
    }
    QVariant id;
    const QVariant noText{QMetaType(QMetaType::QString)};
    const QVariant noNumber{QMetaType(QMetaType::LongLong)};
    const QString num = QString::number(qulonglong(card.serialValue));
    if (!db_.exec(
            QStringLiteral(
                "INSERT INTO cards (run_id, station, port, card_type, job, job_hash, serial, "
                "serial_idx, started, result, pool, serial_num) VALUES (?, ?, ?, ?, ?, ?, ?, "
                "?, ?, 'pending', ?, ?) RETURNING id"),
            {runId_, station_, port, job.card, job.name, job.hash,
             job.serial ? QVariant(card.serialText) : noText,
             job.serial ? QVariant(card.serialIndex) : noNumber,
             QDateTime::fromMSecsSinceEpoch(card.startedMs, Qt::UTC).toString(Qt::ISODateWithMs),
             job.serial ? QVariant(card.pool) : noText, job.serial ? QVariant(num) : noText},
            error, &id))
        return fail();
    card.id = id.toLongLong();
    if (job.serial &&
        !db_.exec(QStringLiteral("UPDATE serial_values SET state = 'taken', card_id = "
                                 "?, job = ? WHERE pool = ? AND num = ?"),
                  {card.id, job.name, card.pool, num}, error))
        return fail();
    if (!db_.commit(error)) return fail();
    return Take::Ok;
}

// The card's serial: the given-back value that comes first in the job's plan, else a new one.
// Within takeCard's transaction; the caller rolls back when this fails.
Take SerialPool::takeSerial(const Job& job, Card& card, QString& error) {
    const SerialPlan& plan = *job.serial;
    card.pool = poolOf(job);
    QVariant locked;
    if (!db_.exec(QStringLiteral("INSERT INTO serial_pools (pool) VALUES (?) ON CONFLICT (pool) DO "
                                 "NOTHING"),
                  {card.pool}, error) ||
        (db_.isServer() &&
         !db_.exec(QStringLiteral("SELECT pool FROM serial_pools WHERE pool = ? FOR UPDATE"),
                   {card.pool}, error, &locked)))
        return Take::Failed;
    std::optional<uint64_t> best;
    if (!db_.select(
            QStringLiteral("SELECT num FROM serial_values WHERE pool = ? AND state = 'free'"),
            {card.pool}, error, [&](const QSqlQuery& q) {
                const auto index = plan.indexOf(q.value(0).toString().toULongLong());
                if (index && (!best || *index < *best)) best = index;
            }))
        return Take::Failed;
    if (!best) return takeNewSerial(job, card, error);
    card.serialIndex = qint64(*best);
    card.serialValue = *plan.valueAt(*best);
    card.serialText = plan.text(card.serialValue);
    return Take::Ok;
}

// The first value of the plan that the pool does not hold yet, entered as taken. Values that
// the pool holds are passed over: spent, taken or void by any job of the pool, under any plan.
Take SerialPool::takeNewSerial(const Job& job, Card& card, QString& error) {
    const SerialPlan& plan = *job.serial;
    QVariant hint;
    if (!db_.exec(QStringLiteral("SELECT next_index FROM serial_plans WHERE pool = ? AND plan = ?"),
                  {card.pool, plan.key()}, error, &hint))
        return Take::Failed;
    qint64 idx = hint.isValid() ? hint.toLongLong() : 0;
    for (;; ++idx) {
        const auto value = plan.valueAt(uint64_t(idx));
        if (!value) {
            error = QStringLiteral("The last serial number of job \"%1\" has been handed out.")
                        .arg(job.name);
            return Take::Exhausted;
        }
        QVariant held;
        if (!db_.exec(QStringLiteral("SELECT state FROM serial_values WHERE pool = ? AND num = ?"),
                      {card.pool, QString::number(qulonglong(*value))}, error, &held))
            return Take::Failed;
        if (!held.isValid()) {
            card.serialValue = *value;
            break;
        }
    }
    card.serialIndex = idx;
    card.serialText = plan.text(card.serialValue);
    if (!db_.exec(
            QStringLiteral("INSERT INTO serial_values (pool, num, value, state, job) VALUES (?, "
                           "?, ?, 'taken', ?)"),
            {card.pool, QString::number(qulonglong(card.serialValue)), card.serialText, job.name},
            error) ||
        !db_.exec(
            QStringLiteral("INSERT INTO serial_plans (pool, plan, next_index) VALUES (?, ?, ?) "
                           "ON CONFLICT (pool, plan) DO UPDATE SET next_index = "
                           "excluded.next_index"),
            {card.pool, plan.key(), idx + 1}, error))
        return Take::Failed;
    return Take::Ok;
}

bool SerialPool::finish(const Job& job, const Card& card, Result result, const QString& step,
                        const QString& message, QString& error, QString* setAside) {
    QString aside;
    const bool ok = db_.retrying(
        [&](QString& e) { return finishOnce(job, card, result, step, message, e, aside); }, error);
    if (setAside) *setAside = aside;
    return ok;
}

// Whether the card's run still holds its serial (taken by this very card); when it does not,
// `settledAs` says what became of it. Within finish's transaction; on a server the value's
// row stays locked until the end of it, so that a settlement waits for the result or the
// result for the settlement.
bool SerialPool::stillHeld(const Card& card, QString& error, bool& held, QString& settledAs) {
    QString state;
    qint64 holder = 0;
    if (!db_.select(QStringLiteral("SELECT state, card_id FROM serial_values WHERE pool = ? AND "
                                   "num = ?") +
                        (db_.isServer() ? QStringLiteral(" FOR UPDATE") : QString()),
                    {card.pool, QString::number(qulonglong(card.serialValue))}, error,
                    [&](const QSqlQuery& q) {
                        state = q.value(0).toString();
                        holder = q.value(1).toLongLong();
                    }))
        return false;
    held = state == QLatin1String("taken") && holder == card.id;
    if (held) return true;
    settledAs = state;
    return db_.select(QStringLiteral("SELECT how, user_name, station, settled FROM settlements "
                                     "WHERE card_id = ? ORDER BY id DESC"),
                      {card.id}, error, [&](const QSqlQuery& q) {
                          if (settledAs != state) return;  // the last settlement only
                          settledAs = QStringLiteral("settled as %1 by %2 at %3 (%4)")
                                          .arg(q.value(0).toString(), q.value(1).toString(),
                                               q.value(2).toString(), q.value(3).toString());
                      });
}

bool SerialPool::finishOnce(const Job& job, const Card& card, Result result, const QString& step,
                            const QString& message, QString& error, QString& setAside) {
    const qint64 end = QDateTime::currentMSecsSinceEpoch();
    const QVariant noText{QMetaType(QMetaType::QString)};
    setAside.clear();
    if (!db_.begin(error)) return false;
    QString settledAs;
    bool held = true;
    if (card.serialIndex >= 0 && !stillHeld(card, error, held, settledAs)) {
        db_.rollback();
        return false;
    }
    Result recorded = result;
    QString recordedStep = step, recordedMessage = message;
    if (!held) {
        // Another station settled the serial while this card was in work: the settlement
        // stands, and the card must not leave the line with it.
        setAside = QStringLiteral(
                       "serial %1 was %2 while this card was in work: set the card aside, it "
                       "carries a serial that is not its own")
                       .arg(card.serialText, settledAs);
        recorded = Result::Fail;
        recordedStep = QStringLiteral("recording the result");
        recordedMessage =
            setAside + QStringLiteral(" (the card's own result: %1)").arg(resultText(result));
    }
    bool ok = db_.exec(
        QStringLiteral("UPDATE cards SET ended = ?, result = ?, failed_step = ?, "
                       "message = ?, duration_ms = ? WHERE id = ?"),
        {isoMs(end), resultText(recorded), recordedStep.isEmpty() ? noText : QVariant(recordedStep),
         recordedMessage.isEmpty() ? noText : QVariant(recordedMessage), end - card.startedMs,
         card.id},
        error);
    const QString state = result == Result::Pass ? QStringLiteral("spent")
                          : job.voidOnFail       ? QStringLiteral("void")
                                                 : QStringLiteral("free");
    if (ok && held && card.serialIndex >= 0)
        ok = db_.exec(QStringLiteral("UPDATE serial_values SET state = ?, card_id = ? WHERE pool "
                                     "= ? AND num = ? AND card_id = ?"),
                      {state,
                       state == QLatin1String("free") ? QVariant(QMetaType(QMetaType::LongLong))
                                                      : QVariant(card.id),
                       card.pool, QString::number(qulonglong(card.serialValue)), card.id},
                      error);
    if (ok) ok = db_.commit(error);
    if (!ok) db_.rollback();
    return ok;
}

bool SerialPool::settle(const QString& serial, Settle how, const QString& pool, QString& error) {
    return db_.retrying([&](QString& e) { return settleOnce(serial, how, pool, e); }, error);
}

bool SerialPool::settleOnce(const QString& serial, Settle how, const QString& pool,
                            QString& error) {
    if (!db_.begin(error)) return false;
    const auto fail = [&](const QString& why) {
        db_.rollback();
        error = why;
        return false;
    };
    struct Held {
        QString pool, num, state;
        qint64 card = 0;
    };
    QList<Held> found;
    QString why;
    // On a server the value's row stays locked to the end: a card's result waits for it.
    if (!db_.select(
            QStringLiteral("SELECT pool, num, state, card_id FROM serial_values WHERE "
                           "(value = ? OR num = ?)") +
                (pool.isEmpty() ? QString() : QStringLiteral(" AND pool = ?")) +
                (db_.isServer() ? QStringLiteral(" FOR UPDATE") : QString()),
            pool.isEmpty() ? QVariantList{serial, serial} : QVariantList{serial, serial, pool}, why,
            [&](const QSqlQuery& q) {
                found.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                              q.value(3).toLongLong()});
            }))
        return fail(why);
    if (found.isEmpty())
        return fail(
            QStringLiteral("serial %1 is not in the log%2")
                .arg(serial, pool.isEmpty() ? QString() : QStringLiteral(" (pool %1)").arg(pool)));
    if (found.size() > 1) {
        QStringList pools;
        for (const Held& h : found) pools << h.pool;
        return fail(QStringLiteral("serial %1 is in the pools %2: name the job whose pool is meant")
                        .arg(serial, pools.join(QLatin1String(", "))));
    }
    const Held h = found.first();
    if (h.state != QLatin1String("taken"))
        return fail(QStringLiteral("serial %1 is not unconfirmed: it is %2").arg(serial, h.state));
    std::optional<Row> card;
    if (!db_.select(QStringLiteral("SELECT c.station, c.port, r.pid, r.ended, %1 - r.heartbeat "
                                   "FROM cards c LEFT JOIN runs r ON r.id = c.run_id WHERE c.id "
                                   "= ?")
                        .arg(db_.nowSql()),
                    {h.card}, why, [&](const QSqlQuery& q) {
                        card.emplace();
                        card->station = q.value(0).toString();
                        card->port = q.value(1).toString();
                        card->runPid = q.value(2).toLongLong();
                        card->runEnded = !q.value(3).isNull();
                        card->heartbeatAgeMs = q.value(4).isNull() ? -1 : q.value(4).toLongLong();
                    }))
        return fail(why);
    if (card && runAlive(*card, station_))
        return fail(QStringLiteral("serial %1 is in work at %2 (port %3): it is not unconfirmed")
                        .arg(serial, card->station, card->port));
    const QString state = how == Settle::Spent  ? QStringLiteral("spent")
                          : how == Settle::Void ? QStringLiteral("void")
                                                : QStringLiteral("free");
    const QString user = osUser();
    const QVariant noNumber{QMetaType(QMetaType::LongLong)};
    const bool ok =
        db_.exec(QStringLiteral("UPDATE serial_values SET state = ?, card_id = ? WHERE pool = ? "
                                "AND num = ?"),
                 {state, how == Settle::Return ? noNumber : QVariant(h.card), h.pool, h.num},
                 why) &&
        db_.exec(QStringLiteral("UPDATE cards SET result = 'settled', ended = ?, message = ? "
                                "WHERE id = ? AND result = 'pending'"),
                 {now(),
                  QStringLiteral("settled as %1 by %2 at %3").arg(settleText(how), user, station_),
                  h.card},
                 why) &&
        db_.exec(QStringLiteral("INSERT INTO settlements (pool, num, serial, how, settled, "
                                "station, user_name, card_id) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                 {h.pool, h.num, serial, settleText(how), now(), station_, user, h.card}, why) &&
        db_.commit(why);
    return ok || fail(why);
}

QString LogTypes::settleText(Settle s) {
    switch (s) {
        case Settle::Spent:
            return QStringLiteral("spent");
        case Settle::Void:
            return QStringLiteral("void");
        case Settle::Return:
            return QStringLiteral("return");
    }
    return {};
}

QString LogTypes::resultText(Result r) {
    switch (r) {
        case Result::Pass:
            return QStringLiteral("pass");
        case Result::Fail:
            return QStringLiteral("fail");
        case Result::Aborted:
            return QStringLiteral("aborted");
    }
    return {};
}

}  // namespace kelvano

#pragma once
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <atomic>
#include <functional>
#include <memory>

namespace kelvano {

class Clock;
class StatementWatch;

// One connection to the production log, an SQLite file or a PostgreSQL server, with the rules
// of an outage: an error that passes (a lock held by a report, a server that restarts, a link
// that hung) is ridden out for up to a minute, reconnecting to a server, and a stop asked for
// meanwhile ends the wait within a second.
//
// A hung TCP link to a server is cut: the client library's keepalives and TCP user time-out
// notice a silent peer, the server ends a statement that runs too long, and a statement whose
// answer does not come within kStatementLimitMs has its socket shut down here, so that it
// fails like any other outage instead of blocking.
class LogConnection {
public:
    // Longest a server statement may take (a lock wait included) before it counts as an
    // outage.
    static constexpr int kStatementLimitMs = 15000;
    // The client library waits at least 2 s for a connect, whatever it is told.
    static constexpr int kConnectFloorMs = 2000;

    // `readOnly`: an SQLite file is opened read-only (reports).
    LogConnection(const QString& where, int lockWaitMs, bool readOnly = false);
    ~LogConnection();
    LogConnection(const LogConnection&) = delete;
    LogConnection& operator=(const LogConnection&) = delete;

    static bool isServerAddress(const QString& where);
    // The address as messages show it: a server as user@host:port/db, never with its password.
    static QString shownAddress(const QString& where);
    // Whether a server address carries a password, and what the user is told about it.
    static bool hasPassword(const QString& where);
    static QString passwordWarning(const QString& where);

    // Whether the Qt SQL driver is there; error set when it is not.
    bool driverAvailable(QString& error) const;
    // (Re)opens the connection.
    bool connect(QString& error);

    bool exec(const QString& sql, const QVariantList& values, QString& error,
              QVariant* first = nullptr);
    bool select(const QString& sql, const QVariantList& values, QString& error,
                const std::function<void(const QSqlQuery&)>& row);
    // SQLite takes its write lock at once; PostgreSQL locks rows (FOR UPDATE) instead.
    bool begin(QString& error);
    bool commit(QString& error);
    void rollback();

    // Runs `attempt` (one whole transaction) until it succeeds, fails for good, the log has
    // been out of reach for the retry limit, or a stop is asked for.
    bool retrying(const std::function<bool(QString&)>& attempt, QString& error);
    static bool transient(const QString& error);
    // The current time in epoch ms as the database tells it (every station agrees on it).
    QString nowSql() const;

    void setRetry(Clock* clock, int limitMs);
    // How long a server statement may wait for its answer before its link is cut (tests make
    // it short).
    void setStatementLimit(int ms) { statementLimitMs_ = ms; }
    // A flag that, once set, ends an outage's wait (the worker's stop).
    void setStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }

    QString where() const { return where_; }
    QString shown() const { return shownAddress(where_); }
    bool isServer() const { return server_; }
    bool readOnly() const { return readOnly_; }

    bool stopped() const { return stop_ && stop_->load(); }

private:
    bool run(const std::function<bool()>& statement);
    // What is left of the ride-out in progress, -1 outside one.
    qint64 leftMs() const;
    bool silent(int ms) const;

    QString connection_;
    QString where_;
    bool server_ = false;
    bool readOnly_ = false;
    int lockWaitMs_ = 10000;
    Clock* clock_ = nullptr;
    std::unique_ptr<Clock> ownClock_;
    int retryLimitMs_ = 60000;
    qint64 deadlineMs_ = -1;   // on clock_, while a ride-out goes on
    bool outOfReach_ = false;  // the last ride-out ended without reaching the log
    const std::atomic<bool>* stop_ = nullptr;
    int statementLimitMs_ = kStatementLimitMs;
    std::unique_ptr<StatementWatch> watch_;
};

}  // namespace kelvano

#include "production/LogConnection.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAtomicInt>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/Clock.h"

namespace kelvano {

namespace {

QAtomicInt g_connections;

// What libpq is told about the TCP link: probes after 5 s of silence, every 2 s, 3 lost
// probes or 10 s of unacknowledged data end the connection.
const char* const kLinkOptions[] = {"keepalives=1", "keepalives_idle=5", "keepalives_interval=2",
                                    "keepalives_count=3", "tcp_user_timeout=10000"};

// The address's text before the host, where a password with an unencoded '/' or '?' cuts
// the address short; a password there never reaches a message.
bool oddPassword(const QString& where) {
    const qsizetype scheme = where.indexOf(QLatin1String("://"));
    if (scheme < 0) return false;
    const qsizetype at = where.lastIndexOf(u'@');
    if (at < 0) return false;
    const QString user = where.mid(scheme + 3, at - scheme - 3);
    return user.contains(u':') && (user.contains(u'/') || user.contains(u'?'));
}

// How long a statement may wait on a link that stayed out of reach through a whole ride-out
// (the end of a run that stops on it), until one gets through again.
constexpr int kAfterOutageMs = 2000;

// How long an outage is ridden out. For tests only: KELVANO_TEST_LOG_RIDE_OUT_MS=N makes it
// N ms.
int rideOutMs() {
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("KELVANO_TEST_LOG_RIDE_OUT_MS", &ok);
    return ok && ms > 0 ? ms : 60000;
}

// Whether this user may write the file and its folder (where SQLite keeps its journal).
bool writable(const QString& file) {
    return ::access(QFile::encodeName(file).constData(), W_OK) == 0 &&
           ::access(QFile::encodeName(QFileInfo(file).absolutePath()).constData(), W_OK) == 0;
}

}  // namespace

// Cuts the socket of a server statement that waits too long for its answer: a link whose far
// end froze (a proxy or a router that stopped) still acknowledges what is sent, so neither
// the keepalives nor the server's own time-out end the wait. The client library then reports
// a lost connection, which is ridden out like any other.
class StatementWatch {
public:
    StatementWatch() : thread_([this] { watch(); }) {}
    ~StatementWatch() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    // Cuts `fd` after `ms`, or as soon as `stop` is set.
    void arm(int fd, int ms, const std::atomic<bool>* stop) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            fd_ = fd;
            stop_ = stop;
            deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        }
        wake_.notify_all();
    }
    void disarm() {
        const std::lock_guard<std::mutex> lock(mutex_);
        fd_ = -1;
    }

private:
    void watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!quit_) {
            if (fd_ < 0) {
                wake_.wait(lock);
                continue;
            }
            const auto deadline = deadline_;
            const auto tick = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
            wake_.wait_until(lock, std::min(deadline, tick));
            const bool stop = stop_ && stop_->load();
            if (fd_ >= 0 && deadline_ == deadline &&
                (stop || std::chrono::steady_clock::now() >= deadline)) {
                ::shutdown(fd_, SHUT_RDWR);
                fd_ = -1;
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    int fd_ = -1;
    const std::atomic<bool>* stop_ = nullptr;
    std::chrono::steady_clock::time_point deadline_;
    bool quit_ = false;
    std::thread thread_;
};

LogConnection::LogConnection(const QString& where, int lockWaitMs, bool readOnly)
    : connection_(QStringLiteral("kelvano-log-%1").arg(g_connections.fetchAndAddRelaxed(1))),
      where_(where),
      server_(isServerAddress(where)),
      readOnly_(readOnly),
      lockWaitMs_(lockWaitMs),
      ownClock_(std::make_unique<RealClock>()),
      retryLimitMs_(rideOutMs()) {
    clock_ = ownClock_.get();
    if (QSqlDatabase::isDriverAvailable(server_ ? QStringLiteral("QPSQL")
                                                : QStringLiteral("QSQLITE")))
        QSqlDatabase::addDatabase(server_ ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"),
                                  connection_);
}

LogConnection::~LogConnection() {
    watch_.reset();
    if (!QSqlDatabase::contains(connection_)) return;
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen()) db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

bool LogConnection::isServerAddress(const QString& where) {
    return where.startsWith(QLatin1String("postgresql://")) ||
           where.startsWith(QLatin1String("postgres://"));
}

QString LogConnection::shownAddress(const QString& where) {
    if (!isServerAddress(where)) return where;
    if (oddPassword(where)) {
        // The URL can't be taken apart: show the host part after the last '@' only.
        const QString tail = where.mid(where.lastIndexOf(u'@') + 1);
        return QStringLiteral("(user)@") + tail.left(tail.indexOf(u'?'));
    }
    const QUrl url(where);
    const QUrlQuery query(url);
    QString host = query.hasQueryItem(QStringLiteral("host"))
                       ? query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded)
                       : url.host();
    if (host.isEmpty()) host = QStringLiteral("localhost");
    const QString port = query.hasQueryItem(QStringLiteral("port"))
                             ? query.queryItemValue(QStringLiteral("port"))
                             : (url.port(-1) > 0 ? QString::number(url.port()) : QString());
    QString shown = url.userName(QUrl::FullyDecoded);
    if (!shown.isEmpty()) shown += u'@';
    shown += host;
    if (!port.isEmpty()) shown += u':' + port;
    return shown + url.path(QUrl::FullyDecoded);
}

bool LogConnection::hasPassword(const QString& where) {
    if (!isServerAddress(where)) return false;
    if (oddPassword(where)) return true;
    const QUrl url(where);
    return !url.password().isEmpty() || QUrlQuery(url).hasQueryItem(QStringLiteral("password"));
}

QString LogConnection::passwordWarning(const QString& where) {
    QString text = QStringLiteral(
        "the log's address carries a password, which every user of this machine can read in "
        "the process list; keep it in ~/.pgpass or PGPASSWORD instead.");
    if (oddPassword(where))
        text += QStringLiteral(
            " Its password holds a '/' or '?', which cuts the address short: write them as %2F "
            "and %3F (and '@' as %40, '%' as %25).");
    return text;
}

bool LogConnection::driverAvailable(QString& error) const {
    if (QSqlDatabase::contains(connection_)) return true;
    error = QStringLiteral("The log %1 needs the Qt SQL driver %2, which is not installed.")
                .arg(shown(), server_ ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"));
    return false;
}

void LogConnection::setRetry(Clock* clock, int limitMs) {
    clock_ = clock ? clock : ownClock_.get();
    retryLimitMs_ = limitMs;
}

// (Re)opens the connection with the address's settings.
bool LogConnection::connect(QString& error) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (db.isOpen()) db.close();
    if (server_ && oddPassword(where_)) {
        error = QStringLiteral("The log %1 can't be opened: its address can't be read. %2")
                    .arg(shown(), passwordWarning(where_));
        return false;
    }
    // In a ride-out a connect waits no longer than what is left of it (retrying() begins none
    // with less than the client library's floor left).
    int seconds = qMax(2, lockWaitMs_ / 1000);
    if (const qint64 left = leftMs(); left >= 0)
        seconds = int(qBound<qint64>(kConnectFloorMs / 1000, left / 1000, qint64(seconds)));
    if (server_) {
        const QUrl url(where_);
        QUrlQuery query(url);
        db.setDatabaseName(url.path(QUrl::FullyDecoded).mid(1));
        db.setUserName(url.userName(QUrl::FullyDecoded));
        db.setPassword(query.hasQueryItem(QStringLiteral("password"))
                           ? query.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded)
                           : url.password(QUrl::FullyDecoded));
        db.setHostName(query.hasQueryItem(QStringLiteral("host"))
                           ? query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded)
                           : url.host());
        const int port = query.hasQueryItem(QStringLiteral("port"))
                             ? query.queryItemValue(QStringLiteral("port")).toInt()
                             : url.port(-1);
        if (port > 0) db.setPort(port);
        // Everything else (sslmode, service, application_name, ...) goes to the client
        // library as it is.
        QStringList options{QStringLiteral("connect_timeout=%1").arg(seconds)};
        for (const char* option : kLinkOptions) options << QString::fromLatin1(option);
        for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded))
            if (key != QLatin1String("host") && key != QLatin1String("port") &&
                key != QLatin1String("password"))
                options << key + u'=' + value;
        db.setConnectOptions(options.join(u';'));
    } else if (readOnly_ && !writable(where_)) {
        // Nobody here may write the file or its folder, so no journal can be beside it: read
        // it as it is.
        db.setDatabaseName(QUrl::fromLocalFile(where_).toString(QUrl::FullyEncoded) +
                           QStringLiteral("?immutable=1"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
    } else {
        db.setDatabaseName(where_);
        db.setConnectOptions(
            QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1%2")
                .arg(lockWaitMs_)
                .arg(readOnly_ ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    }
    if (server_ && stop_ && silent(seconds * 1000)) {
        error =
            QStringLiteral("The log %1 can't be opened: the server does not answer").arg(shown());
        return false;
    }
    if (!db.open()) {
        error = QStringLiteral("The log %1 can't be opened: %2")
                    .arg(shown(), db.lastError().text().simplified());
        return false;
    }
    QString ignored;
    if (server_) {
        exec(QStringLiteral("SET statement_timeout = %1").arg(kStatementLimitMs), {}, ignored);
    } else if (!readOnly_) {
        // Write-ahead logging: one sync per transaction instead of three, and a summary that
        // reads while the workers write. Refused on a file that is not a database, which the
        // schema check reports.
        exec(QStringLiteral("PRAGMA journal_mode=WAL"), {}, ignored);
    }
    return true;
}

// Whether the server stays silent through a connect of `ms`, or a stop came first: a link
// that hangs holds the client library's own connect for its whole time-out, which no stop
// ends. A refusal or an address it can't read is left to the connect proper to report.
bool LogConnection::silent(int ms) const {
    const QByteArray url = where_.toUtf8();
    const char* const keys[] = {"dbname", nullptr};
    const char* const values[] = {url.constData(), nullptr};
    PGconn* conn = PQconnectStartParams(keys, values, 1);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    auto state = PGRES_POLLING_WRITING;
    bool silence = false;
    while (conn && PQstatus(conn) != CONNECTION_BAD && state != PGRES_POLLING_OK &&
           state != PGRES_POLLING_FAILED) {
        if (stopped() || std::chrono::steady_clock::now() >= until) {
            silence = true;
            break;
        }
        pollfd wait{PQsocket(conn), short(state == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        if (::poll(&wait, 1, 100) > 0) state = PQconnectPoll(conn);
    }
    PQfinish(conn);
    return silence;
}

bool LogConnection::exec(const QString& sql, const QVariantList& values, QString& error,
                         QVariant* first) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.isOpen()) {  // lost in an outage, not reopened yet
        error = QStringLiteral("no connection to the log");
        return false;
    }
    QSqlQuery q(db);
    // Statements without values run as they are: PostgreSQL prepares no transaction control.
    bool ok = run([&] { return values.isEmpty() ? q.exec(sql) : q.prepare(sql); });
    if (ok && !values.isEmpty()) {
        for (const QVariant& v : values) q.addBindValue(v);
        ok = run([&] { return q.exec(); });
    }
    if (!ok) {
        error = q.lastError().text().simplified();
        if (q.lastError().type() == QSqlError::ConnectionError && error.isEmpty())
            error = QStringLiteral("no connection to the log");
        return false;
    }
    if (first) *first = q.next() ? q.value(0) : QVariant();
    return true;
}

bool LogConnection::select(const QString& sql, const QVariantList& values, QString& error,
                           const std::function<void(const QSqlQuery&)>& row) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.isOpen()) {
        error = QStringLiteral("no connection to the log");
        return false;
    }
    QSqlQuery q(db);
    q.setForwardOnly(true);
    bool ok = run([&] { return q.prepare(sql); });
    for (const QVariant& v : values) q.addBindValue(v);
    if (ok) ok = run([&] { return q.exec(); });
    if (!ok) {
        error = q.lastError().text().simplified();
        return false;
    }
    while (q.next()) row(q);
    return true;
}

// Runs a statement (its preparation too: the server is asked) under the statement watch.
bool LogConnection::run(const std::function<bool()>& statement) {
    int fd = -1;
    if (server_) {
        const QVariant handle = QSqlDatabase::database(connection_, false).driver()->handle();
        // Qt names the type as the client library's struct is called.
        if (handle.isValid() && (qstrcmp(handle.typeName(), "PGconn*") == 0 ||
                                 qstrcmp(handle.typeName(), "pg_conn*") == 0))
            if (PGconn* conn = *static_cast<PGconn* const*>(handle.data())) fd = PQsocket(conn);
    }
    if (fd >= 0) {
        if (!watch_) watch_ = std::make_unique<StatementWatch>();
        // In a ride-out, or on a link that stayed out of reach through the last one, a
        // statement waits no longer than what is left.
        qint64 limit = outOfReach_ ? qMin(kAfterOutageMs, statementLimitMs_) : statementLimitMs_;
        if (const qint64 left = leftMs(); left >= 0) limit = qMin(limit, left);
        watch_->arm(fd, int(limit), stop_);
    }
    const bool ok = statement();
    if (fd >= 0) watch_->disarm();
    return ok;
}

bool LogConnection::begin(QString& error) {
    return exec(server_ ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"), {}, error);
}

bool LogConnection::commit(QString& error) { return exec(QStringLiteral("COMMIT"), {}, error); }

void LogConnection::rollback() {
    QString ignored;
    exec(QStringLiteral("ROLLBACK"), {}, ignored);
}

// An error that passes: a lock held by another program, a server that went away or restarts,
// a statement cut short because the link hung.
bool LogConnection::transient(const QString& error) {
    static const char* const signs[] = {"locked",
                                        "busy",
                                        "no connection",
                                        "connection",
                                        "terminating",
                                        "shutting down",
                                        "starting up",
                                        "not open",
                                        "could not connect",
                                        "recovery mode",
                                        "statement timeout",
                                        "timed out"};
    for (const char* sign : signs)
        if (error.contains(QLatin1String(sign), Qt::CaseInsensitive)) return true;
    return false;
}

qint64 LogConnection::leftMs() const {
    return deadlineMs_ < 0 ? -1 : qMax<qint64>(0, deadlineMs_ - clock_->nowMs());
}

// Waits growing from 1/4 s to 5 s between attempts, reconnecting to a server. From the first
// failed attempt on, the limit is a deadline: every pause, connect and statement of the
// ride-out ends by then, and a stop ends the wait at the next quarter second.
bool LogConnection::retrying(const std::function<bool(QString&)>& attempt, QString& error) {
    const qint64 start = clock_->nowMs();
    struct RideOut {
        qint64& deadline;
        ~RideOut() { deadline = -1; }
    } rideOut{deadlineMs_};
    int pause = 250;
    for (;;) {
        error.clear();
        if (attempt(error)) {
            outOfReach_ = false;
            return true;
        }
        if (!transient(error)) return false;
        const bool stop = stopped();
        if (stop || clock_->nowMs() - start >= retryLimitMs_) {
            outOfReach_ = true;
            error = QStringLiteral("the log %1 was out of reach for %2 s%3 (%4)")
                        .arg(shown())
                        .arg((clock_->nowMs() - start) / 1000)
                        .arg(stop ? QStringLiteral(" when the run was stopped") : QString())
                        .arg(error);
            return false;
        }
        deadlineMs_ = start + retryLimitMs_;
        for (qint64 nap = qMin<qint64>(pause, leftMs()); nap > 0 && !stopped(); nap -= 250)
            clock_->sleepMs(int(qMin<qint64>(250, nap)));
        pause = qMin(pause * 2, 5000);
        QString ignored;
        if (server_ && !stopped() && leftMs() >= kConnectFloorMs) connect(ignored);
    }
}

QString LogConnection::nowSql() const {
    return server_ ? QStringLiteral("CAST(extract(epoch FROM clock_timestamp()) * 1000 AS BIGINT)")
                   : QStringLiteral("CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER)");
}

}  // namespace kelvano

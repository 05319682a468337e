#pragma once
// What the production tests share: files, and the log's database opened by hand.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <QUrlQuery>

#include "production/ProductionLog.h"

namespace kelvano::test {

inline QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    return path;
}

// The file's bytes; none when it can't be read.
inline QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A child process that is ended when the test leaves it, passed or failed (SIGKILL also ends
// one stopped with SIGSTOP).
class Child : public QProcess {
public:
    ~Child() override {
        kill();
        waitForFinished();
    }
};

// The database behind a log address, opened beside the log for what the tests do by hand.
class RawDb {
public:
    explicit RawDb(const QString& where, const QString& options = {}) {
        const bool server = ProductionLog::isServerAddress(where);
        QSqlDatabase db = QSqlDatabase::addDatabase(server ? "QPSQL" : "QSQLITE", name_);
        if (server) {
            const QUrl url(where);
            db.setHostName(QUrlQuery(url).queryItemValue("host"));
            db.setUserName(url.userName());
            db.setDatabaseName(url.path().mid(1));
        } else {
            db.setDatabaseName(where);
        }
        db.setConnectOptions(options);
        EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    }
    ~RawDb() {
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }
    bool exec(const QString& sql) {
        QString error;
        const bool ok = tryExec(sql, &error);
        EXPECT_TRUE(ok) << sql.toStdString() << ": " << error.toStdString();
        return ok;
    }
    // Runs `sql` where it may fail (a lock held elsewhere).
    bool tryExec(const QString& sql, QString* error = nullptr) {
        QSqlQuery q(QSqlDatabase::database(name_, false));
        const bool ok = q.exec(sql);
        if (error) *error = q.lastError().text();
        return ok;
    }
    // Every row of `sql`, its columns joined by blanks.
    QStringList rows(const QString& sql) {
        QSqlQuery q(QSqlDatabase::database(name_, false));
        EXPECT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
        QStringList out;
        while (q.next()) {
            QStringList cols;
            for (int i = 0; i < q.record().count(); ++i) cols << q.value(i).toString();
            out << cols.join(' ');
        }
        return out;
    }

private:
    QString name_ = QStringLiteral("raw-%1").arg(quintptr(this));
};

// Leaves the log's runs without a heartbeat for 100 s, as a station whose run died does.
inline void makeStale(const QString& log) {
    RawDb(log).exec("UPDATE runs SET heartbeat = heartbeat - 100000");
}

}  // namespace kelvano::test

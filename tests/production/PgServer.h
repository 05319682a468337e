#pragma once
// A throw-away PostgreSQL server for the tests: the Debian package's initdb and pg_ctl, a
// data folder and a socket folder in /tmp, no TCP at all. As root the server runs as
// "nobody" (PostgreSQL refuses to run as root).
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace kelvano::test {

class PgServer {
public:
    static QString bin(const char* tool) {
        return QStringLiteral("/usr/lib/postgresql/15/bin/") + tool;
    }
    static bool installed() { return QFile::exists(bin("pg_ctl")); }

    // Sets up and starts the server; false with `why` set when it could not.
    bool start(QString& why) {
        started_ = dir_.isValid() &&
                   (::geteuid() != 0 || run({"chown", "nobody", dir_.path()}, why)) &&
                   run(asServer({bin("initdb"), "-D", data(), "-A", "trust", "-U", "kelvano",
                                 "--no-sync"}),
                       why) &&
                   restart(why);
        return started_;
    }
    // Stops the server (its clients lose their connections) and starts it again.
    bool stop(QString& why) {
        return run(asServer({bin("pg_ctl"), "-D", data(), "-m", "fast", "-w", "stop"}), why);
    }
    bool restart(QString& why) {
        const QString options = QStringLiteral("-k %1 -c listen_addresses='' -F").arg(dir_.path());
        return run(asServer({bin("pg_ctl"), "-D", data(), "-o", options, "-l",
                             dir_.path() + "/server.log", "-w", "start"}),
                   why);
    }
    ~PgServer() {
        QString ignored;
        if (started_) stop(ignored);
    }
    QString socketDir() const { return dir_.path(); }
    QString url() const {
        return QStringLiteral("postgresql://kelvano@/postgres?host=%1").arg(dir_.path());
    }

private:
    QString data() const { return dir_.path() + QStringLiteral("/data"); }
    static QStringList asServer(const QStringList& command) {
        return ::geteuid() == 0 ? QStringList{"runuser", "-u", "nobody", "--"} + command : command;
    }
    static bool run(const QStringList& command, QString& why) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setWorkingDirectory(QDir::tempPath());
        p.start(command.first(), command.mid(1));
        const bool ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit &&
                        p.exitCode() == 0;
        if (!ok)
            why = command.join(u' ') + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAll());
        return ok;
    }

    QTemporaryDir dir_{QStringLiteral("/tmp/kelvano-pg-XXXXXX")};
    bool started_ = false;
};

}  // namespace kelvano::test

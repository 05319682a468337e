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
    static QString binDir() { return QStringLiteral("/usr/lib/postgresql/15/bin"); }
    static bool installed() { return QFile::exists(binDir() + QStringLiteral("/pg_ctl")); }

    // Starts the server; false with `why` set when it could not.
    bool start(QString& why) {
        if (!dir_.isValid()) return fail(why, QStringLiteral("no temporary folder"));
        dir_.setAutoRemove(true);
        if (::geteuid() == 0 &&
            !run({QStringLiteral("chown"), QStringLiteral("nobody"), dir_.path()}, why))
            return false;
        if (!run(asServer({binDir() + "/initdb", "-D", data(), "-A", "trust", "-U", "kelvano",
                           "--no-sync"}),
                 why))
            return false;
        const QString options = QStringLiteral("-k %1 -c listen_addresses='' -F").arg(dir_.path());
        if (!run(asServer({binDir() + "/pg_ctl", "-D", data(), "-o", options, "-l",
                           dir_.path() + "/server.log", "-w", "start"}),
                 why))
            return false;
        started_ = true;
        return true;
    }
    ~PgServer() {
        if (started_) {
            QString ignored;
            run(asServer({binDir() + "/pg_ctl", "-D", data(), "-m", "fast", "-w", "stop"}),
                ignored);
        }
    }
    QString url() const {
        return QStringLiteral("postgresql://kelvano@/postgres?host=%1").arg(dir_.path());
    }

private:
    QString data() const { return dir_.path() + QStringLiteral("/data"); }
    static QStringList asServer(QStringList command) {
        if (::geteuid() == 0)
            command = QStringList{"-u", "nobody", "--"} + command, command.prepend("runuser");
        return command;
    }
    static bool fail(QString& why, const QString& text) {
        why = text;
        return false;
    }
    static bool run(const QStringList& command, QString& why) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setWorkingDirectory(QDir::tempPath());
        p.start(command.first(), command.mid(1));
        if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0)
            return fail(why, command.join(u' ') + QStringLiteral(": ") +
                                 QString::fromLocal8Bit(p.readAll()));
        return true;
    }

    QTemporaryDir dir_{QStringLiteral("/tmp/kelvano-pg-XXXXXX")};
    bool started_ = false;
};

}  // namespace kelvano::test

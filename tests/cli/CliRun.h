#pragma once
// kelvano-cli run as a process the way scripts run it: exit status, standard output and error.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

struct CliRun {
    int code = -1;
    QString out, err;
};

// A program of the build ("kelvano-cli", "kelvano", "kelvano-boxsim") or one at an absolute
// path; its standard output into `outputFile` when one is given; without the variables `unset`;
// in `workDir` when one is given; status -1 when it did not end within `ms`.
inline CliRun runProgram(const QString& program, const QStringList& arguments,
                         const QString& outputFile = {}, const QStringList& unset = {},
                         const QString& workDir = {}, int ms = 60000) {
    QProcess p;
    p.setWorkingDirectory(workDir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : unset) env.remove(name);
    p.setProcessEnvironment(env);
    if (!outputFile.isEmpty()) p.setStandardOutputFile(outputFile);
    p.start(program.startsWith('/') ? program : QStringLiteral(KELVANO_BIN_DIR "/") + program,
            arguments);
    p.closeWriteChannel();  // no terminal: a question is answered Abort
    CliRun r;
    if (!p.waitForFinished(ms)) return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

inline CliRun cli(const QStringList& arguments) {
    return runProgram(QStringLiteral("kelvano-cli"), arguments);
}

// A sample file of tests/data.
inline QString data(const char* name) {
    return QStringLiteral(KELVANO_TEST_DATA "/") + QLatin1String(name);
}
inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
inline QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    return f.fileName();
}

// kelvano-boxsim serving a pseudo-terminal (`pty`, empty if it did not start) while it lives.
struct Boxsim {
    explicit Boxsim(const QStringList& arguments) {
        process.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-boxsim"), arguments);
        if (process.waitForReadyRead(10000))
            pty = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~Boxsim() {
        process.terminate();
        process.waitForFinished(5000);
    }
    QProcess process;
    QString pty;
};

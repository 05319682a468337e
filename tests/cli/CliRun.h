#pragma once
// kelvano-cli run as a process the way scripts run it: exit status, standard output and error.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

struct CliRun {
    int code = -1;
    QString out, err;
};

inline CliRun cli(const QStringList& arguments) {
    QProcess p;
    p.start(QStringLiteral(KELVANO_BIN_DIR "/kelvano-cli"), arguments);
    p.closeWriteChannel();  // no terminal: a question is answered Abort
    CliRun r;
    if (!p.waitForFinished(60000)) return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
// Writes `bytes` to `name` in `dir` and returns the file's path.
inline QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    return f.fileName();
}

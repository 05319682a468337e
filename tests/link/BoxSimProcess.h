#pragma once
// kelvano-boxsim as a child process: the simulated box on a pseudo-terminal whose path is the
// first line of its output.
#include <QProcess>
#include <QString>
#include <QStringList>

namespace kelvano::test {

class BoxSimProcess {
public:
    explicit BoxSimProcess(const QStringList& args = {}) {
        proc_.setProgram(QStringLiteral(KELVANO_BIN_DIR "/kelvano-boxsim"));
        proc_.setArguments(args);
        proc_.setProcessChannelMode(QProcess::SeparateChannels);
        proc_.start();
        if (!proc_.waitForStarted(5000)) return;
        while (!proc_.canReadLine() && proc_.waitForReadyRead(5000)) {
        }
        path_ = QString::fromLocal8Bit(proc_.readLine()).trimmed();
    }
    ~BoxSimProcess() {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.terminate();
            if (!proc_.waitForFinished(3000)) {
                proc_.kill();
                proc_.waitForFinished(3000);
            }
        }
    }
    // The terminal's path; empty when the simulator did not start.
    const QString& path() const { return path_; }

private:
    QProcess proc_;
    QString path_;
};

}  // namespace kelvano::test

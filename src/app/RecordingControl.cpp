#include "app/RecordingControl.h"

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>

namespace kelvano {

RecordingControl::RecordingControl(QMainWindow& window, QMenu& menu, QAction* before,
                                   TranscriptRecorder& recorder, std::function<int()> cardType)
    : QObject(&window), window_(window), recorder_(recorder), cardType_(std::move(cardType)) {
    action_ = new QAction(QStringLiteral("Record &Transcript..."), &window);
    action_->setObjectName(QStringLiteral("ActTranscript"));
    action_->setCheckable(true);
    action_->setStatusTip(QStringLiteral("Write every exchange with the box to a file"));
    menu.insertAction(before, action_);
    pane_ = new QLabel(&window);
    pane_->setObjectName(QStringLiteral("TranscriptPane"));
    window.statusBar()->addWidget(pane_);
    ask_ = [this] {
        return QFileDialog::getSaveFileName(&window_, QStringLiteral("Record Transcript"),
                                            QStringLiteral("kelvano-transcript.txt"),
                                            QStringLiteral("Transcripts (*.txt);;All files (*)"));
    };
    connect(action_, &QAction::toggled, this, &RecordingControl::toggled);
    show();
}

void RecordingControl::toggled(bool on) {
    if (!on) {
        recorder_.stop();
    } else if (!recorder_.recording()) {
        const QString file = ask_();
        if (!file.isEmpty() &&
            !recorder_.start(file, {QStringLiteral("kelvano"), cardType_ ? cardType_() : -1, {}}))
            QMessageBox::warning(&window_, QStringLiteral("Record Transcript"),
                                 QStringLiteral("%1 cannot be written: %2").arg(file, recorder_.errorString()));
    }
    show();
}

void RecordingControl::show() {
    const QSignalBlocker quiet(action_);
    action_->setChecked(recorder_.recording());
    pane_->setText(recorder_.recording() ? QStringLiteral("Recording: ") + recorder_.fileName() : QString());
    pane_->setVisible(recorder_.recording());
}

}  // namespace kelvano

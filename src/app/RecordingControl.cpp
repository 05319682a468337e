#include "app/RecordingControl.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>

namespace kelvano {

namespace {
constexpr int kNameWidth = 110;
}  // namespace

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
    pane_->setStyleSheet(QStringLiteral("color: #c00000"));
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
            QMessageBox::warning(
                &window_, QStringLiteral("Record Transcript"),
                QStringLiteral("%1 cannot be written: %2").arg(file, recorder_.errorString()));
    }
    show();
}

void RecordingControl::show() {
    const QSignalBlocker quiet(action_);
    action_->setChecked(recorder_.recording());
    // The panes beside it leave little room: the file's name, its whole path as the tip.
    const QString name = QFileInfo(recorder_.fileName()).fileName();
    const QString shown = pane_->fontMetrics().elidedText(name, Qt::ElideMiddle, kNameWidth);
    pane_->setText(recorder_.recording() ? QStringLiteral("REC ") + shown : QString());
    pane_->setToolTip(recorder_.recording()
                          ? QStringLiteral("Recording a transcript to ") + recorder_.fileName()
                          : QString());
    pane_->setVisible(recorder_.recording());
}

}  // namespace kelvano

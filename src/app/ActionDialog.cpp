#include "app/ActionDialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#ifdef KELVANO_HAVE_MULTIMEDIA
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#endif

#include "actions/uActions.h"

namespace kelvano {

ActionDialog::ActionDialog(TActions& runner, QWidget* parent)
    : ActionDialog(Runner{[&runner] { runner.FormShow(); }, [&runner] { runner.ButCancelClick(); },
                          [&runner] { runner.FormClose(); }},
                   parent) {
    runner.setView(this);
}

ActionDialog::ActionDialog(Runner runner, QWidget* parent)
    : QDialog(parent), runner_(std::move(runner)) {
    build();
}

ActionDialog::~ActionDialog() = default;

void ActionDialog::build() {
    setObjectName(QStringLiteral("Actions"));
    setWindowTitle(QStringLiteral("Actions"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(8);

    Lab1 = new QLabel(QStringLiteral("INSERT CARD"));
    Lab1->setObjectName(QStringLiteral("Lab1"));
    Lab1->setAlignment(Qt::AlignCenter);
    QFont bold = Lab1->font();
    bold.setBold(true);
    if (bold.pointSizeF() > 0) bold.setPointSizeF(bold.pointSizeF() * 1.25);
    Lab1->setFont(bold);
    Lab1->setMinimumWidth(240);
    layout->addWidget(Lab1);

    ProgBar = new QProgressBar;
    ProgBar->setObjectName(QStringLiteral("ProgBar"));
    ProgBar->setRange(0, 100);
    ProgBar->setValue(0);
    ProgBar->setTextVisible(true);
    ProgBar->setFormat(QStringLiteral("%p%"));
    layout->addWidget(ProgBar);

    ButCancel = new QPushButton(QStringLiteral("Abort"));
    ButCancel->setObjectName(QStringLiteral("ButCancel"));
    ButCancel->setAutoDefault(false);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(ButCancel);
    row->addStretch(1);
    layout->addLayout(row);
    connect(ButCancel, &QPushButton::clicked, this, &ActionDialog::ButCancelClick);

    // The bar's place is kept while it is hidden, so the window does not jump.
    QSizePolicy keep = ProgBar->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    ProgBar->setSizePolicy(keep);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void ActionDialog::setCaption(const QString& caption) { setWindowTitle(caption); }
void ActionDialog::setLabel(const QString& text) {
    Lab1->setText(text);
    // Lines under "READY" (what was left out) widen the window: it stays centred where it was.
    if (!isVisible()) return;
    const QPoint centre = frameGeometry().center();
    adjustSize();
    move(centre - QPoint(width() / 2, height() / 2));
}
void ActionDialog::setLabelVisible(bool visible) { Lab1->setVisible(visible); }
void ActionDialog::setProgressPercent(int percent) { ProgBar->setValue(qBound(0, percent, 100)); }
void ActionDialog::setProgressVisible(bool visible) { ProgBar->setVisible(visible); }
void ActionDialog::setAbortEnabled(bool enabled) { ButCancel->setEnabled(enabled); }

void ActionDialog::requestClose() {
    if (closePending_) return;
    closePending_ = true;
    QMetaObject::invokeMethod(this, &ActionDialog::finishClose, Qt::QueuedConnection);
}

void ActionDialog::finishClose() {
    if (!closePending_) return;
    closePending_ = false;
    closing_ = true;
    if (runner_.formClose) runner_.formClose();
    accept();  // ends a modal showing; hides a modeless one
    closing_ = false;
}

void ActionDialog::showModeless() {
    runnerShows_ = true;
    show();
    runnerShows_ = false;
}

void ActionDialog::hideWindow() { hide(); }

void ActionDialog::ButCancelClick() {
    if (runner_.cancelClick) runner_.cancelClick();
}

void ActionDialog::reject() {
    // Escape: the same as Abort, and nothing while Abort is not offered.
    if (ButCancel->isEnabled()) ButCancelClick();
}

void ActionDialog::closeEvent(QCloseEvent* event) {
    if (closing_) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    if (ButCancel->isEnabled()) ButCancelClick();
}

void ActionDialog::showEvent(QShowEvent* event) {
    if (QWidget* owner = parentWidget()) {
        adjustSize();
        move(owner->window()->frameGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    QDialog::showEvent(event);
    if (!runnerShows_ && !event->spontaneous() && runner_.formShow) runner_.formShow();
}

void ActionDialog::playReadySound() {
#ifdef KELVANO_HAVE_MULTIMEDIA
    // Where the system has no audio output the chime is silently left out.
    if (QMediaDevices::audioOutputs().isEmpty()) return;
    if (!sound_) {
        sound_ = new QSoundEffect(this);
        sound_->setSource(QUrl(QStringLiteral("qrc:/sounds/ready.wav")));
        sound_->setVolume(0.8f);
    }
    sound_->play();
#endif
}

}  // namespace kelvano

#pragma once
#include <QDialog>
#include <functional>

#include "actions/ActionView.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QSoundEffect;

namespace kelvano {

class TActions;

// The action window "Actions": caption, the status label Lab1, the progress bar ProgBar and
// the Abort button ButCancel, drawn for the action runner. Showing it starts the runner
// (FormShow); a close request of the runner takes effect once the handler that made it has
// returned, and the runner's closing steps (FormClose) then run exactly once. Only Abort and
// the runner close it: Escape and the window manager's close count as Abort, and do nothing
// while Abort is disabled (the firmware upload).
class ActionDialog : public QDialog, public ActionView {
    Q_OBJECT
public:
    // The runner's window events, for a runner other than TActions.
    struct Runner {
        std::function<void()> formShow;
        std::function<void()> cancelClick;
        std::function<void()> formClose;
    };

    // Becomes the runner's view.
    explicit ActionDialog(TActions& runner, QWidget* parent = nullptr);
    explicit ActionDialog(Runner runner, QWidget* parent = nullptr);
    ~ActionDialog() override;

    // ActionView
    void setCaption(const QString& caption) override;
    void setLabel(const QString& text) override;
    void setLabelVisible(bool visible) override;
    void setProgressPercent(int percent) override;
    void setProgressVisible(bool visible) override;
    void setAbortEnabled(bool enabled) override;
    void requestClose() override;
    void showModeless() override;
    void hideWindow() override;
    void playReadySound() override;

    // Abort: the runner decides what it means.
    void ButCancelClick();

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    void finishClose();

    Runner runner_;
    QLabel* Lab1 = nullptr;
    QProgressBar* ProgBar = nullptr;
    QPushButton* ButCancel = nullptr;
    QSoundEffect* sound_ = nullptr;
    bool closePending_ = false;
    bool closing_ = false;
    bool runnerShows_ = false;  // the runner runs FormShow itself (progress window)
};

}  // namespace kelvano

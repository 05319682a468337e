#pragma once
#include <QObject>
#include <QString>
#include <functional>

#include "link/RecordingTranscript.h"

class QAction;
class QLabel;
class QMainWindow;
class QMenu;

namespace kelvano {

// The window's transcript switch: a checkable "Record Transcript..." item in the File menu that
// asks for a file and starts recording every exchange with the box there, and stops when it is
// unchecked; while it records, the status bar names the file ("REC name", the whole path in
// its tip).
class RecordingControl : public QObject {
    Q_OBJECT
public:
    // `menu` gets the item before `before` (at the end when null); `cardType` gives the card
    // type for the transcript's header.
    RecordingControl(QMainWindow& window, QMenu& menu, QAction* before,
                     TranscriptRecorder& recorder, std::function<int()> cardType);

    // Asks for the file to record to; empty: cancelled. A file dialog unless replaced (tests).
    void setFileQuestion(std::function<QString()> ask) { ask_ = std::move(ask); }

    QAction* action() const { return action_; }
    QLabel* pane() const { return pane_; }

private:
    void toggled(bool on);
    void show();

    QMainWindow& window_;
    TranscriptRecorder& recorder_;
    std::function<int()> cardType_;
    std::function<QString()> ask_;
    QAction* action_;
    QLabel* pane_;
};

}  // namespace kelvano

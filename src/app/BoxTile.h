#pragma once
#include <QFrame>

#include "production/ProductionRun.h"

class QLabel;

namespace kelvano {

// One box of a production run: its port, the card in work and the step it is at, its last
// result in colour (with the whole message of a card that did not pass), and its counts.
class BoxTile : public QFrame {
    Q_OBJECT
public:
    explicit BoxTile(QWidget* parent = nullptr);
    void show(const WorkerStatus& status);

    // What the tile shows, for the tests.
    QString workText() const;
    QString resultText() const;
    QString messageText() const;
    QString countsText() const;

private:
    QLabel* port_;
    QLabel* work_;
    QLabel* result_;
    QLabel* message_;
    QLabel* counts_;
};

}  // namespace kelvano

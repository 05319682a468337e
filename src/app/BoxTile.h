#pragma once
#include <QFrame>

#include "production/ProductionRun.h"

class QLabel;

namespace kelvano {

// One box of a production run: its port, the card in work and the step it is at, its last
// result in colour (with the message of a card that did not pass), and its counts. Every tile
// has the same width whatever it shows: a text too long for it is cut with an ellipsis, and
// its tool tip holds it whole.
class BoxTile : public QFrame {
    Q_OBJECT
public:
    explicit BoxTile(QWidget* parent = nullptr);
    void show(const WorkerStatus& status);

    // The tile's width, the same for every box.
    static constexpr int kWidth = 220;

    // The whole texts of the tile, for the tests.
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

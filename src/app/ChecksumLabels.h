#pragma once
#include <QObject>
#include <array>

class QLabel;
class QTimer;

namespace kelvano {

class TDevices;
class TMain;

// The CRC-32 and 16-bit sum of each memory, shown beside the grid's file name and updated
// whenever the grid shows its buffer anew (a load, a read, a fill, an edit, undo, a new card
// type). A burst of updates (a large grid filling row block by row block) is counted once.
class ChecksumLabels : public QObject {
    Q_OBJECT
public:
    ChecksumLabels(TMain& main, TDevices& devices);

    QLabel* label(int grid) const { return labels_[static_cast<size_t>(grid - 1)]; }
    // Brings every label up to date now (the tests; the timer does it otherwise).
    void refresh();

private:
    void update(int grid);

    TDevices& devices_;
    std::array<QLabel*, 3> labels_{};
    std::array<QTimer*, 3> timers_{};
};

}  // namespace kelvano

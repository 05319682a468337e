#pragma once
#include <QWidget>

class QTableWidget;

namespace kelvano {

class LogReports;

// The floor: every station with a run in the production log, as `kelvano-cli log watch` shows
// it: alive or ended, its job, its cards of the last hour, cards a minute, its unconfirmed
// serials and its last failure.
class FloorPanel : public QWidget {
    Q_OBJECT
public:
    explicit FloorPanel(QWidget* parent = nullptr);
    // Reads the floor from the log; a log that can't be read leaves the table empty.
    void fill(LogReports& reports);
    int stations() const;

private:
    QTableWidget* table_;
};

}  // namespace kelvano

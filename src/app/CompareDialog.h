#pragma once
#include <QDialog>

#include "device/Compare.h"

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace kelvano {

// The list of differences of the last comparison: one branch per memory with its count (or
// why it was not compared), one row per run of adjacent differing addresses with its first
// expected and found values. Choosing a row asks for its first cell to be selected.
class CompareDialog : public QDialog {
    Q_OBJECT
public:
    explicit CompareDialog(QWidget* parent = nullptr);
    void showReport(const CompareReport& report);
    const CompareReport& report() const { return report_; }
    QTreeWidget* list() const { return list_; }
    QLabel* summary() const { return summary_; }

signals:
    void cellChosen(int grid, int address);

private:
    void chosen(QTreeWidgetItem* item);

    CompareReport report_;
    QLabel* title_;
    QTreeWidget* list_;
    QLabel* summary_;
};

}  // namespace kelvano

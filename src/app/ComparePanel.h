#pragma once
#include <QWidget>

#include "device/Compare.h"

class QLabel;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kelvano {

// The list of differences of the last comparison, shown under the memory pages: one branch
// per memory with its count (or, on one line, why it was not compared), one row per run of
// adjacent differing addresses with its first expected and found values. Choosing a row asks
// for its first cell to be selected.
class ComparePanel : public QWidget {
    Q_OBJECT
public:
    explicit ComparePanel(QWidget* parent = nullptr);
    void showReport(const CompareReport& report);
    const CompareReport& report() const { return report_; }
    QTreeWidget* list() const { return list_; }
    QLabel* summary() const { return summary_; }

    // Why a memory was not compared, as one short line: the reason's first sentence, without
    // the "not read" that the card comparison puts in front of a read's error.
    static QString reasonLine(const QString& note);
    // The last line of the report: how many differences, or that nothing was compared.
    static QString summaryLine(const CompareReport& report);

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

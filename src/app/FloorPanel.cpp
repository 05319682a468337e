#include "app/FloorPanel.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

#include "production/LogReports.h"

namespace kelvano {

FloorPanel::FloorPanel(QWidget* parent) : QWidget(parent), table_(new QTableWidget(0, 9, this)) {
    table_->setObjectName(QStringLiteral("Floor"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Station"), QStringLiteral("Run"),
                                       QStringLiteral("Job"), QStringLiteral("Passed"),
                                       QStringLiteral("Failed"), QStringLiteral("Aborted"),
                                       QStringLiteral("Cards/min"), QStringLiteral("Unconfirmed"),
                                       QStringLiteral("Last failure")});
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setToolTip(
        QStringLiteral("Every station with a run in the log: cards of the last hour"));
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(table_);
}

void FloorPanel::fill(LogReports& reports) {
    QString error;
    const auto floor = reports.floor(error);
    table_->setRowCount(floor ? int(floor->size()) : 0);
    if (!floor) return;
    for (int i = 0; i < floor->size(); ++i) {
        const LogReports::Station& s = (*floor)[i];
        const QStringList cells{s.station,
                                s.alive ? QStringLiteral("alive") : QStringLiteral("ended"),
                                s.job,
                                QString::number(s.pass),
                                QString::number(s.fail),
                                QString::number(s.aborted),
                                QString::number(s.perMinute, 'f', 1),
                                s.unconfirmed.join(QStringLiteral(", ")),
                                s.lastFailure};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setToolTip(cells[c]);
            if (!s.unconfirmed.isEmpty()) item->setBackground(QColor(0xFF, 0xF4, 0xC8));
            table_->setItem(i, c, item);
        }
    }
    table_->resizeColumnsToContents();
}

int FloorPanel::stations() const { return table_->rowCount(); }

}  // namespace kelvano

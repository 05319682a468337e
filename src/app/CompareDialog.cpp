#include "app/CompareDialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/DumpGridView.h"

namespace kelvano {

namespace {
constexpr int kShownValues = 8;

QString hexOf(unsigned v, int digits) {
    return QStringLiteral("%1").arg(v, digits, 16, QLatin1Char('0')).toUpper();
}

QString values(const std::vector<uint16_t>& v, int digits) {
    QStringList parts;
    for (size_t i = 0; i < v.size() && i < size_t(kShownValues); ++i) parts << hexOf(v[i], digits);
    if (v.size() > size_t(kShownValues)) parts << QStringLiteral("...");
    return parts.join(QLatin1Char(' '));
}
}  // namespace

CompareDialog::CompareDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CompareDialog"));
    setWindowTitle(QStringLiteral("Compare"));
    auto* v = new QVBoxLayout(this);
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("CompareTitle"));
    v->addWidget(title_);
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("CompareList"));
    list_->setHeaderLabels({QStringLiteral("Memory / Address"), QStringLiteral("Count"),
                            QStringLiteral("Expected"), QStringLiteral("Found")});
    list_->setFont(DumpGridView::dumpFont());
    list_->setRootIsDecorated(true);
    list_->setUniformRowHeights(true);
    list_->header()->setStretchLastSection(true);
    v->addWidget(list_, 1);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("CompareSummary"));
    QFont bold = summary_->font();
    bold.setBold(true);
    summary_->setFont(bold);
    v->addWidget(summary_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    v->addWidget(buttons);
    connect(list_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { chosen(item); });
    connect(list_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { chosen(item); });
    resize(620, 320);
}

void CompareDialog::showReport(const CompareReport& report) {
    report_ = report;
    title_->setText(report.against.isEmpty() || report.against == QLatin1String("card")
                        ? QStringLiteral("Buffers compared with the card")
                        : QStringLiteral("Buffers compared with ") + report.against);
    list_->clear();
    for (const MemoryDiff& m : report.memories) {
        auto* top = new QTreeWidgetItem(list_);
        top->setText(0, m.name);
        if (!m.compared) {
            top->setText(1, QStringLiteral("-"));
            top->setText(2, QStringLiteral("not compared: ") + m.note);
            continue;
        }
        top->setText(1, QString::number(m.differences()));
        if (m.runs.empty()) top->setText(2, QStringLiteral("no differences"));
        for (const DiffRun& r : m.runs) {
            auto* row = new QTreeWidgetItem(top);
            row->setText(0, r.count() == 1 ? hexOf(unsigned(r.first), 4)
                                           : hexOf(unsigned(r.first), 4) + QLatin1Char('-') +
                                                 hexOf(unsigned(r.last()), 4));
            row->setText(1, QString::number(r.count()));
            row->setText(2, values(r.expected, m.digits));
            row->setText(3, values(r.found, m.digits));
            row->setData(0, Qt::UserRole, m.grid);
            row->setData(1, Qt::UserRole, r.first);
        }
        top->setExpanded(m.runs.size() <= 50);
    }
    for (int c = 0; c < 3; ++c) list_->resizeColumnToContents(c);
    const int total = report.differences();
    QString text = total == 0 ? QStringLiteral("No differences")
                              : QStringLiteral("%1 differences in all").arg(total);
    if (total == 1) text = QStringLiteral("1 difference in all");
    if (report.anyNotCompared()) text += QStringLiteral("; not every memory was compared");
    summary_->setText(text + QLatin1Char('.'));
    show();
    raise();
}

void CompareDialog::chosen(QTreeWidgetItem* item) {
    if (!item || !item->parent()) return;
    const int grid = item->data(0, Qt::UserRole).toInt();
    if (grid >= 1 && grid <= 3) emit cellChosen(grid, item->data(1, Qt::UserRole).toInt());
}

}  // namespace kelvano

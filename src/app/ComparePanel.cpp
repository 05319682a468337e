#include "app/ComparePanel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QToolButton>
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

ComparePanel::ComparePanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ComparePanel"));
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(1);
    auto* top = new QHBoxLayout();
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("CompareTitle"));
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    top->addWidget(title_, 1);
    auto* close = new QToolButton(this);
    close->setObjectName(QStringLiteral("CompareClose"));
    close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    close->setToolTip(QStringLiteral("Close the comparison"));
    close->setAutoRaise(true);
    connect(close, &QToolButton::clicked, this, &QWidget::hide);
    top->addWidget(close);
    v->addLayout(top);
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("CompareList"));
    list_->setHeaderLabels({QStringLiteral("Memory / Address"), QStringLiteral("Count"),
                            QStringLiteral("Expected"), QStringLiteral("Found")});
    list_->setFont(DumpGridView::dumpFont());
    list_->setRootIsDecorated(true);
    list_->setUniformRowHeights(true);
    list_->header()->setStretchLastSection(true);
    // Room for the memories and a few runs; a larger window gives it more.
    list_->setMinimumHeight(list_->fontMetrics().height() * 4);
    v->addWidget(list_, 1);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("CompareSummary"));
    summary_->setFont(bold);
    v->addWidget(summary_);
    connect(list_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { chosen(item); });
    connect(list_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { chosen(item); });
}

QString ComparePanel::reasonLine(const QString& note) {
    QString reason = note.simplified();
    for (const QString& prefix : {QStringLiteral("not compared: "), QStringLiteral("not read: ")})
        if (reason.startsWith(prefix)) reason = reason.mid(prefix.size());
    // "AVR-Device is protected! Can't read, verify or blank check the device." says it all in
    // its first sentence.
    static const QRegularExpression sentenceEnd(QStringLiteral("[.!?] "));
    const QRegularExpressionMatch m = sentenceEnd.match(reason);
    if (m.hasMatch()) reason = reason.left(m.capturedStart() + 1);
    return reason;
}

QString ComparePanel::summaryLine(const CompareReport& report) {
    // A card comparison lists only the memories ticked under Enable.
    if (report.memories.empty())
        return QStringLiteral("Nothing was compared: every Enable box is unticked.");
    return report.summary();
}

void ComparePanel::showReport(const CompareReport& report) {
    report_ = report;
    title_->setText(report.against.isEmpty() || report.against == QLatin1String("card")
                        ? QStringLiteral("Buffers compared with the card")
                        : QStringLiteral("Buffers compared with ") + report.against);
    list_->clear();
    for (const MemoryDiff& m : report.memories) {
        auto* top = new QTreeWidgetItem(list_);
        top->setText(0, m.name);
        if (!m.compared) {
            // One line across the columns, the whole reason in its tooltip.
            top->setFirstColumnSpanned(true);
            top->setText(0, QStringLiteral("%1 not compared: %2").arg(m.name, reasonLine(m.note)));
            top->setToolTip(0, m.note);
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
    summary_->setText(summaryLine(report));
    show();
}

void ComparePanel::chosen(QTreeWidgetItem* item) {
    if (!item || !item->parent()) return;
    const int grid = item->data(0, Qt::UserRole).toInt();
    if (grid >= 1 && grid <= 3) emit cellChosen(grid, item->data(1, Qt::UserRole).toInt());
}

}  // namespace kelvano

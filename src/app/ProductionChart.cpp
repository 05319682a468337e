#include "app/ProductionChart.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QDateTime>
#include <QLineSeries>
#include <QStackedBarSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace kelvano {

namespace {

QBarSet* barSet(const QString& name, const QColor& colour) {
    auto* set = new QBarSet(name);
    set->setColor(colour);
    set->setBorderColor(colour);
    return set;
}

QValueAxis* axis(const QString& title) {
    auto* a = new QValueAxis;
    a->setTitleText(title);
    a->setLabelFormat(QStringLiteral("%.0f"));
    return a;
}

QString intervalName(int seconds) {
    if (seconds < 60) return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600) return QStringLiteral("%1 min").arg(seconds / 60);
    return QStringLiteral("%1 h").arg(seconds / 3600);
}

}  // namespace

ProductionChart::ProductionChart(QWidget* parent) : QChartView(parent) {
    setRenderHint(QPainter::Antialiasing);
    setMinimumHeight(220);
    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    pass_ = barSet(QStringLiteral("passed"), QColor(0x2E, 0x9E, 0x2E));
    fail_ = barSet(QStringLiteral("failed"), QColor(0xC6, 0x28, 0x28));
    aborted_ = barSet(QStringLiteral("aborted"), QColor(0xE0, 0x8A, 0x00));
    auto* bars = new QStackedBarSeries;
    bars->append({pass_, fail_, aborted_});
    bars->setBarWidth(0.9);
    time_ = new QLineSeries;
    time_->setName(QStringLiteral("seconds per card (mean)"));
    time_->setColor(QColor(0x1F, 0x4E, 0xA8));
    time_->setPointsVisible(true);
    chart->addSeries(bars);
    chart->addSeries(time_);
    // The bars stand on a hidden category axis whose slots line up with the visible time
    // axis: slot i covers [i, i + 1) intervals of the run.
    slots_ = new QBarCategoryAxis;
    slots_->setVisible(false);
    runTime_ = axis(QStringLiteral("minutes into the run"));
    runTime_->setLabelFormat(QStringLiteral("%.1f"));
    count_ = axis(QStringLiteral("cards"));
    seconds_ = axis(QStringLiteral("s per card"));
    seconds_->setLabelFormat(QStringLiteral("%.1f"));
    chart->addAxis(slots_, Qt::AlignBottom);
    chart->addAxis(runTime_, Qt::AlignBottom);
    chart->addAxis(count_, Qt::AlignLeft);
    chart->addAxis(seconds_, Qt::AlignRight);
    bars->attachAxis(slots_);
    bars->attachAxis(count_);
    time_->attachAxis(runTime_);
    time_->attachAxis(seconds_);
    // The view made a chart of its own; given another, it lets go of it without deleting it.
    QChart* made = this->chart();
    setChart(chart);
    delete made;
    begin(QDateTime::currentMSecsSinceEpoch());
    redraw(startMs_);
}

void ProductionChart::begin(qint64 startMs) {
    startMs_ = startMs;
    cards_.clear();
}

void ProductionChart::addCard(qint64 endMs, const QString& result, qint64 durationMs) {
    cards_.append({endMs - startMs_, result, durationMs});
}

int ProductionChart::intervalSeconds(qint64 spanMs, int parts) {
    static const int widths[] = {5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600};
    for (int w : widths)
        if (spanMs <= qint64(w) * 1000 * parts) return w;
    const qint64 hours = (spanMs + 3600LL * 1000 * parts - 1) / (3600LL * 1000 * parts);
    return int(hours * 3600);
}

QList<ProductionChart::Interval> ProductionChart::bin(const QList<Card>& cards, qint64 spanMs,
                                                      int seconds) {
    const qint64 width = qint64(seconds) * 1000;
    QList<Interval> out(int(std::max<qint64>(1, (spanMs + width - 1) / width)));
    QList<qint64> total(out.size(), 0);
    for (const Card& c : cards) {
        const int i = int(std::clamp<qint64>(c.endMs / width, 0, out.size() - 1));
        Interval& slot = out[i];
        (c.result == QLatin1String("pass")   ? slot.pass
         : c.result == QLatin1String("fail") ? slot.fail
                                             : slot.aborted) += 1;
        total[i] += c.durationMs;
    }
    for (int i = 0; i < out.size(); ++i) {
        const int n = out[i].pass + out[i].fail + out[i].aborted;
        if (n > 0) out[i].meanSeconds = double(total[i]) / n / 1000.0;
    }
    return out;
}

// Seconds up to five minutes of run, then minutes.
double ProductionChart::timeUnit(int spanSeconds) { return spanSeconds <= 300 ? 1.0 : 60.0; }

// The time scale over `spanSeconds`, in seconds or minutes, with at most eight ticks.
void ProductionChart::showTime(int spanSeconds, int intervalSeconds) {
    const double unit = timeUnit(spanSeconds);
    runTime_->setTitleText(unit == 1.0 ? QStringLiteral("seconds into the run")
                                       : QStringLiteral("minutes into the run"));
    const double tick =
        std::max(intervalSeconds, ProductionChart::intervalSeconds(qint64(spanSeconds) * 1000, 8));
    runTime_->setTickType(QValueAxis::TicksDynamic);
    runTime_->setTickAnchor(0);
    runTime_->setTickInterval(tick / unit);
    runTime_->setLabelFormat(tick / unit >= 1 ? QStringLiteral("%.0f") : QStringLiteral("%.1f"));
    runTime_->setRange(0, spanSeconds / unit);
}

void ProductionChart::redraw(qint64 nowMs) {
    const qint64 span = std::max<qint64>(1, nowMs - startMs_);
    const int seconds = intervalSeconds(span);
    const QList<Interval> parts = bin(cards_, span, seconds);
    const double unit = timeUnit(int(parts.size()) * seconds);
    QList<qreal> pass, fail, aborted;
    QList<QPointF> time;
    QStringList names;
    int most = 1;
    double slowest = 0;
    for (int i = 0; i < parts.size(); ++i) {
        const Interval& s = parts[i];
        pass.append(s.pass);
        fail.append(s.fail);
        aborted.append(s.aborted);
        names.append(QString::number(i));
        most = std::max(most, s.pass + s.fail + s.aborted);
        if (s.meanSeconds > 0) time.append({(i + 0.5) * seconds / unit, s.meanSeconds});
        slowest = std::max(slowest, s.meanSeconds);
    }
    pass_->remove(0, pass_->count());
    pass_->append(pass);
    fail_->remove(0, fail_->count());
    fail_->append(fail);
    aborted_->remove(0, aborted_->count());
    aborted_->append(aborted);
    time_->replace(time);
    slots_->setCategories(names);
    showTime(int(parts.size()) * seconds, seconds);
    // Whole cards on the count scale: a step of 1, 2 or 5 times a power of ten.
    int step = 1;
    for (int base = 1; most > 5 * step; base *= 10)
        for (int m : {1, 2, 5})
            if (most > 5 * step) step = m * base;
    count_->setTickType(QValueAxis::TicksDynamic);
    count_->setTickAnchor(0);
    count_->setTickInterval(step);
    const int top = ((most + step - 1) / step) * step;  // whole steps
    count_->setRange(0, top);
    count_->setTitleText(QStringLiteral("cards per %1").arg(intervalName(seconds)));
    seconds_->setRange(0, slowest > 0 ? slowest * 1.2 : 1.0);
    seconds_->applyNiceNumbers();
}

}  // namespace kelvano

#pragma once
#include <QChartView>
#include <QList>

class QBarCategoryAxis;
class QBarSet;
class QLineSeries;
class QValueAxis;

namespace kelvano {

// The run over time: the cards finished per interval, stacked by result, and the mean time
// per card of each interval on a second scale. The interval grows with the run so that the
// chart keeps at most kMaxIntervals bars.
class ProductionChart : public QChartView {
    Q_OBJECT
public:
    static constexpr int kMaxIntervals = 30;

    struct Card {
        qint64 endMs;  // since the run's start
        QString result;
        qint64 durationMs;
    };
    struct Interval {
        int pass = 0, fail = 0, aborted = 0;
        double meanSeconds = 0;  // 0: no card in the interval
    };

    explicit ProductionChart(QWidget* parent = nullptr);

    // A new run starting now: the chart is emptied.
    void begin(qint64 startMs);
    void addCard(qint64 endMs, const QString& result, qint64 durationMs);
    // Draws the run up to `nowMs` (epoch ms).
    void redraw(qint64 nowMs);

    // The interval (seconds) that cuts a run of `spanMs` into at most `parts`: 5 s, 10 s,
    // 15 s, 30 s, 1, 2, 5, 10, 15, 30 min, 1 h, then whole hours.
    static int intervalSeconds(qint64 spanMs, int parts = kMaxIntervals);
    // The cards of a run of `spanMs`, counted in intervals of `seconds`.
    static QList<Interval> bin(const QList<Card>& cards, qint64 spanMs, int seconds);

private:
    static double timeUnit(int spanSeconds);
    void showTime(int spanSeconds, int intervalSeconds);

    qint64 startMs_ = 0;
    QList<Card> cards_;
    QBarSet* pass_;
    QBarSet* fail_;
    QBarSet* aborted_;
    QLineSeries* time_;
    QBarCategoryAxis* slots_;
    QValueAxis* runTime_;
    QValueAxis* count_;
    QValueAxis* seconds_;
};

}  // namespace kelvano

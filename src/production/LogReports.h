#pragma once
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

#include "production/LogTypes.h"

namespace kelvano {

class LogConnection;
struct Job;

// What the log tells without changing it: the summary, the last cards, the exports, what a
// job's next card gets, a serial's history and the floor of stations. Works on a log opened
// read-only (a role without write rights, a read-only file).
class LogReports {
public:
    // `withUsers`: the log's runs keep their user (a log of an older format does not).
    LogReports(LogConnection& db, const QString& station, bool withUsers = true)
        : db_(db), station_(station), withUsers_(withUsers) {}

    std::optional<LogTypes::Outlook> outlook(const Job& job, QString& error);
    // Counts and lists over every card, or over the cards of one job.
    std::optional<LogTypes::Summary> summary(QString& error, const QString& job = {});
    QList<LogTypes::Row> lastCards(int count, QString& error);
    bool exportCsv(const QString& file, QString& error);
    // Every card as one JSON object a line.
    bool exportJson(const QString& file, QString& error);
    // One card row as the JSON export and the serial's history write it.
    static QJsonObject cardJson(const LogTypes::Row& r);
    // Every value of a pool with its state, in the order of the values ("value state").
    QStringList serialStates(const QString& pool, QString& error);

    // Everything the log knows about one serial (as the log shows it, e.g. "00100").
    struct Settlement {
        QString pool, how, settled, station, user;
        qint64 cardId = 0;
    };
    struct SerialState {
        QString pool, state;
    };
    struct History {
        QString serial;
        QList<LogTypes::Row> cards;  // oldest first
        QList<Settlement> settlements;
        QList<SerialState> pools;  // the pools that hold the value, with its state there
    };
    std::optional<History> history(const QString& serial, QString& error);

    // One station's run as the floor sees it.
    struct Station {
        QString station, job;
        qint64 pid = 0;
        bool alive = false;
        qint64 heartbeatAgeMs = -1;
        int pass = 0, fail = 0, aborted = 0;  // in the last hour
        double perMinute = 0;     // cards finished per minute since its first of the last hour
        QString lastFailure;      // "serial step: message" of the last failed card
        QStringList unconfirmed;  // serials its dead runs left taken
    };
    // Every station with a run and its latest run's job; counts over the last hour.
    std::optional<QList<Station>> floor(QString& error);

private:
    QList<LogTypes::Row> rows(const QString& tail, const QVariantList& values, QString& error);

    LogConnection& db_;
    QString station_;
    bool withUsers_ = true;
};

}  // namespace kelvano

#pragma once
#include <QString>

namespace kelvano {

class LogConnection;

// The log's tables and views: created in an empty database, brought up to date from an
// older format, checked when only read.
namespace LogSchema {

// Sets up the schema (or checks a log that is there already, migrating an older format);
// `error` says, as the user reads it, what is wrong with a log that can't be set up.
bool setUp(LogConnection& db, QString& error);
// Checks that the database is a log of the current format without writing to it.
bool check(LogConnection& db, QString& error);

}  // namespace LogSchema

}  // namespace kelvano

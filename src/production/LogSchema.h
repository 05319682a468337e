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
// Checks, without writing to it, that the database is a log of a format reports read: the
// current one or the one before (whose runs keep no user); `format` is set to it.
bool check(LogConnection& db, QString& error, int* format = nullptr);
// The first format whose runs keep their station's user.
constexpr int kFormatWithUsers = 3;

}  // namespace LogSchema

}  // namespace kelvano

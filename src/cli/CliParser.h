#pragma once
#include <QStringList>

#include "cli/Commands.h"

namespace kelvano {

// Parses the arguments (without the program name). Returns false with `error` set on a
// usage error. Options that take a value may be written "--name value" or "--name=value";
// the others are flags.
bool parseCliArgs(const QStringList& arguments, CliArgs& args, QString& error);
// The options that take a value.
const QStringList& cliValueOptions();
QString cliUsage();

}  // namespace kelvano

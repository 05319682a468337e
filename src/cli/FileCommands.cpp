#include "cli/Commands.h"

#include <cstdio>

namespace kelvano {

// Replaced by the real commands once the file module lands.
int runCards(const CliArgs&) { std::fputs("cards: not available yet\n", stderr); return 1; }
int runDump(const CliArgs&) { std::fputs("dump: not available yet\n", stderr); return 1; }
int runConvert(const CliArgs&) { std::fputs("convert: not available yet\n", stderr); return 1; }
QString fileCommandsHelp() { return {}; }

}  // namespace kelvano

#include "cli/Commands.h"

#include <cstdio>

namespace kelvano {

// Replaced by the real command once the link lands.
int runInfo(const CliArgs&) {
    std::fputs("info: not available yet\n", stderr);
    return 1;
}
QString infoCommandHelp() { return {}; }

}  // namespace kelvano

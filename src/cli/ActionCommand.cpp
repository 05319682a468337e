#include "cli/Commands.h"

#include <cstdio>

namespace kelvano {

// Replaced by the real commands once the action sequences land.
int runAction(const CliArgs&, int) {
    std::fputs("actions: not available yet\n", stderr);
    return 1;
}
QString actionCommandsHelp() { return {}; }

}  // namespace kelvano

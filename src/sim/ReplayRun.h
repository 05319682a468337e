#pragma once
#include <QString>
#include <csignal>

namespace kelvano {

// kelvano-boxsim --replay FILE: serves the box's side of a serial transcript on a
// pseudo-terminal (its path is the first line of output, as for the simulated box) until the
// transcript has been played to its end and the line has been quiet for `lingerMs`, until the
// program departs from it, or until *stop turns nonzero. A departure is reported on standard
// error at once as "kelvano-boxsim: FILE line N: ...", and the box then stays silent for a
// second before it ends.
// Exit status: 0 played to the end, 1 departure or stopped before the end, 2 the file is not
// a serial transcript or the terminal could not be opened, 3 the terminal failed.
int runReplay(const QString& path, const QString& linkPath, int lingerMs,
              const volatile std::sig_atomic_t* stop);

}  // namespace kelvano

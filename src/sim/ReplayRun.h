#pragma once
#include <QString>
#include <csignal>

namespace kelvano {

// kelvano-boxsim --replay FILE: serves the box's side of a serial transcript on a
// pseudo-terminal (its path is the first line of output, as for the simulated box) until one
// of these ends it:
//   - the transcript has been played to its end and the line has been quiet for `lingerMs`,
//     or the program closed the terminal after the end: status 0;
//   - the program departs from it: reported on standard error at once as
//     "kelvano-boxsim: FILE line N: ...", then the box stays silent for a second: status 1;
//   - the program closes the terminal before the end, or sends nothing for `silenceMs`
//     (counted from the start too), or *stop turns nonzero: the place where the transcript
//     was left is reported: status 1.
// Status 2: the file is not a serial transcript or the terminal could not be opened; 3: the
// terminal failed.
int runReplay(const QString& path, const QString& linkPath, int lingerMs, int silenceMs,
              const volatile std::sig_atomic_t* stop);

}  // namespace kelvano

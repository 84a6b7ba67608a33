// trailavi: lays the points of test_.dat into the picture TEST_.BMP, frame by
// frame, as the video TEST01_.AVI. No arguments, no environment; the exit
// status names the first check that failed.

#include <cstdio>

#include "os/os.hpp"
#include "run/run.hpp"

int main() {
  trailavi::Report report(stdout);
  const trailavi::ExitStatus status = trailavi::run(report);
  // A Windows run that its console asked to stop has removed its new video
  // file on its way out, and ends as an interrupted console program does.
  if (trailavi::os::interruption_requested()) trailavi::os::end_as_interrupted();
  return static_cast<int>(status);
}

// trailavi: lays the points of test_.dat into the picture TEST_.BMP, frame by
// frame, and writes the frames as the video TEST01_.AVI. It takes no
// arguments and reads no environment; its exit status names the first check
// that failed.

#include <cstdio>

#include "run/run.hpp"

int main() {
  trailavi::Report report(stdout);
  return static_cast<int>(trailavi::run(report));
}

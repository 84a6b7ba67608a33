#pragma once

#include "base/exit_status.hpp"
#include "base/report.hpp"

namespace trailavi {

// The whole run in the current directory: the bitmap stage, the pre-scan,
// the video set-up, the frame pass and the end of the run, stopping at the
// first check that fails.
[[nodiscard]] ExitStatus run(Report& report);

}  // namespace trailavi

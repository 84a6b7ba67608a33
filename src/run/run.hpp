#pragma once

#include <functional>

#include "base/exit_status.hpp"
#include "base/report.hpp"

namespace trailavi {

// A test-only seam: called between the pre-scan and the video set-up, so that
// a test can change the point file between the two passes.
struct RunHooks {
  std::function<void()> after_prescan;
};

// The whole run in the current directory: the bitmap stage, the pre-scan,
// the video set-up, the frame pass and the end of the run, stopping at the
// first check that fails.
[[nodiscard]] ExitStatus run(Report& report, const RunHooks& hooks = {});

}  // namespace trailavi

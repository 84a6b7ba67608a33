#pragma once

#include <cstdint>

#include "platform/output_file.hpp"

// Test-only settings of our video library; the program itself never calls them.
namespace trailavi::platform::testing {

// The largest RIFF segment of files created from now on (default 1 GiB), so
// that tests can make multi-segment files from tiny inputs.
void set_riff_limit_bytes(std::uint64_t limit_bytes);

}  // namespace trailavi::platform::testing

#pragma once

#include <cstdint>

#include "platform/output_file.hpp"

// Test-only settings of our video library; the program itself never calls them.
namespace trailavi::platform::testing {

// The largest RIFF segment of files created from now on (default 1 GiB), so
// that tests can make multi-segment files from tiny inputs.
void set_riff_limit_bytes(std::uint64_t limit_bytes);

// The operations that files created from now on go through, in place of
// the real file (null, the default, restores it). They serve one file at a
// time, and must outlive it.
void set_file_operations(FileOperations* operations);

}  // namespace trailavi::platform::testing

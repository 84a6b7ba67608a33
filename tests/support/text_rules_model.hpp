#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace trailavi::test {

// The point file's text rules stated plainly, to check the reader against:
// every carriage return dropped, the data ended at the first 0x1A, and the
// rest cut after each line feed or after 255 characters.
std::vector<std::string> model_pieces(std::string_view raw);

}  // namespace trailavi::test

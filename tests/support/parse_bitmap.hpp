#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "input/background_image.hpp"

namespace trailavi::test {

// Parses a bitmap file's bytes as the bitmap stage does once it has read
// them: the bytes after the 14-byte file header become the image. The report
// lines it prints (2 to 6) land in `report_text`.
inline ExitStatus parse_bitmap_file(const std::vector<std::uint8_t>& file, BackgroundImage& image,
                                    std::string& report_text) {
  const std::size_t byte_count = file.size() - 14;
  std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[byte_count]);
  std::memcpy(bytes.get(), file.data() + 14, byte_count);
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  Report report(out);
  const ExitStatus status =
      BackgroundImage::parse(std::move(bytes), static_cast<std::int32_t>(byte_count), report, image);
  std::fclose(out);
  report_text.assign(text, size);
  std::free(text);
  return status;
}

}  // namespace trailavi::test

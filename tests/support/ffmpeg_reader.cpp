#include "ffmpeg_reader.hpp"

#include <sstream>

#include "bitmap_builder.hpp"
#include "process.hpp"

namespace trailavi::test {

std::map<std::string, std::string> probe_stream(const std::string& path,
                                                const std::vector<std::string>& extra_options) {
  std::vector<std::string> argv = {"ffprobe", "-v", "error", "-err_detect", "explode", "-count_frames"};
  argv.insert(argv.end(), extra_options.begin(), extra_options.end());
  for (const char* option : {"-select_streams", "v:0", "-show_entries",
                             "stream=codec_name,width,height,r_frame_rate,nb_frames,nb_read_frames",
                             "-of", "default=noprint_wrappers=1"}) {
    argv.emplace_back(option);
  }
  argv.push_back(path);
  const ProcessResult result = run_process(argv, ".");
  std::map<std::string, std::string> fields;
  std::istringstream lines(result.standard_output);
  for (std::string line; std::getline(lines, line);) {
    const auto equals = line.find('=');
    if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
  }
  fields["exit"] = std::to_string(result.exit_status);
  fields["stderr"] = result.standard_error;
  return fields;
}

std::vector<std::uint8_t> decode_bgr24(const std::string& path, const std::vector<std::string>& input_options) {
  std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-nostdin"};
  argv.insert(argv.end(), input_options.begin(), input_options.end());
  for (const char* option : {"-i", path.c_str(), "-f", "rawvideo", "-pix_fmt", "bgr24", "-"}) {
    argv.emplace_back(option);
  }
  const ProcessResult result = run_process(argv, ".");
  return {result.standard_output.begin(), result.standard_output.end()};
}

std::vector<std::uint8_t> as_decoded(const std::vector<std::uint8_t>& stored_frame, std::int32_t width,
                                     std::int32_t height) {
  const auto stride = static_cast<std::size_t>(stride_of(width));
  const auto row_bytes = static_cast<std::size_t>(3 * width);
  std::vector<std::uint8_t> out;
  const std::int32_t rows = height < 0 ? -height : height;
  for (std::int32_t i = 0; i < rows; ++i) {
    const std::int32_t row = height < 0 ? i : rows - 1 - i;
    const auto begin = stored_frame.begin() + static_cast<std::ptrdiff_t>(stride * static_cast<std::size_t>(row));
    out.insert(out.end(), begin, begin + static_cast<std::ptrdiff_t>(row_bytes));
  }
  return out;
}

}  // namespace trailavi::test

#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace trailavi::test {

// ffprobe's view of the first video stream, strict about errors
// (-err_detect explode) and counting the frames it reads: keys such as
// codec_name, width, height, r_frame_rate, nb_frames, nb_read_frames, plus
// "exit" (its exit status) and "stderr".
std::map<std::string, std::string> probe_stream(const std::string& path,
                                                const std::vector<std::string>& extra_options = {});

// Every frame as ffmpeg decodes it: bgr24, top row first, rows unpadded.
std::vector<std::uint8_t> decode_bgr24(const std::string& path, const std::vector<std::string>& input_options = {});

// What ffmpeg gives for a frame stored with the program's row stride: the
// rows top row first (reversed unless the height says top-down) and their
// padding dropped.
std::vector<std::uint8_t> as_decoded(const std::vector<std::uint8_t>& stored_frame, std::int32_t width,
                                     std::int32_t height);

}  // namespace trailavi::test

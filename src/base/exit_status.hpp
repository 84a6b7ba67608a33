#pragma once

namespace trailavi {

// The process exit status: 0 when every stage completed, otherwise the check
// that ended the run. Nothing else decides the process exit code.
enum class ExitStatus : int {
  ok = 0,
  bitmap_open_failed = 1,         // TEST_.BMP cannot be opened for reading
  bitmap_seek_end_failed = 2,     // positioning at its end fails
  bitmap_length_unknown = 3,      // its length cannot be told as a signed 32-bit value
  bitmap_seek_header_failed = 4,  // positioning at byte 14 fails
  bitmap_read_failed = 5,         // the remainder cannot be read whole, or is too short
  bitmap_bit_count_unsupported = 6,
  data_open_failed = 7,           // test_.dat cannot be opened for reading
  data_rewind_failed = 8,         // test_.dat cannot be set back to its start
  video_open_failed = 9,          // TEST01_.AVI cannot be opened for writing
  video_stream_failed = 10,       // the video stream cannot be created
  video_format_failed = 11,       // the stream's format cannot be set
  frame_write_failed = 12,        // a frame, or the file's completion, cannot be written
};

}  // namespace trailavi

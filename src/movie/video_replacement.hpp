#pragma once

#include <string>

namespace trailavi {

// The video goes to a new file, "<name>.incomplete-XXXXXX", renamed over the
// one it replaces once complete: until then, and after a failure or a stop,
// the earlier video is as it was. Where the folder takes no new file but the
// earlier video can be written, it is written in place, as an editor saves a
// file it cannot back up; a failure then leaves it incomplete.
class VideoReplacement {
 public:
  VideoReplacement() = default;
  // Removes the new file unless it was finished.
  ~VideoReplacement();
  VideoReplacement(const VideoReplacement&) = delete;
  VideoReplacement& operator=(const VideoReplacement&) = delete;

  // Checks that `name` can be replaced, then creates the new file
  // exclusively, with the video's permission bits. False, with nothing
  // touched, when `name` is not a regular file open to writing (a folder, a
  // device, a FIFO, no permission), its links go round in circles, or
  // neither a new file nor the earlier one can be written.
  [[nodiscard]] bool begin(const char* name);

  // The file the video library is to write.
  [[nodiscard]] const std::string& path() const { return writing_path_; }

  // Puts the finished video in place of the earlier one, flushed to storage
  // first where there is one. False, with the new file removed, when it
  // cannot be flushed or renamed.
  [[nodiscard]] bool finish();

 private:
  std::string writing_path_;
  std::string final_path_;  // the name, or the file a link leads to
  bool pending_ = false;    // writing_path_ is a new file, to be renamed or removed
  bool replacing_ = false;  // an earlier video stands at final_path_
};

}  // namespace trailavi

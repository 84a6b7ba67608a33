#pragma once

#include <string>

namespace trailavi {

// The video is written to a new file beside the one it replaces, named
// "<name>.incomplete-XXXXXX", and renamed over it only once complete: the
// earlier video stays whole until then, and after a failure or an
// interruption it is as it was (or absent, if it was absent). Where the
// folder takes no new file but the earlier video can be written, the video
// is written in place, as an editor saves a file it cannot back up; a
// failure then leaves it incomplete.
class VideoReplacement {
 public:
  VideoReplacement() = default;
  // Removes the new file unless it was finished.
  ~VideoReplacement();
  VideoReplacement(const VideoReplacement&) = delete;
  VideoReplacement& operator=(const VideoReplacement&) = delete;

  // Checks that `name` can be replaced by a video, then creates the empty
  // new file (exclusively) with the permission bits the video is to have.
  // False, with nothing on disk touched, when `name` is not a regular file
  // that can be opened for writing (a folder, a device, a FIFO, no
  // permission), when a link leads round in circles, or when neither a new
  // file nor the earlier one can be written.
  [[nodiscard]] bool begin(const char* name);

  // The file the video library is to write.
  [[nodiscard]] const std::string& path() const { return writing_path_; }

  // Puts the finished video in place of the earlier one. False, with the new
  // file removed, when it cannot be renamed.
  [[nodiscard]] bool finish();

 private:
  std::string writing_path_;
  std::string final_path_;  // the name, or the file a link leads to
  bool pending_ = false;    // writing_path_ is a new file, to be renamed or removed
};

}  // namespace trailavi

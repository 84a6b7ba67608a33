#pragma once

#include <string>

namespace trailavi {

// The video is written to a new file beside the one it replaces, named
// "<name>.incomplete-XXXXXX", and renamed over it only once complete: the
// earlier video stays whole until then, and after a failure or an
// interruption it is as it was (or absent, if it was absent).
struct VideoReplacement {
  std::string temporary_path;  // the file the library writes
  std::string final_path;      // where the finished video goes: the name, or the file a link leads to
};

// Checks that `name` can be replaced by a video, then creates the empty
// temporary file (exclusively) with the permission bits the video is to
// have. False, with nothing on disk touched, when `name` is not a regular
// file that can be opened for writing (a folder, a device, a FIFO, no
// permission), when a link leads round in circles, or when no file can be
// created beside it.
[[nodiscard]] bool begin_replacement(const char* name, VideoReplacement& replacement);

// Renames the finished temporary file over the final one. False, with the
// temporary file removed, when it cannot be renamed.
[[nodiscard]] bool finish_replacement(VideoReplacement& replacement);

// Removes the temporary file, after a failure.
void abandon_replacement(VideoReplacement& replacement);

// For the whole run: an interrupt, hangup or termination signal removes the
// temporary file before ending the process by that signal as usual, and a
// file size limit makes a write fail rather than end the process. On
// Windows, Ctrl-C, Ctrl-Break and the console's closing ask the run to stop
// (interruption_requested), which it does at its next frame.
void guard_against_interruption();

// True once the console has asked a Windows run to stop; never elsewhere.
[[nodiscard]] bool interruption_requested();

// Ends the process as an interrupted console program ends
// (STATUS_CONTROL_C_EXIT), once the temporary file is gone. Windows only.
[[noreturn]] void end_as_interrupted();

}  // namespace trailavi

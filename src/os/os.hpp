#pragma once

// What the program asks of the operating system, the same on every target.
// The build compiles posix.cpp or windows.cpp behind it; nothing outside
// this folder meets a system's own interface.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace trailavi::os {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
// A stdio file that closes itself.
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// 64-bit positions, so that a file past 2 GiB is measured rather than
// misreported by a 32-bit long; the results are fseek's and ftell's.
[[nodiscard]] int seek(std::FILE* file, std::int64_t offset, int origin);
[[nodiscard]] std::int64_t tell(std::FILE* file);
// A folder opens for reading on some systems, but holds no bytes to read.
[[nodiscard]] bool is_directory(std::FILE* file);

// Bytes that stay where they are until they are written.
struct ByteRange {
  const void* data;
  std::size_t size;
};

// The video file as a descriptor, written in gathered writes of at most
// kMostRanges ranges, which go out in order without a copy.
inline constexpr std::size_t kMostRanges = 8;
// Created, or emptied when it holds anything; -1 when it cannot be opened.
[[nodiscard]] int open_for_writing(const char* path);
[[nodiscard]] bool write_ranges(int descriptor, std::span<const ByteRange> parts);  // at the end
// Over earlier bytes, from `offset`; later writes still go to the end.
[[nodiscard]] bool write_ranges_at(int descriptor, std::uint64_t offset, std::span<const ByteRange> parts);
[[nodiscard]] bool close_file(int descriptor);

// Whether an existing file opens for writing, neither created nor emptied.
[[nodiscard]] bool can_open_for_writing(const char* path);
// The permission bits a new file gets: 0666 less the umask.
[[nodiscard]] unsigned new_file_mode();

// The pending file: a new file the run is writing, which a stop removes.
// Created exclusively, with `mode`, at `path_template`, whose last six
// characters (XXXXXX) become whatever makes the name new. False when no file
// can be made, or a stop has been asked for already.
[[nodiscard]] bool create_pending_file(std::string& path_template, unsigned mode);
// Renames it over `final_path` in one step and forgets it. False, with
// nothing renamed, when it cannot be renamed or a stop has been asked for.
[[nodiscard]] bool replace_with_pending_file(const std::string& pending_path, const std::string& final_path);
// Removes it, then forgets it, so a stop in between removes it again at most.
void remove_pending_file(const std::string& pending_path);

// For the whole run. On POSIX systems an interrupt, hangup or termination
// signal removes the pending file, then ends the process by that signal (one
// the caller ignores stays ignored), and a file size limit makes a write fail
// rather than end the process. On Windows, Ctrl-C, Ctrl-Break and the
// console's closing ask the run to stop: it ends its frame pass, removes the
// pending file on its way out and ends as an interrupted console program.
void guard_against_interruption();
// True once the console has asked a Windows run to stop; never elsewhere.
[[nodiscard]] bool interruption_requested();
// Ends the process with STATUS_CONTROL_C_EXIT. Windows only.
[[noreturn]] void end_as_interrupted();

}  // namespace trailavi::os

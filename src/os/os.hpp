#pragma once

// What the program asks of the operating system, the same on every target,
// posix.cpp or windows.cpp behind it; nothing else meets a system's own.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace trailavi::os {

// A stdio file that closes itself.
struct FileCloser { void operator()(std::FILE* file) const { std::fclose(file); } };
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file for reading in binary mode, never waiting for a writer at a
// FIFO's other end; nullptr when it cannot be opened or is a folder.
[[nodiscard]] FileHandle open_for_reading(const char* path);

// fseek and ftell in 64 bits: a file past 2 GiB is measured, not misreported.
[[nodiscard]] int seek(std::FILE* file, std::int64_t offset, int origin);
[[nodiscard]] std::int64_t tell(std::FILE* file);

// The size of an open regular file; -1 for anything else (a pipe, a
// device), whose size tells nothing of what reading it gives.
[[nodiscard]] std::int64_t regular_file_size(std::FILE* file);

// The file opened again for reading, so that a thread reading it at offsets
// moves no position another reads by; nullptr when it cannot be.
[[nodiscard]] FileHandle reopen_for_reading(std::FILE* file);
// Reads up to `size` bytes from `offset`: the count read, short only at the
// end of the file; -1 when the read fails.
[[nodiscard]] std::int64_t read_at(std::FILE* file, std::int64_t offset, void* buffer, std::size_t size);

// The processors this process may run on (its affinity), at least 1.
[[nodiscard]] unsigned usable_cores();

// A thread beside the one that starts it, joined at the latest when this
// is destroyed, so that none outlives its owner.
class Thread {
 public:
  Thread() = default;
  ~Thread() { join(); }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Runs work(context) on a new thread, whose POSIX stop signals stay
  // blocked, so that their handler runs on the main thread alone; asked to,
  // off the processor its starter runs on, where the system places threads
  // (Linux, Windows) and others are allowed: placed before it runs the work,
  // so no other is ever moved. False when no thread can be started: the
  // caller then does without.
  [[nodiscard]] bool start(void (*work)(void*), void* context, bool apart_from_starter);
  // Waits for the thread to end; nothing when none is running.
  void join();

  // What the thread runs, kept here, where it outlives the thread.
  struct Work {
    void (*run)(void*);
    void* context;
    int keep_off_processor;  // -1: anywhere
  };

 private:
  // The system's handle, in bytes, so that this header names no system type.
  alignas(8) unsigned char handle_[16] = {};
  bool running_ = false;
  Work work_ = {};
};

// A lock, as the system has it; held through std::lock_guard.
class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void lock();
  void unlock();

 private:
  friend class Condition;
  alignas(8) unsigned char handle_[64];
};

// A condition to wait for under a lock. wait may return without a wake, so
// a waiter tests its whole condition again each time.
class Condition {
 public:
  Condition();
  ~Condition();
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;
  // Releases `lock`, which the caller holds, sleeps, and takes it again.
  void wait(Lock& lock);
  void wake_all();

 private:
  alignas(8) unsigned char handle_[48];
};

// Bytes that stay where they are until they are written.
struct ByteRange { const void* data; std::size_t size; };

// The video file as a descriptor, written in gathered writes of at most
// kMostRanges ranges, which go out in order without a copy.
inline constexpr std::size_t kMostRanges = 8;
// Created, or emptied when it holds anything; -1 when it cannot be opened.
[[nodiscard]] int open_for_writing(const char* path);
[[nodiscard]] bool write_ranges(int descriptor, std::span<const ByteRange> parts);  // at the end
// Over earlier bytes, from `offset`; later writes still go to the end.
[[nodiscard]] bool write_ranges_at(int descriptor, std::uint64_t offset, std::span<const ByteRange> parts);
[[nodiscard]] bool close_file(int descriptor);

// Flushes a closed file's bytes to storage, so that a crash keeps them.
[[nodiscard]] bool flush_to_storage(const char* path);
// Flushes the folder that holds `path`, so that a crash keeps a rename in
// it; true where a folder cannot be flushed.
[[nodiscard]] bool flush_folder_of(const char* path);

// Whether an existing file opens for writing, neither created nor emptied.
[[nodiscard]] bool can_open_for_writing(const char* path);
// The permission bits a new file gets: 0666 less the umask.
[[nodiscard]] unsigned new_file_mode();

// The pending file: a new file the run is writing, which a stop removes,
// created exclusively with `mode` at `path_template`, its XXXXXX made new.
// False when none can be made, or a stop has been asked for already.
[[nodiscard]] bool create_pending_file(std::string& path_template, unsigned mode);
// Renames it over `final_path` in one step and forgets it. False, with
// nothing renamed, when it cannot be renamed or a stop has been asked for.
[[nodiscard]] bool replace_with_pending_file(const std::string& pending_path, const std::string& final_path);
// Removes it, then forgets it, so a stop in between removes it again at most.
void remove_pending_file(const std::string& pending_path);

// For the whole run. On POSIX systems an interrupt, hangup or termination
// signal (unless ignored) removes the pending file and ends the process by
// that signal, and a file size limit fails a write. On Windows, Ctrl-C,
// Ctrl-Break and closing the console ask the run to stop: it ends its frame
// pass, removes the pending file and ends as an interrupted console program.
void guard_against_interruption();
// True once the console has asked a Windows run to stop; never elsewhere.
[[nodiscard]] bool interruption_requested();
// Ends the process with STATUS_CONTROL_C_EXIT. Windows only.
[[noreturn]] void end_as_interrupted();

}  // namespace trailavi::os

// The operating system's services on Windows: the C runtime's where it has
// them, the Windows API's where it does not.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <mutex>
#include <new>
#include <sys/stat.h>

#include "os/os.hpp"

namespace trailavi::os {
namespace {

// A console control handler runs on a thread of its own, where a file the
// video library holds open cannot be removed: it asks the run to stop, and
// the run removes the pending file on its way out. The lock orders the
// request, the file's creation and its rename: a stop before the file exists
// never meets one, and one before the rename keeps the earlier video.
Lock pending_lock;
bool pending = false;  // a pending file of this run exists; under the lock
std::atomic<bool> stop_requested{false};

// How long the handler lets the run end before the process ends anyway,
// leaving the file (a read that never returns, say).
constexpr DWORD kStopGraceMs = 10000;

// Returning FALSE hands the event to the default handler, which ends the
// process with STATUS_CONTROL_C_EXIT; with a file to remove, the run ends
// the process itself first, while this waits.
BOOL WINAPI request_stop(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  const bool has_file = [] {
    const std::lock_guard locked(pending_lock);
    stop_requested = true;
    return pending;
  }();
  if (has_file) Sleep(kStopGraceMs);
  return FALSE;
}

// The processors this process may run on, in its processor group; 0: unknown.
DWORD_PTR process_affinity() {
  DWORD_PTR process_mask = 0, system_mask = 0;
  return GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask) != 0 ? process_mask : 0;
}

static_assert(sizeof(HANDLE) <= 16, "Thread keeps the handle in 16 bytes");

// Keeps the calling thread off `processor` while others are allowed; one
// beyond the mask's bits is in a processor group it does not name.
void keep_off(int processor) {
  if (processor < 0 || processor >= static_cast<int>(8 * sizeof(DWORD_PTR))) return;
  const DWORD_PTR allowed = process_affinity() & ~(DWORD_PTR{1} << processor);
  if (allowed != 0) SetThreadAffinityMask(GetCurrentThread(), allowed);
}

DWORD WINAPI run_thread_work(void* thread_work) {
  const auto* work = static_cast<const Thread::Work*>(thread_work);
  keep_off(work->keep_off_processor);
  work->run(work->context);
  return 0;
}

static_assert(sizeof(SRWLOCK) <= 64 && sizeof(CONDITION_VARIABLE) <= 48, "Lock and Condition hold them");

SRWLOCK* srw_lock_in(unsigned char* handle) { return reinterpret_cast<SRWLOCK*>(handle); }
CONDITION_VARIABLE* condition_in(unsigned char* handle) { return reinterpret_cast<CONDITION_VARIABLE*>(handle); }

}  // namespace

// A Windows folder holds no FIFO: opening never waits. A folder holds no
// bytes to read.
FileHandle open_for_reading(const char* path) {
  FileHandle file(std::fopen(path, "rb"));
  struct _stat64 info {};
  if (file && (_fstat64(_fileno(file.get()), &info) != 0 || (info.st_mode & _S_IFMT) == _S_IFDIR)) file.reset();
  return file;
}

int seek(std::FILE* file, std::int64_t offset, int origin) { return _fseeki64(file, offset, origin); }

std::int64_t tell(std::FILE* file) { return _ftelli64(file); }

std::int64_t regular_file_size(std::FILE* file) {
  struct _stat64 info {};
  if (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return -1;
  return info.st_size;
}

// A handle of its own, not a duplicate, which would share the position that
// read_at moves.
FileHandle reopen_for_reading(std::FILE* file) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const HANDLE reopened = ReOpenFile(handle, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (reopened == INVALID_HANDLE_VALUE) return nullptr;
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(reopened), _O_RDONLY | _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(reopened);
    return nullptr;
  }
  std::FILE* const stream = _fdopen(descriptor, "rb");
  if (stream == nullptr) _close(descriptor);
  return FileHandle(stream);
}

// Every reader at offsets has a handle of its own (reopen_for_reading), whose
// position this sets.
std::int64_t read_at(std::FILE* file, std::int64_t offset, void* buffer, std::size_t size) {
  if (_fseeki64(file, offset, SEEK_SET) != 0) return -1;
  const std::size_t got = std::fread(buffer, 1, size, file);
  return got < size && std::ferror(file) != 0 ? -1 : static_cast<std::int64_t>(got);
}

unsigned usable_cores() { return static_cast<unsigned>(std::max(std::popcount(process_affinity()), 1)); }

bool Thread::start(void (*work)(void*), void* context, bool apart_from_starter) {
  if (running_) return false;
  work_ = {work, context, apart_from_starter ? static_cast<int>(GetCurrentProcessorNumber()) : -1};
  const HANDLE handle = CreateThread(nullptr, 0, run_thread_work, &work_, 0, nullptr);
  if (handle == nullptr) return false;
  std::memcpy(handle_, &handle, sizeof handle);
  running_ = true;
  return true;
}

void Thread::join() {
  if (!running_) return;
  HANDLE handle;
  std::memcpy(&handle, handle_, sizeof handle);
  WaitForSingleObject(handle, INFINITE);
  CloseHandle(handle);
  running_ = false;
}

Lock::Lock() { InitializeSRWLock(new (handle_) SRWLOCK); }
Lock::~Lock() = default;  // an SRW lock holds nothing to release
void Lock::lock() { AcquireSRWLockExclusive(srw_lock_in(handle_)); }
void Lock::unlock() { ReleaseSRWLockExclusive(srw_lock_in(handle_)); }

Condition::Condition() { InitializeConditionVariable(new (handle_) CONDITION_VARIABLE); }
Condition::~Condition() = default;
void Condition::wait(Lock& lock) { SleepConditionVariableSRW(condition_in(handle_), srw_lock_in(lock.handle_), INFINITE, 0); }
void Condition::wake_all() { WakeAllConditionVariable(condition_in(handle_)); }

int open_for_writing(const char* path) {
  return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}

// In writes of at most 1 GiB, which _write's unsigned count always holds.
bool write_ranges(int descriptor, std::span<const ByteRange> parts) {
  for (const ByteRange& part : parts) {
    auto* next = static_cast<const char*>(part.data);
    for (std::size_t left = part.size; left > 0;) {
      const int written = _write(descriptor, next, static_cast<unsigned>(left < (1u << 30) ? left : (1u << 30)));
      if (written <= 0) return false;
      next += written;
      left -= static_cast<std::size_t>(written);
    }
  }
  return true;
}

// The C runtime has no positioned write: the file is positioned there and
// back at its end.
bool write_ranges_at(int descriptor, std::uint64_t offset, std::span<const ByteRange> parts) {
  return offset <= static_cast<std::uint64_t>(INT64_MAX) &&
         _lseeki64(descriptor, static_cast<__int64>(offset), SEEK_SET) >= 0 && write_ranges(descriptor, parts) &&
         _lseeki64(descriptor, 0, SEEK_END) >= 0;
}

bool close_file(int descriptor) { return _close(descriptor) == 0; }

bool flush_to_storage(const char* path) {
  const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool flushed = FlushFileBuffers(file) != 0;
  return CloseHandle(file) != 0 && flushed;
}

// MoveFileEx's rename is in NTFS's own journal; a folder has no handle to
// flush without backup rights.
bool flush_folder_of(const char* /*path*/) { return true; }

bool can_open_for_writing(const char* path) {
  const int descriptor = _open(path, _O_WRONLY | _O_BINARY);
  if (descriptor < 0) return false;
  _close(descriptor);
  return true;
}

// Windows keeps no permission bits beyond read-only, which a new file lacks.
unsigned new_file_mode() { return 0666; }

bool create_pending_file(std::string& path_template, unsigned /*mode*/) {
  const int descriptor = [&path_template] {
    const std::lock_guard locked(pending_lock);
    // mingw-w64's runtime has mkstemp, which tries random names with
    // _O_EXCL until one is free, as POSIX's does; the string's bytes are its own.
    const int created = stop_requested ? -1 : mkstemp(path_template.data());
    pending = created >= 0;
    return created;
  }();
  if (descriptor < 0) return false;
  if (_close(descriptor) == 0) return true;
  remove_pending_file(path_template);
  return false;
}

bool replace_with_pending_file(const std::string& pending_path, const std::string& final_path) {
  const std::lock_guard locked(pending_lock);
  if (stop_requested || MoveFileExA(pending_path.c_str(), final_path.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
    return false;
  }
  pending = false;
  return true;
}

void remove_pending_file(const std::string& pending_path) {
  std::remove(pending_path.c_str());
  const std::lock_guard locked(pending_lock);
  pending = false;
}

void guard_against_interruption() { SetConsoleCtrlHandler(request_stop, TRUE); }

bool interruption_requested() { return stop_requested; }

void end_as_interrupted() { ExitProcess(STATUS_CONTROL_C_EXIT); }

}  // namespace trailavi::os

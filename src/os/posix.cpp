// The operating system's services on POSIX systems.

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include "os/os.hpp"

namespace trailavi::os {
namespace {

static_assert(sizeof(off_t) == 8, "file offsets past 2 GiB need _FILE_OFFSET_BITS=64");

// Longer names are refused, as the system itself refuses them.
constexpr std::size_t kLongestPathBytes = 4095;

// The pending file's name, for the signal handler: set with the stop signals
// blocked as the file is created, cleared after it is renamed or removed.
char pending_path[kLongestPathBytes + 1];
volatile std::sig_atomic_t pending = 0;

// The signals that end the process by default, sent to stop a run.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Blocks the stop signals in the calling thread for its lifetime, so that the
// handler never sees the name half set, or renamed away (pthread_sigmask:
// sigprocmask is unspecified in a process with threads).
class StopSignalsBlocked {
 public:
  StopSignalsBlocked() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal_number : kStopSignals) sigaddset(&blocked, signal_number);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
  }
  ~StopSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  StopSignalsBlocked(const StopSignalsBlocked&) = delete;
  StopSignalsBlocked& operator=(const StopSignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

// A worker needs a few kilobytes of stack, not the stack limit (often 8 MiB).
constexpr std::size_t kThreadStackBytes = 512 * 1024;

// Removes the pending file, then lets the signal end the process: the
// handler was reset on entry (SA_RESETHAND) and the signal is blocked while it
// runs, so the raised one arrives as it returns; both calls are signal-safe.
extern "C" void remove_pending_and_stop(int signal_number) {
  if (pending != 0) ::unlink(pending_path);
  std::raise(signal_number);
}

// One gathered call for all ranges, again past what a short write (a signal,
// more than the kernel takes at once) wrote; at `offset` unless it is < 0.
bool gathered_write(int descriptor, std::span<const ByteRange> parts, std::int64_t offset) {
  if (parts.size() > kMostRanges) return false;
  iovec vectors[kMostRanges];
  iovec* next = vectors;
  int count = 0;
  for (const ByteRange& part : parts) {
    if (part.size > 0) vectors[count++] = {const_cast<void*>(part.data), part.size};
  }
  while (count > 0) {
    const ssize_t written = offset < 0 ? ::writev(descriptor, next, count) : ::pwritev(descriptor, next, count, offset);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    if (offset >= 0) offset += written;
    for (auto left = static_cast<std::size_t>(written); left > 0;) {
      const std::size_t taken = std::min(left, next->iov_len);
      next->iov_base = static_cast<char*>(next->iov_base) + taken;
      next->iov_len -= taken;
      left -= taken;
      if (next->iov_len == 0) {
        ++next;
        --count;
      }
    }
  }
  return true;
}

static_assert(sizeof(pthread_t) <= 16 && alignof(pthread_t) <= 8, "Thread keeps the handle in 16 bytes");

#if defined(__linux__)
// The processors the calling thread may run on: at the start, its process's.
bool allowed_processors(cpu_set_t& allowed) {
  CPU_ZERO(&allowed);
  return sched_getaffinity(0, sizeof allowed, &allowed) == 0;
}

// Those less `processor`; false when it is unknown (-1) or none is left.
bool allowed_without(int processor, cpu_set_t& allowed) {
  if (processor < 0 || !allowed_processors(allowed)) return false;
  CPU_CLR(processor, &allowed);
  return CPU_COUNT(&allowed) > 0;
}

// A new thread is kept off its starter's processor from before it runs, so
// that no other thread is ever moved, even one that has ended: by glibc, from
// its attributes, while it waits to start (which measured faster); where no
// such attribute exists (musl), by itself, as sched_setaffinity(0) names the
// caller. Returns the processor it still has to keep off itself.
int place_new_thread(pthread_attr_t& attributes) {
  const int processor = sched_getcpu();
#if defined(__GLIBC__)
  cpu_set_t allowed;
  if (allowed_without(processor, allowed)) pthread_attr_setaffinity_np(&attributes, sizeof allowed, &allowed);
  return -1;
#else
  static_cast<void>(attributes);
  return processor;
#endif
}

void keep_off(int processor) {
  cpu_set_t allowed;
  if (allowed_without(processor, allowed)) sched_setaffinity(0, sizeof allowed, &allowed);
}
#else
// Only Linux places threads.
int place_new_thread(pthread_attr_t& /*attributes*/) { return -1; }
void keep_off(int /*processor*/) {}
#endif

extern "C" void* run_thread_work(void* thread_work) {
  const auto* work = static_cast<const Thread::Work*>(thread_work);
  keep_off(work->keep_off_processor);
  work->run(work->context);
  return nullptr;
}

static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 8, "Lock keeps the mutex in 64 bytes");
static_assert(sizeof(pthread_cond_t) <= 48 && alignof(pthread_cond_t) <= 8, "Condition keeps it in 48 bytes");

pthread_mutex_t* mutex_in(unsigned char* handle) { return reinterpret_cast<pthread_mutex_t*>(handle); }
pthread_cond_t* condition_in(unsigned char* handle) { return reinterpret_cast<pthread_cond_t*>(handle); }

// fsync on a descriptor of its own: the kernel flushes the file, whoever
// wrote it. EINVAL: this kind of file (a folder, on some systems) cannot be.
bool flush_opened(const char* path, int flags, bool unflushable_is_done) {
  const int descriptor = ::open(path, flags | O_CLOEXEC);
  if (descriptor < 0) return false;
  int result = 0;
  while ((result = ::fsync(descriptor)) != 0 && errno == EINTR) {}
  const bool flushed = result == 0 || (unflushable_is_done && errno == EINVAL);
  return ::close(descriptor) == 0 && flushed;
}

}  // namespace

// Without O_NONBLOCK, opening a FIFO waits for a writer; reads then wait
// again, and find the end once no writer is left. A folder opens, but holds
// no bytes to read.
FileHandle open_for_reading(const char* path) {
  const int descriptor = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return nullptr;
  struct stat info {};
  const int flags = ::fcntl(descriptor, F_GETFL);
  const bool readable = ::fstat(descriptor, &info) == 0 && !S_ISDIR(info.st_mode) && flags >= 0 &&
                        ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) == 0;
  std::FILE* const file = readable ? ::fdopen(descriptor, "rb") : nullptr;
  if (file == nullptr) ::close(descriptor);
  return FileHandle(file);
}

int seek(std::FILE* file, std::int64_t offset, int origin) { return fseeko(file, static_cast<off_t>(offset), origin); }

std::int64_t tell(std::FILE* file) { return static_cast<std::int64_t>(ftello(file)); }

std::int64_t regular_file_size(std::FILE* file) {
  struct stat info {};
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

// A duplicate shares the file's position, which pread neither uses nor moves.
FileHandle reopen_for_reading(std::FILE* file) {
  const int descriptor = ::fcntl(fileno(file), F_DUPFD_CLOEXEC, 0);
  if (descriptor < 0) return nullptr;
  std::FILE* const reopened = ::fdopen(descriptor, "rb");
  if (reopened == nullptr) ::close(descriptor);
  return FileHandle(reopened);
}

std::int64_t read_at(std::FILE* file, std::int64_t offset, void* buffer, std::size_t size) {
  const int descriptor = fileno(file);
  std::size_t done = 0;
  // pread returns short at the end of the file, or after a signal, when the
  // loop goes on. done <= size, and offset + done is far below 2^63.
  while (done < size) {
    const ssize_t got = ::pread(descriptor, static_cast<char*>(buffer) + done, size - done,
                                static_cast<off_t>(offset) + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

unsigned usable_cores() {
  // taskset, cpuset or a container may allow fewer than the machine has.
  int count = 0;
#if defined(__linux__)
  cpu_set_t allowed;
  if (allowed_processors(allowed)) count = CPU_COUNT(&allowed);
#endif
  if (count < 1) count = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
  return count > 1 ? static_cast<unsigned>(count) : 1u;
}

bool Thread::start(void (*work)(void*), void* context, bool apart_from_starter) {
  if (running_) return false;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_attr_setstacksize(&attributes, kThreadStackBytes);
  work_ = {work, context, apart_from_starter ? place_new_thread(attributes) : -1};
  pthread_t handle;
  int result = 0;
  {
    // A new thread starts with its creator's signal mask.
    const StopSignalsBlocked blocked;
    result = pthread_create(&handle, &attributes, run_thread_work, &work_);
  }
  pthread_attr_destroy(&attributes);
  if (result != 0) return false;
  std::memcpy(handle_, &handle, sizeof handle);
  running_ = true;
  return true;
}

void Thread::join() {
  if (!running_) return;
  pthread_t handle;
  std::memcpy(&handle, handle_, sizeof handle);
  pthread_join(handle, nullptr);
  running_ = false;
}

// Default attributes: initialising them allocates nothing, so neither fails.
Lock::Lock() { pthread_mutex_init(new (handle_) pthread_mutex_t, nullptr); }
Lock::~Lock() { pthread_mutex_destroy(mutex_in(handle_)); }
void Lock::lock() { pthread_mutex_lock(mutex_in(handle_)); }
void Lock::unlock() { pthread_mutex_unlock(mutex_in(handle_)); }

Condition::Condition() { pthread_cond_init(new (handle_) pthread_cond_t, nullptr); }
Condition::~Condition() { pthread_cond_destroy(condition_in(handle_)); }
void Condition::wait(Lock& lock) { pthread_cond_wait(condition_in(handle_), mutex_in(lock.handle_)); }
void Condition::wake_all() { pthread_cond_broadcast(condition_in(handle_)); }

// An empty file is not truncated again: on ext4, closing a file truncated to
// nothing starts writing all its data out (auto_da_alloc).
int open_for_writing(const char* path) {
  const int descriptor = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  struct stat info {};
  if (descriptor < 0 || (::fstat(descriptor, &info) == 0 && info.st_size == 0) || ::ftruncate(descriptor, 0) == 0) {
    return descriptor;
  }
  ::close(descriptor);
  return -1;
}

bool write_ranges(int descriptor, std::span<const ByteRange> parts) { return gathered_write(descriptor, parts, -1); }

bool write_ranges_at(int descriptor, std::uint64_t offset, std::span<const ByteRange> parts) {
  return offset <= static_cast<std::uint64_t>(INT64_MAX) &&
         gathered_write(descriptor, parts, static_cast<std::int64_t>(offset));
}

bool close_file(int descriptor) { return ::close(descriptor) == 0; }

bool flush_to_storage(const char* path) { return flush_opened(path, O_RDONLY, false); }

bool flush_folder_of(const char* path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return flush_opened(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY, true);
}

bool can_open_for_writing(const char* path) {
  const int descriptor = ::open(path, O_WRONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  ::close(descriptor);
  return true;
}

unsigned new_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool create_pending_file(std::string& path_template, unsigned mode) {
  if (path_template.size() > kLongestPathBytes) return false;
  int descriptor = -1;
  {
    const StopSignalsBlocked blocked;
    std::memcpy(pending_path, path_template.c_str(), path_template.size() + 1);
    descriptor = ::mkstemp(pending_path);
    if (descriptor < 0) return false;
    pending = 1;
  }
  path_template = pending_path;
  const bool mode_set = ::fchmod(descriptor, static_cast<mode_t>(mode)) == 0;
  if (::close(descriptor) == 0 && mode_set) return true;
  remove_pending_file(path_template);
  return false;
}

bool replace_with_pending_file(const std::string& pending_path_now, const std::string& final_path) {
  const StopSignalsBlocked blocked;
  if (std::rename(pending_path_now.c_str(), final_path.c_str()) != 0) return false;
  pending = 0;
  return true;
}

void remove_pending_file(const std::string& pending_path_now) {
  std::remove(pending_path_now.c_str());
  const StopSignalsBlocked blocked;
  pending = 0;
}

void guard_against_interruption() {
  struct sigaction action {};
  action.sa_handler = remove_pending_and_stop;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kStopSignals) {
    // A signal the caller chose to ignore (nohup, a background job's SIGINT)
    // stays ignored.
    struct sigaction previous {};
    if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(signal_number, &action, nullptr);
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

bool interruption_requested() { return false; }

// A stop signal ends the process in its handler; nothing asks for this here.
void end_as_interrupted() { std::abort(); }

}  // namespace trailavi::os

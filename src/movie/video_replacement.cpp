#include "movie/video_replacement.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace trailavi {
namespace {

namespace fs = std::filesystem;

constexpr const char* kTemporarySuffix = ".incomplete-";
// As many links as the system itself follows before it gives up.
constexpr int kMostLinksFollowed = 40;

// Longer names are refused, as the system itself refuses them.
constexpr std::size_t kLongestPathBytes = 4095;

// Where `name` leads: the end of its chain of symbolic links, each relative
// link read against the folder of the link that holds it, and what stands
// there. A dangling link leads to the name it holds, where creating through
// it used to put the file. False for a chain that does not end.
bool follow_links(const char* name, fs::path& end, fs::file_status& end_status) {
  fs::path at = name;
  for (int followed = 0; followed <= kMostLinksFollowed; ++followed) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(at, error);
    if (error && status.type() != fs::file_type::not_found) return false;
    if (status.type() != fs::file_type::symlink) {
      end = at;
      end_status = status;
      return true;
    }
    const fs::path target = fs::read_symlink(at, error);
    if (error) return false;
    at = target.is_absolute() ? target : at.parent_path() / target;
  }
  return false;
}

// An existing file at the final name must be a regular file that this user
// may write: opening a FIFO could block, and a device or a folder cannot be
// replaced by a video. The open neither creates nor empties the file.
bool can_replace(const fs::path& final_path, const fs::file_status& status) {
  if (status.type() == fs::file_type::not_found) return true;
  if (status.type() != fs::file_type::regular) return false;
#ifdef _WIN32
  const int descriptor = _open(final_path.string().c_str(), _O_WRONLY | _O_BINARY);
  if (descriptor < 0) return false;
  _close(descriptor);
#else
  const int descriptor = ::open(final_path.c_str(), O_WRONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  ::close(descriptor);
#endif
  return true;
}

#ifdef _WIN32

// The C runtime has no mkstemp; a name is tried until one is free. The
// suffix mixes the process and the time, so that runs started together in
// one folder seldom meet.
int create_exclusively(std::string& path_template) {
  const std::size_t suffix_at = path_template.size() - 6;
  unsigned seed = static_cast<unsigned>(_getpid()) * 2654435761u ^ static_cast<unsigned>(GetTickCount());
  for (int attempt = 0; attempt < 1000; ++attempt) {
    unsigned value = seed + static_cast<unsigned>(attempt) * 7919u;
    for (std::size_t i = 0; i < 6; ++i) {
      path_template[suffix_at + i] = "abcdefghijklmnopqrstuvwxyz0123456789"[value % 36];
      value /= 36;
    }
    const int descriptor =
        _open(path_template.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (descriptor >= 0 || errno != EEXIST) return descriptor;
    seed = seed * 1103515245u + 12345u;
  }
  return -1;
}

// Windows runs a console control handler on a thread of its own while the
// run goes on, and a file the library still holds open cannot be removed
// from there. So the handler asks the run to stop, and the run, at its next
// frame or at its release, removes the file and ends as an interrupted
// console program ends. The lock keeps the request, the file's creation and
// its rename in one order: a stop asked for before the file exists never
// meets a file, and one asked for before the rename keeps the earlier video.
CRITICAL_SECTION pending_lock;
bool pending = false;  // a temporary file of this run exists; under the lock
std::atomic<bool> stop_requested{false};

// How long the handler lets the run reach its next frame before the
// process ends anyway, leaving the file (a read that never returns, say).
// Windows itself ends a closing console's processes after 5 seconds.
constexpr DWORD kStopGraceMs = 10000;

class PendingLocked {
 public:
  PendingLocked() { EnterCriticalSection(&pending_lock); }
  ~PendingLocked() { LeaveCriticalSection(&pending_lock); }
  PendingLocked(const PendingLocked&) = delete;
  PendingLocked& operator=(const PendingLocked&) = delete;
};

// Returning FALSE hands the event to the default handler, which ends the
// process with STATUS_CONTROL_C_EXIT; with a file to remove, the run ends
// the process itself first.
BOOL WINAPI request_stop(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  bool has_file = false;
  {
    const PendingLocked locked;
    stop_requested = true;
    has_file = pending;
  }
  if (has_file) Sleep(kStopGraceMs);
  return FALSE;
}

bool create_temporary(VideoReplacement& replacement, std::string path, const fs::file_status& /*final_status*/) {
  int descriptor = -1;
  {
    const PendingLocked locked;
    if (stop_requested) end_as_interrupted();
    descriptor = create_exclusively(path);
    if (descriptor < 0) return false;
    pending = true;
  }
  replacement.temporary_path = path;
  return _close(descriptor) == 0;
}

bool rename_over(const VideoReplacement& replacement) {
  const PendingLocked locked;
  if (stop_requested) {
    std::remove(replacement.temporary_path.c_str());
    end_as_interrupted();
  }
  if (MoveFileExA(replacement.temporary_path.c_str(), replacement.final_path.c_str(), MOVEFILE_REPLACE_EXISTING) ==
      0) {
    return false;
  }
  pending = false;
  return true;
}

void forget_temporary() {
  const PendingLocked locked;
  pending = false;
}

#else

// The temporary file's name, for the signal handler: set, with the signals
// blocked, before the file is created and cleared after it is renamed or
// removed, so that the handler removes only a file of this run.
char pending_path[kLongestPathBytes + 1];
volatile std::sig_atomic_t pending = 0;

// The signals whose default action ends the process and that a user or a
// session sends to stop a run.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Blocks the stop signals for its lifetime, so that the handler never sees
// the temporary file's name half set, or a name already renamed away.
class StopSignalsBlocked {
 public:
  StopSignalsBlocked() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal_number : kStopSignals) sigaddset(&blocked, signal_number);
    sigprocmask(SIG_BLOCK, &blocked, &previous_);
  }
  ~StopSignalsBlocked() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  StopSignalsBlocked(const StopSignalsBlocked&) = delete;
  StopSignalsBlocked& operator=(const StopSignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

// Removes the temporary file, then lets the signal end the process as it
// would have: the handler was reset on entry (SA_RESETHAND) and the signal
// is blocked while it runs, so the raised one arrives as it returns. unlink
// and raise are async-signal-safe.
extern "C" void remove_pending_and_stop(int signal_number) {
  if (pending != 0) ::unlink(pending_path);
  std::raise(signal_number);
}

// The permission bits the video gets: those of the file it replaces, or for
// a new one what creating it used to give, 0666 less the umask.
mode_t video_mode(const fs::file_status& final_status) {
  if (final_status.type() != fs::file_type::not_found) {
    return static_cast<mode_t>(final_status.permissions() & fs::perms::mask);
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool create_temporary(VideoReplacement& replacement, const std::string& path, const fs::file_status& final_status) {
  const mode_t mode = video_mode(final_status);
  int descriptor = -1;
  {
    const StopSignalsBlocked blocked;
    std::memcpy(pending_path, path.c_str(), path.size() + 1);
    descriptor = ::mkstemp(pending_path);
    if (descriptor < 0) return false;
    pending = 1;
  }
  replacement.temporary_path = pending_path;
  const bool mode_set = ::fchmod(descriptor, mode) == 0;
  return ::close(descriptor) == 0 && mode_set;
}

bool rename_over(const VideoReplacement& replacement) {
  const StopSignalsBlocked blocked;
  if (std::rename(replacement.temporary_path.c_str(), replacement.final_path.c_str()) != 0) return false;
  pending = 0;
  return true;
}

void forget_temporary() {
  const StopSignalsBlocked blocked;
  pending = 0;
}

#endif

}  // namespace

bool begin_replacement(const char* name, VideoReplacement& replacement) {
  replacement = VideoReplacement{};
  fs::path final_path;
  fs::file_status final_status;
  if (!follow_links(name, final_path, final_status) || !can_replace(final_path, final_status)) return false;
  replacement.final_path = final_path.string();
  const std::string path = replacement.final_path + kTemporarySuffix + "XXXXXX";
  if (path.size() > kLongestPathBytes || !create_temporary(replacement, path, final_status)) {
    abandon_replacement(replacement);
    return false;
  }
  return true;
}

bool finish_replacement(VideoReplacement& replacement) {
  if (!rename_over(replacement)) {
    abandon_replacement(replacement);
    return false;
  }
  replacement = VideoReplacement{};
  return true;
}

// The file is removed before its name is forgotten, so that a signal in
// between only repeats the removal.
void abandon_replacement(VideoReplacement& replacement) {
  if (!replacement.temporary_path.empty()) std::remove(replacement.temporary_path.c_str());
  forget_temporary();
  replacement = VideoReplacement{};
}

bool interruption_requested() {
#ifdef _WIN32
  return stop_requested;
#else
  return false;
#endif
}

void end_as_interrupted() {
#ifdef _WIN32
  ExitProcess(STATUS_CONTROL_C_EXIT);
#else
  std::abort();  // never called: a stop signal ends the process in its handler
#endif
}

void guard_against_interruption() {
#ifdef _WIN32
  InitializeCriticalSection(&pending_lock);
  SetConsoleCtrlHandler(request_stop, TRUE);
#else
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
#endif
}

}  // namespace trailavi

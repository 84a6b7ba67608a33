// console_interrupt PROGRAM: interrupts a run from its console, as Ctrl-Break
// and Ctrl-C do. It starts PROGRAM in the current folder on this program's
// console (made if there is none), with this program's standard error, waits until the run's temporary video (TEST01_.AVI.incomplete-*)
// holds 4 MiB, so that the run is in its frame pass, and interrupts it:
//   - first as the run's own process group, with CTRL_BREAK_EVENT;
//   - where the console cannot deliver that (Wine 8 delivers only Ctrl-C),
//     the run is ended, its temporary file removed, and a new run, in this
//     program's group, gets CTRL_C_EVENT, which this program ignores.
//
// It passes on the interrupted run's standard output, prints "EVENT exit code 0xXXXXXXXX" on standard error, with the event
// that reached the run and the run's exit code, and ends with status 0; with
// status 1, and "error WHAT CODE", when a call fails or no temporary file
// grows within a minute.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr const char* kTemporaryPattern = "TEST01_.AVI.incomplete-*";

int fail(const char* what) {
  std::fprintf(stderr, "error %s %lu\n", what, static_cast<unsigned long>(GetLastError()));
  return 1;
}

// The size of the run's temporary file, 0 while there is none.
ULONGLONG temporary_file_bytes() {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(kTemporaryPattern, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  return (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

bool wait_for_frame_pass() {
  for (int waited_ms = 0; waited_ms < 60000; waited_ms += 2) {
    if (temporary_file_bytes() >= (ULONGLONG{4} << 20)) return true;
    Sleep(2);
  }
  return false;
}

// This program's standard handles as it was started, before a console of
// its own replaces them.
HANDLE standard_output = nullptr;
HANDLE standard_error = nullptr;

// A run and the pipe its standard output goes to, so that only the report of
// the run that is interrupted reaches ours.
struct Run {
  PROCESS_INFORMATION process{};
  HANDLE report = nullptr;
};

bool start(const char* program, DWORD flags, Run& run) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE report_end = nullptr;
  if (!CreatePipe(&run.report, &report_end, &inherited, 1 << 16)) return false;
  SetHandleInformation(run.report, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = report_end;
  startup.hStdError = standard_error;
  std::string command = std::string("\"") + program + "\"";
  const bool started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                      &startup, &run.process) != 0;
  CloseHandle(report_end);
  return started;
}

// Once the run has ended: its report, to our standard output.
void pass_on_report(const Run& run) {
  char buffer[4096];
  DWORD got = 0;
  DWORD written = 0;
  while (ReadFile(run.report, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    WriteFile(standard_output, buffer, got, &written, nullptr);
  }
}

// Ends a run that no event reached, and removes what it leaves.
void discard(const Run& run) {
  TerminateProcess(run.process.hProcess, 1);
  WaitForSingleObject(run.process.hProcess, INFINITE);
  CloseHandle(run.report);
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(kTemporaryPattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  DeleteFileA(found.cFileName);
  FindClose(search);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: console_interrupt PROGRAM\n");
    return 2;
  }
  // Wine starts a program whose standard handles are not a terminal's on a
  // console that carries no control events; a console of its own does.
  standard_output = GetStdHandle(STD_OUTPUT_HANDLE);
  standard_error = GetStdHandle(STD_ERROR_HANDLE);
  SetHandleInformation(standard_error, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  FreeConsole();
  if (!AllocConsole()) return fail("AllocConsole");

  Run run;
  const char* event = "CTRL_BREAK_EVENT";
  if (!start(argv[1], CREATE_NEW_PROCESS_GROUP, run)) return fail("CreateProcess");
  if (!wait_for_frame_pass()) {
    discard(run);
    return fail("no-frame-pass");
  }
  if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, run.process.dwProcessId)) {
    discard(run);
    event = "CTRL_C_EVENT";
    run = Run{};
    if (!start(argv[1], 0, run)) return fail("CreateProcess");
    // Set only now: the run would inherit it.
    SetConsoleCtrlHandler(nullptr, TRUE);
    if (!wait_for_frame_pass()) {
      discard(run);
      return fail("no-frame-pass");
    }
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
      discard(run);
      return fail("GenerateConsoleCtrlEvent");
    }
  }
  if (WaitForSingleObject(run.process.hProcess, 60000) != WAIT_OBJECT_0) {
    discard(run);
    return fail("wait");
  }
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(run.process.hProcess, &exit_code)) return fail("GetExitCodeProcess");
  pass_on_report(run);
  std::fprintf(stderr, "%s exit code 0x%08lx\n", event, static_cast<unsigned long>(exit_code));
  return 0;
}

// Preloaded into the program (LD_PRELOAD): every flush to storage fails, as
// on a disk that reports a write error, while every write still succeeds.

#include <cerrno>

extern "C" int fsync(int /*descriptor*/) {
  errno = EIO;
  return -1;
}

extern "C" int fdatasync(int /*descriptor*/) {
  errno = EIO;
  return -1;
}

// The write half of the benchmark's limit, without dd's detour through
// /dev/zero: writes BYTES zero bytes to FILE in 1 MiB write calls.
//
//   write_blocks FILE BYTES

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: write_blocks FILE BYTES\n");
    return 64;
  }
  const int fd = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return 1;
  const std::vector<char> block(1 << 20, 0);
  unsigned long long left = std::strtoull(argv[2], nullptr, 10);
  while (left > 0) {
    const std::size_t want = left < block.size() ? static_cast<std::size_t>(left) : block.size();
    const ssize_t wrote = ::write(fd, block.data(), want);
    if (wrote <= 0) return 1;
    left -= static_cast<unsigned long long>(wrote);
  }
  return ::close(fd) == 0 ? 0 : 1;
}

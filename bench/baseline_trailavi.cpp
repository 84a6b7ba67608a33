// The straightforward way to do trailavi's job, kept as the benchmark's
// baseline: fgets and sscanf for every line, stdio for every write, one
// AVI 1.0 file with its index built up in memory. It takes the same inputs,
// prints the same report and writes a video a reader accepts; it has none of
// the program's checks and is not meant for anything but timing.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void put32(std::FILE* out, std::uint32_t value) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                  static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  std::fwrite(bytes, 1, 4, out);
}

void put16(std::FILE* out, std::uint16_t value) {
  const unsigned char bytes[2] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8)};
  std::fwrite(bytes, 1, 2, out);
}

void fourcc(std::FILE* out, const char* code) { std::fwrite(code, 1, 4, out); }

std::uint32_t get32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

int main() {
  std::FILE* bitmap = std::fopen("TEST_.BMP", "rb");
  if (bitmap == nullptr) return 1;
  std::fseek(bitmap, 0, SEEK_END);
  const long length = std::ftell(bitmap);
  std::fseek(bitmap, 14, SEEK_SET);
  const long byte_count = length - 14;
  std::printf("fsize: %ld\n", byte_count);
  std::vector<unsigned char> image(static_cast<std::size_t>(byte_count));
  if (std::fread(image.data(), image.size(), 1, bitmap) != 1) return 5;
  std::fclose(bitmap);
  const std::int32_t width = static_cast<std::int32_t>(get32(&image[4]));
  const std::int32_t height = static_cast<std::int32_t>(get32(&image[8]));
  const std::uint32_t clr_used = get32(&image[32]);
  const int bit_count = image[14] | image[15] << 8;
  const long table = clr_used != 0 ? 4L * clr_used : (bit_count == 8 ? 1024 : 0);
  const long header = 40 + table;
  const long stride = (3L * width + 3) / 4 * 4;
  std::printf("biClrUsed: %u\nbiBitCount: %d\nwidth: %d, height: %d\nlsize: %ld\n%ld\nheader1 size: %ld\n",
              clr_used, bit_count, width, height, stride, stride * height, header + 14);

  std::FILE* data = std::fopen("test_.dat", "rt");
  if (data == nullptr) return 7;
  char line[256];
  int points = 0, frames = 0, x_max = 0, y_max = 0;
  while (std::fgets(line, sizeof line, data) != nullptr) {
    int x = 0, y = 0;
    if (std::sscanf(line, "%d%d", &x, &y) == 2) {
      ++points;
      if (x > x_max) x_max = x;
      if (y > y_max) y_max = y;
    } else {
      ++frames;
    }
  }
  std::printf("number of data: %d\nnumber of frame: %d\nxmax: %d, ymax: %d\n", points, frames, x_max, y_max);
  std::rewind(data);

  const std::uint32_t frame_size = static_cast<std::uint32_t>(byte_count - header);
  std::FILE* out = std::fopen("TEST01_.AVI", "wb");
  if (out == nullptr) return 9;
  const long hdrl_size = 4 + 64 + 12 + 64 + 8 + header + (header & 1);
  fourcc(out, "RIFF"); put32(out, 0); fourcc(out, "AVI ");
  fourcc(out, "LIST"); put32(out, static_cast<std::uint32_t>(hdrl_size)); fourcc(out, "hdrl");
  fourcc(out, "avih"); put32(out, 56);
  const long total_frames_at = std::ftell(out) + 16;
  put32(out, 33333); put32(out, (frame_size + 8) * 30); put32(out, 0); put32(out, 0x10); put32(out, 0);
  put32(out, 0); put32(out, 1); put32(out, frame_size); put32(out, static_cast<std::uint32_t>(width));
  put32(out, static_cast<std::uint32_t>(height)); put32(out, 0); put32(out, 0); put32(out, 0); put32(out, 0);
  fourcc(out, "LIST"); put32(out, static_cast<std::uint32_t>(4 + 64 + 8 + header + (header & 1))); fourcc(out, "strl");
  fourcc(out, "strh"); put32(out, 56); fourcc(out, "vids"); fourcc(out, "DIB "); put32(out, 0); put16(out, 0);
  put16(out, 0); put32(out, 0); put32(out, 1); put32(out, 30); put32(out, 0);
  const long length_at = std::ftell(out);
  put32(out, 0); put32(out, frame_size); put32(out, 0xFFFFFFFF); put32(out, 0);
  put16(out, 0); put16(out, 0); put16(out, static_cast<std::uint16_t>(width)); put16(out, static_cast<std::uint16_t>(height));
  fourcc(out, "strf"); put32(out, static_cast<std::uint32_t>(header));
  std::fwrite(image.data(), 1, static_cast<std::size_t>(header), out);
  if (header & 1) std::fputc(0, out);
  fourcc(out, "LIST");
  const long movi_at = std::ftell(out);
  put32(out, 0); fourcc(out, "movi");

  std::vector<std::uint32_t> offsets;
  unsigned char* pixels = image.data() + header;
  std::uint32_t offset = 4;
  while (std::fgets(line, sizeof line, data) != nullptr) {
    int x = 0, y = 0;
    if (std::sscanf(line, "%d%d", &x, &y) == 2) {
      if (x >= width) x = width - 1;
      if (y >= height) y = height - 1;
      unsigned char* pixel = pixels + 3L * x + stride * y;
      for (int i = 0; i < 3; ++i) pixel[i] = pixel[i] < 127 ? 0 : static_cast<unsigned char>(pixel[i] - 127);
      continue;
    }
    fourcc(out, "00db");
    put32(out, frame_size);
    std::fwrite(pixels, 1, frame_size, out);
    if (frame_size & 1) std::fputc(0, out);
    offsets.push_back(offset);
    offset += 8 + frame_size + (frame_size & 1);
  }
  std::fclose(data);
  const long movi_end = std::ftell(out);
  fourcc(out, "idx1");
  put32(out, static_cast<std::uint32_t>(16 * offsets.size()));
  for (std::uint32_t at : offsets) {
    fourcc(out, "00db"); put32(out, 0x10); put32(out, at); put32(out, frame_size);
  }
  const long file_end = std::ftell(out);
  std::fseek(out, 4, SEEK_SET);
  put32(out, static_cast<std::uint32_t>(file_end - 8));
  std::fseek(out, movi_at, SEEK_SET);
  put32(out, static_cast<std::uint32_t>(movi_end - movi_at - 4));
  std::fseek(out, total_frames_at, SEEK_SET);
  put32(out, static_cast<std::uint32_t>(offsets.size()));
  std::fseek(out, length_at, SEEK_SET);
  put32(out, static_cast<std::uint32_t>(offsets.size()));
  return std::fclose(out) == 0 ? 0 : 12;
}

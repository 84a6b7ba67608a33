#include "input/background_image.hpp"

#include <cstdio>
#include <new>

#include "base/int32_wrap.hpp"
#include "input/little_endian.hpp"
#include "os/os.hpp"

namespace trailavi {
namespace {

// The BITMAPINFOHEADER fields the run reads, at their offsets in the buffer.
struct InfoHeaderFields {
  std::uint32_t biSize;
  std::int32_t biWidth, biHeight;
  std::uint16_t biBitCount;
  std::uint32_t biCompression, biClrUsed;
};

// Precondition: the buffer holds at least the 40-byte information header.
InfoHeaderFields read_info_header(std::span<const std::uint8_t> bytes) {
  return {.biSize = u32_le(bytes, 0), .biWidth = as_int32(u32_le(bytes, 4)), .biHeight = as_int32(u32_le(bytes, 8)),
          .biBitCount = u16_le(bytes, 14), .biCompression = u32_le(bytes, 16), .biClrUsed = u32_le(bytes, 32)};
}

// The later Windows headers (BITMAPV2/V3INFOHEADER, BITMAPV4HEADER,
// BITMAPV5HEADER) begin with the 40 bytes of a BITMAPINFOHEADER and go on
// with the colour masks and colour space; the colour table follows them.
// Every other size field, 12 and 64 among them, is not trusted: such a header
// is read as a BITMAPINFOHEADER of 40 bytes.
std::uint32_t info_header_bytes(const InfoHeaderFields& fields) {
  switch (fields.biSize) {
    case 52: case 56: case 108: case 124: return fields.biSize;
    default: return static_cast<std::uint32_t>(kInfoHeaderBytes);
  }
}

// The colour table's size, exact in 64 bits: 4 * biClrUsed cannot wrap there.
// The three colour masks of a 16- or 32-bit picture with a compression follow
// a 40-byte header only; the later headers hold them. False for a bit count
// that defines no colour table.
bool colour_table_size(const InfoHeaderFields& fields, std::uint64_t& size_bytes) {
  if (fields.biClrUsed != 0) {
    size_bytes = 4 * static_cast<std::uint64_t>(fields.biClrUsed);
    return true;
  }
  switch (fields.biBitCount) {
    case 1: size_bytes = 8; return true;
    case 4: size_bytes = 64; return true;
    case 8: size_bytes = 1024; return true;
    case 24: size_bytes = 0; return true;
    case 16:
    case 32: {
      const bool masks_follow_header =
          fields.biCompression != 0 && info_header_bytes(fields) == static_cast<std::uint32_t>(kInfoHeaderBytes);
      size_bytes = masks_follow_header ? 12 : 0;
      return true;
    }
    default: return false;
  }
}

// Opens the file, measures it and positions it after its file header; the
// length must fit a signed 32-bit value, as a 32-bit position query's would.
ExitStatus open_and_measure(os::FileHandle& file, std::int32_t& length_bytes) {
  file = os::open_for_reading(kBackgroundFileName);
  if (!file) return ExitStatus::bitmap_open_failed;
  if (os::seek(file.get(), 0, SEEK_END) != 0) return ExitStatus::bitmap_seek_end_failed;
  const std::int64_t length = os::tell(file.get());
  if (length < 0 || length > INT32_MAX) return ExitStatus::bitmap_length_unknown;
  if (os::seek(file.get(), kBitmapFileHeaderBytes, SEEK_SET) != 0) return ExitStatus::bitmap_seek_header_failed;
  length_bytes = static_cast<std::int32_t>(length);
  return ExitStatus::ok;
}

// Reads the remainder as one block; one too short for the information header
// is refused before any field is read, and so is a buffer not to be had.
ExitStatus read_remainder(std::FILE* file, std::int32_t byte_count, std::unique_ptr<std::uint8_t[]>& bytes) {
  if (byte_count < kInfoHeaderBytes) return ExitStatus::bitmap_read_failed;
  const auto size = static_cast<std::size_t>(byte_count);
  bytes.reset(new (std::nothrow) std::uint8_t[size]);
  if (!bytes) return ExitStatus::bitmap_read_failed;
  if (std::fread(bytes.get(), size, 1, file) != 1) return ExitStatus::bitmap_read_failed;
  return ExitStatus::ok;
}

// Report lines 3 to 6, once the header has been found to fit.
void report_geometry(Report& report, const BackgroundImage& image) {
  report.dimensions(image.width(), image.height());
  report.row_stride(image.row_stride_bytes());
  report.pixel_array_size(wrapping_mul(image.row_stride_bytes(), image.height()));
  report.pixel_offset(image.header_length_bytes() + kBitmapFileHeaderBytes);
}

}  // namespace

std::int32_t row_stride_bytes(std::int32_t width) {
  // (3 * width + 3) / 4 * 4: the sum wraps in 32 bits as the system's
  // arithmetic does; the division truncates toward zero and cannot overflow,
  // and |quotient| <= 2^29 keeps the final product inside int32_t.
  const std::int32_t sum = wrapping_add(wrapping_mul(3, width), 3);
  return sum / 4 * 4;
}

ExitStatus BackgroundImage::parse(std::unique_ptr<std::uint8_t[]> bytes, std::int32_t byte_count, Report& report,
                                  BackgroundImage& image) {
  if (byte_count < kInfoHeaderBytes) return ExitStatus::bitmap_read_failed;
  const InfoHeaderFields fields = read_info_header({bytes.get(), static_cast<std::size_t>(byte_count)});
  std::uint64_t table_bytes = 0;
  if (!colour_table_size(fields, table_bytes)) return ExitStatus::bitmap_bit_count_unsupported;
  // A header or table that runs past the end of the file would put the
  // format and the pixel region outside the buffer. Past this check the
  // header length fits in byte_count, so every value below fits a signed
  // 32-bit integer. The sum is exact in 64 bits: both terms are below 2^35.
  const std::uint64_t header_bytes = info_header_bytes(fields) + table_bytes;
  if (header_bytes > static_cast<std::uint64_t>(byte_count)) return ExitStatus::bitmap_read_failed;
  report.colour_fields(fields.biClrUsed, fields.biBitCount);

  image.bytes_ = std::move(bytes);
  image.byte_count_ = byte_count;
  image.header_length_bytes_ = static_cast<std::int32_t>(header_bytes);
  image.width_ = fields.biWidth;
  image.height_ = fields.biHeight;
  image.row_stride_bytes_ = trailavi::row_stride_bytes(fields.biWidth);
  report_geometry(report, image);
  return ExitStatus::ok;
}

ExitStatus load_background(Report& report, BackgroundImage& image) {
  os::FileHandle file;
  std::int32_t length_bytes = 0;
  ExitStatus status = open_and_measure(file, length_bytes);
  if (status != ExitStatus::ok) return status;
  // length_bytes >= 0, so the difference cannot overflow.
  const std::int32_t byte_count = length_bytes - kBitmapFileHeaderBytes;
  report.bitmap_byte_count(byte_count);
  std::unique_ptr<std::uint8_t[]> bytes;
  if ((status = read_remainder(file.get(), byte_count, bytes)) != ExitStatus::ok) return status;
  file.reset();
  return BackgroundImage::parse(std::move(bytes), byte_count, report, image);
}

}  // namespace trailavi

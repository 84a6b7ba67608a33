// avi_read_dump FILE: opens an AVI file for reading through the platform
// video library and prints what the library reads from it, one item a line,
// for the tests to compare on the build machine:
//
//   fccType vids                      (four characters, as stored, so
//   fccHandler DIB                     the handler ends in a blank)
//   dwScale 1 / dwRate 30 / dwStart 0 / dwLength 2 / dwQuality 4294967295
//   rcFrame 0 0 4 2                   (left top right bottom)
//   format 28000000...                (AVIStreamReadFormat's bytes, in hex)
//   frame 0 key 1 size 24 ff80...     (each sample AVIStreamRead gives, and
//                                      whether AVIStreamIsKeyFrame says so)
//
// A failed call prints "error CALL RESULT" on standard error and ends with
// status 1.

#include <windows.h>
#include <vfw.h>

#include <cstdio>
#include <vector>

namespace {

void print_fourcc(const char* name, DWORD value) {
  std::printf("%s %c%c%c%c\n", name, static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
              static_cast<char>((value >> 16) & 0xFF), static_cast<char>((value >> 24) & 0xFF));
}

void print_hex(const std::vector<unsigned char>& bytes) {
  for (unsigned char byte : bytes) std::printf("%02x", byte);
  std::printf("\n");
}

int fail(const char* call, HRESULT result) {
  std::fprintf(stderr, "error %s 0x%08lx\n", call, static_cast<unsigned long>(result));
  return 1;
}

void print_info(const AVISTREAMINFOA& info) {
  print_fourcc("fccType", info.fccType);
  print_fourcc("fccHandler", info.fccHandler);
  std::printf("dwScale %lu\ndwRate %lu\ndwStart %lu\ndwLength %lu\ndwQuality %lu\n",
              static_cast<unsigned long>(info.dwScale), static_cast<unsigned long>(info.dwRate),
              static_cast<unsigned long>(info.dwStart), static_cast<unsigned long>(info.dwLength),
              static_cast<unsigned long>(info.dwQuality));
  std::printf("rcFrame %ld %ld %ld %ld\n", static_cast<long>(info.rcFrame.left), static_cast<long>(info.rcFrame.top),
              static_cast<long>(info.rcFrame.right), static_cast<long>(info.rcFrame.bottom));
}

int dump_stream(PAVISTREAM stream) {
  AVISTREAMINFOA info;
  if (const HRESULT result = AVIStreamInfoA(stream, &info, sizeof info); result != 0) {
    return fail("AVIStreamInfoA", result);
  }
  print_info(info);

  LONG format_bytes = 0;
  if (const HRESULT result = AVIStreamReadFormat(stream, 0, nullptr, &format_bytes); result != 0) {
    return fail("AVIStreamReadFormat", result);
  }
  std::vector<unsigned char> format(static_cast<std::size_t>(format_bytes));
  if (const HRESULT result = AVIStreamReadFormat(stream, 0, format.data(), &format_bytes); result != 0) {
    return fail("AVIStreamReadFormat", result);
  }
  std::printf("format ");
  print_hex(format);

  const LONG end = static_cast<LONG>(info.dwStart + info.dwLength);
  for (LONG sample = static_cast<LONG>(info.dwStart); sample < end; ++sample) {
    LONG size = 0;
    if (const HRESULT result = AVIStreamRead(stream, sample, 1, nullptr, 0, &size, nullptr); result != 0) {
      return fail("AVIStreamRead (size)", result);
    }
    std::vector<unsigned char> frame(static_cast<std::size_t>(size));
    LONG bytes_read = 0;
    LONG samples_read = 0;
    if (const HRESULT result = AVIStreamRead(stream, sample, 1, frame.data(), size, &bytes_read, &samples_read);
        result != 0) {
      return fail("AVIStreamRead", result);
    }
    if (bytes_read != size || samples_read != 1) return fail("AVIStreamRead (count)", E_FAIL);
    std::printf("frame %ld key %d size %ld ", static_cast<long>(sample), AVIStreamIsKeyFrame(stream, sample) ? 1 : 0,
                static_cast<long>(size));
    print_hex(frame);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: avi_read_dump FILE\n");
    return 2;
  }
  AVIFileInit();
  PAVIFILE file = nullptr;
  int status = 0;
  if (const HRESULT result = AVIFileOpenA(&file, argv[1], OF_READ | OF_SHARE_DENY_WRITE, nullptr); result != 0) {
    status = fail("AVIFileOpenA", result);
  } else {
    PAVISTREAM stream = nullptr;
    if (const HRESULT result = AVIFileGetStream(file, &stream, streamtypeVIDEO, 0); result != 0) {
      status = fail("AVIFileGetStream", result);
    } else {
      status = dump_stream(stream);
      AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
  }
  AVIFileExit();
  return status;
}

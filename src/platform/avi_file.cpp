// The AVIFile operations of our stand-in library, on top of AviWriter, with
// the platform's reference counting: the file starts with one reference, its
// stream holds one on it, and the file's last release completes it.

#include <new>

#include "platform/avi_writer.hpp"
#include "platform/own_video_library.hpp"
#include "platform/own_video_library_testing.hpp"

struct IAVIFile {
  explicit IAVIFile(const trailavi::platform::testing::AviFileSettings& settings)
      : writer(settings.riff_limit_bytes, settings.file_operations) {}
  trailavi::platform::AviWriter writer;
  ULONG references = 1;
  IAVIStream* stream = nullptr;
};

struct IAVIStream {
  IAVIFile* file = nullptr;
  ULONG references = 1;
  bool format_set = false;
};

namespace {

using trailavi::platform::testing::AviFileSettings;

// The stream as the writer states it in the file.
trailavi::platform::StreamDescription describe(const AVISTREAMINFOA& info) {
  return {.fcc_type = info.fccType, .fcc_handler = info.fccHandler, .flags = info.dwFlags,
          .priority = info.wPriority, .language = info.wLanguage, .initial_frames = info.dwInitialFrames,
          .scale = info.dwScale, .rate = info.dwRate, .start = info.dwStart, .declared_frames = info.dwLength,
          .suggested_buffer_bytes = info.dwSuggestedBufferSize, .quality = info.dwQuality,
          .sample_bytes = info.dwSampleSize, .frame_left = info.rcFrame.left, .frame_top = info.rcFrame.top,
          .frame_right = info.rcFrame.right, .frame_bottom = info.rcFrame.bottom};
}

// The file's own reference count reaching zero completes it; a file that
// could not be completed answers 1, where a completed one answers 0.
ULONG release_file(IAVIFile* file) {
  if (--file->references > 0) return file->references;
  const bool completed = file->writer.finish();
  delete file;
  return completed ? 0 : 1;
}

}  // namespace

namespace trailavi::platform::testing {

HRESULT open_avi_file(PAVIFILE* ppfile, LPCSTR szFile, UINT uMode, const AviFileSettings& settings) {
  if (ppfile == nullptr || szFile == nullptr) return AVIERR_BADPARAM;
  *ppfile = nullptr;
  // Only the creation of a file for writing is offered.
  if ((uMode & OF_WRITE) == 0 || (uMode & OF_CREATE) == 0) return AVIERR_UNSUPPORTED;
  auto* file = new (std::nothrow) IAVIFile(settings);
  if (file == nullptr) return AVIERR_MEMORY;
  if (!file->writer.create(szFile)) {
    delete file;
    return AVIERR_FILEOPEN;
  }
  *ppfile = file;
  return AVIERR_OK;
}

}  // namespace trailavi::platform::testing

void AVIFileInit() {}

void AVIFileExit() {}

HRESULT AVIFileOpenA(PAVIFILE* ppfile, LPCSTR szFile, UINT uMode, LPCLSID /*lpHandler*/) {
  return trailavi::platform::testing::open_avi_file(ppfile, szFile, uMode, AviFileSettings{});
}

HRESULT AVIFileCreateStreamA(PAVIFILE pfile, PAVISTREAM* ppavi, AVISTREAMINFOA* psi) {
  if (pfile == nullptr) return AVIERR_BADHANDLE;
  if (ppavi == nullptr || psi == nullptr) return AVIERR_BADPARAM;
  *ppavi = nullptr;
  // One video stream per file is what this library writes.
  if (pfile->stream != nullptr || psi->fccType != streamtypeVIDEO) return AVIERR_UNSUPPORTED;
  auto* stream = new (std::nothrow) IAVIStream;
  if (stream == nullptr) return AVIERR_MEMORY;
  stream->file = pfile;
  ++pfile->references;
  pfile->stream = stream;
  pfile->writer.set_stream(describe(*psi));
  *ppavi = stream;
  return AVIERR_OK;
}

HRESULT AVIStreamSetFormat(PAVISTREAM pavi, LONG lPos, LPVOID lpFormat, LONG cbFormat) {
  if (pavi == nullptr) return AVIERR_BADHANDLE;
  if (lPos != 0 || cbFormat <= 0 || lpFormat == nullptr) return AVIERR_BADPARAM;
  trailavi::platform::AviWriter& writer = pavi->file->writer;
  if (writer.started()) return AVIERR_UNSUPPORTED;  // the format cannot change after a frame
  const auto* bytes = static_cast<const std::uint8_t*>(lpFormat);
  if (!writer.set_format({bytes, static_cast<std::size_t>(cbFormat)})) return AVIERR_MEMORY;
  pavi->format_set = true;
  return AVIERR_OK;
}

HRESULT AVIStreamWrite(PAVISTREAM pavi, LONG lStart, LONG lSamples, LPVOID lpBuffer, LONG cbBuffer,
                       DWORD dwFlags, LONG* plSampWritten, LONG* plBytesWritten) {
  if (pavi == nullptr) return AVIERR_BADHANDLE;
  if (!pavi->format_set) return AVIERR_BADFORMAT;
  trailavi::platform::AviWriter& writer = pavi->file->writer;
  // Samples are stored in order: lStart must be the next sample number. The
  // frame index is a signed 32-bit counter, so it is compared modulo 2^32.
  if (lSamples != 1 || cbBuffer < 0 || (lpBuffer == nullptr && cbBuffer > 0) ||
      static_cast<std::uint32_t>(lStart) != writer.frames_written()) {
    return AVIERR_BADPARAM;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(lpBuffer);
  if (!writer.write_frame({bytes, static_cast<std::size_t>(cbBuffer)}, (dwFlags & AVIIF_KEYFRAME) != 0)) {
    return AVIERR_FILEWRITE;
  }
  if (plSampWritten != nullptr) *plSampWritten = 1;
  if (plBytesWritten != nullptr) *plBytesWritten = cbBuffer;
  return AVIERR_OK;
}

// When the file was released first, the stream's reference is the file's
// last, and the stream's release answers for the file's completion.
ULONG AVIStreamRelease(PAVISTREAM pavi) {
  if (pavi == nullptr) return 0;
  if (--pavi->references > 0) return pavi->references;
  IAVIFile* file = pavi->file;
  file->stream = nullptr;
  delete pavi;
  const bool completes_file = file->references == 1;
  const ULONG file_result = release_file(file);
  return completes_file ? file_result : 0;
}

ULONG AVIFileRelease(PAVIFILE pfile) { return pfile != nullptr ? release_file(pfile) : 0; }

#pragma once

// Our stand-in for the platform video file library: the AVIFile operations
// the movie uses, with the platform's names, types and constants. Open
// creates (or empties) the file and writes nothing yet; creating the stream
// and setting its format record them; a write stores sample number lStart,
// which must be the next; the file's last reference going completes it,
// with counters that state the frames stored. Results are 0 or an AVIERR_
// code. A release returns the references left; the one that completes the
// file, the file's own or its stream's, answers non-zero when it could not be
// completed (a write, seek or close failed), whatever the order.

#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = std::uint32_t;
using HRESULT = std::int32_t;
using LPVOID = void*;
using LPCSTR = const char*;

struct GUID;
using LPCLSID = const GUID*;

struct RECT {
  LONG left, top, right, bottom;
};
using LPRECT = RECT*;

// The platform's fields, in its order.
struct AVISTREAMINFOA {
  DWORD fccType, fccHandler, dwFlags, dwCaps;
  WORD wPriority, wLanguage;
  DWORD dwScale, dwRate, dwStart, dwLength, dwInitialFrames, dwSuggestedBufferSize, dwQuality, dwSampleSize;
  RECT rcFrame;
  DWORD dwEditCount, dwFormatChangeCount;
  char szName[64];
};
static_assert(sizeof(AVISTREAMINFOA) == 140, "AVISTREAMINFOA is 140 bytes on the platform");

struct IAVIFile;
struct IAVIStream;
using PAVIFILE = IAVIFile*;
using PAVISTREAM = IAVIStream*;

inline constexpr UINT OF_WRITE = 0x0001;
inline constexpr UINT OF_SHARE_DENY_NONE = 0x0040;
inline constexpr UINT OF_CREATE = 0x1000;
inline constexpr DWORD AVIIF_KEYFRAME = 0x10;

constexpr DWORD mmioFOURCC(char a, char b, char c, char d) {
  return static_cast<DWORD>(static_cast<BYTE>(a)) | static_cast<DWORD>(static_cast<BYTE>(b)) << 8 |
         static_cast<DWORD>(static_cast<BYTE>(c)) << 16 | static_cast<DWORD>(static_cast<BYTE>(d)) << 24;
}
inline constexpr DWORD streamtypeVIDEO = mmioFOURCC('v', 'i', 'd', 's');

constexpr HRESULT make_avierr(std::uint32_t code) { return static_cast<HRESULT>(0x80040000u | (0x4000u + code)); }
inline constexpr HRESULT AVIERR_OK = 0;
inline constexpr HRESULT AVIERR_UNSUPPORTED = make_avierr(101);
inline constexpr HRESULT AVIERR_BADFORMAT = make_avierr(102);
inline constexpr HRESULT AVIERR_MEMORY = make_avierr(103);
inline constexpr HRESULT AVIERR_BADPARAM = make_avierr(106);
inline constexpr HRESULT AVIERR_BADHANDLE = make_avierr(108);
inline constexpr HRESULT AVIERR_FILEWRITE = make_avierr(110);
inline constexpr HRESULT AVIERR_FILEOPEN = make_avierr(111);

void AVIFileInit();
void AVIFileExit();
HRESULT AVIFileOpenA(PAVIFILE* ppfile, LPCSTR szFile, UINT uMode, LPCLSID lpHandler);
HRESULT AVIFileCreateStreamA(PAVIFILE pfile, PAVISTREAM* ppavi, AVISTREAMINFOA* psi);
HRESULT AVIStreamSetFormat(PAVISTREAM pavi, LONG lPos, LPVOID lpFormat, LONG cbFormat);
HRESULT AVIStreamWrite(PAVISTREAM pavi, LONG lStart, LONG lSamples, LPVOID lpBuffer, LONG cbBuffer,
                       DWORD dwFlags, LONG* plSampWritten, LONG* plBytesWritten);
ULONG AVIStreamRelease(PAVISTREAM pavi);
ULONG AVIFileRelease(PAVIFILE pfile);
BOOL SetRect(LPRECT lprc, int xLeft, int yTop, int xRight, int yBottom);

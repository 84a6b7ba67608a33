#pragma once

// The video library behind the movie: Windows' own AVIFile library (vfw32,
// SetRect from user32) or our stand-in, told apart by the settings here.

#include <cstdint>
#include <optional>

#if defined(TRAILAVI_PLATFORM_VIDEO_LIBRARY)
#include <windows.h>
#include <vfw.h>

namespace trailavi {
// The platform library writes AVI 1.0 only, with 32-bit offsets: past 2 GiB
// it reports every write a success while the frames are lost (Wine's, asked
// for 400 frames of 1920 x 1080, stored 343). The movie stays below this.
inline constexpr std::optional<std::uint64_t> kVideoFileLimitBytes = std::uint64_t{1} << 31;
// It picks its file handler by the name's extension, which the new file's
// name does not end in; so the AVI file handler, the one ".AVI" selects, is
// named (CLSID_AVIFile, defined here so that no GUID library is linked in).
inline CLSID kAviFileHandler = {0x00020000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline const LPCLSID kVideoHandler = &kAviFileHandler;
}  // namespace trailavi

#else
#include "platform/own_video_library.hpp"

namespace trailavi {
// Ours continues past 1 GiB in OpenDML segments, and writes AVI files alone.
inline constexpr std::optional<std::uint64_t> kVideoFileLimitBytes = std::nullopt;
inline constexpr LPCLSID kVideoHandler = nullptr;
}  // namespace trailavi

#endif

#pragma once

// The video file library behind the movie: either Windows' own AVIFile
// library (vfw32, with SetRect from user32) or our stand-in for it, which
// offers the same operations under the same names and writes the AVI file
// itself. The movie code includes this header and cannot tell which it gets.

#if defined(TRAILAVI_PLATFORM_VIDEO_LIBRARY)
#include <windows.h>
#include <vfw.h>
#else
#include "platform/own_video_library.hpp"
#endif

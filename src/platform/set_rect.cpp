#include "platform/own_video_library.hpp"

BOOL SetRect(LPRECT lprc, int xLeft, int yTop, int xRight, int yBottom) {
  if (lprc == nullptr) return 0;
  *lprc = {xLeft, yTop, xRight, yBottom};
  return 1;
}

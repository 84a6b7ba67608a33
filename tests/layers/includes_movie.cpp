// Compiled twice by the layer checks: in a library that uses the movie, and
// in one that does not, where the include must not be found.
#include "movie/video_stream.hpp"

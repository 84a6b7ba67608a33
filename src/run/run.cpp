#include "run/run.hpp"

#include <algorithm>

#include "input/background_image.hpp"
#include "input/point_file.hpp"
#include "input/prescan.hpp"
#include "movie/frame_pass.hpp"
#include "movie/video_stream.hpp"
#include "os/os.hpp"

namespace trailavi {
namespace {

// Releases in the fixed order: data file, stream, file, library, buffer.
ExitStatus end_run(PointFile& points, VideoOutput& video, BackgroundImage& background) {
  points.close();
  const ExitStatus status = release_video(video);
  background.release();
  return status;
}

}  // namespace

PassThreads PassThreads::of_this_machine() {
  return {.count = std::min(os::usable_cores(), kMostThreads), .least_file_bytes = kLeastFileBytes};
}

unsigned PassThreads::for_file(std::int64_t size_bytes) const {
  return size_bytes >= 0 && static_cast<std::uint64_t>(size_bytes) >= least_file_bytes ? std::max(count, 1u) : 1u;
}

// Every stage returns its status and the first failure ends the run. What it
// holds lives from stage to stage: the background, the point file, and the
// video, which removes its new file should the run end before its release.
ExitStatus run(Report& report, OpenVideoFile open_video_file, const PassThreads& threads) {
  os::guard_against_interruption();
  BackgroundImage background;
  ExitStatus status = load_background(report, background);
  if (status != ExitStatus::ok) return status;
  PointFile points;
  if (!points.open(kPointFileName)) return ExitStatus::data_open_failed;
  // Decided once, for both passes, from the file as the pre-scan finds it.
  const unsigned thread_count = threads.for_file(points.regular_file_size());
  PrescanCounts counts;
  if ((status = prescan_points(report, points, thread_count, counts)) != ExitStatus::ok) return status;
  VideoOutput video;
  if ((status = set_up_video(background, counts.separator_count, open_video_file, video)) != ExitStatus::ok) {
    return status;
  }
  if ((status = run_frame_pass(points, background, video, thread_count)) != ExitStatus::ok) return status;
  return end_run(points, video, background);
}

}  // namespace trailavi

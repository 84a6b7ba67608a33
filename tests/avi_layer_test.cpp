// Our video library through its platform operations, for what a whole run
// cannot easily reach: the super index running out, a segment's frame cap,
// a limit filled to the byte, releases in either order, and calls out of
// order.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/own_video_library.hpp"
#include "platform/avi_writer.hpp"
#include "platform/own_video_library_testing.hpp"
#include "support/avi_walker.hpp"
#include "support/fault_injecting_file.hpp"
#include "support/scratch_dir.hpp"

namespace trailavi {
namespace {

class AviLayer : public ::testing::Test {
 protected:
  // A file and stream for 2 x 1 frames with the declared length given.
  void open(std::uint32_t declared_frames) {
    ASSERT_EQ(platform::testing::open_avi_file(&file_, path_.c_str(), OF_WRITE | OF_CREATE, settings_), 0);
    AVISTREAMINFOA info;
    std::memset(&info, 0, sizeof info);
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 30;
    info.dwLength = declared_frames;
    SetRect(&info.rcFrame, 0, 0, 2, 1);
    ASSERT_EQ(AVIFileCreateStreamA(file_, &stream_, &info), 0);
    std::vector<std::uint8_t> format(40, 0);
    format[0] = 40;
    ASSERT_EQ(AVIStreamSetFormat(stream_, 0, format.data(), 40), 0);
  }

  HRESULT write(LONG index) {
    return AVIStreamWrite(stream_, index, 1, frame_, sizeof frame_, AVIIF_KEYFRAME, nullptr, nullptr);
  }

  ULONG release() {
    AVIStreamRelease(stream_);
    return AVIFileRelease(file_);
  }

  platform::testing::AviFileSettings settings_{.riff_limit_bytes = 8 * 1024};  // a few hundred tiny frames a segment
  test::ScratchDir dir_;
  std::string path_ = dir_.file("video.avi");
  PAVIFILE file_ = nullptr;
  PAVISTREAM stream_ = nullptr;
  std::uint8_t frame_[8] = {1, 2, 3, 4, 5, 6, 7, 8};
};

TEST_F(AviLayer, FramesBeyondWhatTheSuperIndexCanHoldFailTheWrite) {
  settings_.riff_limit_bytes = 4700;  // the header takes nearly all of it: one frame a segment
  open(0);  // declares no frames, so the super index gets its floor of 256
  LONG written = 0;
  while (written < 1000 && write(written) == 0) ++written;
  EXPECT_EQ(written, 256);
  EXPECT_NE(write(written), 0) << "a failed file keeps failing";
  EXPECT_NE(release(), 0u) << "the file cannot be completed";
}

// A declared length sizes the super index. A longer super index makes the
// header longer, leaving fewer frames a segment and needing more entries:
// with a limit the header nearly fills, that growth settles only after many
// rounds, and the super index must still hold every declared frame.
TEST_F(AviLayer, ADeclaredLengthSizesTheSuperIndex) {
  const struct {
    std::uint64_t limit_bytes;
    std::uint32_t frames;
  } cases[] = {{4700, 300}, {8000, 21450}};
  for (const auto& c : cases) {
    settings_.riff_limit_bytes = c.limit_bytes;  // one frame a segment
    open(c.frames);
    LONG written = 0;
    while (written < static_cast<LONG>(c.frames) && write(written) == 0) ++written;
    EXPECT_EQ(written, static_cast<LONG>(c.frames)) << c.limit_bytes;
    ASSERT_EQ(release(), 0u) << c.limit_bytes;
    // The first RIFF, whose header grew with the super index, is over the
    // limit here; the walker checks everything else.
    const test::AviSummary avi = test::walk_avi(path_);
    EXPECT_EQ(avi.errors, std::vector<std::string>{}) << c.limit_bytes;
    EXPECT_EQ(avi.frames.size(), c.frames) << c.limit_bytes;
    EXPECT_EQ(avi.segment_count, static_cast<int>(c.frames)) << c.limit_bytes;
  }
}

// Tiny frames fill a segment's frame cap long before its size limit: the
// index kept for the segment, every entry of it used, ends the segment there.
TEST_F(AviLayer, ASegmentEndsAtItsFrameCapWellBelowItsSizeLimit) {
  settings_.riff_limit_bytes = platform::kDefaultRiffLimitBytes;
  open(0);
  const auto frames = static_cast<LONG>(platform::kMaxSegmentFrames + 1);
  LONG written = 0;
  while (written < frames && write(written) == 0) ++written;
  EXPECT_EQ(written, frames);
  ASSERT_EQ(release(), 0u);
  const test::AviSummary avi = test::walk_avi(path_, settings_.riff_limit_bytes);
  EXPECT_EQ(avi.errors, std::vector<std::string>{});
  EXPECT_EQ(avi.frames.size(), static_cast<std::size_t>(frames));
  EXPECT_EQ(avi.standard_index_counts, (std::vector<std::uint32_t>{1u << 20, 1}));
  EXPECT_EQ(avi.main.total_frames, 1u << 20) << "the first RIFF's frames";
}

// A limit that whole frames fill to the byte: the header up to the first
// frame (4620 bytes with this format and the super index's 256 entries),
// idx1's and ix00's own 8 + 32 bytes, and 100 frames of 40 bytes each (a
// 16-byte chunk, a 16-byte idx1 entry and an 8-byte ix00 entry). The first
// RIFF takes its 100th frame, and every later segment as many.
TEST_F(AviLayer, ALimitFilledToTheByteTakesItsLastFrame) {
  settings_.riff_limit_bytes = 4620 + 40 + 100 * 40;
  open(0);
  for (LONG i = 0; i < 250; ++i) ASSERT_EQ(write(i), 0) << i;
  ASSERT_EQ(release(), 0u);
  const test::AviSummary avi = test::walk_avi(path_, settings_.riff_limit_bytes);
  EXPECT_EQ(avi.errors, std::vector<std::string>{});
  EXPECT_EQ(avi.standard_index_counts, (std::vector<std::uint32_t>{100, 100, 50}));
  ASSERT_FALSE(avi.riff_sizes.empty());
  EXPECT_EQ(avi.riff_sizes[0] + 8, settings_.riff_limit_bytes);
}

// Whichever release completes the file answers for it: the file's own, or
// the stream's when the file was released first.
TEST_F(AviLayer, TheReleaseThatCompletesAFileThatCannotBeCompletedFails) {
  for (const bool file_first : {false, true}) {
    test::FaultInjectingFile failing;
    failing.fail_at(test::FaultInjectingFile::Operation::close, 0);
    settings_.file_operations = &failing;
    open(1);
    ASSERT_EQ(write(0), 0);
    if (file_first) {
      EXPECT_EQ(AVIFileRelease(file_), 1u) << "the stream still holds the file";
      EXPECT_NE(AVIStreamRelease(stream_), 0u) << "the stream's release completes the file";
    } else {
      EXPECT_EQ(AVIStreamRelease(stream_), 0u);
      EXPECT_NE(AVIFileRelease(file_), 0u) << "the file's release completes it";
    }
  }
}

TEST_F(AviLayer, RefusesCallsTheFileCannotHonour) {
  open(3);
  EXPECT_NE(write(1), 0) << "samples are stored in order";
  EXPECT_NE(AVIStreamWrite(stream_, 0, 2, frame_, sizeof frame_, AVIIF_KEYFRAME, nullptr, nullptr), 0);
  EXPECT_NE(AVIStreamWrite(stream_, 0, 1, nullptr, 4, AVIIF_KEYFRAME, nullptr, nullptr), 0);
  ASSERT_EQ(write(0), 0);
  std::uint8_t format[40] = {40};
  EXPECT_NE(AVIStreamSetFormat(stream_, 0, format, 40), 0) << "the format cannot change after a frame";
  PAVISTREAM second = nullptr;
  AVISTREAMINFOA info{};
  info.fccType = streamtypeVIDEO;
  EXPECT_NE(AVIFileCreateStreamA(file_, &second, &info), 0) << "one stream a file";
  ASSERT_EQ(release(), 0u);
  EXPECT_EQ(test::walk_avi(path_).frames.size(), 1u);
}

}  // namespace
}  // namespace trailavi

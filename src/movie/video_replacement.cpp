#include "movie/video_replacement.hpp"

#include <filesystem>
#include <system_error>

#include "os/os.hpp"

namespace trailavi {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPendingSuffix = ".incomplete-XXXXXX";
// As many links as the system itself follows before it gives up.
constexpr int kMostLinksFollowed = 40;

// Where `name` leads: the end of its chain of symbolic links, each relative
// link read against the folder of the link that holds it, and what stands
// there. A dangling link leads to the name it holds, where creating through
// it used to put the file. False for a chain that does not end.
bool follow_links(const char* name, fs::path& end, fs::file_status& end_status) {
  fs::path at = name;
  for (int followed = 0; followed <= kMostLinksFollowed; ++followed) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(at, error);
    if (error && status.type() != fs::file_type::not_found) return false;
    if (status.type() != fs::file_type::symlink) {
      end = at;
      end_status = status;
      return true;
    }
    const fs::path target = fs::read_symlink(at, error);
    if (error) return false;
    at = target.is_absolute() ? target : at.parent_path() / target;
  }
  return false;
}

// An existing file at the final name must be a regular file this user may
// write: opening a FIFO could block; a device or a folder is no video.
bool can_replace(const fs::path& final_path, const fs::file_status& status) {
  if (status.type() == fs::file_type::not_found) return true;
  return status.type() == fs::file_type::regular && os::can_open_for_writing(final_path.string().c_str());
}

// The permission bits the video gets: those of the file it replaces, or for
// a new one what creating it used to give.
unsigned video_mode(const fs::file_status& final_status) {
  if (final_status.type() == fs::file_type::not_found) return os::new_file_mode();
  return static_cast<unsigned>(final_status.permissions() & fs::perms::mask);
}

}  // namespace

VideoReplacement::~VideoReplacement() { if (pending_) os::remove_pending_file(writing_path_); }

bool VideoReplacement::begin(const char* name) {
  fs::path final_path;
  fs::file_status final_status;
  if (!follow_links(name, final_path, final_status) || !can_replace(final_path, final_status)) return false;
  final_path_ = final_path.string();
  writing_path_ = final_path_ + kPendingSuffix;
  replacing_ = final_status.type() == fs::file_type::regular;
  pending_ = os::create_pending_file(writing_path_, video_mode(final_status));
  if (pending_ || os::interruption_requested()) return pending_;
  // No new file beside it: a writable earlier video is written in place.
  writing_path_ = final_path_;
  return replacing_;
}

// An earlier video is replaced only by one on storage: a rename may reach
// the disk before the new file's bytes (XFS, ext4 without auto_da_alloc), and
// a crash would leave neither. A first video is not flushed, for speed: a
// crash soon after it may leave it empty, which loses nothing the user had.
bool VideoReplacement::finish() {
  if (replacing_ && !os::flush_to_storage(writing_path_.c_str())) return false;
  if (!pending_) return true;
  if (!os::replace_with_pending_file(writing_path_, final_path_)) return false;
  pending_ = false;
  // The new video is whole on storage whatever this gives: a folder that
  // cannot be flushed leaves the rename to the file system's own time.
  if (replacing_) static_cast<void>(os::flush_folder_of(final_path_.c_str()));
  return true;
}

}  // namespace trailavi

#pragma once

#include <cstdint>

// Sizes fixed by the AVI file format, shared by our writer and by the movie's
// reckoning of how large a file of so many frames is, whichever library
// writes it. Header-only, so that it serves the platform library's build too.
namespace trailavi::avi_format {

inline constexpr std::uint64_t kChunkHeaderBytes = 8;    // FOURCC, size
inline constexpr std::uint64_t kListHeaderBytes = 12;    // 'LIST' or 'RIFF', size, type
inline constexpr std::uint64_t kMainHeaderBytes = 56;    // avih payload
inline constexpr std::uint64_t kStreamHeaderBytes = 56;  // strh payload
inline constexpr std::uint64_t kOldIndexEntryBytes = 16;       // idx1 entry
inline constexpr std::uint64_t kStandardIndexEntryBytes = 8;   // ix00 entry

// A chunk's payload is followed by a pad byte when its size is odd.
[[nodiscard]] constexpr std::uint64_t padded(std::uint64_t bytes) { return bytes + (bytes & 1); }

}  // namespace trailavi::avi_format

#pragma once

#include <cstdint>

// The sizes of the AVI file's parts, stated once, for our writer's segments
// and for what a file of either library occupies; constants only, for the
// platform library's build too. Arguments below 2^32 keep all below 2^64.
namespace trailavi::platform::avi_layout {

inline constexpr std::uint64_t kChunkHeaderBytes = 8;          // FOURCC, size
inline constexpr std::uint64_t kListHeaderBytes = 12;          // 'RIFF' or 'LIST', size, list type
inline constexpr std::uint64_t kMainHeaderBytes = 56;          // avih payload
inline constexpr std::uint64_t kStreamHeaderBytes = 56;        // strh payload
inline constexpr std::uint64_t kOdmlHeaderBytes = 248;         // dmlh payload
inline constexpr std::uint64_t kOldIndexEntryBytes = 16;       // idx1 entry
inline constexpr std::uint64_t kStandardIndexFieldBytes = 24;  // ix00 payload before its entries
inline constexpr std::uint64_t kStandardIndexEntryBytes = 8;   // ix00 entry
inline constexpr std::uint64_t kSuperIndexFieldBytes = 24;     // indx payload before its entries
inline constexpr std::uint64_t kSuperIndexEntryBytes = 16;     // indx entry

// A chunk's payload is followed by a pad byte when its size is odd.
[[nodiscard]] constexpr std::uint64_t padded(std::uint64_t bytes) { return bytes + (bytes & 1); }
[[nodiscard]] constexpr std::uint64_t chunk_bytes(std::uint64_t payload_bytes) {
  return kChunkHeaderBytes + padded(payload_bytes);
}
[[nodiscard]] constexpr std::uint64_t old_index_bytes(std::uint64_t frames) {
  return kChunkHeaderBytes + kOldIndexEntryBytes * frames;
}
[[nodiscard]] constexpr std::uint64_t standard_index_bytes(std::uint64_t frames) {
  return kChunkHeaderBytes + kStandardIndexFieldBytes + kStandardIndexEntryBytes * frames;
}

// Up to the first frame, what every file of one video stream holds: the
// RIFF, hdrl, strl and movi list headers, avih, strh, and strf with the format.
[[nodiscard]] constexpr std::uint64_t essential_header_bytes(std::uint64_t format_bytes) {
  return 4 * kListHeaderBytes + chunk_bytes(kMainHeaderBytes) + chunk_bytes(kStreamHeaderBytes) +
         chunk_bytes(format_bytes);
}

// Up to the first frame in our files, which also keep room for the super
// index in strl and for the odml list in hdrl.
[[nodiscard]] constexpr std::uint64_t header_bytes(std::uint64_t format_bytes, std::uint64_t super_index_entries) {
  return essential_header_bytes(format_bytes) +
         chunk_bytes(kSuperIndexFieldBytes + kSuperIndexEntryBytes * super_index_entries) + kListHeaderBytes +
         chunk_bytes(kOdmlHeaderBytes);
}

}  // namespace trailavi::platform::avi_layout

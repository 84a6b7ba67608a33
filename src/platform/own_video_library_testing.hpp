#pragma once

#include "platform/avi_writer.hpp"
#include "platform/own_video_library.hpp"

// Test-only settings of our video library; the program itself never calls them.
namespace trailavi::platform::testing {

// What a file is created with: its largest RIFF segment, for multi-segment
// files from tiny inputs, and the operations it goes through in place of the
// real file's (null: the real file's), which serve it alone and outlive it.
struct AviFileSettings {
  std::uint64_t riff_limit_bytes = kDefaultRiffLimitBytes;
  FileOperations* file_operations = nullptr;
};

// AVIFileOpenA, with the settings given; AVIFileOpenA's are the defaults.
HRESULT open_avi_file(PAVIFILE* ppfile, LPCSTR szFile, UINT uMode, const AviFileSettings& settings);

}  // namespace trailavi::platform::testing

#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bitmap_builder.hpp"
#include "process.hpp"
#include "scratch_dir.hpp"

namespace trailavi::test {

// A fresh folder to run the program in, with helpers to place its inputs.
class Workspace {
 public:
  void put(const std::string& name, const std::vector<std::uint8_t>& bytes) { write_file(dir_.file(name), bytes); }
  void put(const std::string& name, const std::string& text) { write_file(dir_.file(name), text); }
  void put_bitmap(const BitmapSpec& picture) { put("TEST_.BMP", bitmap_bytes(picture)); }

  // Runs the program under test here, with optional arguments and
  // NAME=VALUE settings added to its environment.
  ProcessResult run(const std::vector<std::string>& arguments = {},
                    const std::vector<std::string>& environment = {}) const;
  // Runs `argv` here.
  ProcessResult run_command(const std::vector<std::string>& argv) const { return run_process(argv, dir_.path()); }

  [[nodiscard]] std::string file(const std::string& name) const { return dir_.file(name); }
  [[nodiscard]] bool exists(const std::string& name) const;  // without following a link
  // What a run must leave as it was: each named regular file's bytes,
  // modification time and permissions.
  struct FileState {
    std::vector<std::uint8_t> bytes;
    long long modified_ns = 0;
    unsigned mode = 0;
    friend bool operator==(const FileState&, const FileState&) = default;
  };
  [[nodiscard]] std::map<std::string, FileState> snapshot(const std::vector<std::string>& names) const;
  // What the folder holds, `sub` in it if given: each name with its kind
  // ("file", "link to TARGET", "fifo", "folder", "other").
  [[nodiscard]] std::map<std::string, std::string> listing(const std::string& sub = "") const;

 private:
  ScratchDir dir_;
};

}  // namespace trailavi::test

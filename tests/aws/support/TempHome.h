// A temporary directory standing in for a home directory, with helpers to write files (and
// executable scripts) into it; removed with everything in it when the object goes.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

namespace brv::testing {

class TTempHome {
 public:
  const std::string& Path() const { return dir_.Path(); }

  // Writes Text to Path()/Relative (directories made as needed); returns the full path.
  std::string Write(const std::string& Relative, const std::string& Text,
                    bool Executable = false) const {
    const std::filesystem::path file = std::filesystem::path(dir_.Path()) / Relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << Text;
    if (Executable) chmod(file.c_str(), 0700);
    return file.string();
  }

 private:
  TTempDir dir_{"brv-home"};
};

}  // namespace brv::testing

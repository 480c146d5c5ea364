// A scratch directory for tests, made under the system's temporary directory and removed with
// everything in it when the object goes. Header-only, so the tests of every layer can use it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace brv::testing {

class TTempDir {
 public:
  // Makes <temp>/<Prefix>-XXXXXX; raises std::runtime_error when it cannot.
  explicit TTempDir(const std::string& Prefix = "brv-test") {
    std::string pattern = (std::filesystem::temp_directory_path() / (Prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path()/Name.
  std::string File(const std::string& Name) const { return path_ + "/" + Name; }

 private:
  std::string path_;
};

}  // namespace brv::testing

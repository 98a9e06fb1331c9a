#pragma once
// Helpers shared by the tests: temporary folders and the test output folder.

#include <filesystem>
#include <string>

namespace zv::testing {

// A fresh folder removed (with its contents) when the object goes away.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Where tests leave files for a person to look at ($ZV_TEST_OUTPUT, else build/test-output).
std::filesystem::path testOutputDirectory();

void writeFile(const std::filesystem::path& path, const std::string& contents);
std::string readFile(const std::filesystem::path& path);

}  // namespace zv::testing

#include "platform/graphics/ResourceLookup.h"

#include <mutex>
#include <vector>

#include "platform/foundation/ForkHandlers.h"

#ifdef ZV_GRAPHICS_HAS_BUNDLE
#include "platform/system/Bundle.h"
#endif

namespace zv::graphics {

namespace {
// Held across a fork (ForkHandlers.h).
ForkMutex& foldersMutex() {
  static ForkMutex& mutex = *new ForkMutex(ForkLockLevel::ResourceFolders);
  return mutex;
}
std::vector<std::filesystem::path>& directories() {
  static std::vector<std::filesystem::path>& list = *new std::vector<std::filesystem::path>;
  return list;
}
// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gFoldersMade = (foldersMutex(), directories(), true);
}  // namespace

std::optional<std::filesystem::path> findResourceFile(std::string_view name) {
  std::filesystem::path relative{std::string(name)};
  if (relative.is_absolute() || relative.empty()) return std::nullopt;
  for (const auto& part : relative)
    if (part == "..") return std::nullopt;
#ifdef ZV_GRAPHICS_HAS_BUNDLE
  // "Sharing.bundle/images/close.png" is the file "close.png" in the subfolder "Sharing.bundle/images".
  if (auto bundle = Bundle::mainBundle())
    if (auto path = bundle->pathForResource(relative.filename().string(), {}, relative.parent_path().string()))
      return std::filesystem::path(*path);
#endif
  std::vector<std::filesystem::path> folders;
  {
    std::lock_guard lock(foldersMutex());
    folders = directories();
  }
  for (const auto& folder : folders) {
    std::error_code error;
    auto candidate = folder / relative;
    if (std::filesystem::is_regular_file(candidate, error)) return candidate;
  }
  return std::nullopt;
}

void addResourceDirectory(const std::filesystem::path& directory) {
  std::lock_guard lock(foldersMutex());
  directories().push_back(directory);
}

}  // namespace zv::graphics

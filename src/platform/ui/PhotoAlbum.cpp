#include "platform/ui/PhotoAlbum.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <set>

#include "platform/foundation/Format.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/FileLock.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/ui/Scheduler.h"

namespace zv::ui {

namespace {
std::optional<std::filesystem::path>& directorySlot() {
  static std::optional<std::filesystem::path> directory;
  return directory;
}

// The number of an album file name "IMG_<digits>.PNG"; nullopt for other names and numbers that
// do not fit.
std::optional<std::int64_t> photoNumber(const std::filesystem::path& photo) {
  std::string stem = photo.stem().string();
  if (!stem.starts_with("IMG_") || stem.size() == 4) return std::nullopt;
  std::int64_t number = 0;
  auto [end, failure] = std::from_chars(stem.data() + 4, stem.data() + stem.size(), number);
  if (failure != std::errc() || end != stem.data() + stem.size() || number < 0)
    return std::nullopt;
  return number;
}
}  // namespace

std::filesystem::path photoAlbumDirectory() {
  if (directorySlot()) return *directorySlot();
  return ApplicationEnvironment::shared().homeDirectory() / "Media" / "DCIM";
}

void setPhotoAlbumDirectory(std::optional<std::filesystem::path> directory) { directorySlot() = std::move(directory); }

std::vector<std::filesystem::path> savedPhotos() {
  std::vector<std::filesystem::path> photos;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(photoAlbumDirectory(), ignored))
    if (entry.path().filename().string().starts_with("IMG_") && entry.path().extension() == ".PNG")
      photos.push_back(entry.path());
  std::sort(photos.begin(), photos.end());
  return photos;
}

std::optional<std::filesystem::path> saveImageToSavedPhotosAlbum(const Ref<graphics::Image>& image,
                                                                 std::function<void(const Ref<Error>&)> completion,
                                                                 Ref<Error>* error) {
  Ref<Error> failure;
  std::optional<std::filesystem::path> written;
  auto png = graphics::imagePNGRepresentation(image);
  if (!png) {
    failure = Error::make(graphics::kImageErrorDomain, graphics::ImageErrorEncode, "There is no image to save.");
  } else {
    auto folder = photoAlbumDirectory();
    // The user's pictures are theirs alone: the album's folders (and the home, on first use) are
    // made 0700 and each picture 0600.
    std::error_code code;
    storage::createPrivateFolders(folder, code);
    // Other processes save into the same album: the next number is taken and written under the
    // album's lock, so no save replaces another.
    storage::FileLock lock(folder / ".lock", storage::FileLock::Mode::Exclusive);
    if (!lock.isLocked()) {
      failure = lock.error();
    } else {
      std::set<std::int64_t> taken;
      for (const auto& existing : savedPhotos()) {
        if (auto n = photoNumber(existing)) taken.insert(*n);
      }
      // One more than the highest; once the counter has reached its end, the lowest free number.
      std::int64_t number = taken.empty() ? 1 : *taken.rbegin();
      if (number < INT64_MAX) {
        number = taken.empty() ? 1 : number + 1;
      } else {
        number = 1;
        for (auto n : taken) {
          if (n > number) break;
          if (n == number) ++number;
        }
      }
      auto path = folder / format("IMG_%04lld.PNG", static_cast<long long>(number));
      const auto& bytes = png->bytes();
      // Never over a picture already there, whoever put it there.
      failure = storage::writeNewFileAtomically(path,
                                                std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                                                std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
      if (!failure) written = path;
    }
  }
  if (error) *error = failure;
  if (completion) scheduleAfter(0, [completion = std::move(completion), failure] { completion(failure); });
  return written;
}

}  // namespace zv::ui

#pragma once
// The saved-photos album: images saved there become PNG files in the album folder
// (<home>/Media/DCIM unless set), named "IMG_0001.PNG", "IMG_0002.PNG"... (one more than the
// highest number there, the lowest free one once that reaches the largest 64-bit number) and
// written atomically, never over a file already there. Pictures are the user's alone: files 0600,
// the album's folders (and the home, when a save makes it) 0700. Several processes may save at once: a save holds
// an exclusive flock of "<album>/.lock" while it picks its number and writes. Main thread only.

#include <filesystem>
#include <functional>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/graphics/Image.h"

namespace zv::ui {

std::filesystem::path photoAlbumDirectory();
void setPhotoAlbumDirectory(std::optional<std::filesystem::path> directory);

// Saves the image; `completion`, when given, runs on the run loop with the error (nullptr on
// success). Returns the file written, or nullopt with the error slot filled.
std::optional<std::filesystem::path> saveImageToSavedPhotosAlbum(const Ref<graphics::Image>& image,
                                                                 std::function<void(const Ref<Error>&)> completion = nullptr,
                                                                 Ref<Error>* error = nullptr);
// The album's pictures, oldest first.
std::vector<std::filesystem::path> savedPhotos();

}  // namespace zv::ui

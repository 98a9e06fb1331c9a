#pragma once
// Where application resources (images) are found: the main bundle's resource folder once the
// system services provide one, otherwise the folders registered here. Any thread.

#include <filesystem>
#include <optional>
#include <string_view>

namespace zv::graphics {

// The path of a resource file by its name with extension; nullopt when there is none.
std::optional<std::filesystem::path> findResourceFile(std::string_view name);
// Adds a folder searched after the main bundle (tests and tools).
void addResourceDirectory(const std::filesystem::path& directory);

}  // namespace zv::graphics

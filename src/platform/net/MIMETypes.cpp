#include "platform/net/MIMETypes.h"

#include <sstream>

#include "platform/foundation/AsciiText.h"
#include "platform/storage/AtomicFile.h"

namespace zv::net {

const MIMETypes& MIMETypes::shared() {
  static const MIMETypes& table = *new MIMETypes(fromFile("/etc/mime.types"));
  return table;
}

namespace {
// Made before main: a fork from another thread never finds the table half made.
[[maybe_unused]] const bool gTableMade = (MIMETypes::shared(), true);
}  // namespace

MIMETypes MIMETypes::fromFile(const std::string& path) { return parse(storage::readFile(path, nullptr, storage::kSmallFileReadLimit).value_or("")); }

MIMETypes MIMETypes::parse(std::string_view text) {
  MIMETypes table;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    auto hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    std::istringstream words(line);
    std::string type, extension;
    if (!(words >> type) || type.find('/') == std::string::npos) continue;
    while (words >> extension) {
      // The first type listed for an extension wins, as the file's readers agree.
      table.byExtension_.emplace(ascii::lowercase(extension), type);
    }
  }
  return table;
}

std::optional<std::string> MIMETypes::typeForExtension(std::string_view extension) const {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  auto found = byExtension_.find(ascii::lowercase(extension));
  if (found == byExtension_.end()) return std::nullopt;
  return found->second;
}

std::optional<std::string> MIMETypes::typeForPath(std::string_view path) const {
  auto slash = path.rfind('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  return typeForExtension(name.substr(dot + 1));
}

}  // namespace zv::net

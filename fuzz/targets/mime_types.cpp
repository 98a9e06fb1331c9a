// Lines in the /etc/mime.types format: no input crashes the reader, every extension it lists maps
// to a type with a "/", and the first type listed for an extension is the one it gives, also for
// a path ending in that extension.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/foundation/AsciiText.h"
#include "platform/net/MIMETypes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto table = zv::net::MIMETypes::parse(text);
  std::map<std::string, std::string> first;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string type, extension;
    if (!(words >> type) || type.find('/') == std::string::npos) continue;
    while (words >> extension) first.emplace(zv::ascii::lowercase(extension), type);
  }
  if (table.size() != first.size()) std::abort();
  for (const auto& [extension, type] : first) {
    // A leading dot is taken as the separator by lookups: such entries are only counted.
    if (extension.front() == '.') continue;
    if (table.typeForExtension(extension) != type) std::abort();
    if (extension.find_first_of("./") == std::string::npos &&
        table.typeForPath("/some/dir/Name." + extension) != type) {
      std::abort();
    }
  }
  return 0;
}

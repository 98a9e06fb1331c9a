#pragma once
// MIME types by file extension, from /etc/mime.types (or another file in that format).
// Thread-safe: the shared table is read once and never changed afterwards.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace zv::net {

class MIMETypes {
 public:
  // The table read from /etc/mime.types on first use (empty when the file is missing).
  static const MIMETypes& shared();
  // Parses text in the mime.types format: "type/subtype ext1 ext2", "#" comments.
  static MIMETypes parse(std::string_view text);
  static MIMETypes fromFile(const std::string& path);

  // The type for an extension (case-insensitive, without the dot); nullopt when unknown.
  std::optional<std::string> typeForExtension(std::string_view extension) const;
  // The type for a path's extension; nullopt when the path has none or it is unknown.
  std::optional<std::string> typeForPath(std::string_view path) const;
  std::size_t size() const { return byExtension_.size(); }

 private:
  std::map<std::string, std::string> byExtension_;
};

}  // namespace zv::net

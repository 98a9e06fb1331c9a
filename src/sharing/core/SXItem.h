#pragma once
// The one value every sharer shares: a link, a text, an image or a file, with a title, tags,
// free-form custom values and the extras some sharers read (mail, print, Facebook picture).
// The application builds one and hands it to a sharer; the offline queue stores it in its
// dictionary form and rebuilds it later.
//
// A new item (make) copies the item defaults of the installed SXConfiguration (so configuration
// must be installed first); later configuration changes do not reach an existing item.
//
// Threads: a plain object with no lock; one thread at a time (the main thread, or an offline
// replay that hands it to the main thread). Ownership: every field is owned by the item.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Values.h"
#include "platform/graphics/Image.h"

namespace zv {

enum SXShareType : std::int32_t {
  SXShareTypeUndefined = 0,
  SXShareTypeURL = 1,
  SXShareTypeText = 2,
  SXShareTypeImage = 3,
  SXShareTypeFile = 4,
  SXShareTypeUserInfo = 5,  // the signed-in user's profile; set only by SXSharer::getUserInfo
};

enum SXURLContentType : std::int32_t {
  SXURLContentTypeUndefined = 0,
  SXURLContentTypeWebpage = 1,
  SXURLContentTypeAudio = 2,
  SXURLContentTypeVideo = 3,
};

class SXItem : public Object {
 public:
  // A new item with the configured defaults (setExtensionPropertiesDefaultValues).
  static Ref<SXItem> make();
  SXItem() = default;

  // Links always get content type 1 unless one is given.
  // The constructors of the four kinds (the fields `image` and `text` keep the plain names).
  static Ref<SXItem> makeURL(const Ref<URL>& url, std::optional<std::string> title = std::nullopt,
                             SXURLContentType contentType = SXURLContentTypeWebpage);
  static Ref<SXItem> makeImage(const Ref<graphics::Image>& image, std::optional<std::string> title = std::nullopt);
  static Ref<SXItem> makeText(std::string text);
  static Ref<SXItem> makeFile(const Ref<Data>& data, std::optional<std::string> filename,
                              std::optional<std::string> mimeType, std::optional<std::string> title);

  // Copies the eight item defaults of the configuration into the item.
  void setExtensionPropertiesDefaultValues();

  // Custom values: nullopt removes the key. Switch fields store "1" or "0".
  void setCustomValue(const std::optional<std::string>& value, const std::string& key);
  std::optional<std::string> customValueForKey(std::string_view key) const;
  // Only the exact text "1" reads as YES.
  bool customBoolForSwitchKey(std::string_view key) const;
  // The custom values (nullptr until the first setCustomValue).
  const Ref<MutableDictionary>& custom() const { return custom_; }
  void setCustom(Ref<MutableDictionary> custom) { custom_ = std::move(custom); }

  // The property-list dictionary form (see the offline queue). The URL keeps its percent escapes.
  Ref<Dictionary> dictionaryRepresentation() const;
  // Rebuilds an item. Entries of the wrong kind are skipped with a log line; nullptr (with a log
  // line) when `dictionary` is not a dictionary. "data" is not read back (the offline queue keeps
  // the bytes in a file of its own).
  static Ref<SXItem> itemFromDictionary(const ObjectPtr& dictionary);

  // "SXShareTypeUndefined", "SXShareTypeURL", "SXShareTypeText", "SXShareTypeImage",
  // "SXShareTypeFile", "SXShareTypeUserInfo"; any other value "SXShareTypeUnknown(<n>)".
  static std::string shareTypeToString(std::int32_t type);

  std::string description() const override;

  std::int32_t shareType = SXShareTypeUndefined;
  Ref<URL> url;
  Ref<graphics::Image> image;
  std::optional<std::string> title;
  std::optional<std::string> text;
  std::optional<std::string> tags;
  Ref<Data> data;
  std::optional<std::string> mimeType;
  std::optional<std::string> filename;
  std::int32_t URLContentType = SXURLContentTypeUndefined;

  // Extras read by particular sharers, defaulted from the configuration.
  std::int64_t printOutputType = 0;
  std::optional<std::string> mailBody;
  float mailJPGQuality = 0;
  std::vector<std::string> mailToRecipients;
  bool hasMailToRecipients = false;  // mailToRecipients was set (nil differs from empty)
  bool isMailHTML = false;
  bool mailShareWithAppSignature = false;
  std::optional<std::string> facebookURLSharePictureURI;
  std::optional<std::string> facebookURLShareDescription;

 private:
  Ref<MutableDictionary> custom_;
};

}  // namespace zv

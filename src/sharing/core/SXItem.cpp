#include "sharing/core/SXItem.h"

#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/graphics/ImageCodec.h"
#include "sharing/core/SXConfiguration.h"

namespace zv {

namespace {

// A stored URL text that no longer parses (older entries kept it with its escapes decoded) gets
// the characters a URL cannot hold escaped again.
Ref<URL> parseStoredURL(const std::string& text) {
  if (auto url = URL::make(text)) return url;
  std::string escaped;
  static constexpr std::string_view kUnsafe = " \"<>\\^`{|}";
  for (unsigned char c : text) {
    if (c >= 0x80 || c < 0x20 || kUnsafe.find(static_cast<char>(c)) != std::string_view::npos) {
      escaped += format("%%%02X", c);
    } else {
      escaped += static_cast<char>(c);
    }
  }
  return URL::make(escaped);
}

void logSkipped(std::string_view key, const ObjectPtr& value) {
  log(LogLevel::Debug, format("SXItem::itemFromDictionary skips \"%.*s\": unexpected %s", static_cast<int>(key.size()),
                              key.data(), value ? value->className().c_str() : "nothing"));
}

// The entry under `key` when it is a T; a present entry of another kind is logged and skipped.
template <class T>
Ref<T> entry(const Dictionary& dictionary, std::string_view key) {
  ObjectPtr value = dictionary.objectForKey(key);
  if (!value) return nullptr;
  auto typed = dyn<T>(value);
  if (!typed) logSkipped(key, value);
  return typed;
}

std::optional<std::string> stringEntry(const Dictionary& dictionary, std::string_view key) {
  auto value = entry<String>(dictionary, key);
  if (!value) return std::nullopt;
  return value->utf8();
}

}  // namespace

Ref<SXItem> SXItem::make() {
  auto item = std::make_shared<SXItem>();
  item->setExtensionPropertiesDefaultValues();
  return item;
}

Ref<SXItem> SXItem::makeURL(const Ref<URL>& url, std::optional<std::string> title, SXURLContentType contentType) {
  auto item = make();
  item->shareType = SXShareTypeURL;
  item->url = url;
  item->title = std::move(title);
  item->URLContentType = contentType;
  return item;
}

Ref<SXItem> SXItem::makeImage(const Ref<graphics::Image>& image, std::optional<std::string> title) {
  auto item = make();
  item->shareType = SXShareTypeImage;
  item->image = image;
  item->title = std::move(title);
  return item;
}

Ref<SXItem> SXItem::makeText(std::string text) {
  auto item = make();
  item->shareType = SXShareTypeText;
  item->text = std::move(text);
  return item;
}

Ref<SXItem> SXItem::makeFile(const Ref<Data>& data, std::optional<std::string> filename,
                             std::optional<std::string> mimeType, std::optional<std::string> title) {
  auto item = make();
  item->shareType = SXShareTypeFile;
  item->data = data;
  item->filename = std::move(filename);
  item->mimeType = std::move(mimeType);
  item->title = std::move(title);
  return item;
}

void SXItem::setExtensionPropertiesDefaultValues() {
  printOutputType = SXConfigInteger("printOutputType");
  mailBody = SXConfigString("mailBody");
  isMailHTML = SXConfigBool("isMailHTML");
  auto recipients = SXConfigValue("mailToRecipients");
  hasMailToRecipients = dyn<Array>(recipients) != nullptr;
  mailToRecipients = SXConfigStringList("mailToRecipients");
  mailJPGQuality = static_cast<float>(SXConfigFloat("mailJPGQuality"));
  mailShareWithAppSignature = SXConfigBool("sharedWithSignature");
  facebookURLSharePictureURI = SXConfigString("facebookURLSharePictureURI");
  facebookURLShareDescription = SXConfigString("facebookURLShareDescription");
}

void SXItem::setCustomValue(const std::optional<std::string>& value, const std::string& key) {
  if (!custom_) custom_ = MutableDictionary::make();
  if (value) {
    custom_->setObject(box(*value), key);
  } else {
    custom_->removeObjectForKey(key);
  }
}

std::optional<std::string> SXItem::customValueForKey(std::string_view key) const {
  if (!custom_) return std::nullopt;
  auto value = dyn<String>(custom_->objectForKey(key));
  if (!value) return std::nullopt;
  return value->utf8();
}

bool SXItem::customBoolForSwitchKey(std::string_view key) const { return customValueForKey(key) == "1"; }

Ref<Dictionary> SXItem::dictionaryRepresentation() const {
  auto d = MutableDictionary::make();
  d->setObject(box(static_cast<int>(shareType)), "shareType");
  d->setObject(box(static_cast<int>(URLContentType)), "URLContentType");
  if (custom_) d->setObject(custom_->copy(), "custom");
  // The absolute string as it stands: decoding the escapes would store a text that no longer
  // parses ("%20" becoming a space) and lose the URL on the way back.
  if (url) d->setObject(box(url->absoluteString()), "URL");
  auto putText = [&](const std::optional<std::string>& value, const char* key) {
    if (value) d->setObject(box(*value), key);
  };
  putText(title, "title");
  putText(text, "text");
  putText(tags, "tags");
  putText(mimeType, "mimeType");
  putText(filename, "filename");
  if (data) d->setObject(data, "data");
  if (image) {
    if (auto png = graphics::encodePNG(image->bitmap())) d->setObject(Data::make(std::move(*png)), "image");
  }
  d->setObject(box(static_cast<long long>(printOutputType)), "printOutputType");
  putText(mailBody, "mailBody");
  d->setObject(box(isMailHTML), "isMailHTML");
  if (hasMailToRecipients) {
    std::vector<ObjectPtr> recipients;
    for (const auto& r : mailToRecipients) recipients.push_back(box(r));
    d->setObject(Array::make(std::move(recipients)), "mailToRecipients");
  }
  d->setObject(box(mailJPGQuality), "mailJPGQuality");
  d->setObject(box(mailShareWithAppSignature), "mailShareWithAppSignature");
  putText(facebookURLSharePictureURI, "facebookURLSharePictureURI");
  putText(facebookURLShareDescription, "facebookURLShareDescription");
  return d;
}

Ref<SXItem> SXItem::itemFromDictionary(const ObjectPtr& object) {
  auto dictionary = dyn<Dictionary>(object);
  if (!dictionary) {
    log(LogLevel::Debug, format("SXItem::itemFromDictionary: not a dictionary but %s",
                                object ? object->className().c_str() : "nothing"));
    return nullptr;
  }
  const Dictionary& d = *dictionary;
  auto item = make();
  auto number = [&](std::string_view key) { return entry<Number>(d, key); };
  if (auto n = number("shareType")) item->shareType = n->intValue();
  if (auto n = number("URLContentType")) item->URLContentType = n->intValue();
  if (auto text = entry<String>(d, "URL")) {
    item->url = parseStoredURL(text->utf8());
    if (!item->url) logSkipped("URL", text);
  }
  item->title = stringEntry(d, "title");
  item->text = stringEntry(d, "text");
  item->tags = stringEntry(d, "tags");
  if (auto custom = entry<Dictionary>(d, "custom")) {
    // Only text values are custom values; anything else is dropped with a log line.
    auto copy = MutableDictionary::make();
    custom->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
      if (dyn<String>(key) && dyn<String>(value)) {
        copy->setObject(value, key);
      } else {
        logSkipped("custom", value);
      }
      return true;
    });
    item->custom_ = copy;
  }
  item->mimeType = stringEntry(d, "mimeType");
  item->filename = stringEntry(d, "filename");
  if (auto png = entry<Data>(d, "image")) {
    item->image = graphics::Image::imageWithData(*png);
    if (!item->image) logSkipped("image", png);
  }
  auto n = number("printOutputType");
  item->printOutputType = n ? n->integerValue() : 0;
  item->mailBody = stringEntry(d, "mailBody");
  n = number("isMailHTML");
  item->isMailHTML = n && n->boolValue();
  item->mailToRecipients.clear();
  item->hasMailToRecipients = false;
  if (auto recipients = entry<Array>(d, "mailToRecipients")) {
    item->hasMailToRecipients = true;
    for (const auto& r : *recipients) {
      if (auto text = dyn<String>(r)) {
        item->mailToRecipients.push_back(text->utf8());
      } else {
        logSkipped("mailToRecipients", r);
      }
    }
  }
  n = number("mailJPGQuality");
  item->mailJPGQuality = n ? n->floatValue() : 0;
  n = number("mailShareWithAppSignature");
  item->mailShareWithAppSignature = n && n->boolValue();
  item->facebookURLShareDescription = stringEntry(d, "facebookURLShareDescription");
  item->facebookURLSharePictureURI = stringEntry(d, "facebookURLSharePictureURI");
  return item;
}

std::string SXItem::shareTypeToString(std::int32_t type) {
  switch (type) {
    case SXShareTypeUndefined: return "SXShareTypeUndefined";
    case SXShareTypeURL: return "SXShareTypeURL";
    case SXShareTypeText: return "SXShareTypeText";
    case SXShareTypeImage: return "SXShareTypeImage";
    case SXShareTypeFile: return "SXShareTypeFile";
    case SXShareTypeUserInfo: return "SXShareTypeUserInfo";
    default: return format("SXShareTypeUnknown(%d)", type);
  }
}

std::string SXItem::description() const {
  auto text_ = [](const std::optional<std::string>& v) { return v ? *v : std::string("(null)"); };
  std::string recipients = "(null)";
  if (hasMailToRecipients) {
    recipients = "(";
    for (std::size_t i = 0; i < mailToRecipients.size(); ++i) recipients += (i ? ", " : "") + mailToRecipients[i];
    recipients += ")";
  }
  std::string out;
  out += "Share type: " + shareTypeToString(shareType) + "\n";
  out += "URL: " + (url ? url->absoluteString() : std::string("(null)")) + "\n";
  out += format("URLContentType: %d\n", URLContentType);
  out += "Image: " + describe(image) + "\n";
  out += "Title: " + text_(title) + "\n";
  out += "Text: " + text_(text) + "\n";
  out += "Tags: " + text_(tags) + "\n";
  out += "Custom fields: " + describe(custom_) + "\n";
  out += "\nSharer specific\n\n";
  out += format("Print output type: %lld\n", static_cast<long long>(printOutputType));
  out += "mailBody: " + text_(mailBody) + "\n";
  out += format("isMailHTML: %d\n", isMailHTML ? 1 : 0);
  out += "mailToRecipients: " + recipients + "\n";
  out += format("mailJPGQuality: %f\n", static_cast<double>(mailJPGQuality));
  out += format("mailShareWithAppSignature: %d\n", mailShareWithAppSignature ? 1 : 0);
  out += "facebookURLSharePictureURI: " + text_(facebookURLSharePictureURI) + "\n";
  out += "facebookURLShareDescription: " + text_(facebookURLShareDescription);
  return out;
}

}  // namespace zv

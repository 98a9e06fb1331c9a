#include "sharing/services/flickr/FKXMLMapper.h"

#include <expat.h>

#include <algorithm>

#include "platform/foundation/Array.h"
#include "platform/foundation/String.h"

namespace zv {

namespace {

struct ExpatRun {
  FKXMLMapper& mapper;
  XML_Parser parser;
  std::size_t depth = 0;
  bool stopped = false;

  explicit ExpatRun(FKXMLMapper& m) : mapper(m), parser(XML_ParserCreate(nullptr)) {}
  ~ExpatRun() {
    if (parser) XML_ParserFree(parser);
  }
  void halt() {
    stopped = true;
    XML_StopParser(parser, XML_FALSE);
  }

  static void onStart(void* user, const XML_Char* name, const XML_Char** attributes) {
    auto& run = *static_cast<ExpatRun*>(user);
    if (run.stopped) return;
    auto element = MutableDictionary::make();
    for (auto pair = attributes; pair && *pair; pair += 2) element->setObject(String::make(pair[1]), String::make(pair[0]));
    if (++run.depth > FKXMLMapper::kMaximumDepth) {
      run.mapper.didStartElement({}, nullptr);
      return run.halt();
    }
    if (!run.mapper.didStartElement(name, element)) run.halt();
  }
  static void onEnd(void* user, const XML_Char*) {
    auto& run = *static_cast<ExpatRun*>(user);
    if (run.stopped) return;
    --run.depth;
    if (!run.mapper.didEndElement()) run.halt();
  }
  static void onText(void* user, const XML_Char* text, int length) {
    auto& run = *static_cast<ExpatRun*>(user);
    if (!run.stopped) run.mapper.foundCharacters(std::string_view(text, static_cast<std::size_t>(length)));
  }
  static void onEntity(void* user, const XML_Char*, int, const XML_Char*, int, const XML_Char*, const XML_Char*,
                       const XML_Char*, const XML_Char*) {
    static_cast<ExpatRun*>(user)->halt();
  }
};

}  // namespace

Ref<MutableDictionary> FKXMLMapper::dictionaryMappedFromXMLData(const Ref<Data>& data) {
  auto mapper = make();
  if (!data || !mapper->runWithData(data->view())) return nullptr;
  return mapper->resultantDictionary();
}

bool FKXMLMapper::fail(std::string reason) {
  if (!failed_) failureReason_ = std::move(reason);
  failed_ = true;
  return false;
}

bool FKXMLMapper::runWithData(std::string_view data) {
  resultantDictionary_ = MutableDictionary::make();
  elementStack_.clear();
  textStack_.assign(1, std::string());
  currentDictionary_ = resultantDictionary_;
  currentElementName_.clear();
  failed_ = false;
  failureReason_.clear();

  ExpatRun run(*this);
  if (!run.parser) return fail("no XML parser");
  XML_SetUserData(run.parser, &run);
  XML_SetElementHandler(run.parser, &ExpatRun::onStart, &ExpatRun::onEnd);
  XML_SetCharacterDataHandler(run.parser, &ExpatRun::onText);
  XML_SetEntityDeclHandler(run.parser, &ExpatRun::onEntity);
  constexpr std::size_t kSlice = 1 << 20;  // expat takes int lengths
  std::size_t offset = 0;
  do {
    const std::size_t length = std::min(kSlice, data.size() - offset);
    const bool last = offset + length == data.size();
    if (XML_Parse(run.parser, data.data() + offset, static_cast<int>(length), last) != XML_STATUS_OK) {
      if (run.stopped && failed_) return false;
      return fail(run.stopped ? "entity declarations are refused" : XML_ErrorString(XML_GetErrorCode(run.parser)));
    }
    offset += length;
  } while (offset < data.size());
  storeText();
  elementStack_.clear();
  textStack_.clear();
  currentDictionary_ = nullptr;
  return !failed_;
}

bool FKXMLMapper::didStartElement(std::string_view name, const Ref<MutableDictionary>& attributes) {
  if (!attributes) return fail("elements nested too deeply");
  auto existing = currentDictionary_->objectForKey(name);
  if (existing) {
    if (auto list = std::dynamic_pointer_cast<MutableArray>(existing)) {
      list->addObject(attributes);
    } else if (std::dynamic_pointer_cast<Dictionary>(existing)) {
      currentDictionary_->setObject(MutableArray::make({existing, attributes}), name);
    } else {
      return fail("Faulty XML structure");
    }
  } else if (currentElementName_.size() > name.size() && currentElementName_.starts_with(name) &&
             currentElementName_.ends_with('s')) {
    currentDictionary_->setObject(MutableArray::make({attributes}), name);
  } else {
    currentDictionary_->setObject(attributes, name);
  }
  elementStack_.push_back(currentDictionary_);
  textStack_.emplace_back();
  currentDictionary_ = attributes;
  currentElementName_ = name;
  return true;
}

bool FKXMLMapper::didEndElement() {
  if (elementStack_.empty()) return fail("Unbalanced XML element tag closing");
  storeText();
  textStack_.pop_back();
  currentDictionary_ = elementStack_.back();
  elementStack_.pop_back();
  return true;
}

void FKXMLMapper::foundCharacters(std::string_view text) {
  if (textStack_.empty()) textStack_.emplace_back();
  textStack_.back().append(text);
}

void FKXMLMapper::storeText() {
  if (textStack_.empty() || textStack_.back().empty() || !currentDictionary_) return;
  currentDictionary_->setObject(String::make(std::move(textStack_.back())), kFKXMLTextKey);
  textStack_.back().clear();
}

std::string FKTextContent(const ObjectPtr& element) {
  auto dictionary = std::dynamic_pointer_cast<Dictionary>(element);
  if (!dictionary) return {};
  return dictionary->stringForKey(kFKXMLTextKey).value_or(std::string());
}

ObjectPtr FKValueForKeyPath(const Ref<Dictionary>& dictionary, std::string_view path) {
  ObjectPtr value = dictionary;
  while (value) {
    auto current = std::dynamic_pointer_cast<Dictionary>(value);
    if (!current) return nullptr;
    const auto dot = path.find('.');
    value = current->objectForKey(path.substr(0, dot));
    if (dot == std::string_view::npos) return value;
    path.remove_prefix(dot + 1);
  }
  return nullptr;
}

}  // namespace zv

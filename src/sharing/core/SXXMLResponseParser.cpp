#include "sharing/core/SXXMLResponseParser.h"

#include <expat.h>

#include "platform/foundation/AsciiText.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/String.h"

namespace zv {


// One run of expat over the parser's data; owns the expat handle.
struct SXXMLParserRun {
  SXXMLResponseParser& owner;
  XML_Parser parser = nullptr;
  std::size_t depth = 0;
  std::string failure;

  explicit SXXMLParserRun(SXXMLResponseParser& o) : owner(o), parser(XML_ParserCreate(nullptr)) {}
  ~SXXMLParserRun() {
    if (parser) XML_ParserFree(parser);
  }

  void stop(std::string why) {
    if (failure.empty()) failure = std::move(why);
    XML_StopParser(parser, XML_FALSE);
  }

  static void start(void* context, const XML_Char* name, const XML_Char** attributes) {
    auto& run = *static_cast<SXXMLParserRun*>(context);
    if (++run.depth > SXXMLResponseParser::kMaximumDepth) return run.stop("elements nested too deeply");
    auto dictionary = MutableDictionary::make();
    for (const XML_Char** attribute = attributes; attribute && attribute[0]; attribute += 2) {
      dictionary->setObject(String::make(attribute[1]), String::make(attribute[0]));
    }
    run.owner.didStartElement(name, dictionary);
  }

  static void end(void* context, const XML_Char* name) {
    auto& run = *static_cast<SXXMLParserRun*>(context);
    run.owner.didEndElement(name);
    --run.depth;
  }

  static void characters(void* context, const XML_Char* text, int length) {
    auto& run = *static_cast<SXXMLParserRun*>(context);
    run.owner.foundCharacters(std::string_view(text, static_cast<std::size_t>(length)));
  }

  // Replies never declare entities; refusing them keeps expansion attacks out.
  static void entityDeclaration(void* context, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                const XML_Char*, const XML_Char*, const XML_Char*) {
    static_cast<SXXMLParserRun*>(context)->stop("entity declarations are not accepted");
  }

  bool run(std::string_view bytes) {
    if (!parser) {
      failure = "no XML parser";
      return false;
    }
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, &SXXMLParserRun::start, &SXXMLParserRun::end);
    XML_SetCharacterDataHandler(parser, &SXXMLParserRun::characters);
    XML_SetEntityDeclHandler(parser, &SXXMLParserRun::entityDeclaration);
    // Fed in pieces so that lengths beyond int never reach expat.
    constexpr std::size_t kPiece = 1 << 20;
    std::size_t offset = 0;
    do {
      std::size_t length = std::min(kPiece, bytes.size() - offset);
      bool last = offset + length == bytes.size();
      if (XML_Parse(parser, bytes.data() + offset, static_cast<int>(length), last ? XML_TRUE : XML_FALSE) !=
          XML_STATUS_OK) {
        if (failure.empty()) {
          failure = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                    std::to_string(XML_GetCurrentLineNumber(parser));
        }
        return false;
      }
      offset += length;
    } while (offset < bytes.size());
    return failure.empty();
  }
};

ObjectPtr SXXMLResponseParser::getValueForElement(std::string_view element, const Ref<Data>& response) {
  auto parser = initWithData(response);
  if (!parser->parse()) return nullptr;
  return findRecursivelyValueForKey(element, parser->parsedResponse());
}

Ref<SXXMLResponseParser> SXXMLResponseParser::initWithData(Ref<Data> data) {
  return std::make_shared<SXXMLResponseParser>(std::move(data));
}

SXXMLResponseParser::SXXMLResponseParser(Ref<Data> data) : data_(std::move(data)) {}

bool SXXMLResponseParser::parse() {
  parsedResponse_ = nullptr;
  openElementText_.clear();
  parseError_.clear();
  SXXMLParserRun run(*this);
  xmlParsedSuccessfully_ = run.run(data_ ? data_->view() : std::string_view());
  openElementText_.clear();
  if (!xmlParsedSuccessfully_) {
    parseError_ = run.failure.empty() ? std::string("no document") : run.failure;
    logError("SXXMLResponseParser: the reply is not usable XML: " + parseError_);
  }
  return xmlParsedSuccessfully_;
}

void SXXMLResponseParser::didStartElement(std::string_view name, const Ref<Dictionary>& attributes) {
  openElementText_.emplace_back();
  if (!parsedResponse_) parsedResponse_ = MutableDictionary::make();
  parsedResponse_->setObject(attributes ? attributes : MutableDictionary::make(), String::make(name));
}

void SXXMLResponseParser::foundCharacters(std::string_view text) {
  if (!openElementText_.empty()) openElementText_.back().append(text);
}

void SXXMLResponseParser::didEndElement(std::string_view name) {
  if (openElementText_.empty()) return;
  std::string text = std::move(openElementText_.back());
  openElementText_.pop_back();
  if (name == "errors" || name == "error") return;
  auto value = ascii::trim(text, " \t\r\n\f\v");
  if (!value.empty() && parsedResponse_) parsedResponse_->setObject(String::make(value), String::make(name));
}

ObjectPtr SXXMLResponseParser::findRecursivelyValueForKey(std::string_view key, const Ref<Dictionary>& dictionary) {
  if (!dictionary) return nullptr;
  ObjectPtr found;
  dictionary->enumerate([&](const ObjectPtr& entryKey, const ObjectPtr& value) {
    auto name = dyn<String>(entryKey);
    if (name && name->utf8() == key) {
      found = value;
      return false;
    }
    // Values are texts or attribute dictionaries (which hold only texts), so this goes one level.
    if (auto inner = dyn<Dictionary>(value)) {
      found = findRecursivelyValueForKey(key, inner);
      if (found) return false;
    }
    return true;
  });
  return found;
}

}  // namespace zv

#pragma once
// Reads a service's XML reply into a flat dictionary, element name -> value, and finds one
// element's value in it. An element's value is its own text, trimmed of white space at both ends;
// an element without text keeps its attribute dictionary (possibly empty) instead. Text belongs to
// the element it is written in: a parent never takes a child's text. Text inside "error" and
// "errors" elements is never stored under those names. A later element of the same name replaces
// the earlier one's value.
//
// Malformed XML, a document that declares entities, or nesting deeper than kMaximumDepth fails
// the parse (logged); the lookup then answers nullptr. The reader takes bytes and touches no file
// or socket. Any thread; one parser per thread at a time.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>
#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"

namespace zv {

class SXXMLResponseParser : public Object {
 public:
  static constexpr std::size_t kMaximumDepth = 256;

  // The value of the first element named `element` (see findRecursivelyValueForKey), or nullptr
  // when there is none or the XML does not parse.
  static ObjectPtr getValueForElement(std::string_view element, const Ref<Data>& response);

  static Ref<SXXMLResponseParser> initWithData(Ref<Data> data);
  explicit SXXMLResponseParser(Ref<Data> data);

  // Parses the data once more from the start; answers xmlParsedSuccessfully().
  bool parse();
  // Walks the entries in order: an entry with the key answers its value; an entry whose value is
  // a dictionary is searched the same way. The first value found ends the search.
  static ObjectPtr findRecursivelyValueForKey(std::string_view key, const Ref<Dictionary>& dictionary);

  const Ref<Data>& data() const { return data_; }
  // nullptr until an element was read.
  const Ref<MutableDictionary>& parsedResponse() const { return parsedResponse_; }
  bool xmlParsedSuccessfully() const { return xmlParsedSuccessfully_; }
  // Why the last parse failed (empty after a success).
  const std::string& parseError() const { return parseError_; }

  // Parser events.
  void didStartElement(std::string_view name, const Ref<Dictionary>& attributes);
  void foundCharacters(std::string_view text);
  void didEndElement(std::string_view name);

 private:
  Ref<Data> data_;
  Ref<MutableDictionary> parsedResponse_;
  // The text of every open element, innermost last.
  std::vector<std::string> openElementText_;
  bool xmlParsedSuccessfully_ = false;
  std::string parseError_;

  friend struct SXXMLParserRun;
};

}  // namespace zv

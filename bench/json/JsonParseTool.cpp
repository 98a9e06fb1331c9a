// json_parse FILE [--second]: parses FILE with the JSON decoder's default options, or with the
// second library's objectWithString; exits 0 when it parsed, 1 (with the library's error text on
// standard error) when it did not, 2 when the file cannot be read. For running conformance suites.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/foundation/Values.h"
#include "sharing/json/JSONDecoder.h"
#include "sharing/json/SJsonParser.h"

int main(int argc, char** argv) {
  using namespace zv;
  const char* path = nullptr;
  bool second = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--second") == 0) {
      second = true;
    } else {
      path = argv[i];
    }
  }
  if (!path) {
    std::fprintf(stderr, "usage: json_parse FILE [--second]\n");
    return 2;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "json_parse: cannot read %s\n", path);
    return 2;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (second) {
    SJsonParser parser;
    // The bytes as they are: the parser itself must refuse text that is not UTF-8.
    if (parser.objectWithString(std::make_shared<String>(bytes))) return 0;
    auto trace = parser.errorTrace();
    auto last = trace ? dyn<Error>(trace->lastObject()) : nullptr;
    std::fprintf(stderr, "%s\n", last ? last->localizedDescription().c_str() : "failed");
    return 1;
  }
  JSONDecoder decoder;
  Ref<Error> error;
  if (decoder.objectWithUTF8String(bytes.data(), bytes.size(), &error)) return 0;
  std::fprintf(stderr, "%s\n", error ? error->localizedDescription().c_str() : "failed");
  return 1;
}

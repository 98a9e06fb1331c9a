// Memory held by a decoded corpus file (default twitter.json), per library: each library parses in
// a child process of its own and reports the growth of its peak resident set and of its live heap
// while it holds the tree.

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <simdjson.h>

#include "bench/json/Corpus.h"
#include "platform/foundation/Values.h"
#include "sharing/json/JSONDecoder.h"
#include "sharing/json/SJsonParser.h"

namespace {

long peakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::size_t liveHeap() {
  struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// The first string found depth-first in a decoded tree.
zv::ObjectPtr firstString(const zv::ObjectPtr& object) {
  using namespace zv;
  if (dyn<String>(object)) return object;
  if (auto array = dyn<Array>(object)) {
    for (std::size_t i = 0; i < array->count(); ++i)
      if (auto found = firstString(array->objectAtIndex(i))) return found;
  } else if (auto dictionary = dyn<Dictionary>(object)) {
    ObjectPtr found;
    dictionary->enumerate([&](const ObjectPtr&, const ObjectPtr& value) { return !(found = firstString(value)); });
    return found;
  }
  return nullptr;
}

void measure(const char* label, const std::function<std::function<void()>()>& parse) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    const long peakBefore = peakKilobytes();
    const std::size_t heapBefore = liveHeap();
    auto release = parse();  // holds the tree until release() runs
    const std::size_t heapAfter = liveHeap();
    const long peakAfter = peakKilobytes();
    std::printf("%-22s heap held %8.2f MiB   peak RSS growth %8.2f MiB\n", label,
                static_cast<double>(heapAfter - heapBefore) / (1024.0 * 1024.0),
                static_cast<double>(peakAfter - peakBefore) / 1024.0);
    std::fflush(stdout);
    release();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zv;
  const std::string name = argc > 1 ? argv[1] : "twitter.json";
  auto text = bench::readCorpus(name);
  if (!text) {
    std::fprintf(stderr, "%s: not found in %s; nothing measured\n", name.c_str(), bench::corpusFolder().c_str());
    return 1;
  }
  std::printf("%s, %zu bytes\n", name.c_str(), text->size());
  measure("JSONDecoder", [&] {
    auto decoder = std::make_shared<JSONDecoder>();
    auto value = decoder->objectWithUTF8String(text->data(), text->size());
    decoder->releaseState();  // the tree only, not the token cache
    return [value]() mutable { value.reset(); };
  });
  // Retention: what stays allocated when the caller keeps one string of the document, and when the
  // caller drops the document but keeps the decoder (whose token cache holds recent values).
  measure("JSONDecoder, 1 kept", [&] {
    auto decoder = std::make_shared<JSONDecoder>();
    auto value = decoder->objectWithUTF8String(text->data(), text->size());
    decoder->releaseState();
    ObjectPtr kept = firstString(value);
    value.reset();
    return [kept]() mutable { kept.reset(); };
  });
  measure("JSONDecoder, cache", [&] {
    auto decoder = std::make_shared<JSONDecoder>();
    decoder->objectWithUTF8String(text->data(), text->size());
    return [decoder]() mutable { decoder.reset(); };
  });
  measure("second library", [&] {
    auto string = std::make_shared<String>(*text);
    SJsonParser parser;
    auto value = parser.objectWithString(string);
    string.reset();
    return [value]() mutable { value.reset(); };
  });
  measure("RapidJSON", [&] {
    auto d = std::make_shared<rapidjson::Document>();
    d->Parse(text->data(), text->size());
    return [d]() mutable { d.reset(); };
  });
  measure("simdjson (DOM)", [&] {
    auto parser = std::make_shared<simdjson::dom::parser>();
    simdjson::dom::element root;
    if (parser->parse(*text).get(root)) std::printf("simdjson: parse failed\n");
    return [parser]() mutable { parser.reset(); };
  });
  measure("nlohmann/json", [&] {
    auto j = std::make_shared<nlohmann::json>(nlohmann::json::parse(*text));
    return [j]() mutable { j.reset(); };
  });
  return 0;
}

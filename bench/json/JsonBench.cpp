// Parse and write throughput of the two JSON libraries against peer libraries, on the corpora.
// Every parse builds the full tree and walks it. A corpus that cannot be read stops the run before
// anything is measured.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>

#include "bench/json/Corpus.h"
#include "platform/foundation/Values.h"
#include "sharing/json/JSONCodecConversions.h"
#include "sharing/json/JSONDecoder.h"
#include "sharing/json/SJsonParser.h"

namespace {

using namespace zv;

const std::string* corpus(const std::string& name) {
  static std::map<std::string, std::optional<std::string>> files;
  auto it = files.find(name);
  if (it == files.end()) it = files.emplace(name, bench::readCorpus(name)).first;
  return it->second ? &*it->second : nullptr;
}

bool prepare(benchmark::State& state, const std::string& name, const std::string*& text) {
  text = corpus(name);
  if (!text) {
    state.SkipWithError(("missing " + name).c_str());
    return false;
  }
  return true;
}

std::size_t walkRapid(const rapidjson::Value& v) {
  std::size_t n = 1;
  if (v.IsArray()) {
    for (const auto& e : v.GetArray()) n += walkRapid(e);
  } else if (v.IsObject()) {
    for (const auto& m : v.GetObject()) n += 1 + m.name.GetStringLength() + walkRapid(m.value);
  } else if (v.IsString()) {
    n += v.GetStringLength();
  } else if (v.IsNumber()) {
    n += v.GetDouble() != 0;
  }
  return n;
}

std::size_t walkSimd(simdjson::dom::element e) {
  std::size_t n = 1;
  switch (e.type()) {
    case simdjson::dom::element_type::ARRAY:
      for (auto child : simdjson::dom::array(e)) n += walkSimd(child);
      break;
    case simdjson::dom::element_type::OBJECT:
      for (auto field : simdjson::dom::object(e)) n += 1 + field.key.size() + walkSimd(field.value);
      break;
    case simdjson::dom::element_type::STRING:
      n += std::string_view(e).size();
      break;
    case simdjson::dom::element_type::DOUBLE:
    case simdjson::dom::element_type::INT64:
    case simdjson::dom::element_type::UINT64:
      n += double(e) != 0;
      break;
    default:
      break;
  }
  return n;
}

std::size_t walkNlohmann(const nlohmann::json& j) {
  std::size_t n = 1;
  if (j.is_array()) {
    for (const auto& e : j) n += walkNlohmann(e);
  } else if (j.is_object()) {
    for (auto it = j.begin(); it != j.end(); ++it) n += 1 + it.key().size() + walkNlohmann(it.value());
  } else if (j.is_string()) {
    n += j.get_ref<const std::string&>().size();
  } else if (j.is_number()) {
    n += j.get<double>() != 0;
  }
  return n;
}

void finish(benchmark::State& state, const std::string& text) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}

void DecoderParse(benchmark::State& state, const std::string& name) {
  const std::string* text;
  if (!prepare(state, name, text)) return;
  JSONDecoder decoder;  // one decoder for every parse: its cache lives across them
  for (auto _ : state) {
    ObjectPtr value = decoder.objectWithUTF8String(text->data(), text->size());
    if (!value) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(bench::walkObjects(value));
  }
  finish(state, *text);
}

void DecoderParseFresh(benchmark::State& state, const std::string& name) {
  const std::string* text;
  if (!prepare(state, name, text)) return;
  for (auto _ : state) {
    JSONDecoder decoder;
    ObjectPtr value = decoder.objectWithUTF8String(text->data(), text->size());
    benchmark::DoNotOptimize(bench::walkObjects(value));
  }
  finish(state, *text);
}

void RapidJSONParse(benchmark::State& state, const std::string& name) {
  const std::string* text;
  if (!prepare(state, name, text)) return;
  for (auto _ : state) {
    rapidjson::Document d;
    d.Parse<rapidjson::kParseValidateEncodingFlag>(text->data(), text->size());
    if (d.HasParseError()) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(walkRapid(d));
  }
  finish(state, *text);
}

void SimdjsonParse(benchmark::State& state, const std::string& name) {
  const std::string* text;
  if (!prepare(state, name, text)) return;
  simdjson::padded_string padded(*text);
  simdjson::dom::parser parser;
  for (auto _ : state) {
    simdjson::dom::element root;
    if (parser.parse(padded).get(root)) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(walkSimd(root));
  }
  finish(state, *text);
}

void NlohmannParse(benchmark::State& state, const std::string& name) {
  const std::string* text;
  if (!prepare(state, name, text)) return;
  for (auto _ : state) {
    auto j = nlohmann::json::parse(*text);
    benchmark::DoNotOptimize(walkNlohmann(j));
  }
  finish(state, *text);
}

void SecondLibraryParse(benchmark::State& state, const std::string& name) {
  const std::string* text;
  if (!prepare(state, name, text)) return;
  auto string = String::make(*text);
  for (auto _ : state) {
    SJsonParser parser;
    ObjectPtr value = parser.objectWithString(string);
    if (!value) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(bench::walkObjects(value));
  }
  finish(state, *text);
}

void SerializerWrite(benchmark::State& state, const std::string& name) {
  const std::string* text;
  if (!prepare(state, name, text)) return;
  JSONDecoder decoder;
  ObjectPtr value = decoder.objectWithUTF8String(text->data(), text->size());
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto out = jsoncodec::JSONString(value);
    bytes = out->utf8().size();
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void RapidJSONWrite(benchmark::State& state, const std::string& name) {
  const std::string* text;
  if (!prepare(state, name, text)) return;
  rapidjson::Document d;
  d.Parse(text->data(), text->size());
  std::size_t bytes = 0;
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    d.Accept(writer);
    bytes = buffer.GetSize();
    benchmark::DoNotOptimize(buffer.GetString());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

int registerAll() {
  for (const auto& name : bench::corpusNames()) {
    benchmark::RegisterBenchmark(("parse/decoder/" + name).c_str(), DecoderParse, name)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("parse/decoder_fresh/" + name).c_str(), DecoderParseFresh, name)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("parse/rapidjson/" + name).c_str(), RapidJSONParse, name)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("parse/simdjson/" + name).c_str(), SimdjsonParse, name)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("parse/nlohmann/" + name).c_str(), NlohmannParse, name)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("parse/second/" + name).c_str(), SecondLibraryParse, name)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("write/serializer/" + name).c_str(), SerializerWrite, name)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("write/rapidjson/" + name).c_str(), RapidJSONWrite, name)
        ->Unit(benchmark::kMillisecond);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool complete = true;
  for (const auto& name : bench::corpusNames()) {
    if (corpus(name)) continue;
    std::fprintf(stderr, "json_bench: cannot read %s/%s (set ZV_JSON_DATA to the corpus folder)\n",
                 bench::corpusFolder().c_str(), name.c_str());
    complete = false;
  }
  if (!complete) return 1;
  registerAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

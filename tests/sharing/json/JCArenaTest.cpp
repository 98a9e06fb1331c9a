#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Values.h"
#include "sharing/json/JCArray.h"
#include "sharing/json/JCDictionary.h"
#include "sharing/json/JSONDecoder.h"

namespace zv {
namespace {

// A document of `n` records, each with strings (short and long), integers, doubles and a nested array.
std::string records(int n, const std::string& tag) {
  std::string text = "[";
  for (int i = 0; i < n; ++i) {
    if (i) text += ',';
    text += "{\"id\":" + std::to_string(i) + ",\"tag\":\"" + tag + "\",\"name\":\"record number " +
            std::to_string(i) + " of a document long enough to leave the small-string buffer\",\"x\":" +
            std::to_string(i) + ".5,\"list\":[" + std::to_string(i) + ",\"" + tag + std::to_string(i) + "\"]}";
  }
  return text + "]";
}

void expectRecord(const ObjectPtr& object, int i, const std::string& tag) {
  auto d = dyn<Dictionary>(object);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->objectForKeyAs<Number>("id")->longLongValue(), i);
  EXPECT_EQ(d->objectForKeyAs<String>("tag")->utf8(), tag);
  EXPECT_EQ(d->objectForKeyAs<String>("name")->utf8().substr(0, 14 + std::to_string(i).size()),
            "record number " + std::to_string(i));
  EXPECT_EQ(d->objectForKeyAs<Number>("x")->doubleValue(), i + 0.5);
  auto list = d->objectForKeyAs<Array>("list");
  ASSERT_EQ(list->count(), 2u);
  EXPECT_EQ(list->objectAtIndexAs<String>(1)->utf8(), tag + std::to_string(i));
}

TEST(JCArenaTest, ValuesOfOneDocumentAreReleasedSafelyOnSeveralThreads) {
  JSONDecoder decoder;
  constexpr int kThreads = 4, kRecords = 400;
  for (int round = 0; round < 3; ++round) {
    const std::string tag = "t" + std::to_string(round);
    const std::string text = records(kRecords, tag);
    auto root = dyn<Array>(decoder.objectWithUTF8String(text.data(), text.size()));
    ASSERT_TRUE(root);
    std::vector<std::vector<ObjectPtr>> shares(kThreads);
    for (int i = 0; i < kRecords; ++i) shares[static_cast<std::size_t>(i % kThreads)].push_back(root->objectAtIndex(i));
    root.reset();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t, share = std::move(shares[static_cast<std::size_t>(t)])]() mutable {
        for (std::size_t k = 0; k < share.size(); ++k) expectRecord(share[k], static_cast<int>(k) * kThreads + t, tag);
        // Release one record at a time, strings and numbers the decoder's cache also holds included.
        while (!share.empty()) share.pop_back();
      });
    // Meanwhile the decoder parses on, evicting cached values of this document from its cache.
    const std::string other = records(kRecords, "other" + std::to_string(round));
    auto next = dyn<Array>(decoder.objectWithUTF8String(other.data(), other.size()));
    ASSERT_TRUE(next);
    for (auto& thread : threads) thread.join();
    expectRecord(next->objectAtIndex(7), 7, "other" + std::to_string(round));
  }
}

TEST(JCArenaTest, AValueKeptFromADocumentOutlivesTheDocumentAndTheDecoder) {
  ObjectPtr kept, keptNumber;
  WeakRef<Object> root;
  // A copy of an element block holds its elements, not the document's arena.
  std::optional<JCArray::Storage> copiedBlock;
  {
    JSONDecoder decoder;
    const std::string text = records(50, "kept");
    auto document = dyn<Array>(decoder.objectWithUTF8String(text.data(), text.size()));
    ASSERT_TRUE(document);
    kept = document->objectAtIndexAs<Dictionary>(31)->objectForKey("name");
    keptNumber = document->objectAtIndexAs<Dictionary>(31)->objectForKey("x");
    root = document;
    auto inner = std::dynamic_pointer_cast<JCArray>(
        decoder.objectWithUTF8String("[[true,false,null]]", 19))->objectAtIndex(0);
    copiedBlock.emplace(std::static_pointer_cast<JCArray>(inner)->storage());
  }
  EXPECT_TRUE(root.expired());
  ASSERT_EQ(copiedBlock->size(), 3u);
  EXPECT_TRUE(dyn<Number>((*copiedBlock)[1]) && !dyn<Number>((*copiedBlock)[1])->boolValue());
  EXPECT_TRUE(dyn<Null>((*copiedBlock)[2]));
  ASSERT_TRUE(dyn<String>(kept));
  EXPECT_EQ(dyn<String>(kept)->utf8(), "record number 31 of a document long enough to leave the small-string buffer");
  EXPECT_EQ(dyn<Number>(keptNumber)->doubleValue(), 31.5);
  EXPECT_TRUE(kept->isEqual(*String::make(dyn<String>(kept)->utf8())));
  EXPECT_EQ(kept->hash(), String::make(dyn<String>(kept)->utf8())->hash());
}

TEST(JCArenaTest, TheCacheKeepsValuesOfThePreviousDocumentOnly) {
  JSONDecoder decoder;
  const std::string text = R"(["a value used by every document", 123456789])";
  auto first = dyn<Array>(decoder.objectWithUTF8String(text.data(), text.size()));
  ASSERT_TRUE(first);
  WeakRef<Object> firstString = first->objectAtIndex(0), firstNumber = first->objectAtIndex(1);
  // The next document still gets the same objects from the cache.
  auto second = dyn<Array>(decoder.objectWithUTF8String(text.data(), text.size()));
  EXPECT_EQ(second->objectAtIndex(0), first->objectAtIndex(0));
  EXPECT_EQ(second->objectAtIndex(1), first->objectAtIndex(1));
  first.reset();
  second.reset();
  // Once neither document is held, the cache gives them up at the next parse instead of pinning
  // the first document's memory for as long as the decoder lives.
  EXPECT_FALSE(firstString.expired());
  const std::string unrelated = "[1]";
  ASSERT_TRUE(decoder.objectWithUTF8String(unrelated.data(), unrelated.size()));
  EXPECT_TRUE(firstString.expired());
  EXPECT_TRUE(firstNumber.expired());
  // Values come back equal, as new objects.
  auto third = dyn<Array>(decoder.objectWithUTF8String(text.data(), text.size()));
  EXPECT_EQ(third->objectAtIndexAs<String>(0)->utf8(), "a value used by every document");
  EXPECT_EQ(third->objectAtIndexAs<Number>(1)->longLongValue(), 123456789);
}

TEST(JCArenaTest, LargeCollectionsAndManyBlocksKeepEveryValue) {
  // Element blocks larger than a quarter of an arena block get blocks of their own, between
  // values that fill ordinary blocks.
  std::string text = "[[";
  for (int i = 0; i < 3000; ++i) text += (i ? "," : "") + std::to_string(i * 7);
  text += "],{";
  for (int i = 0; i < 2000; ++i) text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":\"v" + std::to_string(i) + "\"";
  text += "},";
  text += records(300, "after");
  text += "]";
  JSONDecoder decoder;
  auto root = dyn<Array>(decoder.objectWithUTF8String(text.data(), text.size()));
  ASSERT_TRUE(root);
  auto numbers = root->objectAtIndexAs<Array>(0);
  ASSERT_EQ(numbers->count(), 3000u);
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(numbers->objectAtIndexAs<Number>(static_cast<std::size_t>(i))->intValue(), i * 7);
  auto dictionary = root->objectAtIndexAs<Dictionary>(1);
  ASSERT_EQ(dictionary->count(), 2000u);
  for (int i = 0; i < 2000; ++i)
    ASSERT_EQ(dictionary->objectForKeyAs<String>("k" + std::to_string(i))->utf8(), "v" + std::to_string(i));
  auto last = root->objectAtIndexAs<Array>(2);
  ASSERT_EQ(last->count(), 300u);
  expectRecord(last->objectAtIndex(299), 299, "after");
}

TEST(JCArenaTest, CachedValuesSurviveDuplicateKeysAndFailedParses) {
  JSONDecoder decoder;
  // The replaced values of a duplicate key come back later in the same document.
  const std::string duplicates =
      R"([{"a":"a replaced value long enough","a":1,"b":["inside a replaced array"],"b":2},)"
      R"("a replaced value long enough","inside a replaced array",{"a":"a replaced value long enough"}])";
  for (int round = 0; round < 2; ++round) {
    auto root = dyn<Array>(decoder.objectWithUTF8String(duplicates.data(), duplicates.size()));
    ASSERT_TRUE(root);
    EXPECT_EQ(root->objectAtIndexAs<Dictionary>(0)->objectForKeyAs<Number>("a")->intValue(), 1);
    EXPECT_EQ(root->objectAtIndexAs<String>(1)->utf8(), "a replaced value long enough");
    EXPECT_EQ(root->objectAtIndexAs<String>(2)->utf8(), "inside a replaced array");
    EXPECT_EQ(root->objectAtIndex(3).get() != nullptr, true);
    EXPECT_EQ(root->objectAtIndexAs<Dictionary>(3)->objectForKey("a"), root->objectAtIndex(1));
  }
  // Values made by a failed parse are freed with it; the next parse makes them again.
  for (const char* broken : {R"(["made by a failed parse", 12345, {"k": "v" )", R"(["made by a failed parse", 12345, x])"}) {
    Ref<Error> error;
    EXPECT_FALSE(decoder.objectWithUTF8String(broken, std::strlen(broken), &error));
    EXPECT_TRUE(error);
    const std::string good = R"(["made by a failed parse", 12345, {"k": "v"}])";
    auto root = dyn<Array>(decoder.objectWithUTF8String(good.data(), good.size()));
    ASSERT_TRUE(root);
    EXPECT_EQ(root->objectAtIndexAs<String>(0)->utf8(), "made by a failed parse");
    EXPECT_EQ(root->objectAtIndexAs<Number>(1)->intValue(), 12345);
    EXPECT_EQ(root->objectAtIndexAs<Dictionary>(2)->objectForKeyAs<String>("k")->utf8(), "v");
    // Each value is owned: it outlives the decoder's cache.
    decoder.clearCache();
    EXPECT_EQ(root->objectAtIndexAs<String>(0)->utf8(), "made by a failed parse");
  }
}

TEST(JCArenaTest, OneDecoderThroughFailuresAndDuplicatesAgreesWithFreshDecoders) {
  // Damaged copies of a document (cut short, or one byte changed) go through one decoder, so its
  // cache meets values of failed parses and of replaced duplicate keys; every success must equal
  // what a fresh decoder makes of the same text.
  const std::string base =
      R"({"id":1,"s":"shared text value","n":[1,2.5,-3,"shared text value"],"id":2,)"
      R"("d":{"s":"shared text value","k":[true,null,"another repeated string"]},"k":"another repeated string"})";
  JSONDecoder decoder;
  std::uint32_t state = 7;
  auto next = [&] { return (state = state * 1103515245u + 12345u) >> 8; };
  int successes = 0;
  for (int i = 0; i < 600; ++i) {
    std::string text = base;
    if (next() % 2) {
      text.resize(next() % text.size());
    } else {
      text[next() % text.size()] = "\",:{}[]1a "[next() % 11];
    }
    auto value = decoder.objectWithUTF8String(text.data(), text.size());
    JSONDecoder fresh;
    auto expected = fresh.objectWithUTF8String(text.data(), text.size());
    ASSERT_EQ(value == nullptr, expected == nullptr) << text;
    if (!value) continue;
    ++successes;
    ASSERT_TRUE(value->isEqual(*expected)) << text;
    auto whole = decoder.objectWithUTF8String(base.data(), base.size());
    ASSERT_TRUE(whole && whole->isEqual(*fresh.objectWithUTF8String(base.data(), base.size())));
  }
  EXPECT_GT(successes, 10);
}

TEST(JCArenaTest, MutableResultsGrowAfterTheParseFromAnyThread) {
  ObjectPtr root;
  {
    JSONDecoder decoder;
    const std::string text = R"({"list":[1,2,3],"map":{"k":"v"}})";
    root = decoder.mutableObjectWithUTF8String(text.data(), text.size());
  }
  auto d = dyn<JCDictionary>(root);
  ASSERT_TRUE(d);
  std::thread worker([&] {
    auto list = d->objectForKeyAs<JCArray>("list");
    for (int i = 0; i < 1000; ++i) list->addObject(Number::make(i));
    for (int i = 0; i < 100; ++i) d->setObject(Number::make(i), String::make("key" + std::to_string(i)));
  });
  worker.join();
  EXPECT_EQ(d->objectForKeyAs<JCArray>("list")->count(), 1003u);
  EXPECT_EQ(d->count(), 102u);
  EXPECT_EQ(d->objectForKeyAs<Number>("key99")->intValue(), 99);
  EXPECT_EQ(d->objectForKeyAs<Dictionary>("map")->objectForKeyAs<String>("k")->utf8(), "v");
}

}  // namespace
}  // namespace zv

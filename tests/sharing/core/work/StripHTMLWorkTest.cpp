// Work counted, not timed: this executable counts the bytes the calling thread asks of operator
// new while a count is open, so a step that copies the whole text once per tag shows at any speed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "sharing/core/SXText.h"

namespace {

thread_local bool counting = false;
thread_local std::size_t countedBytes = 0;

void* allocate(std::size_t size) {
  if (counting) countedBytes += size;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace zv {
namespace {

// The bytes allocated while `run` runs on this thread.
template <class Run>
std::size_t bytesAllocatedBy(Run run) {
  countedBytes = 0;
  counting = true;
  run();
  counting = false;
  return countedBytes;
}

TEST(SXStripHTMLWork, AllocatesInProportionToTheTextHoweverManyTagsItHolds) {
  // Many distinct tags, and one tag many times: either made a whole copy of the text per tag.
  std::string distinct;
  std::string repeated;
  std::string expected;
  for (int i = 0; i < 4000; ++i) {
    distinct += "<span id=\"n" + std::to_string(i) + "\">w</span>";
    repeated += "<b>w</b>";
    expected += i == 0 ? "w" : "  w";
  }
  for (const std::string* input : {&distinct, &repeated}) {
    std::string result;
    const auto bytes = bytesAllocatedBy([&] { result = SXStripHTML(*input, false); });
    EXPECT_EQ(result, expected);
    EXPECT_LE(bytes, 3 * input->size()) << "input of " << input->size() << " bytes";
  }
}

}  // namespace
}  // namespace zv

#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>
#include <string>

#include "http/HTTPDataCompressor.h"
#include "http/HTTPDataDecompressor.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

std::string randomText(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string text(size, ' ');
  // A small alphabet so the data compresses, but not to nothing.
  for (auto& c : text) c = "abcdefghij \n"[generator() % 12];
  return text;
}

// `text` deflated in a zlib wrapper, which, unlike gzip's, does not end with the size.
std::string zlibWrapped(const std::string& text) {
  uLongf size = compressBound(text.size());
  std::string packed(size, '\0');
  EXPECT_EQ(compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(text.data()),
                     text.size()),
            Z_OK);
  packed.resize(size);
  return packed;
}

std::string roundTrip(const std::string& text) {
  Ref<Error> error;
  auto compressed = HTTPDataCompressor::compressData(Data::make(text), &error);
  EXPECT_FALSE(error);
  if (!compressed) return "<nil>";
  auto inflated = HTTPDataDecompressor::uncompressData(compressed, &error);
  EXPECT_FALSE(error);
  return inflated ? std::string(inflated->view()) : "<nil>";
}

TEST(GzipCompressors, InMemoryRoundTripsOfAwkwardSizes) {
  // 1 byte once made the output buffer zero-sized with no room to grow.
  for (std::size_t size : {1u, 2u, 3u, 17u, 4096u, 100000u, 262144u}) {
    std::string text = randomText(size, static_cast<unsigned>(size));
    EXPECT_EQ(roundTrip(text), text) << size;
  }
  Ref<Error> error;
  auto compressed = HTTPDataCompressor::compressData(Data::make("abc"), &error);
  ASSERT_TRUE(compressed);
  ASSERT_GE(compressed->length(), 2u);
  EXPECT_EQ(compressed->data()[0], 0x1F);
  EXPECT_EQ(compressed->data()[1], 0x8B);
}

TEST(GzipCompressors, EmptyInputGivesNilWithoutError) {
  Ref<Error> error;
  EXPECT_FALSE(HTTPDataCompressor::compressData(Data::make(), &error));
  EXPECT_FALSE(HTTPDataDecompressor::uncompressData(Data::make(), &error));
  EXPECT_FALSE(error);
}

TEST(GzipCompressors, InflatesZlibWrappedStreamsToo) {
  std::string text = randomText(5000, 7);
  Ref<Error> error;
  auto inflated = HTTPDataDecompressor::uncompressData(Data::make(zlibWrapped(text)), &error);
  ASSERT_TRUE(inflated);
  EXPECT_EQ(inflated->view(), text);
}

TEST(GzipCompressors, ChunkedInflationJoinsToTheWholeText) {
  std::string text = randomText(200000, 3);
  Ref<Error> error;
  auto compressed = HTTPDataCompressor::compressData(Data::make(text), &error);
  ASSERT_TRUE(compressed);
  for (std::size_t chunk : {1u, 5u, 7u, 4096u}) {
    auto decompressor = HTTPDataDecompressor::decompressor();
    std::string joined;
    for (std::size_t at = 0; at < compressed->length(); at += chunk) {
      std::size_t n = std::min(chunk, compressed->length() - at);
      auto part = decompressor->uncompressBytes(compressed->data() + at, n, &error);
      ASSERT_FALSE(error) << chunk;
      ASSERT_TRUE(part);
      joined.append(part->view());
    }
    EXPECT_TRUE(decompressor->streamEnded());
    EXPECT_EQ(joined, text) << chunk;
  }
}

TEST(GzipCompressors, HighlyCompressibleDataFillingTheBufferExactlyIsNoError) {
  // Zeros inflate to many times their size, so the output buffer fills (often exactly) many times.
  for (std::size_t size : {1000u, 65536u, 1u << 20}) {
    std::string zeros(size, '\0');
    EXPECT_EQ(roundTrip(zeros), zeros) << size;
  }
}

TEST(GzipCompressors, CorruptAndTruncatedStreamsAreErrors) {
  Ref<Error> error;
  HTTPDataDecompressor::uncompressData(Data::make("this is not gzip at all"), &error);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), "HTTPRequestErrorDomain");
  EXPECT_EQ(error->code(), 11);
  EXPECT_EQ(error->localizedDescription(), "Decompression of data failed with code -3");

  auto compressed = HTTPDataCompressor::compressData(Data::make(randomText(10000, 1)), &error);
  ASSERT_TRUE(compressed);
  error = nullptr;
  auto cut = Data::make(compressed->data(), compressed->length() - 10);
  EXPECT_FALSE(HTTPDataDecompressor::uncompressData(cut, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->localizedDescription(), "Decompression of data failed with code -5");
}

// Every member of a gzip body counts, in memory, chunk by chunk and file to file; bytes after the
// last member that do not begin another are damaged data, never a shorter success.
TEST(GzipCompressors, AllMembersInflateAndBytesAfterTheLastAreErrors) {
  Ref<Error> error;
  auto gzip = [](const std::string& text) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(compressBound(text.size()) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
  };
  std::string first = randomText(70000, 7), second = randomText(300, 8);
  std::string members = gzip(first) + gzip(second) + gzip("");
  struct Case {
    std::string body;
    std::optional<std::string> inflated;  // nullopt: an error
  } cases[] = {
      {members, first + second},
      {gzip(first) + "garbage", std::nullopt},
      {gzip(first) + std::string(8, '\0'), std::nullopt},
      {members.substr(0, members.size() - 30), std::nullopt},  // the second member cut short
      {zlibWrapped(first) + gzip(second), std::nullopt},     // a zlib stream is one stream
  };
  testing::TemporaryDirectory folder;
  int number = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(number++);
    error = nullptr;
    auto whole = HTTPDataDecompressor::uncompressData(Data::make(c.body), &error);
    EXPECT_EQ(whole ? std::optional<std::string>(std::string(whole->view())) : std::nullopt, c.inflated);
    EXPECT_EQ(static_cast<bool>(error), !c.inflated);

    // Byte by byte across the member boundaries.
    auto decompressor = HTTPDataDecompressor::decompressor();
    std::string chunked;
    bool ok = true;
    for (char byte : c.body) {
      ok = decompressor->inflateBytes(&byte, 1, [&](const std::uint8_t* b, std::size_t n) {
        chunked.append(reinterpret_cast<const char*>(b), n);
        return true;
      }, &error);
      if (!ok) break;
    }
    EXPECT_EQ(ok && decompressor->streamEnded(), static_cast<bool>(c.inflated));
    if (c.inflated) {
      EXPECT_EQ(chunked, *c.inflated);
    }

    auto source = folder / "in.gz", destination = folder / "out";
    testing::writeFile(source, c.body);
    EXPECT_EQ(HTTPDataDecompressor::uncompressDataFromFile(source.string(), destination.string(), &error),
              static_cast<bool>(c.inflated));
  }
}

TEST(GzipCompressors, FileToFileHandlesChunkBoundaries) {
  testing::TemporaryDirectory directory;
  // Exact multiples of the chunk size once ended without the gzip trailer.
  for (std::size_t size : {0u, 1u, 262143u, 262144u, 262145u, 524288u}) {
    auto source = directory / "source";
    auto packed = directory / "packed.gz";
    auto unpacked = directory / "unpacked";
    std::string text = randomText(size, static_cast<unsigned>(size + 1));
    testing::writeFile(source, text);
    Ref<Error> error;
    ASSERT_TRUE(HTTPDataCompressor::compressDataFromFile(source, packed, &error)) << size;
    if (size == 0) {
      EXPECT_EQ(testing::readFile(packed), "");
      continue;
    }
    // The compressed file is a complete stream on its own.
    auto inMemory = HTTPDataDecompressor::uncompressData(Data::make(testing::readFile(packed)), &error);
    ASSERT_TRUE(inMemory) << size << " " << (error ? error->localizedDescription() : "");
    EXPECT_EQ(inMemory->length(), size);
    ASSERT_TRUE(HTTPDataDecompressor::uncompressDataFromFile(packed, unpacked, &error)) << size;
    EXPECT_EQ(testing::readFile(unpacked), text) << size;
  }
}

TEST(GzipCompressors, FileErrorsNameThePaths) {
  testing::TemporaryDirectory directory;
  Ref<Error> error;
  std::string missing = directory / "missing";
  EXPECT_FALSE(HTTPDataCompressor::compressDataFromFile(missing, directory / "out", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 11);
  EXPECT_EQ(error->localizedDescription(), "Compression of " + missing + " failed the file does not exist");

  testing::writeFile(directory / "in", "x");
  std::string badTarget = directory / "no-such-folder" / "out";
  EXPECT_FALSE(HTTPDataDecompressor::uncompressDataFromFile(directory / "in", badTarget, &error));
  EXPECT_EQ(error->localizedDescription(), "Decompression of " + (directory / "in").string() +
                                               " failed because we were to create a file at " + badTarget);

  testing::writeFile(directory / "truncated.gz", "\x1f\x8b\x08");
  EXPECT_FALSE(HTTPDataDecompressor::uncompressDataFromFile(directory / "truncated.gz", directory / "out", &error));
  EXPECT_EQ(error->code(), 11);
}

TEST(GzipCompressors, InflationHandsOutBoundedWindowsWhateverTheRatio) {
  // 16 MiB of zeros compress to about 16 KB: one small chunk that inflates a thousandfold.
  const std::size_t size = std::size_t{16} << 20;
  Ref<Error> error;
  auto compressed = HTTPDataCompressor::compressData(Data::make(std::string(size, '\0')), &error);
  ASSERT_TRUE(compressed);
  ASSERT_LT(compressed->length(), size / 500);
  auto decompressor = HTTPDataDecompressor::decompressor();
  std::size_t total = 0;
  std::size_t largest = 0;
  bool allZero = true;
  ASSERT_TRUE(decompressor->inflateBytes(
      compressed->data(), compressed->length(),
      [&](const std::uint8_t* bytes, std::size_t length) {
        total += length;
        largest = std::max(largest, length);
        for (std::size_t i = 0; i < length; ++i) allZero &= bytes[i] == 0;
        return true;
      },
      &error));
  EXPECT_FALSE(error);
  EXPECT_TRUE(decompressor->streamEnded());
  EXPECT_EQ(total, size);
  EXPECT_TRUE(allZero);
  EXPECT_LE(largest, HTTPDataDecompressor::kInflateWindowSize);

  // A sink that says stop ends the work without calling it an error.
  auto stopped = HTTPDataDecompressor::decompressor();
  int calls = 0;
  EXPECT_FALSE(stopped->inflateBytes(compressed->data(), compressed->length(),
                                     [&](const std::uint8_t*, std::size_t) { return ++calls < 2; }, &error));
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(error);
  EXPECT_FALSE(stopped->streamEnded());
}

TEST(GzipCompressors, WholeBufferInflationStopsAtItsLimit) {
  const std::size_t size = std::size_t{4} << 20;
  Ref<Error> error;
  auto compressed = HTTPDataCompressor::compressData(Data::make(std::string(size, 'z')), &error);
  ASSERT_TRUE(compressed);
  EXPECT_FALSE(HTTPDataDecompressor::uncompressData(compressed, size - 1, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 11);
  EXPECT_EQ(error->localizedDescription(), "Decompression of data failed with code -4");
  error = nullptr;
  auto exact = HTTPDataDecompressor::uncompressData(compressed, size, &error);
  ASSERT_TRUE(exact);
  EXPECT_FALSE(error);
  EXPECT_EQ(exact->length(), size);
  EXPECT_LE(exact->bytes().capacity(), size);

  // Without a gzip trailer nothing tells the size beforehand: the buffer grows, but never past
  // the limit.
  const std::size_t odd = (std::size_t{3} << 20) + 12345;
  std::string packed = zlibWrapped(std::string(odd, 'q'));
  for (std::size_t limit : {odd, odd + 1000, std::size_t{4} << 20}) {
    auto grown = HTTPDataDecompressor::uncompressData(Data::make(packed), limit, &error);
    ASSERT_TRUE(grown);
    EXPECT_EQ(grown->length(), odd);
    EXPECT_LE(grown->bytes().capacity(), limit) << limit;
  }
}

TEST(GzipCompressors, FileInflationOfAHighRatioStreamIsComplete) {
  testing::TemporaryDirectory directory;
  const std::size_t size = std::size_t{24} << 20;
  Ref<Error> error;
  auto compressed = HTTPDataCompressor::compressData(Data::make(std::string(size, '\0')), &error);
  ASSERT_TRUE(compressed);
  testing::writeFile(directory / "zeros.gz", std::string(compressed->view()));
  ASSERT_TRUE(HTTPDataDecompressor::uncompressDataFromFile(directory / "zeros.gz", directory / "zeros", &error));
  EXPECT_EQ(std::filesystem::file_size(directory / "zeros"), size);
}

}  // namespace
}  // namespace zv

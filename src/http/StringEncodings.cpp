#include "http/StringEncodings.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <vector>

namespace zv {

namespace {

struct KnownEncoding {
  unsigned number;
  const char* charset;  // the IANA name given out
  const char* converter;  // iconv's name
};

constexpr KnownEncoding kKnownEncodings[] = {
    {kASCIIStringEncoding, "us-ascii", "ASCII"},
    {kJapaneseEUCStringEncoding, "euc-jp", "EUC-JP"},
    {4, "utf-8", "UTF-8"},
    {5, "iso-8859-1", "ISO-8859-1"},
    {kShiftJISStringEncoding, "shift_jis", "SHIFT_JIS"},
    {kISOLatin2StringEncoding, "iso-8859-2", "ISO-8859-2"},
    {kUnicodeStringEncoding, "utf-16", "UTF-16BE"},
    {kWindowsCP1251StringEncoding, "windows-1251", "WINDOWS-1251"},
    {kWindowsCP1252StringEncoding, "windows-1252", "WINDOWS-1252"},
    {13, "windows-1253", "WINDOWS-1253"},
    {14, "windows-1254", "WINDOWS-1254"},
    {15, "windows-1250", "WINDOWS-1250"},
    {21, "iso-2022-jp", "ISO-2022-JP"},
    {30, "macintosh", "MACINTOSH"},
    {kUTF16BigEndianStringEncoding, "utf-16be", "UTF-16BE"},
    {kUTF16LittleEndianStringEncoding, "utf-16le", "UTF-16LE"},
};

constexpr std::pair<const char*, unsigned> kAliases[] = {
    {"utf8", 4}, {"latin1", 5}, {"iso_8859-1", 5}, {"iso8859-1", 5}, {"ascii", 1},
    {"us", 1},   {"cp1252", 12}, {"cp1251", 11}, {"sjis", 8}, {"x-sjis", 8}, {"ucs-2", 10},
};

const KnownEncoding* find(unsigned encoding) {
  for (const auto& known : kKnownEncodings) {
    if (known.number == encoding) return &known;
  }
  return nullptr;
}

class Converter {
 public:
  Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
  ~Converter() {
    if (valid()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much as it can; returns the errno that stopped it (0 at the end of the input).
  int convert(std::string_view& input, std::string& output) {
    char buffer[4096];
    while (!input.empty()) {
      char* in = const_cast<char*>(input.data());
      std::size_t inLeft = input.size();
      char* out = buffer;
      std::size_t outLeft = sizeof buffer;
      std::size_t result = iconv(handle_, &in, &inLeft, &out, &outLeft);
      int failure = result == static_cast<std::size_t>(-1) ? errno : 0;
      output.append(buffer, static_cast<std::size_t>(out - buffer));
      input.remove_prefix(input.size() - inLeft);
      if (failure != 0 && failure != E2BIG) return failure;
    }
    // Flush any shift state (stateful encodings end in their initial state).
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(handle_, nullptr, nullptr, &out, &outLeft);
    output.append(buffer, static_cast<std::size_t>(out - buffer));
    return 0;
  }

 private:
  iconv_t handle_;
};

// The length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t sequenceLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

}  // namespace

std::optional<std::string> charsetNameForStringEncoding(unsigned encoding) {
  if (const auto* known = find(encoding)) return std::string(known->charset);
  return std::nullopt;
}

std::optional<unsigned> stringEncodingForCharsetName(std::string_view name) {
  std::string lowered(name);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const auto& known : kKnownEncodings) {
    if (lowered == known.charset) return known.number;
  }
  for (const auto& [alias, number] : kAliases) {
    if (lowered == alias) return number;
  }
  return std::nullopt;
}

std::optional<std::string> encodeString(std::string_view utf8, unsigned encoding) {
  const auto* known = find(encoding);
  if (!known) return std::nullopt;
  Converter converter(known->converter, "UTF-8");
  if (!converter.valid()) return std::nullopt;
  std::string output;
  std::string_view input = utf8;
  while (true) {
    int failure = converter.convert(input, output);
    if (failure == 0) return output;
    if (failure != EILSEQ) return std::nullopt;  // cut short: not UTF-8
    // A character the encoding cannot hold (or a bad UTF-8 sequence, refused below) gives way to
    // a question mark in the encoding.
    std::size_t skip = std::min(sequenceLength(static_cast<unsigned char>(input.front())), input.size());
    Converter probe("UTF-32LE", "UTF-8");
    std::string_view character = input.substr(0, skip);
    std::string ignored;
    if (!probe.valid() || probe.convert(character, ignored) != 0) return std::nullopt;
    std::string_view mark = "?";
    if (converter.convert(mark, output) != 0) return std::nullopt;
    input.remove_prefix(skip);
  }
}

std::optional<std::string> decodeString(std::string_view bytes, unsigned encoding) {
  const auto* known = find(encoding);
  if (!known) return std::nullopt;
  const char* from = known->converter;
  if (encoding == kUnicodeStringEncoding && bytes.size() >= 2) {
    auto first = static_cast<unsigned char>(bytes[0]);
    auto second = static_cast<unsigned char>(bytes[1]);
    if (first == 0xFE && second == 0xFF) {
      bytes.remove_prefix(2);
    } else if (first == 0xFF && second == 0xFE) {
      bytes.remove_prefix(2);
      from = "UTF-16LE";
    }
  }
  Converter converter("UTF-8", from);
  if (!converter.valid()) return std::nullopt;
  std::string output;
  if (converter.convert(bytes, output) != 0) return std::nullopt;
  return output;
}

}  // namespace zv

#pragma once
// The text helpers every sharer uses: localized texts from "Sharing.bundle", form and URL
// escaping, and HTML stripping; plus the small helpers on platform values the service sharers
// share (MD5 of bytes, nulls to empty strings, cookies of a URL).
//
// Formats use "%@", "%s", "%d", "%i", "%u", "%ld", "%lu", "%lld", "%llu" (each takes the next
// argument, already a text) and "%%"; arguments are converted with std::to_string or taken as
// text. Threads: any (the bundle is opened once under a lock).

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/foundation/Values.h"

namespace zv {

// The localized text of `key` in Sharing.bundle; the key itself when no table has it.
std::string SXBundleText(std::string_view key);

// Substitutes the arguments for the format's conversions, in order.
std::string SXFormatText(std::string_view format, const std::vector<std::string>& arguments);

namespace detail {
inline std::string sxTextArgument(std::string_view text) { return std::string(text); }
inline std::string sxTextArgument(const char* text) { return text ? text : "(null)"; }
inline std::string sxTextArgument(const std::string& text) { return text; }
inline std::string sxTextArgument(const std::optional<std::string>& text) { return text ? *text : "(null)"; }
template <class T>
  requires std::is_arithmetic_v<T>
std::string sxTextArgument(T value) {
  return std::to_string(value);
}
}  // namespace detail

// Looks the key (an English text, possibly a format) up with SXBundleText, then formats it.
template <class... Arguments>
std::string SXLocalizedText(std::string_view key, const Arguments&... arguments) {
  return SXFormatText(SXBundleText(key), {detail::sxTextArgument(arguments)...});
}

// Form-body escaping: nullopt gives ""; otherwise UTF-8 percent escaping in which "&", "+", "#",
// "!" and "@" are escaped too. A literal "&amp;" stays literal text (escaped, never unescaped).
std::string SXFormEscape(const std::optional<std::string>& text);
// The URL's absolute string with every byte but letters, digits and "-._~" escaped; nullptr
// gives "".
std::string SXURLEscape(const Ref<URL>& url);
// Replaces every tag ("<" up to the next ">") with one blank, in one pass over the text; without
// `keepLineBreaks` removes every newline too; then trims blanks and tabs at both ends.
std::string SXStripHTML(std::string_view text, bool keepLineBreaks);

// The MD5 digest of the bytes as 32 lower-case hexadecimal digits.
std::string SXMD5(const Data& data);
// Replaces every Null value by the empty string, descending into dictionary values in place.
void convertNullsToEmptyStrings(MutableDictionary& dictionary);
// Deletes from the shared cookie store every cookie it holds for the URL.
void deleteCookiesForURL(const Ref<URL>& url);

}  // namespace zv

#pragma once
// Percent-encoding as OAuth 1.0a signs it: UTF-8 bytes, everything but A-Z, a-z, 0-9 and "-._~"
// written as "%" and two upper-case hexadecimal digits. Both OAuth request builders and the
// note-service login share these; they are pure functions, callable from any thread.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/URL.h"
#include "platform/foundation/Values.h"

namespace zv::oauth_encoding {

// The percent-encoded text.
std::string URLEncodedString(std::string_view text);
// Every "%XX" escape replaced, read as UTF-8 ("+" stays "+"); a "%" that does not start a valid
// escape ("%zz", a trailing "%") stays as it is. nullopt when the bytes are not UTF-8.
std::optional<std::string> URLDecodedString(std::string_view text);
// The builder's name for the same encoding.
inline std::string pcen(std::string_view text) { return URLEncodedString(text); }

// Visits the pieces of "a=1&b=2" in order, each split at its first "=" (a piece without "=" has
// the empty value; a further "=" and what follows it are dropped). Values are given as written.
void forEachFormPair(std::string_view source,
                     const std::function<void(std::string_view name, std::string_view value)>& visit);

// The name=value pairs of a query string ("a=1&b=2"), both decoded; a later name replaces an
// earlier one. Pieces without exactly one "=" are left out, and so are pairs whose escapes do not
// decode to UTF-8 (counted in `undecodable` when given).
Ref<MutableDictionary> parametersFromQueryString(std::string_view query, std::size_t* undecodable = nullptr);

// The URL's absolute text up to, not including, the first "?".
std::string URLStringWithoutQuery(const URL& url);

}  // namespace zv::oauth_encoding

#pragma once
// Small helpers of the sharers that send the user's own credentials with their
// calls (bookmark, reading-list and blog sharers): strict escaping of values
// written into URLs and form bodies, reading the status and header fields of a
// finished SXRequest, and the common login check.
//
// Threads: main thread (the sharers' thread).

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sharing/core/SXRequest.h"
#include "sharing/core/SXSharer.h"

namespace zv::credentials {

// Percent-escapes every byte but letters, digits and "-._~": safe in a URL's
// user information, path, query and in a form body ("/", "?", ":", "@", "&",
// "=", "+", "#" all escaped).
std::string escape(std::string_view text);
inline std::string escape(const std::string& text) { return escape(std::string_view(text)); }
inline std::string escape(const char* text) { return escape(std::string_view(text)); }
inline std::string escape(const std::optional<std::string>& text) {
  return text ? escape(std::string_view(*text)) : std::string();
}

// The login form of a service that knows its users by e-mail address: "Email" ("email") and
// "Password" ("password").
std::vector<Ref<SXFormFieldSettings>> emailLoginFields();

// A POST of the URL-encoded form `body` (with its Content-Type), started at
// once when `autostart`.
Ref<SXRequest> postForm(Ref<URL> url, std::string body, ObjectPtr delegate, SXRequestFinishedCallback finished,
                        bool autostart = true);

// The HTTP status of a finished request; 0 when no response came.
int statusOf(const Ref<SXRequest>& request);
// A reply header field, its name compared without case; nullopt when absent.
std::optional<std::string> headerOf(const Ref<SXRequest>& request, std::string_view name);

// The shared login check: unless quiet shows "Logging In...", keeps `form` as
// the pending form and starts `request` (made by `makeRequest` with the
// sharer's finish callback), kept as the sharer's request. `finished` runs with
// the request when it ends, after the indicator is hidden, but only while the
// check is still the sharer's: after a Cancel of the form (or a newer check) the
// answer is dropped without a word. The check is the service's SXLoginAttempt: a
// logout while it runs drops its answer and reports the login failed.
void startLoginCheck(SXSharer& sharer, SXFormController& form,
                     const std::function<Ref<SXRequest>(SXRequestFinishedCallback)>& makeRequest,
                     std::function<void(const Ref<SXRequest>&)> finished);

// The login check of a service that answers a posted form: startLoginCheck with postForm(url,
// body). When it ends the sharer lets the request go; a success saves the pending form, anything
// else runs `refused` (the service's own alert), and authDidFinish reports the outcome.
void startFormLoginCheck(SXSharer& sharer, SXFormController& form, Ref<URL> url, std::string body,
                         std::function<void(const Ref<SXRequest>&)> refused);

// Posts the form `body` to `url` as the sharer's request and reports the send started; YES.
bool startFormSend(SXSharer& sharer, Ref<URL> url, std::string body, SXRequestFinishedCallback finished);

}  // namespace zv::credentials

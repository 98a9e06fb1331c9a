#pragma once
// Posts to the user's Tumblr blog through the service's write API, which takes
// the user's e-mail address and password with every post. Text goes as a
// "regular" post, a link as "link", "audio" or "video", both as URL-encoded
// forms through SXRequest; an image goes as a "photo" post in a multipart body
// on a URL connection of its own.
//
// Every form value is escaped and no multipart value can open a part of its
// own: the boundary is the service's usual one unless some value holds it, then
// it is lengthened until none does.
//
// Threads: main thread; requests and the connection call back on the main run
// loop. Ownership: the running request or connection keeps the sharer alive
// until it has ended.

#include <optional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/net/URLConnection.h"
#include "sharing/core/SXRequest.h"
#include "sharing/core/SXSharer.h"

namespace zv {

class SXTumblr : public SXSharer, public net::URLConnectionDelegate {
 public:
  static constexpr const char* kBoundary = "0xKhTmLbOuNdArY";

  std::string sharerTitle() const override { return "Tumblr"; }
  bool canShareURL() const override { return true; }
  bool canShareText() const override { return true; }
  bool canShareImage() const override { return true; }
  bool canShare() const override { return true; }
  bool canAutoShare() const override { return false; }
  std::optional<std::string> authorizationFormCaption() const override;
  std::vector<Ref<SXFormFieldSettings>> authorizationFormFields() const override;

  void authorizationFormValidate(SXFormController& form) override;
  std::vector<Ref<SXFormFieldSettings>> shareFormFieldsForType(std::int32_t type) override;
  bool send() override;
  void sendFinished(const Ref<SXRequest>& request);
  // The item's image as JPEG at quality 0.9; nullptr without an image.
  Ref<Data> generateImageData() const;

  // The form body of a text or link post.
  std::string formBody() const;
  // The multipart body of a photo post for `jpeg`, and the boundary it uses.
  std::string multipartBody(const Data& jpeg, std::string* boundary) const;

  // Redirects follow SXRequest's rule: the photo post carries the password.
  Ref<net::URLRequest> connectionWillSendRequestRedirectResponse(net::URLConnection& connection,
                                                                const Ref<net::URLRequest>& request,
                                                                const Ref<net::URLResponse>& redirectResponse) override;
  void connectionDidReceiveResponse(net::URLConnection&, const Ref<net::URLResponse>& response) override;
  void connectionDidReceiveData(net::URLConnection&, const Ref<Data>& data) override;
  void connectionDidFinishLoading(net::URLConnection&) override;
  void connectionDidFailWithError(net::URLConnection&, const Ref<Error>& error) override;
  bool respondsToSelector(std::string_view selector) const override {
    return selector == "connectionWillSendRequestRedirectResponse" || NavigationController::respondsToSelector(selector);
  }
  void finish();

  static void registerClass();

 private:
  bool sendPhoto();

  Ref<MutableData> data_;
  Ref<net::HTTPURLResponse> response_;
  Ref<net::URLConnection> connection_;
  bool redirectRefused_ = false;
  bool loadFailed_ = false;  // the connection failed (after an answer began, maybe)
  bool tooLong_ = false;     // ... because the answer passed the connection's bound
};

}  // namespace zv

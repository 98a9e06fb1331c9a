#include "support/sharing/EchoSharer.h"

#include "platform/foundation/Log.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/oauth/Base64.h"

namespace zv::testing {

void EchoSharer::registerClass() { SXSharer::registerSharerClass<EchoSharer>(); }

void EchoSharer::authorizationFormValidate(SXFormController& form) {
  auto values = form.formValues();
  if (values->stringForKey("username").value_or("").empty() || values->stringForKey("password").value_or("").empty()) {
    authShowBadCredentialsAlert();
    return;
  }
  form.saveForm();
}

bool EchoSharer::send() {
  if (!validateItem()) return false;
  auto base = SXConfigString("echoServiceURL");
  auto user = getAuthValueForKey("username");
  auto password = getAuthValueForKey("password");
  if (!base || !user || !password) return false;

  auto request = net::MutableURLRequest::requestWithURL(URL::make(*base + "/post"));
  request->setHTTPMethod("POST");
  request->setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
  request->setValueForHTTPHeaderField("Basic " + base64::base64EncodedString(*Data::make(*user + ":" + *password)),
                                      "Authorization");
  std::string body = "title=" + SXFormEscape(item()->title);
  if (item()->shareType == SXShareTypeURL) {
    body += "&url=" + SXFormEscape(item()->url->absoluteString());
  } else {
    body += "&text=" + SXFormEscape(item()->text);
  }
  request->setHTTPBody(Data::make(body));

  status_ = 0;
  body_.clear();
  connection_ = net::URLConnection::make(request, std::dynamic_pointer_cast<net::URLConnectionDelegate>(self()));
  if (!connection_) return false;
  sendDidStart();
  return true;
}

void EchoSharer::connectionDidReceiveResponse(net::URLConnection&, const Ref<net::URLResponse>& response) {
  if (auto http = dyn<net::HTTPURLResponse>(response)) status_ = http->statusCode();
}

void EchoSharer::connectionDidReceiveData(net::URLConnection&, const Ref<Data>& data) { body_ += data->view(); }

void EchoSharer::connectionDidFinishLoading(net::URLConnection&) {
  connection_.reset();
  if (status_ == 200) {
    sendDidFinish();
  } else if (status_ == 401) {
    // The stored login no longer works: ask for a new one and send again afterwards.
    shouldReloginWithPendingAction(SXPendingActionSend);
  } else {
    log(LogLevel::Debug, "EchoSharer: the service answered " + std::to_string(status_));
    sendShowSimpleErrorAlert();
  }
}

void EchoSharer::connectionDidFailWithError(net::URLConnection&, const Ref<Error>& error) {
  connection_.reset();
  sendDidFailWithError(error);
}

}  // namespace zv::testing

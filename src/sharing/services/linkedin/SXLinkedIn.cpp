#include "sharing/services/linkedin/SXLinkedIn.h"

#include "platform/foundation/String.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXText.h"
#include "sharing/core/SXXMLResponseParser.h"
#include "sharing/core/oauth/OCAsynchronousDataFetcher.h"
#include "sharing/services/html/HTMLAdditions.h"

namespace zv {

void SXLinkedIn::registerClass() { SXSharer::registerSharerClass<SXLinkedIn>("SXOAuthSharer"); }

void SXLinkedIn::init() {
  SXOAuthSharer::init();
  setConsumerKey(SXConfigString("linkedInConsumerKey").value_or(""));
  setSecretKey(SXConfigString("linkedInSecret").value_or(""));
  if (auto callback = SXConfigString("linkedInCallbackUrl"); callback && !callback->empty()) {
    setAuthorizeCallbackURL(URL::make(*callback));
  }
  setRequestURL(URL::make(std::string("https://") + kAPIHost + "/uas/oauth/requestToken"));
  setAuthorizeURL(URL::make(std::string("https://") + kWebHost + "/uas/oauth/authorize"));
  setAccessURL(URL::make(std::string("https://") + kAPIHost + "/uas/oauth/accessToken"));
  setSignatureProvider(OCHMAC_SHA1SignatureProvider::make());
}

void SXLinkedIn::tokenAccessModifyRequest(OCMutableURLRequest& request) {
  // The callback is signed into the access-token request (and named in its header) when one is
  // configured; an empty one is left out of both.
  if (auto callback = authorizeCallbackURL(); callback && !callback->absoluteString().empty()) {
    request.setOAuthParameterName("oauth_callback", callback->absoluteString());
  }
  addAuthorizeVerifier(request);
}

void SXLinkedIn::show() {
  if (item()->shareType == SXShareTypeURL || item()->shareType == SXShareTypeText) showSXTextForm();
}

void SXLinkedIn::showSXTextForm() {
  auto form = std::make_shared<SXCustomFormControllerLargeTextField>(
      std::dynamic_pointer_cast<SXFormControllerLargeTextFieldDelegate>(self()));
  if (item()->shareType == SXShareTypeURL) {
    form->setText(item()->title);
    form->setHasLink(true);
  } else {
    form->setText(item()->text);
  }
  form->setMaxTextLength(kCommentLimit);
  navigationBar()->setTintColor(dyn<graphics::Color>(SXConfigValue("barTintForView:", self())));
  pushViewController(form, false);
  SX::currentHelper()->showViewController(selfAs<SXSharer>());
}

void SXLinkedIn::sendForm(SXFormControllerLargeTextField& form) {
  std::string text = form.textView() ? form.textView()->text() : form.text().value_or("");
  if (item()->shareType == SXShareTypeURL) {
    item()->title = text;
  } else {
    item()->text = text;
  }
  tryToSend();
}

bool SXLinkedIn::validateItem() {
  if (!SXOAuthSharer::validateItem()) return false;
  return item()->shareType != SXShareTypeURL || item()->title.has_value();
}

std::string SXLinkedIn::escapeXML(const std::string& text) { return html::xml_stringByEscaping(text); }

std::string SXLinkedIn::shareBody() const {
  const bool link = item()->shareType == SXShareTypeURL;
  std::string comment = escapeXML((link ? item()->title : item()->text).value_or(""));
  std::string content;
  if (link && item()->url) {
    content = "<content><submitted-url>" + escapeXML(item()->url->absoluteString()) + "</submitted-url></content>";
  }
  std::string visibility = item()->customValueForKey("visibility.code").value_or("anyone");
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><share><comment>" + comment + "</comment>" + content +
         "<visibility><code>" + escapeXML(visibility) + "</code></visibility></share>";
}

bool SXLinkedIn::send() {
  if (!validateItem()) return false;
  if (item()->shareType != SXShareTypeURL && item()->shareType != SXShareTypeText) return false;
  auto request = OCMutableURLRequest::make(URL::make(std::string("https://") + kAPIHost + "/v1/people/~/shares"),
                                           consumer(), accessToken(), std::nullopt, signatureProvider());
  request->setHTTPMethod("POST");
  // Signed before the body goes in: an XML body has no parameters to sign.
  request->prepare();
  request->setHTTPBody(Data::make(shareBody()));
  request->setValueForHTTPHeaderField("text/xml;charset=UTF-8", "Content-Type");
  auto self = selfAs<SXLinkedIn>();
  auto fetcher = OCAsynchronousDataFetcher::asynchronousFetcherWithRequest(
      request, self,
      [self](const Ref<OCServiceTicket>& t, const Ref<Data>& d) { self->sendTicketDidFinishWithData(t, d); },
      [self](const Ref<OCServiceTicket>& t, const Ref<Error>& e) { self->sendTicketDidFailWithError(t, e); });
  sendDidStart();
  fetcher->start();
  return true;
}

void SXLinkedIn::sendTicketDidFinishWithData(const Ref<OCServiceTicket>& ticket, const Ref<Data>& data) {
  if (ticket && ticket->didSucceed()) {
    shareEnded();
    sendDidFinish();
    return;
  }
  auto status = dyn<String>(SXXMLResponseParser::getValueForElement("status", data));
  if (status && status->utf8() == "401") {
    accessTokenRefused(SX::error(SXLocalizedText("Could not authenticate you. Please relogin.")));
    return;
  }
  shareEnded();
  sendDidFailWithErrorShouldRelogin(
      SX::error(SXLocalizedText("The service encountered an error. Please try again later.")), false);
}

void SXLinkedIn::sendTicketDidFailWithError(const Ref<OCServiceTicket>&, const Ref<Error>& error) {
  shareEnded();
  sendDidFailWithErrorShouldRelogin(error ? error : SX::error(SXLocalizedText("There was an error while sharing")),
                                    false);
}

}  // namespace zv

#include "sharing/services/flickr/SXFlickr.h"

#include "platform/foundation/WeakReference.h"

#include <set>

#include "platform/foundation/Array.h"
#include "platform/foundation/String.h"
#include "platform/graphics/Image.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXActivityIndicator.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXText.h"
#include "sharing/services/flickr/FKXMLMapper.h"

namespace zv {

namespace {

constexpr double kFlickrRequestTimeout = 60.0;

bool isStep(const ObjectPtr& info, const char* step) {
  auto text = std::dynamic_pointer_cast<String>(info);
  return text && text->utf8() == step;
}

bool isInvalidToken(const Ref<Error>& error) {
  return error && error->domain() == kFlickrServiceErrorDomain && error->code() == kFlickrInvalidTokenCode;
}

}  // namespace

void SXFlickr::registerClass() { SXSharer::registerSharerClass<SXFlickr>(); }

bool SXFlickr::respondsToSelector(std::string_view selector) const {
  static const std::set<std::string_view> answered = {"flickrAPIRequestDidCompleteWithResponse",
                                                      "flickrAPIRequestDidFailWithError"};
  return answered.contains(selector) || SXSharer::respondsToSelector(selector);
}

const Ref<FlickrAPIContext>& SXFlickr::flickrContext() {
  if (!flickrContext_) {
    flickrContext_ = FlickrAPIContext::initWithAPIKey(SXConfigString("flickrConsumerKey").value_or(""),
                                                      SXConfigString("flickrSecretKey").value_or(""));
    if (auto token = getAuthValueForKey(kSXFlickrAuthTokenKey)) flickrContext_->setAuthToken(*token);
  }
  return flickrContext_;
}

const Ref<FlickrAPIRequest>& SXFlickr::flickrRequest() {
  if (!flickrRequest_) {
    flickrRequest_ = FlickrAPIRequest::initWithAPIContext(flickrContext());
    flickrRequest_->setDelegate(selfAs<SXFlickr>());
    flickrRequest_->setRequestTimeoutInterval(kFlickrRequestTimeout);
  }
  return flickrRequest_;
}

bool SXFlickr::startStep(const char* step, const std::function<bool(FlickrAPIRequest&)>& call) {
  auto& request = flickrRequest();
  // The tag names the running call's step: a step that cannot start (one call at a time) leaves it.
  if (request->isRunning()) return false;
  request->setSessionInfo(String::make(step));
  if (!call(*request)) {
    request->setSessionInfo(nullptr);
    return false;
  }
  keepAlive_ = self();
  return true;
}

bool SXFlickr::isAuthorized() { return !flickrContext()->authToken().empty(); }

void SXFlickr::authorizationFormShow() {
  // The page and the token fetch after it are the service's current login: a logout drops both.
  beginLoginAttempt([](SXSharer& sharer) { static_cast<SXFlickr&>(sharer).loginAbandoned(); });
  auto url = flickrContext()->loginURLFromFrobDictionary(nullptr, "write");
  auto view = SXOAuthView::initWithURL(url, selfAs<SXFlickr>());
  SX::currentHelper()->showViewController(view, [view] { view->takenAway(); });
}

Ref<URL> SXFlickr::authorizeCallbackURL() const {
  return URL::make(SXConfigString("flickrCallbackUrl").value_or(""));
}

void SXFlickr::tokenAuthorizeViewDidFinishWithSuccessQueryParamsError(SXOAuthView&, bool success,
                                                                      const Ref<Dictionary>& queryParams,
                                                                      const Ref<Error>& error) {
  if (!loginAttempt() || !loginAttempt()->isCurrent()) return;
  auto hold = self();
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  const auto frob = queryParams ? queryParams->stringForKey("frob").value_or("") : std::string();
  bool started = false;
  if (success && !frob.empty()) {
    if (!quiet()) SXActivityIndicator::currentIndicator()->displayActivity(SXLocalizedText("Logging In..."));
    auto arguments = Dictionary::make({{"frob", String::make(frob)}});
    started = startStep(kGetAuthTokenStep,
                        [&](FlickrAPIRequest& request) { return request.callAPIMethodWithGET("flickr.auth.getToken", arguments.get()); });
    if (!started) SXActivityIndicator::currentIndicator()->hide();
  }
  if (started) return;  // the login ends with the token's answer
  endLoginAttempt();
  setPendingAction(SXPendingActionNone);
  showAlert(SXLocalizedText("Authorize Error"),
            error ? error->localizedDescription() : SXLocalizedText("There was an error while authorizing"));
  authDidFinish(false);
}

void SXFlickr::tokenAuthorizeCancelledView(SXOAuthView&) {
  if (!loginAttempt() || !loginAttempt()->isCurrent()) return;
  auto hold = self();
  endLoginAttempt();
  setPendingAction(SXPendingActionNone);
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  authDidFinish(false);
}

void SXFlickr::loginAbandoned() {
  auto hold = self();
  SXOAuthView::dismissPageOf(*this);
  if (flickrRequest_ && isStep(flickrRequest_->sessionInfo(), kGetAuthTokenStep)) {
    flickrRequest_->cancel();
    flickrRequest_->setSessionInfo(nullptr);
    keepAlive_ = nullptr;
    SXActivityIndicator::currentIndicator()->hide();
  }
  setPendingAction(SXPendingActionNone);
  authDidFinish(false);
}

void SXFlickr::logout() {
  SX::removeAuthValueForKey(kSXFlickrAuthTokenKey, sharerId());
  if (flickrContext_) flickrContext_->setAuthToken("");
  deleteCookiesForURL(URL::make(std::string("https://") + kFlickrWebHost + "/services/auth/"));
}

void SXFlickr::setAndStoreFlickrAuthToken(const std::string& token) {
  if (token.empty()) return logout();
  flickrContext()->setAuthToken(token);
  SX::setAuthValue(token, kSXFlickrAuthTokenKey, sharerId());
}

std::vector<Ref<SXFormFieldSettings>> SXFlickr::shareFormFieldsForType(std::int32_t type) {
  if (type != SXShareTypeImage) return SXSharer::shareFormFieldsForType(type);
  auto picker = MutableDictionary::make({{"title", String::make(SXLocalizedText("Flickr Groups"))},
                                         {"curIndexes", String::make("-1")},
                                         {"itemsList", Array::make()},
                                         {"static", box(false)},
                                         {"allowMultiple", box(true)}});
  // Weak: the sharer's own form holds these rows, so a strong link would keep both alive for good.
  picker->setObject(WeakReference::make(self()), "SXFormOptionControllerOptionProvider");
  return {SXFormFieldSettings::make(SXLocalizedText("Title"), "title", SXFormFieldTypeText, item()->title),
          SXFormFieldSettings::make(SXLocalizedText("Description"), "description", SXFormFieldTypeText, item()->text),
          SXFormFieldSettings::make(SXLocalizedText("Tag (space) Tag"), "tags", SXFormFieldTypeText, item()->tags),
          SXFormFieldSettings::make(SXLocalizedText("Is Public"), "is_public", SXFormFieldTypeSwitch, "1"),
          SXFormFieldSettings::make(SXLocalizedText("Is Friend"), "is_friend", SXFormFieldTypeSwitch, "1"),
          SXFormFieldSettings::make(SXLocalizedText("Is Family"), "is_family", SXFormFieldTypeSwitch, "1"),
          SXFormFieldSettings::make(SXLocalizedText("Post To Groups"), kGroupIdsKey, SXFormFieldTypeOptionPicker,
                                    std::nullopt, picker, SXLocalizedText("Select Group"))};
}

bool SXFlickr::send() {
  if (!item()->customValueForKey("is_public")) return false;
  if (flickrUserName_.empty()) {
    if (!quiet()) SXActivityIndicator::currentIndicator()->displayActivity(SXLocalizedText("Logging In..."));
    if (!startStep(kCheckTokenStep, [](FlickrAPIRequest& r) { return r.callAPIMethodWithGET("flickr.auth.checkToken", nullptr); })) {
      SXActivityIndicator::currentIndicator()->hide();
      sendDidFailWithError(SX::error(SXLocalizedText("There was an error while sharing")));
    }
  } else {
    sendPhoto();
  }
  return true;
}

Ref<Data> SXFlickr::generateImageData() const { return graphics::imageJPEGRepresentation(item()->image, 0.9); }

void SXFlickr::sendPhoto() {
  sendDidStart();
  auto value = [&](const char* key) { return item()->customValueForKey(key).value_or(""); };
  const auto title = item()->title.value_or("");
  auto arguments = Dictionary::make({{"title", String::make(title.empty() ? "photo" : title)},
                                     {"description", String::make(value("description"))},
                                     {"tags", String::make(item()->tags.value_or(""))},
                                     {"is_public", String::make(value("is_public") == "1" ? "1" : "0")},
                                     {"is_friend", String::make(value("is_friend") == "1" ? "1" : "0")},
                                     {"is_family", String::make(value("is_family") == "1" ? "1" : "0")}});
  auto jpeg = generateImageData();
  const bool started = jpeg && startStep(kUploadImageStep, [&](FlickrAPIRequest& request) {
    return request.uploadImageStream(net::InputStream::withData(jpeg), title, "image/jpeg", arguments.get());
  });
  if (!started) sendDidFailWithError(SX::error(SXLocalizedText("There was an error while sharing")));
}

void SXFlickr::noteUserName(const Ref<Dictionary>& response) {
  if (auto name = std::dynamic_pointer_cast<String>(FKValueForKeyPath(response, "auth.user.username"))) {
    flickrUserName_ = name->utf8();
  }
}

Ref<Dictionary> SXFlickr::groupWithId(const std::string& id) const {
  if (!fullOptionsData_) return nullptr;
  for (const auto& entry : *fullOptionsData_) {
    auto group = std::dynamic_pointer_cast<Dictionary>(entry);
    if (group && group->stringForKey("nsid").value_or("") == id) return group;
  }
  return nullptr;
}

std::vector<SXFlickr::GroupTarget> SXFlickr::groupTargets() const {
  std::vector<GroupTarget> targets;
  if (auto ids = item()->customValueForKey(kGroupIdsKey); ids && *ids != "-1") {
    for (auto& id : SXFormFieldSettings::splitOptionIds(*ids)) {
      auto group = groupWithId(id);
      auto name = group ? group->stringForKey("name").value_or(id) : id;
      targets.push_back({std::move(id), std::move(name)});
    }
    return targets;
  }
  // Names joined by ",": a name may hold "," itself, so the longest run of pieces that names a
  // group is taken first. A name no group (or more than one group) has goes without an id and is
  // reported, never sent to a group the user did not pick.
  const auto names = item()->customValueForKey(kGroupNamesKey);
  if (!names || names->empty() || *names == "-1") return targets;
  if (!fullOptionsData_) return {{std::string(), *names}};
  std::vector<std::string> pieces;
  for (std::size_t start = 0;;) {
    const auto comma = names->find(',', start);
    pieces.push_back(names->substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  for (std::size_t i = 0; i < pieces.size();) {
    std::size_t taken = 0;
    std::vector<Ref<Dictionary>> named;
    std::string run;
    for (std::size_t j = i; j < pieces.size(); ++j) {
      run += (j == i ? "" : ",") + pieces[j];
      std::vector<Ref<Dictionary>> matches;
      for (const auto& entry : *fullOptionsData_) {
        auto group = std::dynamic_pointer_cast<Dictionary>(entry);
        if (group && group->stringForKey("name") == run) matches.push_back(group);
      }
      if (!matches.empty()) {
        taken = j - i + 1;
        named = std::move(matches);
      }
    }
    if (taken == 0) {
      targets.push_back({std::string(), pieces[i]});
      ++i;
      continue;
    }
    std::string name = pieces[i];
    for (std::size_t j = i + 1; j < i + taken; ++j) name += "," + pieces[j];
    targets.push_back({named.size() == 1 ? named[0]->stringForKey("nsid").value_or("") : std::string(), name});
    i += taken;
  }
  return targets;
}

void SXFlickr::startGroupPosts() {
  groupTargets_ = groupTargets();
  postGroupCurIndex_ = 0;
  refusedGroups_.clear();
  postToNextGroup();
}

void SXFlickr::postToNextGroup() {
  while (postGroupCurIndex_ < groupTargets_.size()) {
    const auto& target = groupTargets_[postGroupCurIndex_++];
    if (!target.id.empty()) {
      auto arguments = Dictionary::make({{"photo_id", String::make(postedPhotoID_)}, {"group_id", String::make(target.id)}});
      if (startStep(kPutInGroupsStep, [&](FlickrAPIRequest& request) {
            return request.callAPIMethodWithPOST("flickr.groups.pools.add", arguments.get());
          })) {
        return;
      }
    }
    refusedGroups_.push_back(target.name);
  }
  if (!refusedGroups_.empty()) {
    std::string names;
    for (const auto& name : refusedGroups_) names += (names.empty() ? "" : ", ") + name;
    showAlert(SXLocalizedText("Flickr"),
              refusedGroups_.size() == 1
                  ? SXLocalizedText("The photo was uploaded, but it could not be added to the group %@.", names)
                  : SXLocalizedText("The photo was uploaded, but it could not be added to the groups %@.", names));
  }
  sendDidFinish();
}

void SXFlickr::flickrAPIRequestDidCompleteWithResponse(FlickrAPIRequest& request, const Ref<Dictionary>& response) {
  auto hold = std::move(keepAlive_);
  const auto step = request.sessionInfo();
  if (isStep(step, kGetGroupsStep)) {
    auto groups = response->objectForKeyAs<Dictionary>("groups");
    auto list = groups ? groups->objectForKeyAs<Array>("group") : nullptr;
    if (!list) return optionsEnumerationFailed(FlickrAPIRequest::clientError(kFlickrClientBadReply));
    fullOptionsData_ = list;
    std::vector<std::string> names;
    std::vector<std::string> ids;
    for (const auto& entry : *list) {
      auto group = std::dynamic_pointer_cast<Dictionary>(entry);
      names.push_back(group ? group->stringForKey("name").value_or("") : std::string());
      ids.push_back(group ? group->stringForKey("nsid").value_or("") : std::string());
    }
    return optionsEnumerated(names, ids);
  }
  if (isStep(step, kPutInGroupsStep)) return postToNextGroup();
  if (isStep(step, kUploadImageStep)) {
    postedPhotoID_ = FKTextContent(response->objectForKey("photoid"));
    return startGroupPosts();
  }
  SXActivityIndicator::currentIndicator()->hide();
  if (isStep(step, kGetAuthTokenStep)) {
    // The token counts only for the login still waiting for it.
    if (!loginAttempt() || !loginAttempt()->take()) return;
    setAndStoreFlickrAuthToken(FKTextContent(FKValueForKeyPath(response, "auth.token")));
    noteUserName(response);
    authDidFinish(isAuthorized());
    tryPendingAction();
  } else if (isStep(step, kCheckTokenStep)) {
    noteUserName(response);
    sendPhoto();
  }
}

void SXFlickr::flickrAPIRequestDidFailWithError(FlickrAPIRequest& request, const Ref<Error>& error) {
  auto hold = std::move(keepAlive_);
  const auto step = request.sessionInfo();
  SXActivityIndicator::currentIndicator()->hide();
  if (isStep(step, kGetAuthTokenStep)) {
    if (!loginAttempt() || !loginAttempt()->take()) return;
    setPendingAction(SXPendingActionNone);
    authDidFinish(false);
    return sendDidFailWithErrorShouldRelogin(error, false);
  }
  if (isStep(step, kCheckTokenStep)) {
    if (isInvalidToken(error)) {
      flickrContext()->setAuthToken("");
      return shouldReloginWithPendingAction(SXPendingActionSend);
    }
    return sendDidFailWithErrorShouldRelogin(error, false);
  }
  if (isStep(step, kGetGroupsStep)) {
    if (isInvalidToken(error)) {
      flickrContext()->setAuthToken("");
      optionsEnumerationFailed(error);
      return shouldReloginWithPendingAction(SXPendingActionShare);
    }
    return optionsEnumerationFailed(error);
  }
  if (isStep(step, kPutInGroupsStep)) {
    // The photo is on the service: this group refused it, the next ones are still tried.
    groupPostError_ = error;
    refusedGroups_.push_back(groupTargets_[postGroupCurIndex_ - 1].name);
    return postToNextGroup();
  }
  sendDidFailWithErrorShouldRelogin(error, false);
}

void SXFlickr::SXFormOptionControllerEnumerateOptions(SXFormOptionController& picker) {
  setCurOptionController(picker.selfAs<SXFormOptionController>());
  auto empty = Dictionary::make();
  if (!startStep(kGetGroupsStep, [&](FlickrAPIRequest& request) {
        return request.callAPIMethodWithGET("flickr.groups.pools.getGroups", empty.get());
      })) {
    optionsEnumerationFailed(FlickrAPIRequest::clientError(kFlickrClientUnknownError, "Unknown error"));
  }
}

void SXFlickr::SXFormOptionControllerCancelEnumerateOptions(SXFormOptionController&) {
  setCurOptionController(nullptr);
  if (flickrRequest_) flickrRequest_->cancel();
  keepAlive_ = nullptr;
}

void SXFlickr::optionsEnumerated(const std::vector<std::string>& names, const std::vector<std::string>& ids) {
  if (auto picker = curOptionController()) picker->optionsEnumerated(names, ids);
  setCurOptionController(nullptr);
}

void SXFlickr::optionsEnumerationFailed(const Ref<Error>& error) {
  if (auto picker = curOptionController()) picker->optionsEnumerationFailedWithError(error);
  setCurOptionController(nullptr);
}

}  // namespace zv

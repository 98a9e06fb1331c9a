#pragma once
// The Flickr sharer: shares an image to the photo service. It logs the user in through the
// service's web login (an authentication token obtained for a "frob"), shows a share form with
// title, description, tags, three visibility switches and a multiple-choice list of the user's
// groups, uploads the photo as JPEG and then adds it to each chosen group, one call after another.
// It also serves the share form's group picker as its option provider.
//
// The picked groups travel by id (the form's "postgroupids" value, see SXFormFieldSettings); an
// item kept from before names them instead ("postgroup", names joined by ","), and those names
// are read against the group list when the sharer has it, a name two groups share is not guessed.
//
// Every failure ends the activity display. After the upload every picked group is tried; groups
// that refuse the photo (or cannot be found) do not stop the others, and the share ends as done
// (the photo is on the service) with one alert naming every group that did not take it;
// `refusedGroups()` lists them and `groupPostError()` keeps the service's last error.
//
// The login (the page, then the token fetch for its frob) is the service's SXLoginAttempt: it
// reports once (authDidFinish when the token's answer came), and an answer after a cancel or a
// logout is dropped.
//
// Threads: main thread only. Ownership: the sharer owns its context and request; it keeps itself
// alive while a call of its request runs.

#include <string>
#include <vector>

#include "sharing/core/SXFormOptionController.h"
#include "sharing/core/SXOAuthView.h"
#include "sharing/core/SXSharer.h"
#include "sharing/services/flickr/FlickrAPIRequest.h"

namespace zv {

inline constexpr const char* kSXFlickrAuthTokenKey = "FlickrAuthToken";

class SXFlickr : public SXSharer,
                 public FlickrAPIRequestDelegate,
                 public SXOAuthViewDelegate,
                 public SXFormOptionControllerOptionProvider {
 public:
  static constexpr const char* kGetAuthTokenStep = "kGetAuthTokenStep";
  static constexpr const char* kCheckTokenStep = "kCheckTokenStep";
  static constexpr const char* kUploadImageStep = "kUploadImageStep";
  static constexpr const char* kGetGroupsStep = "kGetGroupsStep";
  static constexpr const char* kPutInGroupsStep = "kPutInGroupsStep";
  // The item's custom value with the picked group ids, and the older one with their names.
  static constexpr const char* kGroupIdsKey = "postgroupids";
  static constexpr const char* kGroupNamesKey = "postgroup";

  static void registerClass();

  std::string sharerTitle() const override { return "Flickr"; }
  bool canShareImage() const override { return true; }
  bool canShare() const override { return true; }
  bool canAutoShare() const override { return false; }

  bool isAuthorized() override;
  void authorizationFormShow() override;
  std::vector<Ref<SXFormFieldSettings>> shareFormFieldsForType(std::int32_t type) override;
  bool send() override;
  void logout() override;

  // SXOAuthViewDelegate.
  Ref<URL> authorizeCallbackURL() const override;
  void tokenAuthorizeViewDidFinishWithSuccessQueryParamsError(SXOAuthView& view, bool success,
                                                              const Ref<Dictionary>& queryParams,
                                                              const Ref<Error>& error) override;
  void tokenAuthorizeCancelledView(SXOAuthView& view) override;
  void tokenAuthorizeTakenAwayView(SXOAuthView&) override { loginPageTakenAway(); }
  // FlickrAPIRequestDelegate.
  void flickrAPIRequestDidCompleteWithResponse(FlickrAPIRequest& request, const Ref<Dictionary>& response) override;
  void flickrAPIRequestDidFailWithError(FlickrAPIRequest& request, const Ref<Error>& error) override;
  // The group picker.
  void SXFormOptionControllerEnumerateOptions(SXFormOptionController& picker) override;
  void SXFormOptionControllerCancelEnumerateOptions(SXFormOptionController& picker) override;

  bool respondsToSelector(std::string_view selector) const override;

  const Ref<FlickrAPIContext>& flickrContext();
  const Ref<FlickrAPIRequest>& flickrRequest();
  Ref<Data> generateImageData() const;
  void sendPhoto();
  void setAndStoreFlickrAuthToken(const std::string& token);
  void startGroupPosts();
  void postToNextGroup();
  void optionsEnumerated(const std::vector<std::string>& names, const std::vector<std::string>& ids);
  void optionsEnumerationFailed(const Ref<Error>& error);

  const std::string& flickrUserName() const { return flickrUserName_; }
  const Ref<Array>& fullOptionsData() const { return fullOptionsData_; }
  const std::string& postedPhotoID() const { return postedPhotoID_; }
  const Ref<Error>& groupPostError() const { return groupPostError_; }
  const std::vector<std::string>& refusedGroups() const { return refusedGroups_; }

 private:
  // Starts a call under `step`; false (and nothing kept) when it did not start.
  bool startStep(const char* step, const std::function<bool(FlickrAPIRequest&)>& call);
  void noteUserName(const Ref<Dictionary>& response);
  // A logout or a newer login of the service ended the login: the page and the token fetch stop.
  void loginAbandoned();

  Ref<FlickrAPIContext> flickrContext_;
  Ref<FlickrAPIRequest> flickrRequest_;
  std::string flickrUserName_;
  std::string postedPhotoID_;
  Ref<Array> fullOptionsData_;
  struct GroupTarget {
    std::string id;
    std::string name;
  };
  // The picked groups the photo goes to, in order; the group list entry (or nullptr) for an id.
  std::vector<GroupTarget> groupTargets() const;
  Ref<Dictionary> groupWithId(const std::string& id) const;
  std::vector<GroupTarget> groupTargets_;
  std::size_t postGroupCurIndex_ = 0;
  std::vector<std::string> refusedGroups_;
  Ref<Error> groupPostError_;
  ObjectPtr keepAlive_;
};

}  // namespace zv

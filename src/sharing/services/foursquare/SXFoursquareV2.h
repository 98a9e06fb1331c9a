#pragma once
// The Foursquare check-in sharer: logs in with the service's implicit grant in the framework's
// web view (SXFoursquareV2OAuthView reads the token from the redirect's fragment; a redirect
// without a token is a failed login), keeps the token as the sharer's login value "accessToken",
// lists the places near the device (SXFoursquareV2VenuesForm, with a search by name) and checks
// in at the chosen one with the shared text as its message (SXFoursquareV2CheckInForm).
//
// Threads: main thread only. Ownership: the hub keeps the sharer while its screens are shown; a
// running request keeps it until the request has finished; the places list does not retain it.

#include <optional>
#include <string>

#include "platform/ui/LocationManager.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/TableViewController.h"
#include "sharing/core/SXFormControllerLargeTextField.h"
#include "sharing/core/SXOAuthView.h"
#include "sharing/core/SXShareScreen.h"
#include "sharing/core/SXSharer.h"
#include "sharing/services/foursquare/SXFoursquareV2Request.h"

namespace zv {

class SXFoursquareV2;

// Reads the token from the callback's fragment instead of its query.
class SXFoursquareV2OAuthView : public SXOAuthView {
 public:
  static Ref<SXFoursquareV2OAuthView> make(const Ref<URL>& url, std::shared_ptr<SXOAuthViewDelegate> delegate);
  // "a=1&b=2" into a dictionary (pieces that are not name=value are left out; values decoded).
  static Ref<Dictionary> fragmentParameters(std::string_view fragment);
  bool webViewShouldStartLoadWithRequestNavigationType(ui::WebView& webView, const Ref<net::URLRequest>& request,
                                                       ui::WebViewNavigationType type) override;
};

class SXFoursquareV2CheckInForm : public SXCustomFormControllerLargeTextField {
 public:
  using SXCustomFormControllerLargeTextField::SXCustomFormControllerLargeTextField;
  // Only a "Check In" button on the right.
  void viewWillAppear(bool animated) override;
};

class SXFoursquareV2VenuesForm : public ui::TableViewController,
                                 public ui::LocationManagerDelegate,
                                 public ui::SearchDisplayDelegate,
                                 public ui::SearchBarDelegate,
                                 public SXShareScreen {
 public:
  static Ref<SXFoursquareV2VenuesForm> make(const Ref<SXFoursquareV2>& delegate);

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  void startMonitoringLocation();
  void stopMonitoringLocation();
  void startloadingVenues();
  // Replies to any search but the one running now are dropped.
  void finishLoadingVenues(const Ref<SXFoursquareV2Request>& request);
  // Stops the running search, if any: its reply will not act.
  void cancelSearch();
  void cancel();
  // Taken away by the hub while the user picks a place: the share ends as cancelled, once.
  void shareScreenTakenAway() override;

  void locationManagerDidUpdateToLocationFromLocation(ui::LocationManager&, const Ref<ui::Location>& newLocation,
                                                      const Ref<ui::Location>& oldLocation) override;
  void locationManagerDidFailWithError(ui::LocationManager&, const Ref<Error>& error) override;
  bool searchDisplayControllerShouldReloadTableForSearchString(ui::SearchDisplayController&,
                                                               const std::string&) override {
    return false;
  }
  bool searchDisplayControllerShouldReloadTableForSearchScope(ui::SearchDisplayController&, long) override {
    return false;
  }
  void searchBarSearchButtonClicked(ui::SearchBar& searchBar) override;

  std::size_t numberOfSectionsInTableView(ui::TableView& tableView) override;
  std::size_t tableViewNumberOfRowsInSection(ui::TableView& tableView, std::size_t section) override;
  Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView& tableView,
                                                        const Ref<IndexPath>& indexPath) override;
  void tableViewDidSelectRowAtIndexPath(ui::TableView& tableView, const Ref<IndexPath>& indexPath) override;

  const Ref<ui::LocationManager>& locationManager() const { return locationManager_; }
  const Ref<ui::Location>& location() const { return location_; }
  const std::optional<std::string>& query() const { return query_; }
  const std::optional<std::vector<Ref<SXFoursquareV2Venue>>>& venues() const { return venues_; }
  const std::optional<std::vector<Ref<SXFoursquareV2Venue>>>& filteredVenues() const { return filteredVenues_; }
  const Ref<ui::SearchDisplayController>& searchDisplay() const { return searchDisplay_; }
  const Ref<SXFoursquareV2Request>& request() const { return request_; }
  // How long a new list waits for the first position before giving up (seconds; 30 unless a
  // test says otherwise).
  static void setLocationTimeout(double seconds);

 private:
  const std::optional<std::vector<Ref<SXFoursquareV2Venue>>>& shownList(const ui::TableView& tableView) const;
  // Ends the share as failed, once: the search and the location stop and the list goes.
  void giveUp(const Ref<Error>& error, bool shouldRelogin = false);

  std::weak_ptr<SXFoursquareV2> delegate_;
  Ref<SXFoursquareV2Request> request_;
  Ref<ui::LocationManager> locationManager_;
  Ref<ui::Location> location_;
  std::optional<std::string> query_;
  std::optional<std::vector<Ref<SXFoursquareV2Venue>>> venues_;
  std::optional<std::vector<Ref<SXFoursquareV2Venue>>> filteredVenues_;
  Ref<ui::SearchDisplayController> searchDisplay_;
  Ref<Timer> locationTimer_;
  // The list's share has ended (cancelled, failed or taken away): it reports no more.
  bool gaveUp_ = false;
};

class SXFoursquareV2 : public SXSharer, public SXFormControllerLargeTextFieldDelegate, public SXOAuthViewDelegate {
 public:
  static void registerClass();
  static void deleteStoredAccessToken();
  static void logoutOfFoursquare();
  static std::string loginURLString(const std::string& clientId, const std::string& callback);

  void init() override;
  std::string sharerTitle() const override { return "Foursquare"; }
  bool canShareText() const override { return true; }
  bool canShareURL() const override { return false; }
  bool canShareImage() const override { return false; }
  bool canShareOffline() const override { return false; }
  bool canAutoShare() const override { return false; }
  bool canShare() const override;
  void logout() override { logoutOfFoursquare(); }

  bool isAuthorized() override { return restoreAccessToken(); }
  void promptAuthorization() override;
  void show() override;
  void sendForm(SXFormControllerLargeTextField& form) override;
  // Also stops a running place search.
  void sendDidCancel() override;

  void tokenAuthorizeViewDidFinishWithSuccessQueryParamsError(SXOAuthView& view, bool success,
                                                              const Ref<Dictionary>& queryParams,
                                                              const Ref<Error>& error) override;
  void tokenAuthorizeCancelledView(SXOAuthView& view) override;
  void tokenAuthorizeTakenAwayView(SXOAuthView&) override { loginPageTakenAway(); }
  Ref<URL> authorizeCallbackURL() const override { return authorizeCallbackURL_; }

  void storeAccessToken();
  bool restoreAccessToken();
  void showFoursquareV2VenuesForm();
  void showFoursquareV2CheckInForm();
  void startCheckInRequest();
  void finishCheckInRequest(const Ref<SXFoursquareV2Request>& request);

  const std::optional<std::string>& clientId() const { return clientId_; }
  const std::optional<std::string>& accessToken() const { return accessToken_; }
  const Ref<ui::Location>& location() const { return location_; }
  void setLocation(Ref<ui::Location> location) { location_ = std::move(location); }
  const Ref<SXFoursquareV2Venue>& venue() const { return venue_; }
  void setVenue(Ref<SXFoursquareV2Venue> venue) { venue_ = std::move(venue); }

 private:
  std::optional<std::string> clientId_;
  Ref<URL> authorizeCallbackURL_;
  std::optional<std::string> accessToken_;
  Ref<ui::Location> location_;
  Ref<SXFoursquareV2Venue> venue_;
};

}  // namespace zv
